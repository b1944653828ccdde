// ndislog: the driver log report and the cause lookup of the Windows program, for a
// terminal, a script or another machine.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "cause_catalogue.h"
#include "cause_code.h"
#include "command_line.h"
#include "follow.h"
#include "json_output.h"
#include "log_stream.h"
#include "record_format.h"
#include "text_output.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILURE_REPORTED = 1;
constexpr int EXIT_BAD_USAGE = 2;

// While following, the wait is cut into slices so that a stop ends it promptly.
constexpr int STOP_CHECK_MS = 100;

volatile std::sig_atomic_t StopRequested = 0;

bool StopWasRequested()
{
    return StopRequested != 0;
}

#ifdef _WIN32
// Set once following has ended and its place is saved.
volatile LONG FollowingEnded = 0;

// Ctrl+C and Ctrl+Break ask for a stop. Closing the console, logging off and shutting down
// end the process as soon as this handler returns, so it waits (up to the few seconds
// Windows grants) until the piece being written and its place are saved.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    StopRequested = 1;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (int waited = 0; waited < 4500 && !FollowingEnded; waited += 50)
            Sleep(50);
    }
    return TRUE;
}

void CatchStopRequests()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void SignalFollowingEnded()
{
    FollowingEnded = 1;
}

void SleepMilliseconds(int milliseconds)
{
    Sleep(static_cast<DWORD>(milliseconds));
}
#else
extern "C" void OnStopSignal(int)
{
    StopRequested = 1;
}

void CatchStopRequests()
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

void SignalFollowingEnded() {}

void SleepMilliseconds(int milliseconds)
{
    timespec pause = {milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);  // a signal cuts it short, which is what we want
}
#endif

// Waits one follow interval; true when a stop was asked for meanwhile.
bool WaitOrStop(int milliseconds)
{
    for (int waited = 0; waited < milliseconds && !StopRequested; waited += STOP_CHECK_MS)
        SleepMilliseconds(milliseconds - waited < STOP_CHECK_MS ? milliseconds - waited : STOP_CHECK_MS);
    return StopRequested != 0;
}

// Where the Windows program reads the log: the Windows directory, "\", "ndislog.txt".
std::string DefaultLogPath()
{
#ifdef _WIN32
    char directory[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return "ndislog.txt";
    return std::string(directory, length) + "\\" + "ndislog.txt";
#else
    return std::string();
#endif
}

// A failed write to standard output is told apart from a log that could not be read.
int OutputFailed(int error)
{
    std::fprintf(stderr, "ndislog: cannot write standard output (%s)\n", std::strerror(error));
    return EXIT_FAILURE_REPORTED;
}

// Writes `text` and flushes it; the exit code.
int WriteAll(std::string_view text, bool utf8)
{
    errno = 0;
    if (!WriteText(stdout, text, utf8) || std::fflush(stdout) != 0)
        return OutputFailed(errno != 0 ? errno : EIO);
    return EXIT_OK;
}

// Report bytes to standard output, each piece flushed at once; notices to standard error.
class StandardStreams final : public OutputSink {
public:
    StandardStreams(const std::string& path, bool utf8) : path_(path), utf8_(utf8) {}

    bool Write(std::string_view bytes) override
    {
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() && std::fflush(stdout) == 0)
            return true;
        writeError_ = errno != 0 ? errno : EIO;
        return false;
    }

    void Announce(Notice notice, int error) override
    {
        const bool aboutState = notice == Notice::StateUnreadable || notice == Notice::StateUnwritable;
        const std::string text = NoticeText(notice, aboutState ? statePath : path_, error, utf8_);
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }

    int WriteError() const { return writeError_; }

    std::string statePath;

private:
    const std::string& path_;
    bool utf8_;
    int writeError_ = 0;
};

int RunReport(const std::string& path, RecordFormat& format, bool utf8)
{
    StandardStreams streams(path, utf8);
    if (StreamLogReport(path, format, streams))
        return EXIT_OK;
    return streams.WriteError() != 0 ? OutputFailed(streams.WriteError()) : EXIT_FAILURE_REPORTED;
}

