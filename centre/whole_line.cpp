// One line appended whole, or the file cut back to where it was.
#include "whole_line.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes every byte of `bytes`, going on after a short write (a full disk may take part of
// a line before it refuses the rest). Returns 0 or the errno of the write that failed.
int WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;  // no progress and no reason: never loop forever
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return 0;
}

}  // namespace

int AppendWholeLine(int fd, std::string_view line)
{
    struct stat before;
    if (fstat(fd, &before) != 0)
        return errno;
    const int failure = WriteAll(fd, line);
    if (failure == 0)
        return 0;
    // Shrinking a file needs no space, so this works on the disk that just filled up.
    while (ftruncate(fd, before.st_size) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return failure;
}

int CutUnfinishedLine(int fd)
{
    constexpr off_t BLOCK = 4096;
    struct stat file;
    if (fstat(fd, &file) != 0)
        return errno;
    // Looks for the last LF from the end backwards, a block at a time.
    off_t line_end = file.st_size;
    char block[BLOCK];
    while (line_end > 0) {
        const off_t start = line_end > BLOCK ? line_end - BLOCK : 0;
        const ssize_t got = pread(fd, block, static_cast<size_t>(line_end - start), start);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got != line_end - start)
            return EIO;
        if (line_end == file.st_size && got > 0 && block[got - 1] == '\n')
            return 0;  // the usual case: the file ends with a whole line
        const size_t last_lf = std::string_view(block, static_cast<size_t>(got)).rfind('\n');
        if (last_lf != std::string_view::npos) {
            line_end = start + static_cast<off_t>(last_lf) + 1;
            break;
        }
        line_end = start;
    }
    if (line_end == file.st_size)
        return 0;
    while (ftruncate(fd, line_end) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}
