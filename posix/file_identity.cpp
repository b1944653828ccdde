// File identity on POSIX: the device and inode, whatever name or link reaches the file.
#include "platform.h"

#include <sys/stat.h>

namespace {

FileIdentity IdentityOf(const struct stat& status)
{
    return FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

}  // namespace

bool IdentifyFile(const std::string& path, FileIdentity* identity)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return false;
    *identity = IdentityOf(status);
    return true;
}

bool IdentifyOpenFile(std::FILE* file, FileIdentity* identity)
{
    struct stat status {};
    if (fstat(fileno(file), &status) != 0)
        return false;
    *identity = IdentityOf(status);
    return true;
}
