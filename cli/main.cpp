// ndislog: the driver log report and the cause lookup of the Windows program, for a
// terminal, a script or another machine.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
#include "record_writer.h"
#include "cp932_utf8.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILURE_REPORTED = 1;
constexpr int EXIT_BAD_USAGE = 2;

// While following, the wait is cut into slices so that Ctrl-C ends it promptly.
constexpr int STOP_CHECK_MS = 100;

volatile std::sig_atomic_t StopRequested = 0;

extern "C" void OnStopSignal(int signalNumber)
{
    StopRequested = 1;
    std::signal(signalNumber, OnStopSignal);  // some runtimes reset the handler on delivery
}

void SleepMilliseconds(int milliseconds)
{
#ifdef _WIN32
    Sleep(static_cast<DWORD>(milliseconds));
#else
    timespec pause = {milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);  // a signal cuts it short, which is what we want
#endif
}

// Waits one follow period; true when a stop was asked for meanwhile.
bool WaitOrStop(int milliseconds)
{
    for (int waited = 0; waited < milliseconds && !StopRequested; waited += STOP_CHECK_MS)
        SleepMilliseconds(STOP_CHECK_MS);
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

// Standard output must take everything: a report that was cut short is no report.
int FinishOutput(bool written)
{
    if (std::fflush(stdout) != 0 || !written)
        return EXIT_FAILURE_REPORTED;
    return EXIT_OK;
}

// Report bytes to standard output as they are; notices to standard error at once.
class StandardStreams final : public OutputSink {
public:
    StandardStreams(const std::string& path, bool utf8) : path_(path), utf8_(utf8) {}

    bool Write(std::string_view bytes) override
    {
        return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
    }

    void Announce(Notice notice, int error) override
    {
        const std::string text = NoticeText(notice, path_, error, utf8_);
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }

private:
    const std::string& path_;
    bool utf8_;
};

int RunReport(const std::string& path, RecordWriter& writer, bool utf8)
{
    StandardStreams streams(path, utf8);
    return FinishOutput(StreamLogReport(path, writer, streams));
}

int RunFollow(const std::string& path, RecordWriter& writer, bool utf8)
{
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    StandardStreams streams(path, utf8);
    LogFollower follower(path, writer);
    while (!StopRequested) {
        if (FinishOutput(follower.Read(streams)) != EXIT_OK)
            return EXIT_FAILURE_REPORTED;
        if (WaitOrStop(FOLLOW_PERIOD_MS))
            break;
    }
    return EXIT_OK;
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
        SetBinaryStandardOutput();
    return FinishOutput(WriteText(stdout, out, invocation.utf8 && !invocation.json));
}

int Run(const std::vector<std::string>& arguments)
{
#ifdef _WIN32
    const bool fileRequired = false;
#else
    const bool fileRequired = true;
#endif
    const Invocation invocation = ParseCommandLine(arguments, fileRequired);
    switch (invocation.command) {
    case Command::Help:
        return FinishOutput(std::fputs(UsageText(), stdout) >= 0);
    case Command::Usage:
        std::fprintf(stderr, "ndislog: %s\n%s", invocation.problem.c_str(), UsageText());
        return EXIT_BAD_USAGE;
    case Command::Report: {
        const std::string path = invocation.file.empty() ? DefaultLogPath() : invocation.file;
        // The report's CR LF goes out as it is, not doubled by a text-mode stream.
        SetBinaryStandardOutput();
        TextRecordWriter text(invocation.utf8);
        JsonRecordWriter json;
        RecordWriter& writer = invocation.json ? static_cast<RecordWriter&>(json) : text;
        // Output comes in pieces of whole records; unbuffered, each piece is one write, so
        // a collector reading the file never meets half a JSON object.
        if (invocation.json)
            std::setvbuf(stdout, nullptr, _IONBF, 0);
        return invocation.follow ? RunFollow(path, writer, invocation.utf8) : RunReport(path, writer, invocation.utf8);
    }
    case Command::Cause:
        return RunCause(invocation);
    }
    return EXIT_BAD_USAGE;
}

}  // namespace

int main(int argc, char** argv)
{
    bool utf8 = false;
    try {
        std::vector<std::string> arguments(argv + 1, argv + argc);
        for (const std::string& argument : arguments)
            utf8 = utf8 || argument == "--utf8";
        return Run(arguments);
    } catch (const std::bad_alloc&) {
        WriteText(stderr, NoticeText(Notice::NoMemory, std::string(), 0, utf8), false);
        return EXIT_FAILURE_REPORTED;
    }
}
