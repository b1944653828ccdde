// Text-mode line reading done by hand: a C runtime's text mode differs between platforms.
#include "log_reader.h"

#include <cerrno>
#include <cstring>

namespace {
constexpr unsigned char CTRL_Z = 0x1A;
// The bytes that end a plain run: line feed, carriage return and Ctrl-Z.
constexpr unsigned char RUN_STOPS[] = {'\n', '\r', CTRL_Z};
}

LogLineReader::LogLineReader(std::FILE* file) : file_(file), chunk_(new unsigned char[CHUNK_SIZE]) {}

bool LogLineReader::Refill()
{
    if (ended_)
        return false;
    chunkStart_ += filled_;
    position_ = 0;
    errno = 0;
    filled_ = static_cast<int>(std::fread(chunk_.get(), 1, CHUNK_SIZE, file_));
    if (filled_ == 0) {
        ended_ = true;
        error_ = errno;  // before any other call can change it
        failed_ = std::ferror(file_) != 0;
    }
    return filled_ > 0;
}

int LogLineReader::Peek()
{
    if (position_ == filled_ && !Refill())
        return -1;
    return chunk_[position_];
}

bool LogLineReader::ReadLine(char* line)
{
    int length = 0;
    while (length < LOG_LINE_SIZE - 1) {
        if (position_ == filled_ && !Refill())
            break;
        // Copy the plain run of bytes that needs no translation in one go: up to the first
        // LF, CR or Ctrl-Z, each found by a library search rather than byte by byte.
        const unsigned char* run = chunk_.get() + position_;
        const int room = LOG_LINE_SIZE - 1 - length;
        const int available = filled_ - position_ < room ? filled_ - position_ : room;
        int taken = available;
        for (const unsigned char stop : RUN_STOPS) {
            const void* found = std::memchr(run, stop, static_cast<size_t>(taken));
            if (found)
                taken = static_cast<int>(static_cast<const unsigned char*>(found) - run);
        }
        std::memcpy(line + length, run, static_cast<size_t>(taken));
        length += taken;
        position_ += taken;
        if (taken == available)
            continue;
        unsigned char c = run[taken];

        if (c == CTRL_Z) {
            ended_ = ctrlZ_ = true;
            break;
        }
        ++position_;
        if (c == '\r' && Peek() == '\n') {
            ++position_;
            c = '\n';
        }
        line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    if (length == 0)
        return false;
    line[length] = '\0';
    lineLength_ = length;
    return true;
}
