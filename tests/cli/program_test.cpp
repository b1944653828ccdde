// The built ndislog program, run as an operator runs it: arguments in, bytes and exit code out.
#include <csignal>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "command_line.h"
#include "follow.h"
#include "log_report.h"
#include "temp_files.h"
#include "text_output.h"

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Starts the program with its standard output and error going to the named files.
pid_t Start(const std::vector<std::string>& arguments, const std::string& outPath, const std::string& errPath)
{
    std::vector<char*> argv;
    std::string program = NDISLOG_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

int WaitForExit(pid_t child)
{
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs the program to its end. Standard output goes to `outPath` when one is named (and is
// then not read back), else to a file whose bytes are returned.
Outcome RunProgram(const std::vector<std::string>& arguments, const std::string& outPath = "")
{
    TempFolder folder;
    const std::string out = outPath.empty() ? folder.File("out") : outPath;
    Outcome outcome;
    const pid_t child = Start(arguments, out, folder.File("err"));
    EXPECT_GT(child, 0) << "fork failed";
    if (child <= 0)
        return outcome;
    outcome.exitCode = WaitForExit(child);
    if (outPath.empty())
        outcome.out = ReadFile(out);
    outcome.err = ReadFile(folder.File("err"));
    return outcome;
}

std::string ReportOf(const std::string& path)
{
    LogReport report;
    EXPECT_EQ(REPORT_OK, BuildLogReport(path.c_str(), &report)) << path;
    std::string text(report.text ? report.text : "", static_cast<size_t>(report.length));
    ReleaseLogReport(&report);
    return text;
}

const std::string MISSING_LOG = "/nonexistent-folder/ndislog.txt";

TEST(Program, ExitCodesAndMessages)
{
    const std::string usage = UsageText();
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string out;
        std::string err;  // "usage" stands for any text that ends in the usage text
    } cases[] = {
        {{"--help"}, 0, usage, ""},
        {{"report", "-h"}, 0, usage, ""},
        {{}, 2, "", "usage"},
        {{"report"}, 2, "", "usage"},
        {{"report", "--bogus", NDISLOG_SAMPLE_LOG}, 2, "", "usage"},
        {{"report", NDISLOG_SAMPLE_LOG, NDISLOG_SAMPLE_LOG}, 2, "", "usage"},
        {{"cause"}, 2, "", "usage"},
        {{"lookup", "10"}, 2, "", "usage"},
        {{"report", MISSING_LOG}, 1, "", "Can't Open " + MISSING_LOG + "\n"},
        {{"report", "--utf8", MISSING_LOG}, 1, "", "Can't Open " + MISSING_LOG + "\n"},
    };
    for (const auto& testCase : cases) {
        std::string joined;
        for (const std::string& argument : testCase.arguments)
            joined += argument + " ";
        const Outcome outcome = RunProgram(testCase.arguments);
        EXPECT_EQ(testCase.exitCode, outcome.exitCode) << joined;
        EXPECT_EQ(testCase.out, outcome.out) << joined;
        if (testCase.err == "usage") {
            EXPECT_TRUE(outcome.err.size() > usage.size() && outcome.err.ends_with(usage)) << joined << outcome.err;
        } else {
            EXPECT_EQ(testCase.err, outcome.err) << joined;
        }
    }
}

TEST(Program, ReportIsTheBuildersReport)
{
    TempFolder folder;
    const std::string worked = folder.File("worked.txt");
    WriteFile(worked, "0012.Call setup,0x4E4E4F43,0x00000010\n");
    const std::string unfinished = folder.File("unfinished.txt");
    WriteFile(unfinished, "1.A,\r\n2.B,0x4E4E4F43");
    const std::string empty = folder.File("empty.txt");
    WriteFile(empty, "no record here\r\n");
    const struct {
        std::vector<std::string> arguments;
        std::string expected;
    } cases[] = {
        {{"report", worked}, "001. 0012\r\n          Call setup  CONN (00000010)\r\n"},
        {{"report", unfinished}, "001. 1\r\n          A  \r\n002. 2\r\n          B  CONN\r\n"},
        {{"report", empty}, ""},
        {{"report", NDISLOG_SAMPLE_LOG}, ReportOf(NDISLOG_SAMPLE_LOG)},
        {{"report", "--utf8", NDISLOG_SAMPLE_LOG}, Cp932ToUtf8(ReportOf(NDISLOG_SAMPLE_LOG))},
    };
    for (const auto& testCase : cases) {
        const Outcome outcome = RunProgram(testCase.arguments);
        EXPECT_EQ(0, outcome.exitCode) << testCase.arguments.back();
        EXPECT_EQ(testCase.expected, outcome.out) << testCase.arguments.back();
        EXPECT_EQ("", outcome.err) << testCase.arguments.back();
    }
}

TEST(Program, SampleLogShowsItsJapaneseRecord)
{
    const Outcome outcome = RunProgram({"report", NDISLOG_SAMPLE_LOG});
    EXPECT_NE(std::string::npos, outcome.out.find("016. 0017\r\n          回線切断  DISC (00000010)\r\n"))
        << outcome.out;
    EXPECT_NE(std::string::npos, outcome.out.find("\r\n034. 0036\r\n          Unload  EXIT\r\n")) << outcome.out;
    EXPECT_EQ(std::string::npos, outcome.out.find("035. ")) << outcome.out;
}

TEST(Program, FailedWriteIsAFailure)
{
    const Outcome outcome = RunProgram({"report", NDISLOG_SAMPLE_LOG}, "/dev/full");
    EXPECT_EQ(1, outcome.exitCode);
}

TEST(Program, CauseMessages)
{
    const struct {
        std::vector<std::string> arguments;
        std::string expected;
    } cases[] = {
        {{"cause", "4"}, "未定義理由表示 : CODE=0004h\n"},
        {{"cause", "10"}, "理由表示 : 正常切断\n"},
        {{"cause", "  0x1f"}, "理由表示 : その他の正常クラス\n"},
        {{"cause", "1F zz"}, "理由表示 : その他の正常クラス\n"},
        {{"cause", "ff00"}, "理由表示 : サポートしていないボードタイプ(CfgErr:00)\n"},
        {{"cause", "FFFF"}, "理由表示 : 不明な理由コード\n"},
        {{"cause", "zz"}, "理由表示 : 不明な理由コード\n"},
        {{"cause", "1001F"}, "未定義理由表示 : CODE=1001Fh\n"},
        {{"cause", "123456789"}, "未定義理由表示 : CODE=23456789h\n"},
        {{"cause", "-1"}, "未定義理由表示 : CODE=FFFFFFFFh\n"},
        {{"cause", "0220"}, "理由表示 : 論理ﾁｬﾈﾙ番号重複(発着呼不可)\n"},
        {{"cause", "10", "4", "ff0a"},
         "理由表示 : 正常切断\n未定義理由表示 : CODE=0004h\n理由表示 : 割り込みエラー(CfgErr:0A)\n"},
        // 29 characters are kept: the 30th digit is dropped.
        {{"cause", std::string(27, '0') + "10"}, "理由表示 : 正常切断\n"},
        {{"cause", std::string(28, '0') + "10"}, "理由表示 : 欠番\n"},
        {{"cause", "--english", "0120", "A11F"},
         "理由表示 : Firmware couldn't control\n理由表示 : Firmware couldn't control\n"},
        {{"cause", "--english", "FF24"}, "理由表示 : Registry Warrning  <SPID>(CfgErr:24)\n"},
        {{"cause", "--english", "4"}, "未定義理由表示 : CODE=0004h\n"},
        {{"cause", "--utf8", "4"}, std::string(reinterpret_cast<const char*>(u8"未定義理由表示 : CODE=0004h\n"))},
    };
    for (const auto& testCase : cases) {
        const Outcome outcome = RunProgram(testCase.arguments);
        EXPECT_EQ(0, outcome.exitCode) << testCase.arguments.back();
        EXPECT_EQ(testCase.expected, outcome.out) << testCase.arguments.back();
        EXPECT_EQ("", outcome.err) << testCase.arguments.back();
    }
}

// Polls `path` until its content is `expected`, for at most `seconds`.
bool WaitForContent(const std::string& path, const std::string& expected, int seconds)
{
    for (int tick = 0; tick < seconds * 20; ++tick) {
        if (ReadFile(path) == expected)
            return true;
        timespec pause = {0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return ReadFile(path) == expected;
}

// Waits for the child to end, for at most `seconds`; kills it after that.
int WaitForExitWithin(pid_t child, int seconds)
{
    for (int tick = 0; tick < seconds * 20; ++tick) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        timespec pause = {0, 50 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    kill(child, SIGKILL);
    WaitForExit(child);
    return -1;
}

TEST(Program, FollowPrintsNewRecordsAndEndsOnSignal)
{
    const int deadline = 3 * FOLLOW_PERIOD_MS / 1000 + 5;
    const std::string first = "001. 1\r\n          A  \r\n";
    const std::string second = "002. 2\r\n          B  CONN\r\n";
    const struct {
        const char* name;
        int signalNumber;
    } cases[] = {{"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}};
    for (const auto& testCase : cases) {
        TempFolder folder;
        const std::string log = folder.File("ndislog.txt");
        WriteFile(log, "1.A,\n2.B,0x4E4E");
        const pid_t child = Start({"report", "--follow", log}, folder.File("out"), folder.File("err"));
        ASSERT_GT(child, 0);
        EXPECT_TRUE(WaitForContent(folder.File("out"), first, deadline)) << testCase.name << ReadFile(folder.File("out"));
        WriteFile(log, "1.A,\n2.B,0x4E4E4F43\r\n");
        EXPECT_TRUE(WaitForContent(folder.File("out"), first + second, deadline))
            << testCase.name << ReadFile(folder.File("out"));
        kill(child, testCase.signalNumber);
        EXPECT_EQ(0, WaitForExitWithin(child, deadline)) << testCase.name;
        EXPECT_EQ(first + second, ReadFile(folder.File("out"))) << testCase.name;
        EXPECT_EQ("", ReadFile(folder.File("err"))) << testCase.name;
    }
}

}  // namespace
