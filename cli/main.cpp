// ndislog: the driver log report and the cause lookup of the Windows program, for a
// terminal, a script or another machine.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cause_catalogue.h"
#include "cause_code.h"
#include "command_line.h"
#include "cp932_utf8.h"
#include "follow.h"
#include "json_output.h"
#include "notices.h"
#include "output_stream.h"
#include "platform.h"
#include "record_format.h"
#include "relp_output.h"
#include "report_stream.h"
#include "service_command.h"
#include "state_claim.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILURE_REPORTED = 1;
constexpr int EXIT_BAD_USAGE = 2;

// While following, the wait is cut into slices so that a stop ends it promptly.
constexpr int STOP_CHECK_MS = 100;

// Waits one follow interval; true when a stop was asked for meanwhile.
bool WaitOrStop(int milliseconds)
{
    for (int waited = 0; waited < milliseconds && !StopRequested(); waited += STOP_CHECK_MS)
        SleepMs(milliseconds - waited < STOP_CHECK_MS ? milliseconds - waited : STOP_CHECK_MS);
    return StopRequested();
}

const char STANDARD_OUTPUT_NAME[] = "standard output";

// A failed write to the output is told apart from a log that could not be read.
int TellWriteFailure(NoticeChannel& notices, int error, std::string_view output = STANDARD_OUTPUT_NAME)
{
    notices.Tell(NoticeType::Error, CannotWriteOutputText(output, error));
    return EXIT_FAILURE_REPORTED;
}

// Writes `text` to standard output, converted from code page 932 with `utf8`, and flushes it;
// the exit code.
int WriteAll(std::string_view text, bool utf8, NoticeChannel& notices)
{
    const std::string converted = utf8 ? Cp932ToUtf8(text) : std::string();
    const std::string_view out = utf8 ? std::string_view(converted) : text;
    errno = 0;
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        return TellWriteFailure(notices, errno != 0 ? errno : EIO);
    return EXIT_OK;
}

// Report bytes to the output stream (standard output or --output FILE), each piece flushed at
// once; notices to the channel.
class ReportStreams final : public OutputSink {
public:
    ReportStreams(std::FILE* output, const std::string& path, bool utf8, NoticeChannel& notices)
        : output_(output), path_(path), utf8_(utf8), notices_(notices)
    {
    }

    bool Write(std::string_view bytes) override
    {
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), output_) == bytes.size() && std::fflush(output_) == 0)
            return true;
        writeError_ = errno != 0 ? errno : EIO;
        return false;
    }

    void Announce(Notice notice, int error) override
    {
        const bool aboutState = notice == Notice::StateUnreadable || notice == Notice::StateUnwritable ||
                                notice == Notice::StateSavedAgain;
        notices_.Tell(NoticeTypeOf(notice), NoticeText(notice, aboutState ? statePath : path_, error, utf8_));
    }

    int WriteError() const { return writeError_; }

    std::string statePath;

private:
    std::FILE* output_;
    const std::string& path_;
    bool utf8_;
    NoticeChannel& notices_;
    int writeError_ = 0;
};

int RunReport(const std::string& path, RecordFormat& format, std::FILE* stream, std::string_view outputName,
              bool utf8, NoticeChannel& notices)
{
    ReportStreams streams(stream, path, utf8, notices);
    if (StreamLogReport(path, format, streams))
        return EXIT_OK;
    return streams.WriteError() != 0 ? TellWriteFailure(notices, streams.WriteError(), outputName)
                                     : EXIT_FAILURE_REPORTED;
}

int RunFollow(const Invocation& invocation, const std::string& path, RecordFormat& format, std::FILE* stream,
              std::string_view outputName, NoticeChannel& notices)
{
    // One follower per state file, and none whose saves would overwrite the log.
    std::unique_ptr<StateClaim> claim;
    if (!invocation.stateFile.empty()) {
        claim = std::make_unique<StateClaim>(invocation.stateFile, path);
        if (claim->Result() != StateClaimResult::Claimed) {
            const bool followsAnyway = claim->Result() == StateClaimResult::Unlocked;
            notices.Tell(followsAnyway ? NoticeType::Warning : NoticeType::Error, claim->Problem());
        }
        if (claim->Result() == StateClaimResult::IsTheLog)
            return EXIT_BAD_USAGE;
        if (claim->Result() == StateClaimResult::InUse)
            return EXIT_FAILURE_REPORTED;
    }
    ReportStreams streams(stream, path, invocation.utf8, notices);
    streams.statePath = invocation.stateFile;
    // With --relp the records go to the centre; one it did not take is read again later.
    std::unique_ptr<RelpOutput> relp;
    if (invocation.relp)
        relp = std::make_unique<RelpOutput>(invocation.relpTarget, LocalHostName(), streams, notices, StopRequested);
    OutputSink& output = relp ? static_cast<OutputSink&>(*relp) : streams;
    LogFollower follower(path, format, invocation.stateFile, StopRequested);
    int exitCode = EXIT_OK;
    for (;;) {
        FollowResult result = follower.Read(output);
        if (result == FollowResult::NotDelivered && relp)
            result = FollowResult::Continue;
        if (result == FollowResult::NotDelivered)
            exitCode = TellWriteFailure(notices, streams.WriteError(), outputName);
        else if (result == FollowResult::NotFollowable)
            exitCode = EXIT_FAILURE_REPORTED;
        if (result != FollowResult::Continue || WaitOrStop(invocation.intervalMs))
            break;
    }
    relp.reset();  // ends the session with "close"
    SignalFollowingEnded();
    return exitCode;
}

