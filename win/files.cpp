// Files on Win32: the log opened by the runtime and refused unless it is a disk file,
// seeks past 2 GiB, _commit and MoveFileEx.
#include "platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>

#include "driver_log_path.h"

std::FILE* OpenToFollow(const std::string& path, bool* followable)
{
    *followable = true;
    // The runtime opens with read and write sharing, so the driver can go on writing.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
        *followable = false;
        std::fclose(file);
        return nullptr;
    }
    return file;
}

bool SeekFile(std::FILE* file, int64_t offset)
{
    // The runtime's fpos_t is a plain 64-bit byte offset; fsetpos reaches past 2 GiB on
    // every Windows version, where _fseeki64 is missing from older system runtimes.
    const fpos_t position = offset;
    return std::fsetpos(file, &position) == 0;
}

bool FileLength(std::FILE* file, int64_t* length)
{
    DWORD high = 0;
    const DWORD low = GetFileSize(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        errno = EIO;
        return false;
    }
    *length = static_cast<int64_t>(high) << 32 | low;
    return true;
}

bool FlushToDisk(std::FILE* file)
{
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool RenameOver(const std::string& from, const std::string& to)
{
    // The runtime's rename refuses an existing target; MoveFileEx replaces it in one step.
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}

void SetBinaryMode(std::FILE* stream)
{
    _setmode(_fileno(stream), _O_BINARY);
}

std::string DefaultLogPath()
{
    char* path = NewDriverLogPath();
    const std::string shown = path ? path : "";
    std::free(path);
    return shown;
}
