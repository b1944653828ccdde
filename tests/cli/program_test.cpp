// The built ndislog program, run as an operator runs it: arguments in, bytes and exit code out.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cause_catalogue.h"
#include "child_process.h"
#include "command_line.h"
#include "cp932_utf8.h"
#include "follow.h"
#include "output_piece.h"
#include "report_text.h"
#include "temp_files.h"

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Starts the program with standard output and error going to the named files.
pid_t Start(std::vector<std::string> arguments, const std::string& outPath, const std::string& errPath)
{
    arguments.insert(arguments.begin(), NDISLOG_PROGRAM);
    return StartProcess(arguments, outPath, errPath);
}

// Runs the program to its end. With `outPath` named, standard output goes there unread.
Outcome RunProgram(const std::vector<std::string>& arguments, const std::string& outPath = "")
{
    TempFolder folder;
    const std::string out = outPath.empty() ? folder.File("out") : outPath;
    Outcome outcome;
    outcome.exitCode = WaitForExit(Start(arguments, out, folder.File("err")), 30);
    outcome.out = outPath.empty() ? ReadFile(out) : "";
    outcome.err = ReadFile(folder.File("err"));
    return outcome;
}

const std::string USAGE = UsageText();
const std::string MISSING_LOG = "/nonexistent-folder/ndislog.txt";
const std::string SAMPLE = NDISLOG_SAMPLE_LOG;
const std::string SAMPLE_REPORT = ReportOf(SAMPLE);

