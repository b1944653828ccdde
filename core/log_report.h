// Builds the log report: every line of the driver log that has something to show,
// numbered "%03d. " and ended by CR LF, in one NUL-terminated text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log_reader.h"
#include "log_record.h"

// The numbered line of record `number`, "%03d. record\r\n", made of `parts`: its length,
// and the line itself written to `out` (that many bytes, no NUL), returning the byte after it.
int NumberedLineLength(int64_t number, const LogRecordParts& parts);
char* WriteNumberedLine(int64_t number, const LogRecordParts& parts, char* out);

// Whoever takes the records of a log as ReadLogRecords finds them: a growing block, a stream
// of output pieces, a follower that remembers where it stopped. Returning false from any of
// these ends the reading at once.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    // The line just read (`length` bytes, not yet cut by the formatter); false leaves it
    // unformatted and ends the reading.
    virtual bool TakeLine(const char* line, int length)
    {
        static_cast<void>(line);
        static_cast<void>(length);
        return true;
    }
    // Record `number` of that line; false: the record is not taken and the reading ends.
    virtual bool TakeRecord(int64_t number, const LogRecordParts& parts) = 0;
    // The line is done with, its record (if any) taken.
    virtual bool LineDone() { return true; }
};

// Reads the lines `reader` delivers until it ends or `sink` ends the reading, formats each
// and hands every record to `sink`, numbered from `*nextNumber`, which on return is the
// number the next record takes.
void ReadLogRecords(LogLineReader& reader, int64_t* nextNumber, RecordSink& sink);

// The report block starts at this capacity and grows by it, one step at a time.
constexpr int32_t REPORT_BLOCK_SIZE = 32768;

enum ReportStatus {
    REPORT_OK,           // the log was read to its end; the report may be empty
    REPORT_CANNOT_OPEN,  // the log could not be opened; no report
    REPORT_NO_MEMORY,    // no first block (no report), or a growth step failed (partial report)
};

struct LogReport {
    char* text = nullptr;  // NUL-terminated; owned by the caller once handed over
    int32_t length = 0;    // bytes of text, without the NUL
};

// Where report blocks come from. `resize` returns a block of `size` bytes that keeps the
// first bytes of `block` (null: a new block), or null on failure, leaving `block` as it was.
// `release` frees a block `resize` returned. Tests replace it to fail any step.
struct ReportAllocator {
    void* (*resize)(void* block, size_t size, void* context);
    void (*release)(void* block, void* context);
    void* context;
};

// The allocator used when none is named: the C heap, reserving room ahead geometrically so
// that a large log is not copied over and over while its report grows.
const ReportAllocator& DefaultReportAllocator();

// Reads the whole log at `path` and numbers its records. On REPORT_OK, and on
// REPORT_NO_MEMORY after a failed growth step (the text then holds every numbered line
// before the one that did not fit), `report` holds a block the caller releases with
// ReleaseLogReport; otherwise it holds none. The log is closed before this returns.
ReportStatus BuildLogReport(const char* path, LogReport* report,
                            const ReportAllocator& allocator = DefaultReportAllocator());

// Releases the report's block (if any) and leaves the report empty.
void ReleaseLogReport(LogReport* report,
                      const ReportAllocator& allocator = DefaultReportAllocator());
