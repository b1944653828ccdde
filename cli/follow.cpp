// The follow logic is kept apart from the sleeping loop so that it can be tested directly.
#include "follow.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "log_reader.h"
#include "log_record.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void AppendNumberedLine(std::string* report, int number, const char* record)
{
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%03d. ", number);
    report->append(prefix);
    report->append(record);
    report->append("\r\n");
}

}  // namespace

FollowSnapshot ReadFollowSnapshot(const char* path)
{
    FollowSnapshot snapshot;
    // Opened as the report builder opens it: binary, read and write sharing on Windows.
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        snapshot.status = REPORT_CANNOT_OPEN;
        return snapshot;
    }
    try {
        // The report is built here rather than by BuildLogReport because the end of the
        // last finished line must be known from the same reading: a second pass could meet
        // a log that the driver has written on in between.
        auto reader = std::make_unique<LogLineReader>(file.get());
        char line[LOG_LINE_SIZE];
        char record[LOG_RECORD_SIZE];
        int number = 0;
        for (;;) {
            // Zeroed first, so that an LF anywhere in the buffer is this line's own end,
            // even when a NUL byte inside the line hides it from string functions.
            std::memset(line, 0, sizeof line);
            if (!reader->ReadLine(line))
                break;
            const bool finished = std::memchr(line, '\n', sizeof line) != nullptr;
            FormatLogRecord(line, record);
            if (record[0] != '\0')
                AppendNumberedLine(&snapshot.report, ++number, record);
            if (finished)
                snapshot.finishedLength = snapshot.report.size();
        }
    } catch (const std::bad_alloc&) {
        snapshot = FollowSnapshot{};
        snapshot.status = REPORT_NO_MEMORY;
    }
    return snapshot;
}

FollowStep AdvanceFollow(FollowState* state, const FollowSnapshot& snapshot, const std::string& path)
{
    FollowStep step;
    if (snapshot.status == REPORT_CANNOT_OPEN) {
        if (!state->unreadable)
            step.notice = CannotOpenMessage(path);
        state->unreadable = true;
        return step;
    }
    state->unreadable = false;
    if (snapshot.status == REPORT_NO_MEMORY) {
        if (!state->outOfMemory)
            step.notice = NoMemoryMessage();
        state->outOfMemory = true;
        return step;
    }
    state->outOfMemory = false;

    const std::string_view finished = snapshot.Finished();
    if (finished.substr(0, state->printed.size()) == state->printed) {
        step.output.assign(finished.substr(state->printed.size()));
        state->printed.append(step.output);
    } else {
        step.restarted = true;
        step.notice = RestartNotice();
        step.output.assign(finished);
        state->printed.assign(finished);
    }
    return step;
}

std::string CannotOpenMessage(const std::string& path)
{
    return "Can't Open " + path + "\n";
}

std::string NoMemoryMessage()
{
    return "メモリがありません\n";
}

std::string RestartNotice()
{
    return "ndislog: the log is shorter than before or was rewritten; starting again from record 001\n";
}