TEST(Program, OutputsAndExitCodes)
{
    TempFolder folder;
    const std::string worked = folder.File("worked.txt");
    WriteFile(worked, "0012.Call setup,0x4E4E4F43,0x00000010\n");
    const std::string unfinished = folder.File("unfinished.txt");
    WriteFile(unfinished, "1.A,\r\n2.B,0x4E4E4F43");
    // More report than one output piece, with a Japanese message in every record.
    const std::string large = folder.File("large.txt");
    std::string largeLog;
    for (int i = 0; largeLog.size() < 3 * OUTPUT_PIECE_SIZE; ++i)
        largeLog += std::to_string(i) + ".回線切断,0x4E4E4F43,0x00000010\r\n";
    WriteFile(large, largeLog);
    const std::string largeReport = ReportOf(large);
    const std::string japanesePath = Utf8(u8"/nonexistent-folder/ログ.txt");
    // The log by another name: appending to it would feed the report its own records.
    const std::string logByLink = folder.File("link.txt");
    ASSERT_EQ(0, link(worked.c_str(), logByLink.c_str()));
    const std::string outputIsTheLog = "ndislog: --output " + logByLink + " is the log or the state file; name another file\n";
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
        std::string err;  // "usage": a line on what was wrong, then the usage text
    } cases[] = {
        {{"--help"}, 0, USAGE, ""},
        {{"report", "-h"}, 0, USAGE, ""},
        {{}, 2, "", "usage"},
        {{"report"}, 2, "", "usage"},
        {{"report", "--bogus", SAMPLE}, 2, "", "usage"},
        {{"cause"}, 2, "", "usage"},
        {{"report", MISSING_LOG}, 1, "", "Can't Open " + MISSING_LOG + "\n"},
        {{"report", "--utf8", japanesePath}, 1, "", "Can't Open " + japanesePath + "\n"},
        // Opened, but not readable: no report, and no success.
        {{"report", folder.File("")}, 1, "", "ndislog: cannot read " + folder.File("") + " (Is a directory)\n"},
        {{"report", "/proc/self/mem"}, 1, "", "ndislog: cannot read /proc/self/mem (Input/output error)\n"},
        {{"report", large}, 0, largeReport, ""},
        {{"report", "--utf8", large}, 0, Cp932ToUtf8(largeReport), ""},
        {{"report", "--follow", "--bogus"}, 2, "", "usage"},
        {{"report", "--follow", "--json", "--relp", "127.0.0.1:9", "--output", folder.File("o"), SAMPLE}, 2, "", "usage"},
        {{"report", "--output", logByLink, worked}, 2, "", outputIsTheLog},
        {{"report", "--follow", "--output", logByLink, worked}, 2, "", outputIsTheLog},
        {{"report", worked}, 0, "001. 0012\r\n          Call setup  CONN (00000010)\r\n", ""},
        {{"report", unfinished}, 0, "001. 1\r\n          A  \r\n002. 2\r\n          B  CONN\r\n", ""},
        {{"report", SAMPLE}, 0, SAMPLE_REPORT, ""},
        {{"report", "--json", "--utf8", worked},
         0, "{\"record\":1,\"head\":\"0012\",\"message\":\"Call setup\",\"decoded\":\"CONN (00000010)\"}\n", ""},
        {{"report", "--json", MISSING_LOG}, 1, "", "Can't Open " + MISSING_LOG + "\n"},
        {{"report", "--utf8", SAMPLE}, 0, Cp932ToUtf8(SAMPLE_REPORT), ""},
        {{"cause", "4"}, 0, "未定義理由表示 : CODE=0004h\n", ""},
        {{"cause", "10", "--", "-1", "zz"},
         0, "理由表示 : 正常切断\n未定義理由表示 : CODE=FFFFFFFFh\n理由表示 : 不明な理由コード\n", ""},
        // 29 characters are kept, as in the lookup dialog: the 30th is dropped.
        {{"cause", std::string(27, '0') + "10", std::string(28, '0') + "10"},
         0, "理由表示 : 正常切断\n理由表示 : 欠番\n", ""},
        {{"cause", "--english", "0120", "FF24"},
         0, "理由表示 : Firmware couldn't control\n理由表示 : Registry Warrning  <SPID>(CfgErr:24)\n", ""},
        {{"cause", "--utf8", "4", "0220"},
         0, Utf8(u8"未定義理由表示 : CODE=0004h\n理由表示 : 論理ﾁｬﾈﾙ番号重複(発着呼不可)\n"), ""},
        // JSON is UTF-8 whether --utf8 is given or not.
        {{"cause", "--json", "--utf8", "0220", "zz"},
         0,
         Utf8(u8"{\"input\":\"0220\",\"code\":\"0220\",\"text\":\"論理ﾁｬﾈﾙ番号重複(発着呼不可)\","
              u8"\"message\":\"理由表示 : 論理ﾁｬﾈﾙ番号重複(発着呼不可)\"}\n"
              u8"{\"input\":\"zz\",\"code\":\"FFFF\",\"text\":\"不明な理由コード\","
              u8"\"message\":\"理由表示 : 不明な理由コード\"}\n"),
         ""},
        // A UTF-8 argument is shown as it was typed.
        {{"cause", "--json", Utf8(u8"１０")},
         0,
         Utf8(u8"{\"input\":\"１０\",\"code\":\"FFFF\",\"text\":\"不明な理由コード\","
              u8"\"message\":\"理由表示 : 不明な理由コード\"}\n"),
         ""},
        {{"cause", "--list", "10"}, 2, "", "usage"},
        {{"cause", "-list"}, 2, "", "usage"},
    };
    for (const auto& testCase : cases) {
        const std::string name = testCase.arguments.empty() ? "(none)" : testCase.arguments.back();
        const Outcome outcome = RunProgram(testCase.arguments);
        EXPECT_EQ(testCase.exitCode, outcome.exitCode) << name;
        EXPECT_EQ(testCase.out, outcome.out) << name;
        if (testCase.err == "usage")
            EXPECT_TRUE(outcome.err.size() > USAGE.size() && outcome.err.ends_with(USAGE)) << name << outcome.err;
        else
            EXPECT_EQ(testCase.err, outcome.err) << name;
    }
}

// Every line of a listing, in order.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last line end";
    return lines;
}

TEST(Program, CauseListIsTheWholeCatalogueInOrder)
{
    const struct {
        std::vector<std::string> arguments;
        std::string first, last;
    } cases[] = {
        {{"cause", "--list"}, "0000  正常終了", "FFFF  不明な理由コード"},
        {{"cause", "--list", "--english", "--utf8"}, "0000  Normal end", "FFFF  Unknown error"},
        {{"cause", "--list", "--json"}, Utf8(u8"{\"code\":\"0000\",\"text\":\"正常終了\"}"),
         Utf8(u8"{\"code\":\"FFFF\",\"text\":\"不明な理由コード\"}")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const Outcome outcome = RunProgram(c.arguments);
        EXPECT_EQ(0, outcome.exitCode);
        const std::vector<std::string> lines = Lines(outcome.out);
        ASSERT_EQ(static_cast<size_t>(CAUSE_COUNT), lines.size());
        EXPECT_EQ(c.first, lines.front());
        EXPECT_EQ(c.last, lines.back());
        // Row 100 of the listing is row 100 of the catalogue, whatever the form.
        char code[8];
        std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(JapaneseCauses[100].code));
        EXPECT_NE(std::string::npos, lines[100].find(code)) << lines[100];
    }
}