// The catalogue row by row, in its own order: "%04X  text" lines, or JSON objects.
std::string CatalogueListing(bool json)
{
    const CauseEntry* rows = CatalogueColumn();
    std::string out;
    for (int i = 0; i < CAUSE_COUNT; ++i) {
        if (json) {
            AppendJsonCause(rows[i], &out);
        } else {
            char code[CAUSE_CODE_DIGITS_SIZE];
            WriteCauseCode(rows[i].code, code);
            out += code;
            out += "  ";
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
        const std::string kept(KeptCauseEntry(code));
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

int RunCause(const Invocation& invocation, NoticeChannel& notices)
{
    if (invocation.english)
        CatalogueLanguage = 1;
    const std::string out =
        invocation.list ? CatalogueListing(invocation.json) : LookupAnswers(invocation.codes, invocation.json);
    // JSON is UTF-8 already, and its lines end in LF on every platform.
    if (invocation.json)
        SetBinaryMode(stdout);
    return WriteAll(out, invocation.utf8 && !invocation.json, notices);
}

int Run(const Invocation& invocation, const std::string& defaultLog, NoticeChannel& notices)
{
    switch (invocation.command) {
    case Command::Help:
        return WriteAll(UsageText(), false, notices);
    case Command::BadUsage:
        notices.Tell(NoticeType::Error, BadUsageText(invocation.problem) + UsageText());
        return EXIT_BAD_USAGE;
    case Command::Report: {
        const std::string path = invocation.file.empty() ? defaultLog : invocation.file;
        // Output comes in pieces of whole records, each one write of a buffer that holds it
        // whole, so a collector reading the file never meets half a record.
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, std::fclose);
        if (!invocation.outputFile.empty()) {
            // Appending to the log would feed the report its own records; to the state file,
            // lose them at the next save.
            const std::string& output = invocation.outputFile;
            const bool isTheState = !invocation.stateFile.empty() && NamesTheSameFile(output, invocation.stateFile);
            if (NamesTheSameFile(output, path) || isTheState) {
                notices.Tell(NoticeType::Error,
                             NoticeLine("--output " + output + " is the log or the state file; name another file"));
                return EXIT_BAD_USAGE;
            }
            file.reset(OpenOutputFile(invocation.outputFile));
            if (!file) {
                notices.Tell(NoticeType::Error, CannotOpenOutputText(invocation.outputFile, errno));
                return EXIT_FAILURE_REPORTED;
            }
        } else {
            // The report's CR LF goes out as it is, not doubled by a text-mode stream.
            SetBinaryMode(stdout);
            BufferWholePieces(stdout);
        }
        std::FILE* stream = file ? file.get() : stdout;
        const std::string_view outputName = file ? std::string_view(invocation.outputFile) : STANDARD_OUTPUT_NAME;
        TextFormat text(invocation.utf8);
        JsonFormat json;
        RecordFormat& format = invocation.json ? static_cast<RecordFormat&>(json) : text;
        return invocation.follow ? RunFollow(invocation, path, format, stream, outputName, notices)
                                 : RunReport(path, format, stream, outputName, invocation.utf8, notices);
    }
    case Command::Cause:
        return RunCause(invocation, notices);
    }
    return EXIT_BAD_USAGE;
}

// `ndislog service ...`: the service command of the platform, whose service follows as
// `report --follow` does, with its own channel for the notices.
int RunService(const std::vector<std::string>& arguments, const std::string& defaultLog, NoticeChannel& notices)
{
    const ServiceRequest request = ParseServiceCommand(arguments);
    if (request.action == ServiceAction::BadUsage) {
        notices.Tell(NoticeType::Error, BadUsageText(request.problem) + UsageText());
        return EXIT_BAD_USAGE;
    }
    const ServiceFollowing following = [&](NoticeChannel& channel) { return Run(request.report, defaultLog, channel); };
    return RunServiceCommand(request, following, notices);
}

}  // namespace

int main(int argc, char** argv)
{
    StandardErrorChannel notices;
    bool utf8 = false;
    try {
        // Where the system has a default log, FILE may be left out.
        const std::string defaultLog = DefaultLogPath();
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        if (!arguments.empty() && arguments[0] == "service")
            return RunService({arguments.begin() + 1, arguments.end()}, defaultLog, notices);
        const Invocation invocation = ParseCommandLine(arguments, defaultLog.empty());
        utf8 = invocation.utf8;
        // The user's stop; a service's stop comes from the service manager instead.
        if (invocation.command == Command::Report && invocation.follow)
            CatchStopRequests();
        return Run(invocation, defaultLog, notices);
    } catch (const std::bad_alloc&) {
        notices.Tell(NoticeType::Error, NoticeText(Notice::NoMemory, std::string(), 0, utf8));
        return EXIT_FAILURE_REPORTED;
    }
}
