// Locks on POSIX: flock, held by the open file, so that a second open of the same file is
// refused even within one process, and released by the system when the process ends.
#include "platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

LockResult LockExclusively(const std::string& path, LockHandle* lock)
{
    int descriptor = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    // A lock file left read-only by another user can still be locked.
    if (descriptor < 0 && errno == EACCES)
        descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return LockResult::Failed;
    if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(descriptor);
        errno = error;
        return error == EWOULDBLOCK ? LockResult::Busy : LockResult::Failed;
    }
    *lock = static_cast<LockHandle>(descriptor);
    return LockResult::Taken;
}

void ReleaseLock(LockHandle lock)
{
    close(static_cast<int>(lock));
}