int RunFollow(const Invocation& invocation, const std::string& path, RecordFormat& format)
{
    CatchStopRequests();
    StandardStreams streams(path, invocation.utf8);
    streams.statePath = invocation.stateFile;
    LogFollower follower(path, format, invocation.stateFile, StopWasRequested);
    int exitCode = EXIT_OK;
    for (;;) {
        const FollowResult result = follower.Read(streams);
        if (result == FollowResult::OutputFailed)
            exitCode = OutputFailed(streams.WriteError());
        else if (result == FollowResult::NotFollowable)
            exitCode = EXIT_FAILURE_REPORTED;
        if (result != FollowResult::Read || WaitOrStop(invocation.intervalMs))
            break;
    }
    SignalFollowingEnded();
    return exitCode;
}

// The catalogue row by row, in its own order: "%04X  text" lines, or JSON objects.
std::string CatalogueListing(bool json)
{
    const CauseEntry* rows = CatalogueLanguage == 0 ? JapaneseCauses : EnglishCauses;
    std::string out;
    for (int i = 0; i < CAUSE_COUNT; ++i) {
        if (json) {
            AppendJsonCause(rows[i], &out);
        } else {
            char code[16];
            std::snprintf(code, sizeof code, "%04X  ", static_cast<unsigned>(rows[i].code));
            out += code;
            out += rows[i].text;
            out += '\n';
        }
    }
    return out;
}

std::string LookupAnswers(const std::vector<std::string>& codes, bool json)
{
    std::string out;
    for (const std::string& code : codes) {
        // The lookup field keeps CODE_TEXT_MAX - 1 characters of what was typed.
        const std::string kept = code.substr(0, CODE_TEXT_MAX - 1);
        const uint32_t value = CauseCodeFromText(kept.c_str());
        char message[CAUSE_MESSAGE_SIZE];
        ComposeCauseMessage(value, message, sizeof message);
        if (json) {
            AppendJsonLookup(kept, value, LookupCause(value), message, &out);
        } else {
            out += message;
            out += '\n';
        }
    }
    return out;
}

int RunCause(const Invocation& invocation)
{
    if (invocation.english)
        CatalogueLanguage = 1;
    const std::string out =
        invocation.list ? CatalogueListing(invocation.json) : LookupAnswers(invocation.codes, invocation.json);
    // JSON is UTF-8 already, and its lines end in LF on every platform.
    if (invocation.json)
        SetBinaryMode(stdout);
    return WriteAll(out, invocation.utf8 && !invocation.json);
}

int Run(const Invocation& invocation)
{
    switch (invocation.command) {
    case Command::Help:
        return WriteAll(UsageText(), false);
    case Command::Usage:
        std::fprintf(stderr, "ndislog: %s\n%s", invocation.problem.c_str(), UsageText());
        return EXIT_BAD_USAGE;
    case Command::Report: {
        const std::string path = invocation.file.empty() ? DefaultLogPath() : invocation.file;
        // The report's CR LF goes out as it is, not doubled by a text-mode stream.
        SetBinaryMode(stdout);
        TextFormat text(invocation.utf8);
        JsonFormat json;
        RecordFormat& format = invocation.json ? static_cast<RecordFormat&>(json) : text;
        return invocation.follow ? RunFollow(invocation, path, format) : RunReport(path, format, invocation.utf8);
    }
    case Command::Cause:
        return RunCause(invocation);
    }
    return EXIT_BAD_USAGE;
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    const bool fileRequired = false;
#else
    const bool fileRequired = true;
#endif
    bool utf8 = false;
    try {
        const Invocation invocation = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), fileRequired);
        utf8 = invocation.utf8;
        return Run(invocation);
    } catch (const std::bad_alloc&) {
        WriteText(stderr, NoticeText(Notice::NoMemory, std::string(), 0, utf8), false);
        return EXIT_FAILURE_REPORTED;
    }
}
