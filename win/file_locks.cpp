// Locks on Win32: LockFileEx on the first byte of a file opened for this lock alone; the
// system releases it when the handle closes or the process ends.
#include "platform.h"

#include <windows.h>

#include <cerrno>

LockResult LockExclusively(const std::string& path, LockHandle* lock)
{
    // OPEN_ALWAYS creates a missing file and leaves an existing one as it is.
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
        return LockResult::Failed;
    }
    OVERLAPPED at{};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        errno = EIO;
        return error == ERROR_LOCK_VIOLATION ? LockResult::Busy : LockResult::Failed;
    }
    *lock = reinterpret_cast<LockHandle>(handle);
    return LockResult::Taken;
}

void ReleaseLock(LockHandle lock)
{
    CloseHandle(reinterpret_cast<HANDLE>(lock));
}
