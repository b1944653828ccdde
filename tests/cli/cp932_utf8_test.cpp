// Code page 932 to UTF-8, byte for byte.
#include "cp932_utf8.h"

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
        {"single bytes Windows maps beyond the JIS table", "a\x80" "b\xA0" "c\xFD\xFE\xFF",
         "a\xC2\x80" "b\xEF\xA3\xB0" "c\xEF\xA3\xB1\xEF\xA3\xB2\xEF\xA3\xB3"},
        {"lead byte before 0xFD", "\x81\xFD", "\xEF\xBF\xBD\xEF\xA3\xB1"},
        {"user-defined area", "\xF0\x40\xF9\xFC", "\xEE\x80\x80\xEE\x9D\x97"},
        {"last lead byte, last half-width katakana", "\xFC\x4B\xDF", "\xE9\xBB\x91\xEF\xBE\x9F"},
        {"lead byte at the end", "x\x82", "x\xEF\xBF\xBD"},
        {"lead byte before the line end", "\x82\r\n\x82\xA0", "\xEF\xBF\xBD\r\n\xE3\x81\x82"},
        {"unassigned pair, ASCII second byte kept", "\x85\x40", "\xEF\xBF\xBD@"},
        {"program text", "論理ﾁｬﾈﾙ", reinterpret_cast<const char*>(u8"論理ﾁｬﾈﾙ")},
    };
    for (const auto& testCase : cases)
        EXPECT_EQ(testCase.utf8, Cp932ToUtf8(testCase.cp932)) << testCase.name;
}

#ifndef _WIN32
TEST(ArgumentAsUtf8, KeepsValidUtf8AndReplacesEachBadByte)
{
    const struct {
        const char* name;
        std::string argument;
        std::string utf8;
    } cases[] = {
        {"Japanese and a four-byte character", "\xE3\x83\xAD\xF0\x9F\x98\x80", "\xE3\x83\xAD\xF0\x9F\x98\x80"},
        {"code page 932 bytes", "\x83\x8D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"no lead byte past F4", "\xF8\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"cut at the end", "a\xE3\x83", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        std::string out;
        bool lossy = false;
        AppendArgumentAsUtf8(c.argument, &out, &lossy);
        EXPECT_EQ(c.utf8, out) << c.name;
        EXPECT_EQ(c.utf8 != c.argument, lossy) << c.name;
    }
}
#endif

}  // namespace
