// Reading the driver log as it comes and sending its records out in bounded pieces, so that
// the companion's memory does not depend on the size of the log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "record_writer.h"

// Output is handed on in pieces of about this many bytes (whole records, one more at most).
constexpr size_t OUTPUT_CHUNK_SIZE = 64 * 1024;

// What the companion may have to tell about the log on standard error.
enum class Notice {
    CannotOpen,      // the log could not be opened
    CannotRead,      // the log was opened, but reading it failed
    ReportCutShort,  // reading failed after part of the report had been written
    NoMemory,        // memory ran out
    Restarted,       // the log shrank or was rewritten; numbering begins again at 001
};

// Where the output goes: report bytes to standard output, notices to standard error.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Takes report bytes; false when they could not all be written.
    virtual bool Write(std::string_view bytes) = 0;
    // Takes a notice; `error` is the system's error number for the read failures.
    virtual void Announce(Notice notice, int error) = 0;
};

// The text of a notice about the log at `path`. Program texts are code page 932, converted
// with `utf8`; the path is printed as it was given.
std::string NoticeText(Notice notice, const std::string& path, int error, bool utf8);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using LogFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the log as the report builder does: binary reads, shared with the writing driver.
LogFile OpenLog(const std::string& path);

// Sets the file position to `offset` bytes from the start; false when that fails.
bool SeekLog(std::FILE* file, int64_t offset);

// Writes the report of the log at `path` through `writer` to `sink` while reading it, from
// the first line to the end of the log or Ctrl-Z; true when the whole report was written.
// When reading fails, what is still held back is dropped: a failure before the first piece
// went out leaves standard output untouched, a later one is announced as a report cut short.
bool StreamLogReport(const std::string& path, RecordWriter& writer, OutputSink& sink);
