// ndislog: the driver log report and the cause lookup of the Windows program, for a
// terminal, a script or another machine.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "driver_log_path.h"
#else
#include <time.h>
#endif

#include "cause_catalogue.h"
#include "cause_code.h"
#include "command_line.h"
#include "follow.h"
#include "json_output.h"
#include "log_stream.h"
#include "cp932_utf8.h"
#include "notice_sink.h"
#include "record_format.h"
#include "relp_output.h"
#include "service_command.h"
#include "service_host.h"
#include "socket_connection.h"

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
    char* path = NewDriverLogPath();
    const std::string shown = path ? path : "";
    std::free(path);
    return shown;
#else
    return std::string();
#endif
}

// A failed write to standard output is told apart from a log that could not be read.
int OutputFailed(int error)
{
    TellNotice(NoticeKind::Error, std::string("ndislog: cannot write standard output (") + std::strerror(error) + ")\n");
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
        TellNotice(KindOfNotice(notice), NoticeText(notice, aboutState ? statePath : path_, error, utf8_));
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

// Follows until a stop is asked for or following fails; the exit code.
int FollowUntilStopped(const Invocation& invocation, const std::string& path, RecordFormat& format)
{
    StandardStreams streams(path, invocation.utf8);
    streams.statePath = invocation.stateFile;
    // With --relp the records go to the centre; one it did not take is read again later.
    std::unique_ptr<RelpOutput> relp;
    if (!invocation.relpTarget.empty())
        relp = std::make_unique<RelpOutput>(invocation.relpTarget, LocalHostName(), streams, StopWasRequested);
    OutputSink& output = relp ? static_cast<OutputSink&>(*relp) : streams;
    LogFollower follower(path, format, invocation.stateFile, StopWasRequested);
    int exitCode = EXIT_OK;
    for (;;) {
        FollowResult result = follower.Read(output);
        if (result == FollowResult::OutputFailed && relp)
            result = FollowResult::Read;
        if (result == FollowResult::OutputFailed)
            exitCode = OutputFailed(streams.WriteError());
        else if (result == FollowResult::NotFollowable)
            exitCode = EXIT_FAILURE_REPORTED;
        if (result != FollowResult::Read || WaitOrStop(invocation.intervalMs))
            break;
    }
    relp.reset();  // ends the session with "close"
    SignalFollowingEnded();
    return exitCode;
}

// The report of the log, once or followed. Under the service manager its controls, not the
// console's events, ask for a stop.
int RunReportCommand(const Invocation& invocation, bool underService)
{
    const std::string path = invocation.file.empty() ? DefaultLogPath() : invocation.file;
    // The report's CR LF goes out as it is, not doubled by a text-mode stream. Output
    // comes in pieces of whole records; unbuffered, each piece is one write, so a
    // collector reading the file never meets half a record.
    SetBinaryMode(stdout);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    TextFormat text(invocation.utf8);
    JsonFormat json;
    RecordFormat& format = invocation.json ? static_cast<RecordFormat&>(json) : text;
    if (!invocation.follow)
        return RunReport(path, format, invocation.utf8);
    if (!underService)
        CatchStopRequests();
    return FollowUntilStopped(invocation, path, format);
}

void RequestStop()
{
    StopRequested = 1;
}

int RunService(const std::vector<std::string>& arguments)
{
    const ServiceRequest request = ParseServiceCommand(arguments);
    if (request.action == ServiceAction::Usage) {
        std::fprintf(stderr, "ndislog: %s\n%s", request.problem.c_str(), UsageText());
        return EXIT_BAD_USAGE;
    }
    const ServiceFollowing following{[&request] { return RunReportCommand(request.report, true); }, RequestStop};
    return RunServiceCommand(request, following);
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
    case Command::Report:
        return RunReportCommand(invocation, false);
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
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        if (!arguments.empty() && arguments[0] == "service")
            return RunService(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
        const Invocation invocation = ParseCommandLine(arguments, fileRequired);
        utf8 = invocation.utf8;
        return Run(invocation);
    } catch (const std::bad_alloc&) {
        TellNotice(NoticeKind::Error, NoticeText(Notice::NoMemory, std::string(), 0, utf8));
        return EXIT_FAILURE_REPORTED;
    }
}
