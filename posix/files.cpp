// Files on POSIX: the log opened without waiting, 64-bit seeks, fsync and rename.
#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

std::FILE* OpenToFollow(const std::string& path, bool* followable)
{
    *followable = true;
    // O_NONBLOCK: a FIFO without a writer would keep open() waiting for ever.
    const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))) {
        *followable = false;
        close(descriptor);
        return nullptr;
    }
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(descriptor, "rb");
    if (!file)
        close(descriptor);
    return file;
}

bool SeekFile(std::FILE* file, int64_t offset)
{
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool FileLength(std::FILE* file, int64_t* length)
{
    struct stat status {};
    if (fstat(fileno(file), &status) != 0)
        return false;
    *length = status.st_size;
    return true;
}

bool FlushToDisk(std::FILE* file)
{
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool RenameOver(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void SetBinaryMode(std::FILE*) {}

std::string DefaultLogPath()
{
    return std::string();
}
