#include "classes/FileSystemErrors.h"

#include <climits>
#include <cerrno>
#include <ctime>

#include "core/OleDates.h"
#include "core/RuntimeErrors.h"
#include "platform/CodePage.h"

namespace classes {

namespace {

// The value itself for a VT_BYREF | VT_VARIANT.
const VARIANT* Direct(const VARIANT* arg) { return arg && arg->vt == (VT_BYREF | VT_VARIANT) ? arg->pvarVal : arg; }

bool IsObjectLike(const VARIANT* arg) {
    return arg->vt == VT_NULL || arg->vt == VT_DISPATCH || arg->vt == VT_UNKNOWN || (arg->vt & VT_ARRAY);
}

}  // namespace

void Throw(int number) { throw FileSystemError{number, {}}; }

int NumberForErrno(int errnoValue, int missing) {
    switch (errnoValue) {
        case ENOENT:
            return missing;
        case ENOTDIR:
            return kPathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY:
        case EBUSY:
            return kPermissionDenied;
        case EEXIST:
        case ENOTEMPTY:
            return kFileExists;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return kDiskFull;
        case ENAMETOOLONG:
        case EILSEQ:
            return kBadFileName;
        case EMFILE:
        case ENFILE:
            return kTooManyFiles;
        case ENOMEM:
            return kOutOfMemory;
        case EINVAL:
            return kInvalidCall;
        default:
            return kDeviceError;
    }
}

void ThrowErrno(int errnoValue, int missing) { Throw(NumberForErrno(errnoValue, missing)); }

HRESULT RunTimeHresult(int number) { return host::RuntimeError(static_cast<unsigned>(number)); }

const char* RunTimeText(int number) {
    switch (number) {
        case kInvalidCall:
            return "Invalid procedure call or argument";
        case kOutOfMemory:
            return "Out of memory";
        case kTypeMismatch:
            return "Type mismatch";
        case kBadFileName:
            return "Bad file name or number";
        case kFileNotFound:
            return "File not found";
        case kBadFileMode:
            return "Bad file mode";
        case kDeviceError:
            return "Device I/O error";
        case kFileExists:
            return "File already exists";
        case kDiskFull:
            return "Disk full";
        case kPastEnd:
            return "Input past end of file";
        case kTooManyFiles:
            return "Too many files";
        case kDeviceUnavailable:
            return "Device unavailable";
        case kPermissionDenied:
            return "Permission denied";
        case kPathNotFound:
            return "Path not found";
        default:
            return "Unexpected error";
    }
}

std::string PathArg(const VARIANT* arg) {
    std::u16string text = TextArg(arg);
    for (char16_t& c : text)
        if (c == u'\\') c = u'/';
    if (text.find(u'\0') != std::u16string::npos || text.size() >= PATH_MAX) Throw(kBadFileName);
    std::string path = platform::codepage::Utf16ToUtf8(text);
    if (path.size() >= PATH_MAX) Throw(kBadFileName);
    return path;
}

std::u16string TextArg(const VARIANT* arg) {
    arg = Direct(arg);
    if (!arg || arg->vt == VT_EMPTY) return {};
    if (arg->vt == VT_BSTR) return std::u16string(arg->bstrVal ? arg->bstrVal : u"", SysStringLen(arg->bstrVal));
    platform::Variant text;
    if (IsObjectLike(arg) || FAILED(VariantChangeType(&text, arg, 0, VT_BSTR)) || !text.bstrVal) Throw(kTypeMismatch);
    return std::u16string(text.bstrVal, SysStringLen(text.bstrVal));
}

bool FlagArg(const VARIANT* arg, bool absent) {
    arg = Direct(arg);
    if (!arg || arg->vt == VT_EMPTY) return absent;
    platform::Variant flag;
    if (IsObjectLike(arg) || FAILED(VariantChangeType(&flag, arg, 0, VT_BOOL))) Throw(kTypeMismatch);
    return flag.boolVal != VARIANT_FALSE;
}

LONG NumberArg(const VARIANT* arg, LONG absent) {
    arg = Direct(arg);
    if (!arg || arg->vt == VT_EMPTY) return absent;
    platform::Variant number;
    if (IsObjectLike(arg)) Throw(kTypeMismatch);
    if (FAILED(VariantChangeType(&number, arg, 0, VT_R8))) Throw(kTypeMismatch);
    // Out of range of a 32-bit number (or not a number): no count or mode.
    if (!(number.dblVal >= -2147483648.0 && number.dblVal <= 2147483647.0)) Throw(kInvalidCall);
    return static_cast<LONG>(number.dblVal);
}

HRESULT ReturnNumber(VARIANT* result, double value) {
    result->vt = VT_R8;
    result->dblVal = value;
    return S_OK;
}

HRESULT ReturnLong(VARIANT* result, LONG value) {
    result->vt = VT_I4;
    result->lVal = value;
    return S_OK;
}

// VT_DATE counts days from 1899-12-30 in local time.
HRESULT ReturnDate(VARIANT* result, const struct timespec& when) {
    std::tm local{};
    const time_t seconds = when.tv_sec;
    localtime_r(&seconds, &local);
    const double localSeconds = static_cast<double>(when.tv_sec + local.tm_gmtoff) + when.tv_nsec / 1e9;
    result->vt = VT_DATE;
    result->date = localSeconds / host::kSecondsPerDay + host::kOleEpochDays;
    return S_OK;
}

}  // namespace classes
