// Following a log and streaming its report: real files read one reading after another, and
// what comes out compared with the report builder's.
#include "follow.h"

#include "json_output.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report_stream.h"
#include "report_text.h"
#include "temp_files.h"

namespace {

// What a reading put out: report bytes, and the notices by name.
class RecordingSink final : public OutputSink {
public:
    bool Write(std::string_view bytes) override
    {
        if (writes + 1 == breakSaveAt)  // a folder where the state file's new copy goes
            std::filesystem::create_directory(stateFile + ".new");
        out.append(bytes);
        ++writes;
        return true;
    }
    void Announce(Notice notice, int) override
    {
        static const char* const NAMES[] = {"open", "read", "cut short", "memory", "restart", "not followable",
                                            "state unreadable", "state unwritable", "state saved again"};
        notices += NAMES[static_cast<int>(notice)];
    }

    std::string out;
    std::string notices;
    int writes = 0;
    int breakSaveAt = 0;  // the write before which saving the place starts to fail
    std::string stateFile;
};

const std::string MISSING = "<missing>";      // the log does not exist at this reading
const std::string DIRECTORY = "<directory>";  // a folder stands where the log should be
const std::string RECORD_1 = "001. 1\r\n          A  \r\n";
const std::string RECORD_2 = "002. 2\r\n          B  \r\n";
const std::string LONG_TAIL(1500, 'x');  // more than one 1023-character piece

struct Step {
    std::string log;       // the whole log at this reading, or MISSING or DIRECTORY
    std::string output;    // expected on standard output
    std::string notice;    // expected notices, by name
    bool renamed = false;  // the log is replaced by a new file rather than rewritten
};

// Puts `step`'s log at `path` the way the step says: rewritten in place, or a new file. A
// log taken away is kept aside, so that no new one can be given its identity again.
void PutLog(const std::string& path, const Step& step)
{
    namespace fs = std::filesystem;
    if (fs::is_directory(path))
        fs::remove_all(path);
    else if (fs::exists(path) && (step.log == MISSING || step.log == DIRECTORY || step.renamed))
        fs::rename(path, path + ".gone");
    if (step.log == DIRECTORY)
        fs::create_directory(path);
    else if (step.log != MISSING)
        WriteFile(path, step.log);
}

TEST(Follow, PrintsWhatEachReadingAdds)
{
    std::string longOther = LONG_TAIL;
    longOther[10] = 'y';  // in the first piece of the long line
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
        {"long line: whole pieces printed at once, the rest once its LF is there",
         {{"1.A,\n2.B," + LONG_TAIL, RECORD_1 + RECORD_2, ""},
          {"1.A,\n2.B," + LONG_TAIL + "1.Z,", "", ""},
          {"1.A,\n2.B," + LONG_TAIL + "\n", "", ""},
          {"1.A,\n2.B," + LONG_TAIL + "\n3.C,\n", "003. 3\r\n          C  \r\n", ""}}},
        {"NUL byte does not hide the line end",
         {{std::string("1.A,0x4E4E4F43\0z\n", 17), "001. 1\r\n          A  CONN\r\n", ""}}},
        {"lines after Ctrl-Z never count", {{"1.A,\n\x1A", RECORD_1, ""}, {"1.A,\n\x1A" "2.B,\n", "", ""}}},
        {"a line cut off by Ctrl-Z printed once", {{"1.A,\n2.B,\x1A", RECORD_1 + RECORD_2, ""}, {"1.A,\n2.B,\x1A" "3.C,\n", "", ""}}},
        {"shrink restarts from 001",
         {{"1.A,\n2.B,\n", RECORD_1 + RECORD_2, ""}, {"3.C,\n", "001. 3\r\n          C  \r\n", "restart"}}},
        {"same length, rewritten", {{"1.A,\n", RECORD_1, ""}, {"1.X,\n", "001. 1\r\n          X  \r\n", "restart"}}},
        {"same length, last line rewritten",
         {{"1.A,\n2.B,\n", RECORD_1 + RECORD_2, ""}, {"1.A,\n2.C,\n", RECORD_1 + "002. 2\r\n          C  \r\n", "restart"}}},
        {"long last line rewritten in its first piece",
         {{"1.A,\n2.B," + LONG_TAIL + "\n", RECORD_1 + RECORD_2, ""},
          {"1.A,\n2.B," + longOther + "\n3.C,\n", RECORD_1 + RECORD_2 + "003. 3\r\n          C  \r\n", "restart"}}},
        {"long line continued, then rewritten in a piece printed before",
         {{"1.A,\n2.B," + LONG_TAIL, RECORD_1 + RECORD_2, ""},
          {"1.A,\n2.B," + LONG_TAIL + "\n", "", ""},
          {"1.A,\n2.B," + longOther + "\n3.C,\n", RECORD_1 + RECORD_2 + "003. 3\r\n          C  \r\n", "restart"}}},
        {"one long line, still open, is the first and the last",
         {{"1.A," + LONG_TAIL, RECORD_1, ""}, {"1.A," + LONG_TAIL + "\n2.B,\n", RECORD_2, ""}}},
        {"emptied, then written again",
         {{"1.A,\n", RECORD_1, ""}, {"", "", "restart"}, {"", "", ""}, {"2.B,\n", "001. 2\r\n          B  \r\n", ""}}},
        {"replaced by a new file that starts alike",
         {{"1.A,\n", RECORD_1, ""}, {"1.A,\n2.B,\n", RECORD_1 + RECORD_2, "restart", true}}},
        {"replaced by a new file with the same first and last lines",
         {{"1.A,\n2.B,\n3.C,\n", RECORD_1 + RECORD_2 + "003. 3\r\n          C  \r\n", ""},
          {"1.A,\n2.X,\n3.C,\n", RECORD_1 + "002. 2\r\n          X  \r\n003. 3\r\n          C  \r\n", "restart", true}}},
        {"replaced by another log while following",
         {{"1.A,\n2.B,\n", RECORD_1 + RECORD_2, ""},
          {"9.Z,\n2.B,\n3.C,\n", "001. 9\r\n          Z  \r\n" + RECORD_2 + "003. 3\r\n          C  \r\n", "restart", true},
          {"9.Z,\n2.B,\n3.C,\n4.D,\n", "004. 4\r\n          D  \r\n", ""}}},
        {"missing log announced once per disappearance, a new one a new log",
         {{MISSING, "", "open"}, {MISSING, "", ""}, {"1.A,\n", RECORD_1, ""}, {MISSING, "", "open"},
          {"1.A,\n2.B,\n", RECORD_1 + RECORD_2, "restart"}}},
        {"unreadable log announced once, then read",
         {{DIRECTORY, "", "read"}, {DIRECTORY, "", ""}, {MISSING, "", "open"}, {DIRECTORY, "", "read"},
          {"1.A,\n", RECORD_1, ""}}},
    };
    for (const auto& testCase : cases) {
        TempFolder folder;
        const std::string path = folder.File("ndislog.txt");
        TextFormat writer(false);
        LogFollower follower(path, writer);
        for (size_t i = 0; i < testCase.steps.size(); ++i) {
            const Step& step = testCase.steps[i];
            PutLog(path, step);
            RecordingSink sink;
            EXPECT_EQ(FollowResult::Continue, follower.Read(sink));
            EXPECT_EQ(step.output, sink.out) << testCase.name << ", reading " << i + 1;
            EXPECT_EQ(step.notice, sink.notices) << testCase.name << ", reading " << i + 1;
        }
    }
}

