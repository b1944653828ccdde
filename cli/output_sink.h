// Where the records of a report go, and the notices about the log read for it.
#pragma once

#include <string_view>

#include "notices.h"

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Takes report bytes, whole records; true once they are delivered (written and flushed).
    virtual bool Write(std::string_view bytes) = 0;
    // Takes a notice; `error` is the system's error number, 0 when none applies.
    virtual void Announce(Notice notice, int error) = 0;
};
