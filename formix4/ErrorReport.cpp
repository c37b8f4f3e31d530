#include "ErrorReport.h"

#include <cstdio>

#include "platform/System.h"
#include "resources/Strings.h"

void ErrorReport::AddMessage(const std::string& inText) {
    if (mMessageCount > 0) mMessages += ' ';
    mMessages += inText;
    if (!inText.empty() && inText.back() != '.') mMessages += '.';
    ++mMessageCount;
}

const std::string& ErrorReport::ComposeText() {
    if (!HasErrors()) {
        mText = strings::kNoErrors;
        return mText;
    }
    mText.clear();
    if (mMessageCount > 0) {
        mText += mMessages;
        mText += '\n';
    }
    mText += DescribeWindowsError(mWin32Error);
    mText += DescribeWindowsError(static_cast<uint32_t>(mResultCode));
    return mText;
}

void ErrorReport::Reset() {
    mMessageCount = 0;
    mMessages.clear();
    mWin32Error = 0;
    mResultCode = 0;
    mText.clear();
}

HRESULT ErrorReport::FinalResult() const {
    if (mResultCode != 0) return mResultCode;
    if (mWin32Error != 0) return static_cast<HRESULT>(mWin32Error | 0x80040000u);
    return 0;
}

std::string DescribeWindowsError(uint32_t inCode) {
    if (inCode == 0) return {};
    char theHex[16];
    std::snprintf(theHex, sizeof theHex, "0x%08lx", static_cast<unsigned long>(inCode));
    const char* theIndication = nullptr;
    switch (inCode) {
        case 2:
            theIndication = strings::kFileNotFound;
            break;
        case 3:
            theIndication = strings::kPathNotFound;
            break;
        case 8:
        case 14:
            theIndication = strings::kNotEnoughMemory;
            break;
        case 15:
            theIndication = strings::kDriveMissing;
            break;
        default:
            break;
    }
    if (theIndication) return std::string(strings::kWindowsErrorIndicates) + theIndication + " (" + theHex + ").\n";
    char theSystemText[1024];
    const DWORD theLength = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, inCode,
                                           LANG_USER_DEFAULT_ID, theSystemText, sizeof theSystemText, nullptr);
    return std::string(strings::kWindowsErrorPrefix) + std::string(theSystemText, theLength) + " - (" + theHex +
           ") occurred.\n";
}