// The streamed report, and the records a follower prints while the log grows piece by piece
// (cut anywhere: inside CR LF, inside a long line, across read chunks), add up to the very
// report the builder gives.
TEST(Follow, ReadingsAddUpToTheReport)
{
    std::string large;  // more report than one output piece
    for (int i = 0; large.size() < 3 * OUTPUT_PIECE_SIZE; ++i)
        large += "H" + std::to_string(i) + ".M,0x41424344\r\n";
    const std::string cases[] = {
        "",
        "0012.Call setup,0x4E4E4F43,0x00000010\n1.A,\r\n2.B,0x4E4E4F43\r\n",
        "1.A\rB,0x41424344\r\n1.A,\r\n\x1A" "2.B,\r\n",
        std::string("1.A,\0x\n2.B,\n", 12),
        "1.A," + std::string(1019, 'y') + "2.B,0x41424344" + std::string(467, 'z') + "\n",
        large,
    };
    for (const std::string& log : cases) {
        TempFolder folder;
        const std::string path = folder.File("log.txt");
        WriteFile(path, log);
        const std::string expected = ReportOf(path);

        TextFormat writer(false);
        RecordingSink streamed;
        EXPECT_TRUE(StreamLogReport(path, writer, streamed));
        EXPECT_EQ(expected, streamed.out) << log.substr(0, 40);
        EXPECT_EQ((expected.size() + OUTPUT_PIECE_SIZE - 1) / OUTPUT_PIECE_SIZE, static_cast<size_t>(streamed.writes))
            << log.substr(0, 40);

        LogFollower follower(path, writer);
        RecordingSink followed;
        const size_t stride = log.size() < 200 ? 1 : log.size() / 2 + 1;
        for (size_t cut = 0; cut < log.size() + stride; cut += stride) {
            WriteFile(path, log.substr(0, cut));
            EXPECT_EQ(FollowResult::Continue, follower.Read(followed));
        }
        EXPECT_EQ(expected, followed.out) << log.substr(0, 40);
        EXPECT_EQ("", followed.notices) << log.substr(0, 40);
    }
}

}  // namespace

