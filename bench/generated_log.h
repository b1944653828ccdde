// Driver-shaped logs for the benchmarks: lines of 60 to 120 bytes with the messages and values
// the driver writes, generated once per size into a temporary file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>

constexpr int64_t MEBIBYTE = 1024 * 1024;

// Messages and argument patterns like those the driver writes: printable tokens that
// decode to text, and status values shown as digits in parentheses.
inline constexpr const char* MESSAGES[] = {
    "Call setup",          "Connect acknowledge", "Disconnect request", "Release complete",
    "Link established",    "PPP negotiation",      "CHAP challenge",     "Layer 2 frame lost",
    "Channel B1 assigned", "Status enquiry",
};

inline void AppendToken(std::string* line, uint32_t value)
{
    char token[16];
    std::snprintf(token, sizeof token, "0x%08X", static_cast<unsigned>(value));
    line->append(token);
}

// One line of 60 to 120 bytes, ending in CR LF.
inline std::string MakeLogLine(int index, std::mt19937* random)
{
    std::uniform_int_distribution<int> pick(0, 1 << 30);
    std::string line;
    char head[32];
    std::snprintf(head, sizeof head, "%02d:%02d:%02d %05d.", index / 3600 % 24, index / 60 % 60,
                  index % 60, index % 100000);
    line += head;
    line += MESSAGES[pick(*random) % (sizeof MESSAGES / sizeof MESSAGES[0])];
    const int fields = 2 + pick(*random) % 3;
    for (int field = 0; field < fields; ++field) {
        line += ',';
        switch (pick(*random) % 4) {
        case 0:  // printable: four bytes in 0x20..0x7E
        case 1: {
            uint32_t value = 0;
            for (int byte = 0; byte < 4; ++byte)
                value |= static_cast<uint32_t>(0x20 + pick(*random) % 0x5F) << (8 * byte);
            AppendToken(&line, value);
            break;
        }
        case 2:  // a status value
            AppendToken(&line, static_cast<uint32_t>(pick(*random) % 0x200));
            break;
        default:  // plain text around a token
            line += "ch=";
            line += static_cast<char>('1' + pick(*random) % 2);
            line += ' ';
            AppendToken(&line, static_cast<uint32_t>(pick(*random)));
            break;
        }
    }
    while (line.size() < 58)
        line += " pad";
    line += "\r\n";
    return line;
}

// A log of at least `size` bytes in a temporary file, made once per size and removed at exit.
class GeneratedLog {
public:
    explicit GeneratedLog(int64_t size)
    {
        const char* folder = std::getenv("TMPDIR");
        path_ = std::string(folder && *folder ? folder : "/tmp") + "/ndislog-bench-XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd < 0) {
            std::perror("mkstemp");
            std::exit(1);
        }
        std::mt19937 random(20240917u);
        std::string chunk;
        int index = 0;
        while (size_ < size) {
            chunk.clear();
            while (chunk.size() < 1 << 20 && size_ + static_cast<int64_t>(chunk.size()) < size)
                chunk += MakeLogLine(index++, &random);
            if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
                std::perror("write");
                std::exit(1);
            }
            size_ += static_cast<int64_t>(chunk.size());
        }
        lines_ = index;
        close(fd);
    }
    ~GeneratedLog() { unlink(path_.c_str()); }
    GeneratedLog(const GeneratedLog&) = delete;
    GeneratedLog& operator=(const GeneratedLog&) = delete;

    const char* Path() const { return path_.c_str(); }
    int64_t Size() const { return size_; }
    int Lines() const { return lines_; }

private:
    std::string path_;
    int64_t size_ = 0;
    int lines_ = 0;
};

inline const GeneratedLog& LogOf(int64_t mebibytes)
{
    static std::map<int64_t, GeneratedLog> logs;
    auto found = logs.find(mebibytes);
    if (found == logs.end())
        found = logs.try_emplace(mebibytes, mebibytes * MEBIBYTE).first;
    return found->second;
}
