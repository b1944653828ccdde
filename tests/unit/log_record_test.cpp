// Tests of the log record formatter: how one driver log line becomes its two-line record.
#include "log_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const std::string INDENT = "\r\n          ";

std::string Record(const std::string& head, const std::string& message, const std::string& decoded)
{
    return head + INDENT + message + "  " + decoded;
}

std::string Repeat(const std::string& piece, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += piece;
    return text;
}

constexpr int RECORD_GUARD = 64;
constexpr char GUARD_BYTE = '\x7E';

struct Formatted {
    std::string record;
    std::string line;  // the whole line buffer after the call
    // The same line taken apart by SplitLogRecord in a buffer of its own: the record composed
    // from its pieces ("" when it had nothing to show), and that buffer after the split.
    std::string splitRecord;
    std::string splitLine;
};

// Composes a record from the pieces, checking that head and message are the line's own
// bytes, ended there by NUL.
std::string ComposeFromParts(const std::vector<char>& line, const LogRecordParts& parts)
{
    EXPECT_GE(parts.head, line.data());
    EXPECT_LE(parts.message + parts.messageLength, line.data() + line.size());
    EXPECT_EQ('\0', parts.head[parts.headLength]);
    EXPECT_EQ('\0', parts.message[parts.messageLength]);
    EXPECT_EQ(std::strlen(parts.decoded), static_cast<size_t>(parts.decodedLength));
    return std::string(parts.head, static_cast<size_t>(parts.headLength)) + INDENT +
           std::string(parts.message, static_cast<size_t>(parts.messageLength)) + "  " +
           std::string(parts.decoded, static_cast<size_t>(parts.decodedLength));
}

// Formats `text` in a full line buffer. With `garbage`, the bytes after the line's NUL hold
// text that would change the record if the formatter looked at it. The record buffer is
// exactly LOG_RECORD_SIZE bytes followed by guard bytes that must stay untouched.
Formatted FormatInBuffer(const std::string& text, bool garbage)
{
    const std::string pattern = ".,0x41424344,";
    std::vector<char> line(LOG_LINE_SIZE);
    for (int i = 0; i < LOG_LINE_SIZE; ++i)
        line[i] = garbage ? pattern[i % pattern.size()] : '\0';
    std::memcpy(line.data(), text.data(), text.size());
    line[text.size()] = '\0';

    std::vector<char> splitLine = line;

    std::vector<char> record(LOG_RECORD_SIZE + RECORD_GUARD, GUARD_BYTE);
    FormatLogRecord(line.data(), record.data());
    EXPECT_EQ(std::string(RECORD_GUARD, GUARD_BYTE),
              std::string(record.data() + LOG_RECORD_SIZE, RECORD_GUARD))
        << "the record overran its buffer";

    LogRecordParts parts;
    const bool shown = SplitLogRecord(splitLine.data(), &parts);
    return {std::string(record.data()), std::string(line.data(), line.size()),
            shown ? ComposeFromParts(splitLine, parts) : "", std::string(splitLine.data(), splitLine.size())};
}

struct FormatCase {
    const char* name;
    std::string line;
    std::string record;
};

void ExpectRecords(const std::vector<FormatCase>& cases)
{
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LT(c.line.size(), static_cast<size_t>(LOG_LINE_SIZE));
        for (const bool garbage : {false, true}) {
            SCOPED_TRACE(garbage ? "garbage after the NUL" : "zeros after the NUL");
            const Formatted result = FormatInBuffer(c.line, garbage);
            EXPECT_EQ(c.record, result.record);
            // The split behind the record: the same pieces, the same cuts in the line.
            EXPECT_EQ(c.record, result.splitRecord);
            EXPECT_EQ(result.line, result.splitLine);
        }
    }
}

TEST(FormatLogRecord, WorkedExampleRecordAndSplitLine)
{
    const std::string text = "0012.Call setup,0x4E4E4F43,0x00000010\n";
    ASSERT_EQ(38u, text.size());
    const Formatted result = FormatInBuffer(text, false);
    EXPECT_EQ("0012\r\n          Call setup  CONN (00000010)", result.record);
    EXPECT_EQ(43u, result.record.size());
    EXPECT_EQ("0012\0Call setup\0"s "0x4E4E4F43\0"s "0x00000010\n\0"s, result.line.substr(0, 39));
}

