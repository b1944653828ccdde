// Text-mode line reading done by hand: a C runtime's text mode differs between platforms.
#include "log_reader.h"

namespace {
constexpr unsigned char CTRL_Z = 0x1A;
}

bool LogLineReader::Refill()
{
    if (ended_)
        return false;
    position_ = 0;
    filled_ = static_cast<int>(std::fread(chunk_, 1, CHUNK_SIZE, file_));
    if (filled_ == 0)
        ended_ = true;
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
        // Copy the plain run of bytes that needs no translation in one go.
        const unsigned char* run = chunk_ + position_;
        const int room = LOG_LINE_SIZE - 1 - length;
        const int available = filled_ - position_ < room ? filled_ - position_ : room;
        int taken = 0;
        unsigned char c = 0;
        while (taken < available) {
            c = run[taken];
            if (c == '\n' || c == '\r' || c == CTRL_Z)
                break;
            line[length + taken] = static_cast<char>(c);
            ++taken;
        }
        length += taken;
        position_ += taken;
        if (taken == available)
            continue;

        if (c == CTRL_Z) {
            ended_ = true;
            position_ = filled_;
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
    return true;
}
