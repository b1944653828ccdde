// Following the driver log: which part of a fresh report is new, and what to tell the user.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "log_report.h"

// The driver log is read again this often while following.
constexpr int FOLLOW_PERIOD_MS = 3000;

// One reading of the log. `report` is the whole log report, byte for byte what
// BuildLogReport gives; its first `finishedLength` bytes are the numbered lines of the
// lines the driver has finished (ended by LF). What follows them comes from a last line
// still being written and is held back until its LF arrives; a line cut off by Ctrl-Z
// never gets one and stays held back.
struct FollowSnapshot {
    ReportStatus status = REPORT_OK;
    std::string report;
    size_t finishedLength = 0;

    std::string_view Finished() const { return std::string_view(report).substr(0, finishedLength); }
};

// Reads the log at `path` from its start, in one pass. REPORT_CANNOT_OPEN when it cannot
// be opened, REPORT_NO_MEMORY when the report does not fit in memory; `report` is then
// empty.
FollowSnapshot ReadFollowSnapshot(const char* path);

// What has been printed so far, carried from one reading to the next.
struct FollowState {
    std::string printed;       // the finished part of the report, as far as it was printed
    bool unreadable = false;   // the last reading could not open the log
    bool outOfMemory = false;  // the last reading ran out of memory
};

// What one reading asks of the program: `output` for standard output (report text),
// `notice` for standard error (program text, may be empty).
struct FollowStep {
    std::string output;
    std::string notice;
    bool restarted = false;  // the log shrank or was rewritten; numbering began again at 001
};

// Compares the finished part of a fresh reading with what was printed before. New
// numbered lines are printed; an unchanged log prints nothing; a log whose earlier report
// is no longer the start of the new one is announced and printed whole. A log that cannot
// be opened is announced once until it can be opened again; `path` names it.
FollowStep AdvanceFollow(FollowState* state, const FollowSnapshot& snapshot, const std::string& path);

// The notices AdvanceFollow gives, for the program's own use and its tests.
std::string CannotOpenMessage(const std::string& path);  // "Can't Open %s\n"
std::string NoMemoryMessage();                           // "メモリがありません" and LF
std::string RestartNotice();
