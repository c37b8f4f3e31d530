// The component's own texts, in one place.
#pragma once

namespace strings {

// Event log: source, category and message table.
inline constexpr const char* kEventSource = "Formix";
inline constexpr unsigned kEventCategory = 1;      // "Misc"
inline constexpr unsigned kEventMessage = 0x1000;  // "%1"
inline constexpr const char* kCategoryName = "Misc";
inline constexpr const char* kMessageText = "%1";

inline constexpr const char* kRegisteredSuccessfully = "Formix Registered Successfully";
inline constexpr const char* kUnknownException = "Unknown exception thrown";
inline constexpr const char* kNoErrors = "No errors occurred";
inline constexpr const char* kImpersonationDisabled = "Formix impersonation is not enabled via registry";

// printf formats
inline constexpr const char* kAssertionFailed = "Assertion Failed in %s line %d (%s)";
inline constexpr const char* kSystemErrorCaught = "System Error caught at line %d of %s. Base at 0x%08lx.";
inline constexpr const char* kFaultRead = "Code at 0x%08lx attempted to read from 0x%08lx. ";
inline constexpr const char* kFaultWrite = "Code at 0x%08lx attempted to write to 0x%08lx. ";
inline constexpr const char* kFaultOther = "Code at 0x%08lx caused a System Exception 0x%08lx. ";
inline constexpr const char* kArrayLockPtrToVariant = "SafeArrayAccessData in PtrToVARIANT failed without error";
inline constexpr const char* kArrayLockAccessVariant = "SafeArrayAccessData in AccessVARIANT failed without error";

// Windows error sentences
inline constexpr const char* kWindowsErrorIndicates = "A Windows error occurred that indicates that ";
inline constexpr const char* kFileNotFound = "a file could not be found";
inline constexpr const char* kPathNotFound = "a file path could not be found";
inline constexpr const char* kNotEnoughMemory = "there was not enough memory";
inline constexpr const char* kDriveMissing = "the drive did not exist";
inline constexpr const char* kWindowsErrorPrefix = "A Windows error - ";

}  // namespace strings
