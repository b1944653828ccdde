// Following a log: readings of real files fed to the follow logic, step by step.
#include "follow.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log_report.h"
#include "temp_files.h"

namespace {

const char MISSING[] = "<missing>";  // a step at which the log does not exist

const std::string RECORD_1 = "001. 1\r\n          A  \r\n";
const std::string RECORD_2 = "002. 2\r\n          B  \r\n";

struct Step {
    std::string log;     // the whole log at this reading, or MISSING
    std::string output;  // expected on standard output
    std::string notice;  // expected on standard error; "restart" and "open" stand for those notices
};

struct FollowCase {
    const char* name;
    std::vector<Step> steps;
};

std::string ExpectedNotice(const std::string& notice, const std::string& path)
{
    if (notice == "restart")
        return RestartNotice();
    if (notice == "open")
        return CannotOpenMessage(path);
    return notice;
}

const std::string LONG_TAIL(1500, 'x');  // more than one 1023-character piece

const FollowCase FOLLOW_CASES[] = {
    {"new lines only", {{"1.A,\n", RECORD_1, ""}, {"1.A,\n2.B,\n", RECORD_2, ""}}},
    {"unchanged log prints nothing", {{"1.A,\n", RECORD_1, ""}, {"1.A,\n", "", ""}, {"1.A,\n", "", ""}}},
    {"lines without a record add nothing",
     {{"1.A,\n", RECORD_1, ""}, {"1.A,\nno period\nH.no comma\n", "", ""}}},
    {"unfinished token held back, printed once finished",
     {{"1.A,\n2.B,0x4E4E", RECORD_1, ""},
      {"1.A,\n2.B,0x4E4E4F43", "", ""},
      {"1.A,\n2.B,0x4E4E4F43\r\n", "002. 2\r\n          B  CONN\r\n", ""}}},
    {"unfinished line that has no record yet",
     {{"1.A,\n2.B", RECORD_1, ""}, {"1.A,\n2.B,\n", RECORD_2, ""}}},
    {"first reading holds back an unfinished only line", {{"1.A,", "", ""}, {"1.A,\n", RECORD_1, ""}}},
    {"CR written before its LF", {{"1.A,\r", "", ""}, {"1.A,\r\n", RECORD_1, ""}}},
    {"long line held back until its LF",
     {{"1.A,\n2.B," + LONG_TAIL, RECORD_1, ""}, {"1.A,\n2.B," + LONG_TAIL + "\n", RECORD_2, ""}}},
    {"NUL byte does not hide the line end",
     {{std::string("1.A,0x4E4E4F43\0z\n", 17), "001. 1\r\n          A  CONN\r\n", ""}}},
    {"shrink restarts from 001",
     {{"1.A,\n2.B,\n", RECORD_1 + RECORD_2, ""}, {"3.C,\n", "001. 3\r\n          C  \r\n", "restart"}}},
    {"rewritten log of the same length restarts",
     {{"1.A,\n", RECORD_1, ""}, {"1.X,\n", "001. 1\r\n          X  \r\n", "restart"}}},
    {"emptied log restarts, then numbers from 001",
     {{"1.A,\n2.B,\n", RECORD_1 + RECORD_2, ""}, {"", "", "restart"}, {"", "", ""}, {"2.B,\n", "001. 2\r\n          B  \r\n", ""}}},
    {"missing log announced once per disappearance",
     {{MISSING, "", "open"}, {MISSING, "", ""}, {"1.A,\n", RECORD_1, ""}, {MISSING, "", "open"},
      {"1.A,\n2.B,\n", RECORD_2, ""}}},
};

TEST(Follow, PrintsWhatEachReadingAdds)
{
    for (const FollowCase& testCase : FOLLOW_CASES) {
        TempFolder folder;
        const std::string path = folder.File("ndislog.txt");
        FollowState state;
        int number = 0;
        for (const Step& step : testCase.steps) {
            ++number;
            if (step.log == MISSING)
                std::remove(path.c_str());
            else
                WriteFile(path, step.log);
            const FollowStep result = AdvanceFollow(&state, ReadFollowSnapshot(path.c_str()), path);
            EXPECT_EQ(step.output, result.output) << testCase.name << ", reading " << number;
            EXPECT_EQ(ExpectedNotice(step.notice, path), result.notice) << testCase.name << ", reading " << number;
            EXPECT_EQ(step.notice == "restart", result.restarted) << testCase.name << ", reading " << number;
        }
    }
}

std::string NumberedLines(int count)
{
    std::string log;
    for (int i = 0; i < count; ++i)
        log += "H.M,0x41424344\r\n";
    return log;
}

// The readings that follow the log must give the very report the builder gives.
TEST(Follow, ReadingMatchesReportBuilder)
{
    const struct {
        const char* name;
        std::string log;
    } cases[] = {
        {"empty log", ""},
        {"no record", "no period\r\nH.no comma\r\n\r\n"},
        {"worked example", "0012.Call setup,0x4E4E4F43,0x00000010\n"},
        {"unfinished last line", "1.A,\r\n2.B,0x4E4E4F43"},
        {"lone CR inside a line", "1.A\rB,0x41424344\r\n"},
        {"Ctrl-Z ends the log", "1.A,\r\n\x1A" "2.B,\r\n"},
        {"NUL inside a line", std::string("1.A,\0x\n2.B,\n", 12)},
        {"line of 1500 characters", "1.A," + std::string(1019, 'y') + "2.B,0x41424344" + std::string(467, 'z') + "\n"},
        {"record 1000", NumberedLines(1000)},
    };
    for (const auto& testCase : cases) {
        TempFolder folder;
        const std::string path = folder.File("log.txt");
        WriteFile(path, testCase.log);
        LogReport report;
        ASSERT_EQ(REPORT_OK, BuildLogReport(path.c_str(), &report)) << testCase.name;
        const std::string expected(report.text, static_cast<size_t>(report.length));
        ReleaseLogReport(&report);
        const FollowSnapshot snapshot = ReadFollowSnapshot(path.c_str());
        EXPECT_EQ(REPORT_OK, snapshot.status) << testCase.name;
        EXPECT_EQ(expected, snapshot.report) << testCase.name;
    }
}

TEST(Follow, SampleLogIsFinishedThroughout)
{
    const FollowSnapshot snapshot = ReadFollowSnapshot(NDISLOG_SAMPLE_LOG);
    ASSERT_EQ(REPORT_OK, snapshot.status);
    EXPECT_EQ(snapshot.report.size(), snapshot.finishedLength);
    EXPECT_EQ(0u, snapshot.report.rfind("001. 0001\r\n", 0)) << snapshot.report.substr(0, 40);
}

}  // namespace
