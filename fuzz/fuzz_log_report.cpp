// Feeds any bytes to BuildLogReport as the driver log and parses the report it hands back:
// numbered lines 001, 002, ... each made of the number, ". ", the record with its own line
// break and indent, and CR LF, filling the text exactly up to its length.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string.h>  // memmem
#include <map>
#include <vector>

#include "fuzz_check.h"
#include "log_report.h"

namespace {

constexpr char INDENT[] = "\r\n          ";
constexpr char GAP[] = "  ";
constexpr char LINE_END[] = "\r\n";
constexpr char CTRL_Z = 0x1A;

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

const char* Search(const char* from, const char* end, const char* wanted, size_t wantedLength)
{
    return static_cast<const char*>(memmem(from, static_cast<size_t>(end - from), wanted, wantedLength));
}

// Walks the numbered lines of `text` and returns how many there are.
int ParseReport(const char* text, int32_t length)
{
    const char* at = text;
    const char* end = text + length;
    int number = 0;
    while (at < end) {
        ++number;
        char prefix[24];
        const int prefixLength = std::snprintf(prefix, sizeof prefix, "%03d. ", number);
        FUZZ_REQUIRE(end - at >= prefixLength);
        FUZZ_REQUIRE_BYTES(prefix, static_cast<size_t>(prefixLength), at, static_cast<size_t>(prefixLength));
        at += prefixLength;
        // A head never holds a line feed, so the first CR LF is the record's own line break.
        const char* indent = Search(at, end, LINE_END, sizeof LINE_END - 1);
        FUZZ_REQUIRE(indent != nullptr);
        FUZZ_REQUIRE(end - indent >= static_cast<ptrdiff_t>(sizeof INDENT - 1));
        FUZZ_REQUIRE_BYTES(INDENT, sizeof INDENT - 1, indent, sizeof INDENT - 1);
        // After it, message, gap and decoded text hold no CR LF: the reader turns every CR LF
        // of the log into a plain LF. The next CR LF ends the numbered line.
        const char* body = indent + sizeof INDENT - 1;
        const char* lineEnd = Search(body, end, LINE_END, sizeof LINE_END - 1);
        FUZZ_REQUIRE(lineEnd != nullptr);
        FUZZ_REQUIRE(lineEnd - body >= static_cast<ptrdiff_t>(sizeof GAP - 1));
        at = lineEnd + sizeof LINE_END - 1;
    }
    FUZZ_REQUIRE(at == end);
    return number;
}

MemoryLog& Log()
{
    static MemoryLog log;
    return log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TrackingAllocator tracking;
    LogReport report;
    FUZZ_REQUIRE_EQ(REPORT_OK, BuildLogReport(Log().Write(data, size), &report, tracking.Interface()));
    FUZZ_REQUIRE(report.text != nullptr);
    FUZZ_REQUIRE_EQ(1, tracking.live.size());
    const size_t capacity = tracking.live.begin()->second;
    FUZZ_REQUIRE(tracking.live.begin()->first == report.text);

    // The block grows in whole steps, always keeps room for the NUL, and is zero past the text.
    FUZZ_REQUIRE_EQ(0, capacity % REPORT_BLOCK_SIZE);
    FUZZ_REQUIRE(report.length >= 0);
    FUZZ_REQUIRE(static_cast<size_t>(report.length) < capacity);
    FUZZ_REQUIRE(std::memchr(report.text, '\0', static_cast<size_t>(report.length)) == nullptr);
    static const char zeros[REPORT_BLOCK_SIZE] = {};
    for (size_t at = static_cast<size_t>(report.length); at < capacity;) {
        const size_t span = capacity - at < sizeof zeros ? capacity - at : sizeof zeros;
        FUZZ_REQUIRE_BYTES(zeros, span, report.text + at, span);
        at += span;
    }

    const int records = ParseReport(report.text, report.length);
    // Every record comes from a line with a '.' in it.
    if (std::memchr(data, '.', size) == nullptr)
        FUZZ_REQUIRE_EQ(0, records);

    // The default allocator gives the same text.
    LogReport plain;
    FUZZ_REQUIRE_EQ(REPORT_OK, BuildLogReport(Log().Write(data, size), &plain));
    FUZZ_REQUIRE_BYTES(report.text, static_cast<size_t>(report.length), plain.text,
                       static_cast<size_t>(plain.length));
    ReleaseLogReport(&plain);
    FUZZ_REQUIRE(plain.text == nullptr);

    // Ctrl-Z ends the log: whatever follows it changes nothing.
    if (const void* ctrlZ = std::memchr(data, CTRL_Z, size)) {
        const size_t kept = static_cast<size_t>(static_cast<const uint8_t*>(ctrlZ) - data);
        LogReport cut;
        FUZZ_REQUIRE_EQ(REPORT_OK, BuildLogReport(Log().Write(data, kept), &cut));
        FUZZ_REQUIRE_BYTES(report.text, static_cast<size_t>(report.length), cut.text,
                           static_cast<size_t>(cut.length));
        ReleaseLogReport(&cut);
    }

    // CR LF reads as LF: the log with every bare LF written as CR LF gives the same text.
    std::vector<uint8_t> crlf;
    crlf.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r'))
            crlf.push_back('\r');
        crlf.push_back(data[i]);
    }
    if (crlf.size() != size) {
        LogReport converted;
        FUZZ_REQUIRE_EQ(REPORT_OK, BuildLogReport(Log().Write(crlf.data(), crlf.size()), &converted));
        FUZZ_REQUIRE_BYTES(report.text, static_cast<size_t>(report.length), converted.text,
                           static_cast<size_t>(converted.length));
        ReleaseLogReport(&converted);
    }

    ReleaseLogReport(&report, tracking.Interface());
    FUZZ_REQUIRE(report.text == nullptr);
    FUZZ_REQUIRE_EQ(0, tracking.live.size());
    return 0;
}
