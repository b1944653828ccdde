// Tests of the line reader and the report builder over real log files written byte for byte.
#include "log_reader.h"
#include "log_report.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "temp_files.h"

namespace {

using namespace std::string_literals;

const std::string INDENT = "\r\n          ";

// True while this process holds `path` open.
#ifdef _WIN32
// A handle that shares nothing cannot be had while any other handle is open.
bool IsOpen(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}
#else
bool IsOpen(const char* path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", error))
        if (fs::read_symlink(entry.path(), error) == target)
            return true;
    return false;
}
#endif

// Hands out heap blocks, always at a new address and with garbage in the bytes the caller
// did not keep. Counts the calls, fails the call numbered `failAt` and tracks live blocks.
struct TestAllocator {
    int calls = 0;
    int failAt = 0;  // 0: never fail
    std::vector<size_t> sizes;  // the size of every block handed out
    std::map<void*, size_t> live;

    static void* Resize(void* block, size_t size, void* context)
    {
        auto* self = static_cast<TestAllocator*>(context);
        if (++self->calls == self->failAt)
            return nullptr;
        char* grown = static_cast<char*>(std::malloc(size));
        std::memset(grown, 0xA5, size);
        if (block) {
            std::memcpy(grown, block, std::min(size, self->live[block]));
            Release(block, context);
        }
        self->sizes.push_back(self->live[grown] = size);
        return grown;
    }
    static void Release(void* block, void* context)
    {
        EXPECT_EQ(1u, static_cast<TestAllocator*>(context)->live.erase(block)) << "not a live block";
        std::free(block);
    }
    ReportAllocator Get() { return {Resize, Release, this}; }
};

// Builds the report of a log holding `bytes` with the default allocator.
std::string Report(const std::string& bytes)
{
    TempFile log(bytes);
    LogReport report;
    EXPECT_EQ(REPORT_OK, BuildLogReport(log.path(), &report));
    std::string text = report.text ? report.text : "<no block>";
    EXPECT_EQ(text.size(), static_cast<size_t>(report.length));
    ReleaseLogReport(&report);
    return text;
}

std::string Numbered(const std::vector<std::string>& records)
{
    std::string text;
    char number[32];
    for (size_t i = 0; i < records.size(); ++i) {
        std::snprintf(number, sizeof number, "%03zu. ", i + 1);
        text += number + records[i] + "\r\n";
    }
    return text;
}

// `count` log lines "h.mmm,\n" whose numbered lines (below record 1000) are `each` bytes
// long, then one of `last` bytes.
struct SizedLog {
    std::string bytes;
    std::vector<std::string> records;
    SizedLog(int count, int each, int last = 0)
    {
        for (int i = 0; i <= count; ++i) {
            const int length = i < count ? each : last;
            if (length == 0)
                break;
            const std::string message(static_cast<size_t>(length - 22), 'm');
            bytes += "h." + message + ",\n";
            records.push_back("h" + INDENT + message + "  ");
        }
    }
};

// All lines the reader delivers from `bytes`; each line's terminator is checked to be the
// last byte written into a buffer pre-filled with 0xEE, and its length to be the one the
// reader tells. After a line ending in LF, the bytes taken must be exactly the raw bytes
// of that line (all its pieces), CR LF for LF, so that the next line can be read from there.
std::vector<std::string> ReadLines(const std::string& bytes)
{
    TempFile log(bytes);
    std::FILE* file = std::fopen(log.path(), "rb");
    auto reader = std::make_unique<LogLineReader>(file);
    std::vector<std::string> lines;
    char line[LOG_LINE_SIZE];
    int64_t lineStart = 0;
    std::string pieces;  // of the line since lineStart
    for (std::memset(line, 0xEE, sizeof line); reader->ReadLine(line); std::memset(line, 0xEE, sizeof line)) {
        int end = LOG_LINE_SIZE;
        while (end > 0 && line[end - 1] == '\xEE')
            --end;
        EXPECT_GT(end, 0);
        EXPECT_EQ('\0', line[end - 1]);
        EXPECT_EQ(end - 1, reader->LineLength());
        lines.emplace_back(line, static_cast<size_t>(end - 1));
        pieces += lines.back();
        if (pieces.ends_with('\n')) {
            std::string raw = bytes.substr(static_cast<size_t>(lineStart),
                                           static_cast<size_t>(reader->BytesTaken() - lineStart));
            if (raw.ends_with("\r\n"))
                raw.erase(raw.size() - 2, 1);
            EXPECT_EQ(pieces, raw);
            lineStart = reader->BytesTaken();
            pieces.clear();
        }
    }
    std::fclose(file);
    return lines;
}

TEST(LogLineReader, DeliversLinesAsATextStreamDoes)
{
    const std::string x1023(1023, 'x');
    const std::vector<std::string> pieces64(64, std::string(1023, 'y'));
    std::vector<std::string> acrossChunks = pieces64;
    acrossChunks.push_back(std::string(63, 'y') + "\n");
    acrossChunks.push_back("z");
    const struct {
        const char* name;
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"empty file", "", {}},
        {"CR LF becomes LF", "a\r\nb\r\n", {"a\n", "b\n"}},
        {"lone CR kept", "a\rb\n", {"a\rb\n"}},
        {"lone CR as last byte", "a\r", {"a\r"}},
        {"CR before CR LF", "a\r\r\n", {"a\r\n"}},
        {"last line without LF", "a\nb", {"a\n", "b"}},
        {"empty lines", "\n\r\n", {"\n", "\n"}},
        {"Ctrl-Z ends the file", "a\nb\x1a" "c\nd\n", {"a\n", "b"}},
        {"Ctrl-Z first", "\x1a" "a\n", {}},
        {"CR then Ctrl-Z", "a\r\x1a\n", {"a\r"}},
        {"NUL bytes kept", "a\0b\n\0\n"s, {"a\0b\n"s, "\0\n"s}},
        {"1500 characters", std::string(1500, 'x') + "\n", {x1023, std::string(477, 'x') + "\n"}},
        {"CR LF as 1023rd character", std::string(1022, 'x') + "\r\n", {std::string(1022, 'x') + "\n"}},
        {"CR LF after 1023 characters", x1023 + "\r\n", {x1023, "\n"}},
        {"CR LF across the read chunks", std::string(65535, 'y') + "\r\nz", acrossChunks},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.lines, ReadLines(c.bytes));
    }
}

