// The driver log as a file the companion reads: opened once for a report, or for following.
#pragma once

#include <string>

#include "log_reader.h"

// The log's name that stands for standard input.
constexpr char STANDARD_INPUT_NAME[] = "-";


// Opens the log as the report builder does: binary reads, shared with the writing driver;
// STANDARD_INPUT_NAME gives standard input in binary mode. Null when it cannot be opened.
LogFile OpenLog(const std::string& path);

// Opens the log for following (see OpenToFollow in platform.h): null with `*followable`
// false for a pipe or a device, null with it true when the log cannot be opened.
LogFile OpenLogToFollow(const std::string& path, bool* followable);
