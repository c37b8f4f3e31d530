// What the file system objects share: the classic run-time errors they
// raise (HRESULT 0x800A0000 | number, with the classic texts), the
// conversion of their arguments, and the base of their IDispatch, which
// turns a thrown FileSystemError into the script error.
#pragma once

#include <new>
#include <string>
#include <system_error>

#include "core/NamedMembers.h"

namespace classes {

enum RunTimeError : int {
    kInvalidCall = 5,
    kOutOfMemory = 7,
    kTypeMismatch = 13,
    kBadFileName = 52,
    kFileNotFound = 53,
    kBadFileMode = 54,
    kDeviceError = 57,
    kFileExists = 58,
    kDiskFull = 61,
    kPastEnd = 62,
    kTooManyFiles = 67,
    kDeviceUnavailable = 68,
    kPermissionDenied = 70,
    kPathNotFound = 76,
};

// A failure of a file system member: the run-time error, and a text to use
// instead of the classic one (for the limits this server sets).
struct FileSystemError {
    int number;
    std::string text;
};

[[noreturn]] void Throw(int number);
int NumberForErrno(int errnoValue, int missing);
// The error for `errnoValue`; `missing` is what a missing name means here
// (kFileNotFound for a file, kPathNotFound for a folder).
[[noreturn]] void ThrowErrno(int errnoValue, int missing);
HRESULT RunTimeHresult(int number);
const char* RunTimeText(int number);

// Arguments. Each throws kTypeMismatch for a value that cannot be one
// (an object, an array, null).
// A path: `\` becomes `/`, since pages build paths with it; a NUL or a
// path longer than PATH_MAX is a bad file name.
std::string PathArg(const VARIANT* arg);
bool FlagArg(const VARIANT* arg, bool absent);
LONG NumberArg(const VARIANT* arg, LONG absent);
// Text to write: numbers, booleans and dates as the language shows them.
std::u16string TextArg(const VARIANT* arg);

// Results.
HRESULT ReturnNumber(VARIANT* result, double value);
HRESULT ReturnLong(VARIANT* result, LONG value);
HRESULT ReturnDate(VARIANT* result, const struct timespec& when);

// The by-name IDispatch of a file system object: members run through
// `guarded`, which reports a thrown FileSystemError as its run-time error.
template <class Self>
class FileSystemMembers : public host::NamedMembers<Self, IDispatch> {
protected:
    template <class Body>
    HRESULT guarded(Body body) {
        try {
            return body();
        } catch (const FileSystemError& error) {
            return this->Fail(RunTimeHresult(error.number),
                              error.text.empty() ? RunTimeText(error.number) : error.text);
        } catch (const std::system_error& error) {
            const int number = NumberForErrno(error.code().value(), kFileNotFound);
            return this->Fail(RunTimeHresult(number), RunTimeText(number));
        } catch (const std::bad_alloc&) {
            return this->Fail(RunTimeHresult(kOutOfMemory), RunTimeText(kOutOfMemory));
        }
    }
};

}  // namespace classes