TEST(BuildLogReport, MissingFileGivesNoReport)
{
    TestAllocator allocator;
    LogReport report;
    EXPECT_EQ(REPORT_CANNOT_OPEN,
              BuildLogReport((testing::TempDir() + "no_such_dir/ndislog.txt").c_str(), &report, allocator.Get()));
    EXPECT_EQ(nullptr, report.text);
    EXPECT_EQ(0, report.length);
    EXPECT_TRUE(allocator.live.empty());
}

TEST(BuildLogReport, LogWithoutRecordsGivesAnEmptyReport)
{
    for (const std::string& bytes : {""s, "noperiod\n\na.nocomma\n\n"s, "\x1a" "a.b,0x41424344\n"s}) {
        SCOPED_TRACE(bytes);
        TestAllocator allocator;
        TempFile log(bytes);
        LogReport report;
        ASSERT_EQ(REPORT_OK, BuildLogReport(log.path(), &report, allocator.Get()));
        ASSERT_NE(nullptr, report.text);
        EXPECT_EQ(0, report.length);
        EXPECT_EQ("", std::string(report.text));
        EXPECT_EQ(std::vector<size_t>{32768}, allocator.sizes);
        ReleaseLogReport(&report, allocator.Get());
        EXPECT_TRUE(allocator.live.empty());
    }
}

TEST(BuildLogReport, ReadsEveryKindOfLineEnd)
{
    const std::string call = "0012" + INDENT + "Call setup  CONN (00000010)";
    const struct {
        const char* name;
        std::string bytes;
        std::string report;
    } cases[] = {
        {"LF", "0012.Call setup,0x4E4E4F43,0x00000010\nH.M\rN,0x41424344\nx\nT.E,0x12\n",
         Numbered({call, "H" + INDENT + "M\rN  DCBA", "T" + INDENT + "E   (12\n"})},
        {"CR LF", "0012.Call setup,0x4E4E4F43,0x00000010\r\nH.M\rN,0x41424344\r\nx\r\nT.E,0x12\r\n",
         Numbered({call, "H" + INDENT + "M\rN  DCBA", "T" + INDENT + "E   (12\n"})},
        {"lone CR as last byte", "T.E,0x12\r", Numbered({"T" + INDENT + "E   (12\r"})},
        {"no LF at the end", "a.b,\nc.d,0x41424344", Numbered({"a" + INDENT + "b  ", "c" + INDENT + "d  DCBA"})},
        {"Ctrl-Z", "a.b,\n\x1a" "c.d,\n", Numbered({"a" + INDENT + "b  "})},
        {"NUL in a line", "A.B,0x41424344\0junk.x,0x45464748\nC.D,\n"s,
         Numbered({"A" + INDENT + "B  DCBA", "C" + INDENT + "D  "})},
        {"1500 characters", "H.M," + std::string(1019, 'x') + "T.U,0x41424344" + std::string(463, 'y') + "\n",
         Numbered({"H" + INDENT + "M  ", "T" + INDENT + "U  DCBA"})},
        {"numbered line over 1023 characters",
         std::string(500, 'h') + "." + std::string(500, 'm') + ",0x41424344\na.b,\n",
         Numbered({std::string(500, 'h') + INDENT + std::string(500, 'm') + "  DCBA", "a" + INDENT + "b  "})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.report, Report(c.bytes));
    }
}

