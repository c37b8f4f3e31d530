// Locks on files: Windows share modes across handles and processes, and
// byte-range locks (LockFile, UnlockFile).
#include "FileLocks.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "KernelObject.h"
#include "platform/System.h"

namespace platform::files {
namespace {

// An open-file-description lock: held by this handle, not by the process,
// so two handles of one process exclude each other as on Windows.
bool RangeLock(int fd, short type, uint64_t offset, uint64_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = static_cast<off_t>(length);
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// Share modes as Windows has them, across handles and processes. Every
// handle marks what it does (reads, writes) and what it refuses to others
// (reading, writing) with open-file-description locks: one mark per kind, in
// a range of its own far beyond any real data, each handle on a byte of that
// range that no other handle uses. A new handle is refused while another
// handle refuses what it wants to do, or does what it wants to refuse.
enum ShareMark { kReads, kWrites, kRefusesRead, kRefusesWrite, kShareMarks };
constexpr uint64_t kMarksStart = uint64_t{1} << 61;
constexpr uint64_t kMarkRange = uint64_t{1} << 46;

// A byte of each mark's range that is this handle's alone: the process and
// a counter of its handles.
uint64_t NewShareSlot() {
    static std::atomic<uint64_t> counter{0};
    return ((static_cast<uint64_t>(::getpid()) << 24) | (counter++ & 0xFFFFFF)) % kMarkRange;
}

bool MarkHeldByOthers(int fd, ShareMark mark) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = static_cast<off_t>(kMarksStart + mark * kMarkRange);
    probe.l_len = static_cast<off_t>(kMarkRange);
    return fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

}  // namespace

// Marks the handle, then looks for a conflict; both of two handles opened
// at the same moment may then be refused, never both admitted.
bool TakeShareLock(int fd, DWORD access, DWORD share) {
    const bool reads = (access & GENERIC_READ) || !(access & GENERIC_WRITE);
    const bool writes = (access & GENERIC_WRITE) != 0;
    const bool held[kShareMarks] = {reads, writes, !(share & FILE_SHARE_READ), !(share & FILE_SHARE_WRITE)};
    // A lock must match the descriptor's access: a read lock where it can
    // read, else a write lock (the byte is this handle's alone either way).
    const short type = reads ? F_RDLCK : F_WRLCK;
    const uint64_t slot = NewShareSlot();
    for (int mark = 0; mark < kShareMarks; ++mark)
        if (held[mark] && !RangeLock(fd, type, kMarksStart + mark * kMarkRange + slot, 1)) return false;
    const ShareMark conflicts[kShareMarks] = {kRefusesRead, kRefusesWrite, kReads, kWrites};
    for (int mark = 0; mark < kShareMarks; ++mark)
        if (held[mark] && MarkHeldByOthers(fd, conflicts[mark])) return false;
    return true;
}

}  // namespace platform::files

using namespace platform::files;

namespace {
// Locks or unlocks a byte range of a file handle; an empty range does nothing.
BOOL ChangeRangeLock(HANDLE file, short type, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
    if (ObjectOf(file, KernelObject::Kind::Stream)) return TRUE;  // a stream is written in one call
    KernelObject* object = ObjectOf(file, KernelObject::Kind::File);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    const uint64_t length = (static_cast<uint64_t>(lengthHigh) << 32) | lengthLow;
    if (length == 0) return TRUE;
    if (RangeLock(object->fd, type, offset, length)) return TRUE;
    SetLastError(type == F_UNLCK ? Win32ErrorFromErrno(errno) : ERROR_LOCK_VIOLATION);
    return FALSE;
}
}  // namespace

BOOL LockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
    return ChangeRangeLock(file, F_WRLCK, offsetLow, offsetHigh, lengthLow, lengthHigh);
}

BOOL UnlockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
    return ChangeRangeLock(file, F_UNLCK, offsetLow, offsetHigh, lengthLow, lengthHigh);
}
