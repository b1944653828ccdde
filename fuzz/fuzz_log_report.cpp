// Feeds any bytes to BuildLogReport as the driver log and compares the report it hands back
// byte for byte with the report a plain model makes of the same bytes: the lines a
// text-mode reader delivers, each formatted by FormatLogRecord (fuzzed on its own), and the
// non-empty records numbered "%03d. %s\r\n". A record may hold CR LF and LF of its own (a
// hex value cut short by the line's end keeps that end), so the report cannot be split
// back into lines by its CR LF; only an exact model tells a right report from a wrong one.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "fuzz_check.h"
#include "log_record.h"
#include "log_report.h"

namespace {

constexpr uint8_t CTRL_Z = 0x1A;

// The log lives in an anonymous memory file; BuildLogReport opens it by its /proc path.
class MemoryLog {
public:
    MemoryLog()
    {
        fd_ = memfd_create("ndislog.txt", 0);
        if (fd_ < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        std::snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd_);
    }

    const char* Write(const uint8_t* data, size_t size)
    {
        FUZZ_REQUIRE(ftruncate(fd_, 0) == 0);
        size_t written = 0;
        while (written < size) {
            const ssize_t n = pwrite(fd_, data + written, size - written, static_cast<off_t>(written));
            if (n < 0 && errno == EINTR)
                continue;
            FUZZ_REQUIRE(n > 0);
            written += static_cast<size_t>(n);
        }
        return path_;
    }

private:
    int fd_ = -1;
    char path_[64];
};

// Hands out blocks of exactly the size asked for, so that AddressSanitizer catches a write
// past the capacity, and remembers each block's capacity and whether it is still held.
struct TrackingAllocator {
    std::map<void*, size_t> live;

    static void* Resize(void* block, size_t size, void* context)
    {
        auto* self = static_cast<TrackingAllocator*>(context);
        if (block)
            FUZZ_REQUIRE(self->live.count(block) == 1);
        void* grown = std::realloc(block, size);
        if (!grown)
            return nullptr;
        if (block)
            self->live.erase(block);
        self->live[grown] = size;
        return grown;
    }

    static void Release(void* block, void* context)
    {
        auto* self = static_cast<TrackingAllocator*>(context);
        FUZZ_REQUIRE(self->live.erase(block) == 1);
        std::free(block);
    }

    ReportAllocator Interface() { return ReportAllocator{Resize, Release, this}; }
};

// Appends the numbered line of `line` (as the reader delivered it, NUL bytes included) to
// `report` when its record is not empty; returns the number the next record takes.
int AppendModelRecord(const std::string& line, int number, std::string* report)
{
    char buffer[LOG_LINE_SIZE];
    char record[LOG_RECORD_SIZE];
    std::memcpy(buffer, line.data(), line.size());
    buffer[line.size()] = '\0';
    FormatLogRecord(buffer, record);
    if (record[0] == '\0')
        return number;
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "%03d. ", number);
    report->append(prefix).append(record).append("\r\n");
    return number + 1;
}

// The report of `data`, read one byte at a time as a text-mode stream reads it: CR LF is
// one LF, a lone CR stays, Ctrl-Z ends the log, and a line is cut after 1023 characters.
std::string ModelReport(const uint8_t* data, size_t size)
{
    std::string report;
    std::string line;
    int number = 1;
    for (size_t i = 0; i < size && data[i] != CTRL_Z; ++i) {
        char c = static_cast<char>(data[i]);
        if (c == '\r' && i + 1 < size && data[i + 1] == '\n') {
            c = '\n';
            ++i;
        }
        line.push_back(c);
        if (c == '\n' || line.size() == LOG_LINE_SIZE - 1) {
            number = AppendModelRecord(line, number, &report);
            line.clear();
        }
    }
    if (!line.empty())
        AppendModelRecord(line, number, &report);
    return report;
}

MemoryLog& Log()
{
    static MemoryLog log;
    return log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string expected = ModelReport(data, size);
    const char* path = Log().Write(data, size);

    TrackingAllocator tracking;
    LogReport report;
    FUZZ_REQUIRE_EQ(REPORT_OK, BuildLogReport(path, &report, tracking.Interface()));
    FUZZ_REQUIRE(report.text != nullptr);
    FUZZ_REQUIRE_BYTES(expected.data(), expected.size(), report.text, static_cast<size_t>(report.length));

    // One block is left, of the least whole number of steps that holds the text and its
    // NUL (the builder grows only when a line does not fit), zero past the text.
    FUZZ_REQUIRE_EQ(1, tracking.live.size());
    FUZZ_REQUIRE(tracking.live.begin()->first == report.text);
    const size_t capacity = tracking.live.begin()->second;
    const size_t steps = (static_cast<size_t>(report.length) + 1 + REPORT_BLOCK_SIZE - 1) / REPORT_BLOCK_SIZE;
    FUZZ_REQUIRE_EQ(steps * REPORT_BLOCK_SIZE, capacity);
    static const char zeros[REPORT_BLOCK_SIZE] = {};
    for (size_t at = static_cast<size_t>(report.length); at < capacity;) {
        const size_t span = std::min(capacity - at, sizeof zeros);
        FUZZ_REQUIRE_BYTES(zeros, span, report.text + at, span);
        at += span;
    }
    ReleaseLogReport(&report, tracking.Interface());
    FUZZ_REQUIRE(report.text == nullptr);
    FUZZ_REQUIRE_EQ(0, tracking.live.size());

    // The default allocator, which keeps the block it released last for the next build,
    // gives the same text.
    LogReport plain;
    FUZZ_REQUIRE_EQ(REPORT_OK, BuildLogReport(path, &plain));
    FUZZ_REQUIRE_BYTES(expected.data(), expected.size(), plain.text, static_cast<size_t>(plain.length));
    ReleaseLogReport(&plain);
    return 0;
}