TEST(Program, SampleLogShowsItsJapaneseRecord)
{
    const std::string shown = RunProgram({"report", SAMPLE}).out;
    EXPECT_NE(std::string::npos, shown.find("\r\n016. 0017\r\n          回線切断  DISC (00000010)\r\n")) << shown;
    EXPECT_TRUE(shown.ends_with("\r\n034. 0036\r\n          Unload  EXIT\r\n")) << shown;
}

TEST(Program, FailedWriteIsToldApart)
{
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"report", SAMPLE}, {"cause", "10"}, {"cause", "--list"}, {"--help"}}) {
        const Outcome outcome = RunProgram(arguments, "/dev/full");
        EXPECT_EQ(1, outcome.exitCode) << arguments[0];
        EXPECT_EQ("ndislog: cannot write standard output (No space left on device)\n", outcome.err) << arguments[0];
    }
}

TEST(Program, ReportReadsStandardInput)
{
    TempFolder folder;
    const pid_t child = StartProcess({NDISLOG_PROGRAM, "report", "-"}, folder.File("out"), "", SAMPLE);
    EXPECT_EQ(0, WaitForExit(child, 30));
    EXPECT_EQ(SAMPLE_REPORT, ReadFile(folder.File("out")));
}

// Polls `path` until it holds `expected`, for at most `seconds`.
bool WaitForContent(const std::string& path, const std::string& expected, int seconds)
{
    for (int tick = 0; tick < seconds * 20 && ReadFile(path) != expected; ++tick) {
        timespec pause = {0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return ReadFile(path) == expected;
}

// A stop ends following with its place saved; started again, the follower prints only what
// came meanwhile.
TEST(Program, FollowEndsOnSignalAndGoesOnFromItsState)
{
    const int deadline = 5;
    const std::string first = "001. 1\r\n          A  \r\n";
    const std::string second = "002. 2\r\n          B  CONN\r\n";
    const std::string third = "003. 3\r\n          C  \r\n";
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        TempFolder folder;
        const std::string log = folder.File("ndislog.txt");
        const std::string out = folder.File("out");
        const std::vector<std::string> follow = {"report", "--follow", "--interval", "100", "--state", folder.File("state"), log};
        WriteFile(log, "1.A,\n2.B,0x4E4E");
        pid_t child = Start(follow, out, folder.File("err"));
        EXPECT_TRUE(WaitForContent(out, first, deadline)) << signalNumber << ReadFile(out);
        WriteFile(log, "1.A,\n2.B,0x4E4E4F43\r\n");
        EXPECT_TRUE(WaitForContent(out, first + second, deadline)) << signalNumber << ReadFile(out);
        kill(child, signalNumber);
        EXPECT_EQ(0, WaitForExit(child, deadline)) << signalNumber;
        EXPECT_EQ("", ReadFile(folder.File("err"))) << signalNumber;

        WriteFile(log, "1.A,\n2.B,0x4E4E4F43\r\n3.C,\n");
        child = Start(follow, out, folder.File("err"));
        EXPECT_TRUE(WaitForContent(out, third, deadline)) << signalNumber << ReadFile(out);
        kill(child, signalNumber);
        EXPECT_EQ(0, WaitForExit(child, deadline)) << signalNumber;
    }
}

// A state file that is the log is refused before anything is written; a second follower on
// one state file ends at once, the first going on.
TEST(Program, FollowClaimsItsStateFile)
{
    TempFolder folder;
    const std::string log = folder.File("ndislog.txt");
    const std::string state = folder.File("state");
    WriteFile(log, "1.A,\n");
    Outcome outcome = RunProgram({"report", "--follow", "--state", log, log});
    EXPECT_EQ(2, outcome.exitCode);
    EXPECT_EQ("ndislog: --state " + log + " would overwrite the log " + log + "; name another file\n", outcome.err);
    EXPECT_EQ("1.A,\n", ReadFile(log));

    const std::vector<std::string> follow = {"report", "--follow", "--interval", "100", "--state", state, log};
    const pid_t first = Start(follow, folder.File("out"), folder.File("err"));
    EXPECT_TRUE(WaitForContent(folder.File("out"), "001. 1\r\n          A  \r\n", 5));
    outcome = RunProgram(follow);
    EXPECT_EQ(1, outcome.exitCode);
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ("ndislog: " + state + " is in use by another ndislog\n", outcome.err);
    WriteFile(log, "1.A,\n2.B,\n");
    EXPECT_TRUE(WaitForContent(folder.File("out"), "001. 1\r\n          A  \r\n002. 2\r\n          B  \r\n", 5));
    kill(first, SIGTERM);
    EXPECT_EQ(0, WaitForExit(first, 5));
}

// Logs that cannot be read again from a place are refused at once, never waited on.
TEST(Program, FollowRefusesPipesAndDevices)
{
    TempFolder folder;
    const std::string fifo = folder.File("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    for (const std::string& log : {fifo, std::string("/dev/zero")}) {
        const Outcome outcome = RunProgram({"report", "--follow", log});
        EXPECT_EQ(1, outcome.exitCode) << log;
        EXPECT_EQ("ndislog: cannot follow " + log + ": not a regular file\n", outcome.err) << log;
    }
}

// --output appends; a last line a kill left unfinished is ended first, so that no record is
// ever joined to it, and the whole records follow.
TEST(Program, OutputFileEndsATornLastLineAndAppends)
{
    TempFolder folder;
    const std::string sampleJson = RunProgram({"report", "--json", SAMPLE}).out;
    // Cut inside the UTF-8 form of a Japanese character, as a kill between two writes cut it.
    const std::string tornObject = "{\"record\":16,\"message\":\"\xE5\x9B";
    const struct {
        std::vector<std::string> options;
        std::string before;  // "-": no such file yet
        std::string after;
    } cases[] = {
        {{"--json"}, "-", sampleJson},
        {{"--json"}, "{\"record\":1}\n", "{\"record\":1}\n" + sampleJson},
        {{"--json"}, tornObject, tornObject + "\n" + sampleJson},
        {{}, "001. 1\r", "001. 1\r\n" + SAMPLE_REPORT},
        {{}, SAMPLE_REPORT, SAMPLE_REPORT + SAMPLE_REPORT},
    };
    for (const auto& testCase : cases) {
        const std::string output = folder.File("out" + std::to_string(&testCase - cases));
        if (testCase.before != "-")
            WriteFile(output, testCase.before);
        std::vector<std::string> arguments = {"report", "--output", output, SAMPLE};
        arguments.insert(arguments.begin() + 1, testCase.options.begin(), testCase.options.end());
        const Outcome outcome = RunProgram(arguments);
        EXPECT_EQ(0, outcome.exitCode) << output << outcome.err;
        EXPECT_EQ("", outcome.out + outcome.err) << output;
        EXPECT_EQ(testCase.after, ReadFile(output)) << output;
    }
    // A folder that is not there: nothing made, a clear line, exit 1.
    const std::string nowhere = folder.File("missing/out.jsonl");
    const Outcome outcome = RunProgram({"report", "--json", "--output", nowhere, SAMPLE});
    EXPECT_EQ(1, outcome.exitCode);
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ("ndislog: cannot open " + nowhere + " for output (No such file or directory)\n", outcome.err);
}

// One line of 48 MiB without a line end: its records go out as its pieces are read, so
// memory stays that of one piece.
TEST(Program, FollowHoldsLittleOfALongLine)
{
    TempFolder folder;
    const std::string log = folder.File("ndislog.txt");
    std::string piece = "1.A,0x41424344";
    piece.resize(1023, 'x');
    std::string line;
    while (line.size() < (48u << 20))
        line += piece;
    WriteFile(log, line);
    const pid_t child = Start({"report", "--follow", "--interval", "100", "--state", folder.File("state"), log},
                              "/dev/null", folder.File("err"));
    FollowPlace place;
    for (int tick = 0; tick < 400 && !(ParseStateText(ReadFile(folder.File("state")), &place) &&
                                       place.offset == static_cast<int64_t>(line.size() - piece.size()));
         ++tick) {
        timespec pause = {0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    EXPECT_EQ(static_cast<int64_t>(line.size() - piece.size()), place.offset) << "the last piece waits for more";
    const std::string status = ReadFile("/proc/" + std::to_string(child) + "/status");
    const size_t peak = status.find("VmHWM:");
    ASSERT_NE(std::string::npos, peak) << status;
    EXPECT_LT(std::stol(status.substr(peak + 6)), 16 * 1024) << "kB at most";
    kill(child, SIGTERM);
    EXPECT_EQ(0, WaitForExit(child, 5));
}

}  // namespace
