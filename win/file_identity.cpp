// File identity on Win32: the volume serial number and the file index that
// GetFileInformationByHandle gives, whatever name, link or drive letter reaches the file.
#include "platform.h"

#include <io.h>
#include <windows.h>

namespace {

bool IdentityOf(HANDLE handle, FileIdentity* identity)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        return false;
    identity->volume = information.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

}  // namespace

bool IdentifyFile(const std::string& path, FileIdentity* identity)
{
    // No access asked beyond the attributes, and every sharing allowed, so that a log the
    // driver holds open is reached too; backup semantics opens a folder as well.
    const HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool identified = IdentityOf(handle, identity);
    CloseHandle(handle);
    return identified;
}

bool IdentifyOpenFile(std::FILE* file, FileIdentity* identity)
{
    return IdentityOf(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), identity);
}
