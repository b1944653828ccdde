// The one loop that turns log lines into numbered records, and the report builder on top of
// it: "%03d. record\r\n" appended to a zero-filled block that grows in REPORT_BLOCK_SIZE steps.
#include "log_report.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>


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
// fresh pages for a large log each time. The builder zeroes the block past its text when it
// hands the report over, so a reused block reads exactly like a new one.
std::atomic<BlockHeader*> SpareBlock{nullptr};

void* ResizeHeapBlock(void* block, size_t size, void*)
{
    BlockHeader* header = block ? static_cast<BlockHeader*>(block) - 1 : SpareBlock.exchange(nullptr);
    // A spare always holds the first step the builder asks for, so it is never grown here.
    if (header && size <= header->reserved)
        return header + 1;
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

// The growing text of the report.
class ReportBlock {
public:
    explicit ReportBlock(const ReportAllocator& allocator) : allocator_(allocator) {}

    bool Allocate() { return Grow(); }

    // Appends record `number`'s numbered line. False when the block could not grow: the
    // text is then as it stood before this line.
    bool AppendNumberedLine(const RecordNumber& number, const LogRecordParts& parts)
    {
        const int32_t lineLength = NumberedLineLength(number, parts);
        if (length_ + lineLength + 1 > capacity_ && !Grow())
            return false;
        WriteNumberedLine(number, parts, text_ + length_);
        length_ += lineLength;
        return true;
    }

    // Hands the text over, zero from its end to the end of the block, however the block was
    // used before.
    void HandOver(LogReport* report)
    {
        std::memset(text_ + length_, 0, static_cast<size_t>(capacity_ - length_));
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
        capacity_ = capacity;
        return true;
    }

    const ReportAllocator& allocator_;
    char* text_ = nullptr;
    int32_t length_ = 0;
    int32_t capacity_ = 0;
};

// Takes every record into the block until it cannot grow.
class BlockSink final : public RecordSink {
public:
    explicit BlockSink(ReportBlock& block) : block_(block) {}
    bool TakeRecord(const RecordNumber& number, const LogRecordParts& parts) override
    {
        full_ = !block_.AppendNumberedLine(number, parts);
        return !full_;
    }
    bool Full() const { return full_; }

private:
    ReportBlock& block_;
    bool full_ = false;
};

// Every record number has at least this many digits, zero-padded.
constexpr int NUMBER_DIGITS_MIN = 3;
constexpr char NUMBER_END[] = ". ";
constexpr char LINE_END[] = "\r\n";

}  // namespace

RecordNumber::RecordNumber(int64_t value) : value_(value)
{
    char* digit = digits_ + sizeof digits_;
    do {
        *--digit = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 || digits_ + sizeof digits_ - digit < NUMBER_DIGITS_MIN);
    length_ = static_cast<int>(digits_ + sizeof digits_ - digit);
}

void RecordNumber::Next()
{
    ++value_;
    const char* first = Text();
    char* digit = digits_ + sizeof digits_ - 1;
    for (; digit >= first && *digit == '9'; --digit)
        *digit = '0';
    if (digit < first) {  // 999 became 000: one digit more
        *digit = '1';
        ++length_;
    } else {
        ++*digit;
    }
}

int NumberedLineLength(const RecordNumber& number, const LogRecordParts& parts)
{
    return number.Length() + static_cast<int>(sizeof NUMBER_END - 1) + LogRecordLength(parts) +
           static_cast<int>(sizeof LINE_END - 1);
}

char* WriteNumberedLine(const RecordNumber& number, const LogRecordParts& parts, char* out)
{
    std::memcpy(out, number.Text(), static_cast<size_t>(number.Length()));
    out += number.Length();
    std::memcpy(out, NUMBER_END, sizeof NUMBER_END - 1);
    out = WriteLogRecord(parts, out + sizeof NUMBER_END - 1);
    std::memcpy(out, LINE_END, sizeof LINE_END - 1);
    return out + sizeof LINE_END - 1;
}

void ReadLogRecords(LogLineReader& reader, RecordNumber* nextNumber, RecordSink& sink)
{
    char line[LOG_LINE_SIZE];
    LogRecordParts parts;
    while (reader.ReadLine(line)) {
        if (!sink.TakeLine(line, reader.LineLength()))
            return;
        if (SplitLogRecord(line, &parts)) {
            if (!sink.TakeRecord(*nextNumber, parts))
                return;
            nextNumber->Next();
        }
        if (!sink.LineDone())
            return;
    }
}

const ReportAllocator& DefaultReportAllocator()
{
    return HEAP_ALLOCATOR;
}

ReportStatus BuildLogReport(const char* path, LogReport* report, const ReportAllocator& allocator)
{
    *report = LogReport{};
    // "rb" and our own line reader: the same lines on every platform. The runtime opens
    // with read and write sharing, so the driver can go on writing while we read.
    const LogFile file(std::fopen(path, "rb"));
    if (!file)
        return REPORT_CANNOT_OPEN;

    ReportBlock block(allocator);
    if (!block.Allocate())
        return REPORT_NO_MEMORY;
    BlockSink sink(block);
    try {
        LogLineReader reader(file.get());
        RecordNumber number(1);
        ReadLogRecords(reader, &number, sink);
    } catch (const std::bad_alloc&) {
        return REPORT_NO_MEMORY;  // no chunk for the reader
    }
    block.HandOver(report);
    return sink.Full() ? REPORT_NO_MEMORY : REPORT_OK;
}

void ReleaseLogReport(LogReport* report, const ReportAllocator& allocator)
{
    if (report->text)
        allocator.release(report->text, allocator.context);
    *report = LogReport{};
}
