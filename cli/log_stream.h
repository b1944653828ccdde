// Reading the driver log as it comes and sending its records out in bounded pieces, so that
// the companion's memory does not depend on the size of the log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "log_report.h"
#include "record_format.h"

// Output is handed on in pieces of about this many bytes (whole records, one more at most).
constexpr size_t OUTPUT_CHUNK_SIZE = 64 * 1024;

// The log's name that stands for standard input.
constexpr char STANDARD_INPUT_NAME[] = "-";

// What the companion may have to tell about the log on standard error.
enum class Notice {
    CannotOpen,      // the log could not be opened
    CannotRead,      // the log was opened, but reading it failed
    ReportCutShort,  // reading failed after part of the report had been written
    NoMemory,        // memory ran out
    Restarted,       // the log shrank or was rewritten; numbering begins again at 001
    NotFollowable,   // the log is no regular file (a pipe, a device): it cannot be followed
    StateUnreadable, // the saved place could not be read, or was damaged; starting afresh
    StateUnwritable, // the saved place could not be written; following goes on
};

// Where the output goes: report bytes to standard output (or a collector), notices to
// standard error.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Takes report bytes, whole records; true once they are delivered (written and flushed).
    virtual bool Write(std::string_view bytes) = 0;
    // Takes a notice; `error` is the system's error number, 0 when none applies.
    virtual void Announce(Notice notice, int error) = 0;
};

// The text of a notice about the log at `path` (or the state file, for the state notices).
// Program texts are code page 932, converted with `utf8`; the path is printed as it was given.
std::string NoticeText(Notice notice, const std::string& path, int error, bool utf8);

struct FileCloser {
    void operator()(std::FILE* file) const
    {
        if (file != stdin)
            std::fclose(file);
    }
};
using LogFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the log as the report builder does: binary reads, shared with the writing driver;
// STANDARD_INPUT_NAME gives standard input in binary mode.
LogFile OpenLog(const std::string& path);

// Sets the file position to `offset` bytes from the start; false when that fails.
bool SeekLog(std::FILE* file, int64_t offset);

// Formats records into a piece of output and hands the piece on once it holds
// OUTPUT_CHUNK_SIZE bytes, each piece ending with a whole line of the log.
class PieceWriter : public RecordSink {
public:
    PieceWriter(RecordFormat& format, OutputSink& output) : output_(output), format_(format) {}

    bool TakeRecord(int64_t number, const LogRecordParts& parts) override;
    bool LineDone() override { return piece_.size() < OUTPUT_CHUNK_SIZE || Deliver(); }

    // Hands on the piece so far, then calls PieceDelivered; false when the output could not
    // take it (the piece is kept) or PieceDelivered said stop.
    bool Deliver();
    bool DeliveredAny() const { return delivered_; }
    bool OutputFailed() const { return outputFailed_; }

protected:
    // What follows a delivered piece (the follower saves its place); false ends the reading.
    virtual bool PieceDelivered() { return true; }
    void DropPiece() { piece_.clear(); }

    OutputSink& output_;

private:
    RecordFormat& format_;
    std::string piece_;
    bool delivered_ = false;
    bool outputFailed_ = false;
};

// Writes the report of the log at `path` in `format` to `output` while reading it, from the
// first line to the end of the log or Ctrl-Z; true when the whole report was written. When
// reading fails, what is still held back is dropped: a failure before the first piece went
// out leaves the output untouched, a later one is announced as a report cut short.
bool StreamLogReport(const std::string& path, RecordFormat& format, OutputSink& output);
