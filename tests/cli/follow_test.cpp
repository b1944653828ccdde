// Following a log: readings of real files fed to the follow logic, one after another.
#include "follow.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "temp_files.h"

namespace {

const std::string MISSING = "<missing>";  // the log does not exist at this reading
const std::string RECORD_1 = "001. 1\r\n          A  \r\n";
const std::string RECORD_2 = "002. 2\r\n          B  \r\n";
const std::string LONG_TAIL(1500, 'x');  // more than one 1023-character piece

struct Step {
    std::string log;     // the whole log at this reading, or MISSING
    std::string output;  // expected on standard output
    std::string notice;  // expected on standard error: "", "restart" or "open"
};

TEST(Follow, PrintsWhatEachReadingAdds)
{
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"new lines only", {{"1.A,\n", RECORD_1, ""}, {"1.A,\n2.B,\n", RECORD_2, ""}}},
        {"unchanged log, lines without a record",
         {{"1.A,\n", RECORD_1, ""}, {"1.A,\n", "", ""}, {"1.A,\nno period\nH.no comma\n", "", ""}}},
        {"unfinished line held back, printed once finished",
         {{"1.A,\n2.B,0x4E4E", RECORD_1, ""},
          {"1.A,\n2.B,0x4E4E4F43", "", ""},
          {"1.A,\n2.B,0x4E4E4F43\r\n", "002. 2\r\n          B  CONN\r\n", ""}}},
        {"CR written before its LF", {{"1.A,\r", "", ""}, {"1.A,\r\n", RECORD_1, ""}}},
        {"long line held back until its LF",
         {{"1.A,\n2.B," + LONG_TAIL, RECORD_1, ""}, {"1.A,\n2.B," + LONG_TAIL + "\n", RECORD_2, ""}}},
        {"NUL byte does not hide the line end",
         {{std::string("1.A,0x4E4E4F43\0z\n", 17), "001. 1\r\n          A  CONN\r\n", ""}}},
        {"shrink restarts from 001",
         {{"1.A,\n2.B,\n", RECORD_1 + RECORD_2, ""}, {"3.C,\n", "001. 3\r\n          C  \r\n", "restart"}}},
        {"same length, rewritten", {{"1.A,\n", RECORD_1, ""}, {"1.X,\n", "001. 1\r\n          X  \r\n", "restart"}}},
        {"emptied, then written again",
         {{"1.A,\n", RECORD_1, ""}, {"", "", "restart"}, {"", "", ""}, {"2.B,\n", "001. 2\r\n          B  \r\n", ""}}},
        {"missing log announced once per disappearance",
         {{MISSING, "", "open"}, {MISSING, "", ""}, {"1.A,\n", RECORD_1, ""}, {MISSING, "", "open"},
          {"1.A,\n2.B,\n", RECORD_2, ""}}},
    };
    for (const auto& testCase : cases) {
        TempFolder folder;
        const std::string path = folder.File("ndislog.txt");
        FollowState state;
        for (size_t i = 0; i < testCase.steps.size(); ++i) {
            const Step& step = testCase.steps[i];
            if (step.log == MISSING)
                std::remove(path.c_str());
            else
                WriteFile(path, step.log);
            const FollowStep result = AdvanceFollow(&state, ReadFollowSnapshot(path.c_str()), path);
            const std::string notice = step.notice == "restart" ? RestartNotice()
                                       : step.notice == "open"  ? CannotOpenMessage(path)
                                                                : "";
            EXPECT_EQ(step.output, result.output) << testCase.name << ", reading " << i + 1;
            EXPECT_EQ(notice, result.notice) << testCase.name << ", reading " << i + 1;
            EXPECT_EQ(step.notice == "restart", result.restarted) << testCase.name << ", reading " << i + 1;
        }
    }
}

// A reading builds its own report (it must know where the finished lines end); it has to be
// the very report the builder gives.
TEST(Follow, ReadingMatchesReportBuilder)
{
    std::string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += "H.M,0x41424344\r\n";
    const std::string cases[] = {
        "",
        "0012.Call setup,0x4E4E4F43,0x00000010\n1.A,\r\n2.B,0x4E4E4F43",
        "1.A\rB,0x41424344\r\n1.A,\r\n\x1A" "2.B,\r\n",
        std::string("1.A,\0x\n2.B,\n", 12),
        "1.A," + std::string(1019, 'y') + "2.B,0x41424344" + std::string(467, 'z') + "\n",
        thousand,
    };
    for (const std::string& log : cases) {
        TempFolder folder;
        const std::string path = folder.File("log.txt");
        WriteFile(path, log);
        LogReport report;
        ASSERT_EQ(REPORT_OK, BuildLogReport(path.c_str(), &report));
        const std::string expected(report.text, static_cast<size_t>(report.length));
        ReleaseLogReport(&report);
        const FollowSnapshot snapshot = ReadFollowSnapshot(path.c_str());
        EXPECT_EQ(REPORT_OK, snapshot.status) << log.substr(0, 40);
        EXPECT_EQ(expected, snapshot.report) << log.substr(0, 40);
    }
}

}  // namespace
