// Reads the driver log through LogLineReader, formats each line with FormatLogRecord and
// appends "%03d. record\r\n" to a zero-filled block that grows in REPORT_BLOCK_SIZE steps.
#include "log_report.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "log_reader.h"
#include "log_record.h"

namespace {

// The C heap with a size header in front of each block: the builder asks for capacity in
// 32 KiB steps, and reserving at least double each time keeps a 64 MiB log linear even
// where realloc cannot grow a block in place.
struct BlockHeader {
    size_t reserved;
    size_t padding;  // keeps the text aligned as malloc's own result is
};

// The block released last, kept for the next build. The monitor rebuilds the whole report
// every few seconds; reusing its memory spares the system handing out, and faulting in,
// fresh pages for a large log each time. The builder zeroes every capacity step it takes,
// so a reused block reads exactly like a new one.
std::atomic<BlockHeader*> SpareBlock{nullptr};

void* ResizeHeapBlock(void* block, size_t size, void*)
{
    BlockHeader* header = block ? static_cast<BlockHeader*>(block) - 1 : SpareBlock.exchange(nullptr);
    if (header && size <= header->reserved)
        return header + 1;
    if (!block) {
        // A spare too small to use: nothing in it needs keeping, so it is not grown.
        std::free(header);
        header = nullptr;
    }
    size_t reserve = size;
    if (header && reserve < 2 * header->reserved)
        reserve = 2 * header->reserved;
    void* grown = std::realloc(header, sizeof(BlockHeader) + reserve);
    if (!grown && reserve > size) {
        reserve = size;
        grown = std::realloc(header, sizeof(BlockHeader) + reserve);
    }
    if (!grown)
        return nullptr;
    header = static_cast<BlockHeader*>(grown);
    header->reserved = reserve;
    return header + 1;
}

void ReleaseHeapBlock(void* block, void*)
{
    if (block)
        std::free(SpareBlock.exchange(static_cast<BlockHeader*>(block) - 1));
}

const ReportAllocator HEAP_ALLOCATOR = {ResizeHeapBlock, ReleaseHeapBlock, nullptr};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Writes the decimal digits of `number`, at least three, zero-padded; returns the count.
int FormatRecordNumber(int number, char* out)
{
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number > 0);
    while (count < 3)
        digits[count++] = '0';
    for (int i = 0; i < count; ++i)
        out[i] = digits[count - 1 - i];
    return count;
}

// The growing text of the report.
class ReportBlock {
public:
    explicit ReportBlock(const ReportAllocator& allocator) : allocator_(allocator) {}

    bool Allocate() { return Grow(); }

    // Appends "NNN. record\r\n". False when the block could not grow: the text is then
    // as it stood before this line.
    bool AppendNumberedLine(int number, const char* record)
    {
        char prefix[16];
        int prefixLength = FormatRecordNumber(number, prefix);
        prefix[prefixLength++] = '.';
        prefix[prefixLength++] = ' ';
        const size_t recordLength = std::strlen(record);
        const int32_t lineLength = prefixLength + static_cast<int32_t>(recordLength) + 2;
        if (length_ + lineLength + 1 > capacity_ && !Grow())
            return false;
        char* out = text_ + length_;
        std::memcpy(out, prefix, static_cast<size_t>(prefixLength));
        out += prefixLength;
        std::memcpy(out, record, recordLength);
        out += recordLength;
        out[0] = '\r';
        out[1] = '\n';
        length_ += lineLength;
        return true;
    }

    void HandOver(LogReport* report)
    {
        report->text = text_;
        report->length = length_;
        text_ = nullptr;
    }

    ~ReportBlock()
    {
        if (text_)
            allocator_.release(text_, allocator_.context);
    }

private:
    bool Grow()
    {
        if (capacity_ > INT32_MAX - REPORT_BLOCK_SIZE)
            return false;  // the length is a signed 32-bit count
        const int32_t capacity = capacity_ + REPORT_BLOCK_SIZE;
        void* grown = allocator_.resize(text_, static_cast<size_t>(capacity), allocator_.context);
        if (!grown)
            return false;
        text_ = static_cast<char*>(grown);
        // The new room is zeroed, so the text is terminated wherever it stops.
        std::memset(text_ + capacity_, 0, static_cast<size_t>(capacity - capacity_));
        capacity_ = capacity;
        return true;
    }

    const ReportAllocator& allocator_;
    char* text_ = nullptr;
    int32_t length_ = 0;
    int32_t capacity_ = 0;
};

}  // namespace

const ReportAllocator& DefaultReportAllocator()
{
    return HEAP_ALLOCATOR;
}

ReportStatus BuildLogReport(const char* path, LogReport* report, const ReportAllocator& allocator)
{
    *report = LogReport{};
    // "rb" and our own line reader: the same lines on every platform. The runtime opens
    // with read and write sharing, so the driver can go on writing while we read.
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file)
        return REPORT_CANNOT_OPEN;

    ReportBlock block(allocator);
    if (!block.Allocate())
        return REPORT_NO_MEMORY;

    // The reader holds a 64 KiB chunk, too much for the stack of every caller.
    std::unique_ptr<LogLineReader> reader(new (std::nothrow) LogLineReader(file.get()));
    if (!reader)
        return REPORT_NO_MEMORY;
    char line[LOG_LINE_SIZE];
    char record[LOG_RECORD_SIZE];
    int number = 0;
    while (reader->ReadLine(line)) {
        FormatLogRecord(line, record);
        if (record[0] == '\0')
            continue;
        if (!block.AppendNumberedLine(number + 1, record)) {
            block.HandOver(report);
            return REPORT_NO_MEMORY;
        }
        ++number;
    }
    block.HandOver(report);
    return REPORT_OK;
}

void ReleaseLogReport(LogReport* report, const ReportAllocator& allocator)
{
    if (report->text)
        allocator.release(report->text, allocator.context);
    *report = LogReport{};
}
