// Text-mode line reading done by hand: a C runtime's text mode differs between platforms.
#include "log_reader.h"

#include <cerrno>
#include <cstring>

namespace {
constexpr unsigned char CTRL_Z = 0x1A;
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
    // The log ends at its first Ctrl-Z: a chunk is read only up to it.
    const void* ctrlZ = std::memchr(chunk_.get(), CTRL_Z, static_cast<size_t>(filled_));
    usable_ = ctrlZ ? static_cast<int>(static_cast<const unsigned char*>(ctrlZ) - chunk_.get()) : filled_;
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
        if (position_ == usable_) {
            if (usable_ < filled_) {  // standing on the Ctrl-Z
                ended_ = ctrlZ_ = true;
                break;
            }
            if (!Refill())
                break;
            continue;
        }
        // Copy up to and including the next LF in one go. The only translation is CR LF to
        // LF, so a CR needs a look only where an LF ends the copy or may follow it.
        const unsigned char* run = chunk_.get() + position_;
        const int room = LOG_LINE_SIZE - 1 - length;
        const int available = usable_ - position_ < room ? usable_ - position_ : room;
        const void* lineFeed = std::memchr(run, '\n', static_cast<size_t>(available));
        const int taken = lineFeed ? static_cast<int>(static_cast<const unsigned char*>(lineFeed) - run) + 1 : available;
        std::memcpy(line + length, run, static_cast<size_t>(taken));
        length += taken;
        position_ += taken;
        if (lineFeed) {
            if (length >= 2 && line[length - 2] == '\r') {
                line[length - 2] = '\n';
                --length;
            }
            break;
        }
        // A CR at the end of the room or of the chunk may be the first half of a CR LF.
        if (line[length - 1] == '\r' && Peek() == '\n') {
            ++position_;
            line[length - 1] = '\n';
            break;
        }
    }
    if (length == 0)
        return false;
    line[length] = '\0';
    lineLength_ = length;
    return true;
}
