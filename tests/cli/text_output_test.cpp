// Code page 932 to UTF-8, byte for byte.
#include "text_output.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Cp932ToUtf8, ConvertsKnownBytes)
{
    const struct {
        const char* name;
        std::string cp932;
        std::string utf8;
    } cases[] = {
        {"ASCII and CR LF unchanged", "001. C:\\X\r\n  CONN\r\n", "001. C:\\X\r\n  CONN\r\n"},
        {"hiragana a", "\x82\xA0", "\xE3\x81\x82"},
        {"half-width katakana a", "\xB1", "\xEF\xBD\xB1"},
        {"trail byte 0x5C is no backslash", "\x95\x5C", "\xE8\xA1\xA8"},
        {"wave dash of code page 932 is the full-width tilde", "\x81\x60", "\xEF\xBD\x9E"},
        {"NEC special and IBM extension", "\x87\x40\xFA\x40", "\xE2\x91\xA0\xE2\x85\xB0"},
        {"stray bytes", "a\x80" "b\xA0" "c\xFD", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD"},
        {"lead byte at the end", "x\x82", "x\xEF\xBF\xBD"},
        {"lead byte before the line end", "\x82\r\n\x82\xA0", "\xEF\xBF\xBD\r\n\xE3\x81\x82"},
        {"unassigned pair, ASCII second byte kept", "\x85\x40", "\xEF\xBF\xBD@"},
        {"program text", "論理ﾁｬﾈﾙ", reinterpret_cast<const char*>(u8"論理ﾁｬﾈﾙ")},
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(testCase.utf8, Cp932ToUtf8(testCase.cp932)) << testCase.name;
}

}  // namespace
