// The collector of failure sentences, a Windows error code and an HRESULT
// that one call (or the form's whole intake) fills; it composes the
// description handed to COM.
#pragma once

#include <string>

#include "platform/WinTypes.h"

class ErrorReport {
public:
    void AddMessage(const std::string& inText);
    bool HasErrors() const { return mMessageCount > 0 || mWin32Error != 0 || mResultCode != 0; }
    const std::string& ComposeText();
    void Reset();

    void SetWin32Error(DWORD inCode) { mWin32Error = inCode; }
    void SetResultCode(HRESULT inCode) { mResultCode = inCode; }
    DWORD Win32Error() const { return mWin32Error; }
    HRESULT ResultCode() const { return mResultCode; }
    int MessageCount() const { return mMessageCount; }
    const std::string& Messages() const { return mMessages; }
    const std::string& Text() const { return mText; }
    // The HRESULT of the final-result rule: the result code, else the
    // Windows error ORed with 0x80040000, else 0.
    HRESULT FinalResult() const;

private:
    int mMessageCount = 0;
    std::string mMessages;
    DWORD mWin32Error = 0;
    HRESULT mResultCode = 0;
    std::string mText;
};

// The sentence for a Windows error code or HRESULT; "" for 0.
std::string DescribeWindowsError(uint32_t inCode);
