// The report of the whole log, written while the log is read, so that the companion's memory
// does not depend on the size of the log.
#pragma once

#include <string>

#include "output_sink.h"
#include "record_format.h"

// Writes the report of the log at `path` in `format` to `output` while reading it, from the
// first line to the end of the log or Ctrl-Z; true when the whole report was written. When
// reading fails, what is still held back is dropped: a failure before the first piece went
// out leaves the output untouched, a later one is announced as a report cut short.
bool StreamLogReport(const std::string& path, RecordFormat& format, OutputSink& output);
