// JSON Lines: texts converted to UTF-8 and escaped, records and cause codes as whole lines.
#include "json_output.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "report_text.h"

namespace {

using namespace std::string_literals;

TEST(JsonString, ConvertsAndEscapes)
{
    const struct {
        const char* name;
        std::string cp932;
        std::string json;
        bool lossy;
    } cases[] = {
        {"plain ASCII", "Call setup", "\"Call setup\"", false},
        {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\"", false},
        {"DEL alone", "a\x7F", "\"a\\u007f\"", false},
        {"short escapes", "\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\"", false},
        {"other controls, NUL and DEL", "\x01\x1F\x7F" "\0x"s, "\"\\u0001\\u001f\\u007f\\u0000x\"", false},
        {"Japanese", "回線切断", Utf8(u8"\"回線切断\""), false},
        {"trail byte 0x5C is no backslash", "\x95\x5C", Utf8(u8"\"表\""), false},
        {"half-width katakana", "ﾁｬﾈﾙ", Utf8(u8"\"ﾁｬﾈﾙ\""), false},
        {"unassigned pair", "a\x82z", "\"a\xEF\xBF\xBDz\"", true},
        {"lead byte before a quote", "\x82\"", "\"\xEF\xBF\xBD\\\"\"", true},
        {"empty", "", "\"\"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = "[";
        bool lossy = false;
        AppendJsonString(c.cp932, &out, &lossy);
        EXPECT_EQ("[" + c.json, out);
        EXPECT_EQ(c.lossy, lossy);
    }
}

// Splits `text` as the report does and writes it as record `number`.
std::string RecordLine(int number, const std::string& text)
{
    char line[LOG_LINE_SIZE] = {};
    std::memcpy(line, text.data(), text.size());
    LogRecordParts parts;
    EXPECT_TRUE(SplitLogRecord(line, &parts)) << text;
    std::string out;
    AppendJsonRecord(number, "", parts, &out);
    return out;
}

TEST(JsonRecord, OneLinePerRecordFromTheSplit)
{
    EXPECT_EQ("{\"record\":1,\"head\":\"0012\",\"message\":\"Call setup\",\"decoded\":\"CONN (00000010)\"}\n",
              RecordLine(1, "0012.Call setup,0x4E4E4F43,0x00000010\r\n"));
    // A value cut short by the line end keeps the line end in its piece.
    EXPECT_EQ("{\"record\":1000,\"head\":\"T\",\"message\":\"E\",\"decoded\":\" (12\\r\\n\"}\n",
              RecordLine(1000, "T.E,0x12\r\n"));
    // A printable value may hold a quote, a backslash or DEL.
    EXPECT_EQ("{\"record\":2,\"head\":\"\",\"message\":\"\",\"decoded\":\"\\\"\\\\\\u007f \"}\n",
              RecordLine(2, ".,0x207F5C22\n"));
    EXPECT_EQ(Utf8(u8"{\"record\":3,\"head\":\"0017\",\"message\":\"回線切断\",\"decoded\":\"DISC\"}\n"),
              RecordLine(3, "0017.回線切断,0x43534944\n"));
    // Any of the three texts losing a byte marks the record.
    EXPECT_EQ("{\"record\":4,\"head\":\"\xEF\xBF\xBD\",\"message\":\"m\",\"decoded\":\"\",\"lossy\":true}\n",
              RecordLine(4, "\x82.m,\n"));
    EXPECT_EQ("{\"record\":5,\"head\":\"h\",\"message\":\"m\",\"decoded\":\" (\xEF\xBF\xBD" "1234567)\",\"lossy\":true}\n",
              RecordLine(5, "h.m,0x\x82" "1234567\n"));
}

TEST(JsonCause, RowsAndLookups)
{
    std::string out;
    AppendJsonCause(JapaneseCauses[0], &out);
    AppendJsonCause(EnglishCauses[CAUSE_COUNT - 1], &out);
    AppendJsonLookup("10", 0x10, "正常切断", "理由表示 : 正常切断", &out);
    AppendJsonLookup("-1", 0xFFFFFFFF, nullptr, "未定義理由表示 : CODE=FFFFFFFFh", &out);
    EXPECT_EQ(Utf8(u8"{\"code\":\"0000\",\"text\":\"正常終了\"}\n"
                   u8"{\"code\":\"FFFF\",\"text\":\"Unknown error\"}\n"
                   u8"{\"input\":\"10\",\"code\":\"0010\",\"text\":\"正常切断\",\"message\":\"理由表示 : 正常切断\"}\n"
                   u8"{\"input\":\"-1\",\"code\":\"FFFFFFFF\",\"text\":null,"
                   u8"\"message\":\"未定義理由表示 : CODE=FFFFFFFFh\"}\n"),
              out);
}

TEST(JsonCause, WholeCatalogueConvertsWithoutLoss)
{
    for (const CauseEntry* column : {JapaneseCauses, EnglishCauses}) {
        for (int i = 0; i < CAUSE_COUNT; ++i) {
            std::string out;
            bool lossy = false;
            AppendJsonString(column[i].text, &out, &lossy);
            EXPECT_FALSE(lossy) << "row " << i << ": " << out;
        }
    }
}

}  // namespace