TEST(FormatLogRecord, PeriodAndCommaSplitHeadMessageAndFields)
{
    ExpectRecords({
        {"empty line", "", ""},
        {"only LF", "\n", ""},
        {"no period", "noperiod\n", ""},
        {"no comma after the period", "a.nocomma\n", ""},
        {"comma only before the period", "a,b.c\n", ""},
        {"only period and comma", ".,\n", INDENT + "  "},
        {"comma in the head", "H,x.M,0x41424344\n", Record("H,x", "M", "DCBA")},
        {"period in the message", "H.M.N,0x41424344\n", Record("H", "M.N", "DCBA")},
        {"tokens in head and message kept", "0x41424344.0x45464748,\n",
         Record("0x41424344", "0x45464748", "")},
        {"one token then the line end", "0012.Call setup,0x4e4e4f43\n", Record("0012", "Call setup", "CONN")},
        {"other field text dropped", "a.b,xyz 0x41424344 !,q\n", Record("a", "b", "DCBA")},
    });
}

TEST(FormatLogRecord, HexTokens)
{
    ExpectRecords({
        {"lower-case digits", "a.b,0x6a6b6c6d\n", Record("a", "b", "mlkj")},
        {"capital X", "a.b,0X41424344\n", Record("a", "b", "DCBA")},
        {"not printable, case kept", "a.b,0x0000abcd\n", Record("a", "b", " (0000abcd)")},
        {"upper bound 0x7F", "a.b,0x7F7E7D7C\n", Record("a", "b", "\x7C\x7D\x7E\x7F")},
        {"lower bound 0x20", "a.b,0x20202020\n", Record("a", "b", "    ")},
        {"first byte below 0x20", "a.b,0x1F202020\n", Record("a", "b", " (1F202020)")},
        {"last byte below 0x20", "a.b,0x2020201F\n", Record("a", "b", " (2020201F)")},
        {"byte above 0x7F", "a.b,0x41428043\n", Record("a", "b", " (41428043)")},
        {"two tokens in one field", "a.b,0x41424344 0x45464748\n", Record("a", "b", "DCBAHGFE")},
        {"token after a 1", "a.b,10x41424344\n", Record("a", "b", "DCBA")},
        {"token after a 0", "a.b,00x41424344\n", Record("a", "b", "DCBA")},
        {"token inside other text", "a.b,id=0x41424344;\n", Record("a", "b", "DCBA")},
        {"comma inside a token", "a.b,0x1234,0x41424344\n", Record("a", "b", " (1234,0x4)")},
        {"0x inside a token", "a.b,0x0x4142434445\n", Record("a", "b", " (0x414243)")},
        {"low digit no hex digit", "a.b,0x4G42434g\n", Record("a", "b", "@CB@")},
        {"four fields examined", "a.b,0x41424344,0X45464748,0x494a4b4c,0x4D4E4F50,0x51525354\n",
         Record("a", "b", "DCBAHGFELKJIPONM")},
        {"fifth field ignored", "a.b,a,b,c,d,0x41424344\n", Record("a", "b", "")},
    });
}

TEST(FormatLogRecord, TokensCutShortByTheLineEnd)
{
    ExpectRecords({
        {"cut with LF", "T.E,0x12\n", Record("T", "E", " (12\n")},
        {"cut without LF", "T.E,0x12", Record("T", "E", " (12")},
        {"bare 0x", "T.E,0x", Record("T", "E", " (")},
        {"printable lacking d8", "T.E,0x4142434", Record("T", "E", "@CBA")},
        {"printable whose d8 is the LF", "T.E,0x4142434\n", Record("T", "E", "@CBA")},
        {"printable lacking d7 d8", "T.E,0x414243", Record("T", "E", " (414243")},
    });
}