namespace {

// A state file's body with its check line.
std::string WithCheck(const std::string& body)
{
    char check[40];
    std::snprintf(check, sizeof check, "check %016llx\n",
                  static_cast<unsigned long long>(Fingerprint(FINGERPRINT_START, body.data(), body.size())));
    return body + check;
}

// The saved place moved past the end of the log, to where no seek reaches on most disks.
std::string PastTheEnd(const std::string& text)
{
    FollowPlace place;
    EXPECT_TRUE(ParseStateText(text, &place));
    place.offset = place.last.end = int64_t{1} << 50;
    place.last.start = place.offset - 5;
    return StateText(place);
}

// The same place as a state file of version 1 writes it: no stretch line.
std::string Version1(const std::string& text)
{
    std::string body = text.substr(0, text.find("stretch "));
    body.replace(0, body.find('\n'), "ndislog-follow-state 1");
    return WithCheck(body);
}

TEST(FollowState, TextRoundTripsAndDamageIsRecognised)
{
    // FNV-1a's published value for "a": the fingerprint is the same on every platform.
    EXPECT_EQ(0xAF63DC4C8601EC8Cu, Fingerprint(FINGERPRINT_START, "a", 1));
    const FollowPlace place{"0123456789abcdef", 1234, 42, true, {0, 57, 0x1}, {1200, 1234, 0xFEDCBA9876543210u}, 0x2};
    const std::string text = StateText(place);
    FollowPlace read;
    ASSERT_TRUE(ParseStateText(text, &read)) << text;
    EXPECT_EQ(place, read);
    // Any one byte changed, and any file cut short, is no state.
    for (size_t i = 0; i < text.size(); ++i) {
        std::string changed = text;
        changed[i] = changed[i] == '1' ? '2' : '1';
        EXPECT_FALSE(ParseStateText(changed, &read)) << changed;
        EXPECT_FALSE(ParseStateText(text.substr(0, i), &read)) << i;
    }
    // Whole files, their check right, holding a place no follower writes.
    const std::pair<std::string, std::string> impossible[] = {
        {"last 1200 1234", "last 1200 1000"}, {"next-record 42", "next-record 0"}, {"first 0 57", "first 5 57"},
        {"first 0 57", "first 0 1235"},       {"last 1200 1234", "last 1235 1234"}, {"line-open 1", "line-open 2"},
        {"generation 0123456789abcdef", "generation 0123456789abcdeg"},
    };
    for (const auto& [from, to] : impossible) {
        std::string body = text.substr(0, text.rfind("check "));
        body.replace(body.find(from), from.size(), to);
        EXPECT_FALSE(ParseStateText(WithCheck(body), &read)) << to;
    }
    const int64_t beyondAnyFile = (int64_t{1} << 53) + 1;
    const FollowPlace impossiblePlaces[] = {
        {"0123456789abcdef", 1234, 42, false, {0, 57, 0x1}, {0, 1234, 0x3}},  // from 0, not the first line
        {"0123456789abcdef", 1234, 42, false, {0, 57, 0x1}, {50, 1234, 0x3}},  // inside the first line
        {"0123456789abcdef", 1234, 42, false, {0, 0, 0x1}, {1200, 1234, 0x3}},  // no first line
        {"0123456789abcdef", beyondAnyFile, 42, false, {0, 57, 0x1}, {57, beyondAnyFile, 0x3}},
    };
    for (const FollowPlace& impossiblePlace : impossiblePlaces)
        EXPECT_FALSE(ParseStateText(StateText(impossiblePlace), &read)) << StateText(impossiblePlace);
    EXPECT_NE(NewGeneration(), NewGeneration());
}

// Only a state file that is not there means a first start; one that cannot be read is announced.
TEST(FollowState, LoadTellsMissingFromUnreadable)
{
    TempFolder folder;
    WriteFile(folder.File("file"), "x");
    const std::pair<std::string, StateLoad> cases[] = {
        {folder.File("none"), StateLoad::Missing},
        {folder.File("file/state"), StateLoad::Unusable},  // not a folder
        {folder.File(""), StateLoad::Unusable},            // a folder, opened but not read
    };
    for (const auto& [path, load] : cases) {
        FollowPlace place;
        int error = 0;
        EXPECT_EQ(load, LoadFollowState(path, &place, &error)) << path;
    }
}

// A follower started again with the state file of one before it.
TEST(FollowState, SecondFollowerGoesOnWhereTheFirstStopped)
{
    std::string sameEnds = "1.A,\n", rewrittenBetween = "1.A,\n";
    for (int record = 2; record <= 14; ++record) {
        sameEnds += "2.B,\n";
        rewrittenBetween += "2.X,\n";
    }
    const std::string WHOLE = "<the whole report>";
    using Edit = std::string (*)(const std::string&);
    const struct {
        const char* name;
        std::string before, after;  // the log for the first follower, then for the second
        Edit edit;                  // changes the state file in between; null: kept
        std::string output;         // the second follower's
        std::string notices;
        bool sameGeneration;
    } cases[] = {
        {"appended", "1.A,\n2.B,\n", "1.A,\n2.B,\n3.C,\n", nullptr, "003. 3\r\n          C  \r\n", "", true},
        {"long line finished", "1.A,\n2.B," + LONG_TAIL, "1.A,\n2.B," + LONG_TAIL + "\n3.C,\n", nullptr,
         "003. 3\r\n          C  \r\n", "", true},
        {"rewritten", "1.A,\n2.B,\n", "1.A,\n2.X,\n3.C,\n", nullptr, RECORD_1 + "002. 2\r\n          X  \r\n003. 3\r\n          C  \r\n",
         "restart", false},
        {"rewritten between the same first and last lines", sameEnds + "9.Z,\n", rewrittenBetween + "9.Z,\n", nullptr,
         WHOLE, "restart", false},
        {"damaged state", "1.A,\n", "1.A,\n2.B,\n",
         [](const std::string&) { return std::string("ndislog-follow-state 1\ngeneration 0"); }, RECORD_1 + RECORD_2,
         "state unreadable", false},
        {"place past the end", "1.A,\n", "1.A,\n2.B,\n", PastTheEnd, WHOLE, "restart", false},
        {"version 1, place past the end", "1.A,\n", "1.A,\n2.B,\n",
         [](const std::string& text) { return Version1(PastTheEnd(text)); }, WHOLE, "restart", false},
        {"version 1, nothing new: saved as version 2", "1.A,\n2.B,\n", "1.A,\n2.B,\n", Version1, "", "", true},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        const std::string log = folder.File("ndislog.txt");
        const std::string state = folder.File("state");
        TextFormat format(false);
        RecordingSink first, second, third;
        WriteFile(log, c.before);
        LogFollower before(log, format, state);
        EXPECT_EQ(FollowResult::Continue, before.Read(first)) << c.name;
        WriteFile(log, c.after);
        if (c.edit)
            WriteFile(state, c.edit(ReadFile(state)));
        LogFollower after(log, format, state);
        EXPECT_EQ(FollowResult::Continue, after.Read(second)) << c.name;
        EXPECT_EQ(c.output == WHOLE ? ReportOf(log) : c.output, second.out) << c.name;
        EXPECT_EQ(c.notices, second.notices) << c.name;
        EXPECT_EQ(c.sameGeneration, before.Place().generation == after.Place().generation) << c.name;
        FollowPlace saved;
        EXPECT_TRUE(ParseStateText(ReadFile(state), &saved)) << c.name;
        EXPECT_EQ(after.Place(), saved) << c.name;
        // What was saved is known again: a third follower finds nothing new.
        LogFollower again(log, format, state);
        EXPECT_EQ(FollowResult::Continue, again.Read(third)) << c.name;
        EXPECT_EQ("", third.out + third.notices) << c.name;
    }
}

TEST(FollowState, JsonCarriesTheGeneration)
{
    TempFolder folder;
    const std::string log = folder.File("ndislog.txt");
    JsonFormat format;
    LogFollower follower(log, format, folder.File("state"));
    RecordingSink sink;
    WriteFile(log, "1.A,\n");
    EXPECT_EQ(FollowResult::Continue, follower.Read(sink));
    WriteFile(log, "1.A,\n2.B,\n");
    EXPECT_EQ(FollowResult::Continue, follower.Read(sink));
    const std::string generation = follower.Place().generation;
    EXPECT_EQ("{\"record\":1,\"generation\":\"" + generation + "\",\"head\":\"1\",\"message\":\"A\",\"decoded\":\"\"}\n"
              "{\"record\":2,\"generation\":\"" + generation + "\",\"head\":\"2\",\"message\":\"B\",\"decoded\":\"\"}\n",
              sink.out);
    EXPECT_EQ("", sink.notices);
}

// While the place cannot be saved nothing more goes out; once it can, every record follows
// once, and a restart repeats nothing.
TEST(FollowState, AnUnsavedPlacePausesDeliveryUntilItIsSaved)
{
    for (const int failAt : {1, 2}) {
        TempFolder folder;
        const std::string log = folder.File("ndislog.txt");
        const std::string state = folder.File("state");
        std::string lines;
        for (int i = 0; lines.size() < 3 * OUTPUT_PIECE_SIZE; ++i)
            lines += std::to_string(i) + ".M,\n";
        WriteFile(log, lines);
        TextFormat format(false);
        RecordingSink sink;
        sink.breakSaveAt = failAt;
        sink.stateFile = state;
        LogFollower follower(log, format, state);
        for (int reading = 0; reading < 2; ++reading)
            EXPECT_EQ(FollowResult::Continue, follower.Read(sink)) << failAt;
        EXPECT_EQ(failAt, sink.writes) << "the piece whose place is not saved is the last";
        EXPECT_EQ("state unwritable", sink.notices);
        FollowPlace saved;
        ASSERT_TRUE(ParseStateText(ReadFile(state), &saved));
        EXPECT_LT(saved.offset, follower.Place().offset) << "a restart repeats that piece at most";

        std::filesystem::remove(state + ".new");
        EXPECT_EQ(FollowResult::Continue, follower.Read(sink));
        EXPECT_EQ("state unwritablestate saved again", sink.notices);
        EXPECT_EQ(ReportOf(log), sink.out) << failAt;
        RecordingSink restarted;
        LogFollower again(log, format, state);
        EXPECT_EQ(FollowResult::Continue, again.Read(restarted));
        EXPECT_EQ("", restarted.out + restarted.notices);
    }
}

}  // namespace