TEST(BuildLogReport, NumbersWidenPast999AndRestartEveryBuild)
{
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes += i % 2 ? "h.m,\nskipped\n" : "h.m,\n";
    const std::string record = "h" + INDENT + "m  \r\n";
    TempFile log(bytes);
    for (int build = 1; build <= 2; ++build) {
        SCOPED_TRACE(build);
        LogReport report;
        ASSERT_EQ(REPORT_OK, BuildLogReport(log.path(), &report));
        const std::string text = report.text;
        EXPECT_EQ(999 * 23 + 24, report.length);
        EXPECT_EQ("001. " + record + "002. ", text.substr(0, 28));
        EXPECT_EQ("998. " + record + "999. " + record + "1000. " + record, text.substr(997 * 23));
        ReleaseLogReport(&report);
    }
}

TEST(BuildLogReport, BlockGrowsWhenTheTerminatorWouldNotFit)
{
    const struct {
        int total;
        SizedLog sized;
        std::vector<size_t> sizes;
    } cases[] = {
        {32767, {32, 1000, 767}, {32768}},
        {32768, {32, 1000, 768}, {32768, 65536}},
        {65535, {65, 1000, 535}, {32768, 65536}},
        {65536, {65, 1000, 536}, {32768, 65536, 98304}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.total);
        const SizedLog& sized = c.sized;
        TempFile log(sized.bytes);
        TestAllocator allocator;
        LogReport report;
        ASSERT_EQ(REPORT_OK, BuildLogReport(log.path(), &report, allocator.Get()));
        EXPECT_EQ(c.sizes, allocator.sizes);
        EXPECT_EQ(c.total, report.length);
        EXPECT_EQ(Numbered(sized.records), std::string(report.text));
        const size_t capacity = allocator.sizes.back();
        EXPECT_EQ(std::string(capacity - c.total, '\0'), std::string(report.text + c.total, capacity - c.total))
            << "room after the text is not zeroed";
        EXPECT_EQ(1u, allocator.live.size());
        ReleaseLogReport(&report, allocator.Get());
        EXPECT_EQ(nullptr, report.text);
        EXPECT_TRUE(allocator.live.empty());
        EXPECT_EQ(Numbered(sized.records), Report(sized.bytes)) << "default allocator";
    }
}

TEST(BuildLogReport, FailedAllocationHandsOverTheLinesThatFit)
{
    const SizedLog sized(70, 1000);
    TempFile log(sized.bytes);
    const struct {
        int failAt;
        int lines;  // numbered lines handed over; -1: no block
    } cases[] = {{1, -1}, {2, 32}, {3, 65}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failAt);
        TestAllocator allocator;
        allocator.failAt = c.failAt;
        LogReport report;
        ASSERT_EQ(REPORT_NO_MEMORY, BuildLogReport(log.path(), &report, allocator.Get()));
        EXPECT_EQ(c.failAt, allocator.calls) << "the build went on after the failure";
        if (c.lines < 0) {
            EXPECT_EQ(nullptr, report.text);
            EXPECT_TRUE(allocator.live.empty());
            continue;
        }
        const std::vector<std::string> kept(sized.records.begin(), sized.records.begin() + c.lines);
        EXPECT_EQ(c.lines * 1000, report.length);
        ASSERT_NE(nullptr, report.text);
        EXPECT_EQ(Numbered(kept), std::string(report.text));
        EXPECT_EQ(1u, allocator.live.size());
        ReleaseLogReport(&report, allocator.Get());
        EXPECT_TRUE(allocator.live.empty());
    }
}

TEST(BuildLogReport, LogIsClosedOnEveryPath)
{
    const SizedLog sized(40, 1000);
    TempFile log(sized.bytes);
    {
        std::FILE* file = std::fopen(log.path(), "rb");
        ASSERT_TRUE(IsOpen(log.path())) << "the open-file check does not see an open log";
        std::fclose(file);
    }
    for (int failAt : {0, 1, 2}) {
        SCOPED_TRACE(failAt);
        TestAllocator allocator;
        allocator.failAt = failAt;
        LogReport report;
        BuildLogReport(log.path(), &report, allocator.Get());
        EXPECT_FALSE(IsOpen(log.path()));
        ReleaseLogReport(&report, allocator.Get());
    }
}

}  // namespace