TEST(FormatLogRecord, DecodedTextKeepsOnlyPiecesThatFitWhole)
{
    ExpectRecords({
        {"four not printable", "a.b,0x00000001,0x00000002,0x00000003,0x00000004\n",
         Record("a", "b", " (00000001) (00000002) (00000003)")},
        {"three not printable and one printable",
         "a.b,0x00000001 0x00000002 0x00000003 0x41424344\n",
         Record("a", "b", " (00000001) (00000002) (00000003)DCBA")},
        {"a printable piece after a dropped one",
         "a.b,0x00000001 0x00000002 0x00000003 0x00000004 0x41424344\n",
         Record("a", "b", " (00000001) (00000002) (00000003)DCBA")},
        {"exactly 39 characters", "a.b,0x00000001 0x00000002 0x00000003 0x1234",
         Record("a", "b", " (00000001) (00000002) (00000003) (1234")},
        {"ten printable", "a.b," + Repeat("0x41424344", 10) + "\n", Record("a", "b", Repeat("DCBA", 9))},
    });
}

TEST(FormatLogRecord, LongestLinesStayWithinTheRecordBuffer)
{
    // Three non-printable pieces each add one character to what they consume.
    const std::string widest = "." + std::string(991, 'm') + "," + Repeat("0x00000001", 3);
    const std::string tokens = "a.b," + Repeat("0x00000001", 101) + "0x0000000";
    ASSERT_EQ(1023u, widest.size());
    ASSERT_EQ(1023u, tokens.size());
    ExpectRecords({
        {"widest record", widest, Record("", std::string(991, 'm'), Repeat(" (00000001)", 3))},
        {"a line of tokens", tokens, Record("a", "b", Repeat(" (00000001)", 3))},
    });
    EXPECT_EQ(1038u, FormatInBuffer(widest, false).record.size());
}

TEST(SplitLogRecord, PiecesEndWhereTheRecordSeparatesThem)
{
    const struct {
        const char* line;
        std::string head, message, decoded;
    } cases[] = {
        {"0012.Call setup,0x4E4E4F43,0x00000010\n", "0012", "Call setup", "CONN (00000010)"},
        {"H,x.M.N,0x41424344\n", "H,x", "M.N", "DCBA"},
        {"T.E,0x12\r\n", "T", "E", " (12\r\n"},
        {".,\n", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        char line[LOG_LINE_SIZE] = {};
        std::strcpy(line, c.line);
        LogRecordParts parts;
        ASSERT_TRUE(SplitLogRecord(line, &parts));
        EXPECT_EQ(c.head, std::string(parts.head, static_cast<size_t>(parts.headLength)));
        EXPECT_EQ(c.message, std::string(parts.message, static_cast<size_t>(parts.messageLength)));
        EXPECT_EQ(c.decoded, std::string(parts.decoded, static_cast<size_t>(parts.decodedLength)));
    }
}

TEST(FormatLogRecord, SecondFormatOfTheSameBufferIsEmpty)
{
    for (const char* text : {"0012.Call setup,0x4E4E4F43,0x00000010\n", ".,\n", "a.nocomma\n"}) {
        SCOPED_TRACE(text);
        char line[LOG_LINE_SIZE] = {};
        char record[LOG_RECORD_SIZE];
        std::strcpy(line, text);
        FormatLogRecord(line, record);
        FormatLogRecord(line, record);
        EXPECT_EQ("", std::string(record));
    }
}

TEST(HexPairToByte, DigitsOfEitherCaseAndOtherCharactersAsZero)
{
    const struct {
        const char pair[3];
        unsigned expected;
    } cases[] = {
        {"41", 0x41}, {"7f", 0x7F}, {"7F", 0x7F}, {"aB", 0xAB}, {"fF", 0xFF}, {"09", 0x09},
        {"4G", 0x40}, {"4g", 0x40}, {"4\n", 0x40}, {"4", 0x40}, {"G1", 0x01}, {"@`", 0x00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pair);
        EXPECT_EQ(c.expected, static_cast<unsigned>(HexPairToByte(c.pair)));
    }
}

}  // namespace
