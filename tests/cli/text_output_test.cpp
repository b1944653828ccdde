// Code page 932 to UTF-8, byte for byte.
#include "text_output.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// A UTF-8 literal of the test source as plain bytes (plain literals here are code page 932).
std::string Utf8(const char8_t* text)
{
    return std::string(reinterpret_cast<const char*>(text));
}

TEST(Cp932ToUtf8, ConvertsKnownBytes)
{
    const struct {
        const char* name;
        std::string cp932;
        std::string utf8;
    } cases[] = {
        {"ASCII and CR LF unchanged", "001. 0012\r\n  CONN (00000010)\r\n", "001. 0012\r\n  CONN (00000010)\r\n"},
        {"hiragana a", "\x82\xA0", "\xE3\x81\x82"},
        {"half-width katakana a", "\xB1", "\xEF\xBD\xB1"},
        {"trail byte 0x5C is no backslash", "\x95\x5C", "\xE8\xA1\xA8"},
        {"backslash stays backslash", "C:\\WINDOWS", "C:\\WINDOWS"},
        {"code page 932 wave dash is the full-width tilde", "\x81\x60", "\xEF\xBD\x9E"},
        {"NEC special: circled one", "\x87\x40", "\xE2\x91\xA0"},
        {"IBM extension: small roman one", "\xFA\x40", "\xE2\x85\xB0"},
        {"stray bytes 0x80, 0xA0 and 0xFD", "a\x80" "b\xA0" "c\xFD", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD"},
        {"lead byte at the end", "x\x82", "x\xEF\xBF\xBD"},
        {"lead byte before a blank", "\x82 (", "\xEF\xBF\xBD (" },
        {"lead byte before the line end", "\x82\r\n\x82\xA0", "\xEF\xBF\xBD\r\n\xE3\x81\x82"},
        {"lead byte before a lead byte makes a pair", "\x82\x82", "\xEF\xBD\x82"},
        {"unassigned pair, ASCII second byte kept", "\x85\x40", "\xEF\xBF\xBD@"},
        {"the program's no-memory text", "メモリがありません", Utf8(u8"メモリがありません")},
        {"catalogue text with half-width katakana", "論理ﾁｬﾈﾙ番号重複(発着呼不可)",
         Utf8(u8"論理ﾁｬﾈﾙ番号重複(発着呼不可)")},
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(testCase.utf8, Cp932ToUtf8(testCase.cp932)) << testCase.name;
}

TEST(WriteText, WritesExactOrConvertedBytes)
{
    const std::string text = "\x82\xA0\r\n";
    const struct {
        bool utf8;
        std::string expected;
    } cases[] = {{false, "\x82\xA0\r\n"}, {true, "\xE3\x81\x82\r\n"}};
    for (const auto& testCase : cases) {
        std::FILE* stream = std::tmpfile();
        ASSERT_NE(stream, nullptr);
        EXPECT_TRUE(WriteText(stream, text, testCase.utf8));
        std::rewind(stream);
        char buffer[16] = {};
        const size_t count = std::fread(buffer, 1, sizeof buffer, stream);
        std::fclose(stream);
        EXPECT_EQ(testCase.expected, std::string(buffer, count)) << "utf8 " << testCase.utf8;
    }
}

}  // namespace
