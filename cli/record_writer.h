// Turns the log's lines, one at a time, into what the companion prints for them.
#pragma once

#include <cstdint>
#include <string>

#include "log_record.h"

// One way of printing records. The reading side hands over every line as it is read and
// the number the next record takes; the writer appends whatever that line gives.
class RecordWriter {
public:
    virtual ~RecordWriter() = default;

    // Appends to `out` the output of the log line in `line` (LOG_LINE_SIZE bytes, as
    // LogLineReader delivers it; the writer may cut it in place). True when the line gave a
    // record and `number` was used for it.
    virtual bool Write(char* line, int64_t number, std::string* out) = 0;
};

// The report as the Windows program shows and saves it: "%03d. %s\r\n" for each record,
// byte for byte what BuildLogReport gives; with `utf8`, converted from code page 932.
class TextRecordWriter final : public RecordWriter {
public:
    explicit TextRecordWriter(bool utf8) : utf8_(utf8) {}

    bool Write(char* line, int64_t number, std::string* out) override;

private:
    bool utf8_;
    char record_[LOG_RECORD_SIZE];
};
