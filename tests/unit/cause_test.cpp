// Tests of the cause catalogue, the cause code parser and the lookup's messages. Expected
// Japanese texts are written as code page 932 bytes, so a wrong execution charset fails.
#include "cause_catalogue.h"
#include "cause_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <set>
#include <string>

namespace {

#define FOUND_PREFIX "\x97\x9D\x97\x52\x95\x5C\x8E\xA6 : "                      // 理由表示 :
#define UNDEFINED_PREFIX "\x96\xA2\x92\xE8\x8B\x60\x97\x9D\x97\x52\x95\x5C\x8E\xA6 : "  // 未定義理由表示 :
#define NORMAL_END "\x90\xB3\x8F\xED\x8F\x49\x97\xB9"                          // 正常終了
#define NORMAL_CLEARING "\x90\xB3\x8F\xED\x90\xD8\x92\x66"                     // 正常切断
#define UNKNOWN_CAUSE "\x95\x73\x96\xBE\x82\xC8\x97\x9D\x97\x52\x83\x52\x81\x5B\x83\x68"  // 不明な理由コード
#define LAYER2_FAULT "\x83\x8C\x83\x43\x83\x84" "2\x8F\xE1\x8A\x51\x8C\x9F\x8F\x6F"  // レイヤ2障害検出
#define OVER_LIMIT "\x8D\xC5\x91\xE5\x8A\xC7\x97\x9D\x90\x94\x83\x49\x81\x5B\x83\x6F\x81\x5B"  // 最大管理数オーバー
#define LONGEST_ENGLISH \
    "Message not compatible with call state or message type nonexistent or not implemented"

std::string Text(const char* text)
{
    return text ? text : "<null>";
}

// Selects a catalogue column for one test and restores the one in force.
class Language {
public:
    explicit Language(int32_t language) : saved_(CatalogueLanguage) { CatalogueLanguage = language; }
    ~Language() { CatalogueLanguage = saved_; }

private:
    int32_t saved_;
};

TEST(LookupCause, FindsRowsByAllThirtyTwoBits)
{
    EXPECT_EQ(0, CatalogueLanguage) << "the Japanese column is not in force at start";
    const struct {
        int32_t language;
        uint32_t code;
        const char* text;
    } cases[] = {
        {0, 0x0000, NORMAL_END},
        {0, 0x0010, NORMAL_CLEARING},
        {0, 0xFFFF, UNKNOWN_CAUSE},
        {0, 0x0004, "<null>"},
        {0, 0x10010, "<null>"},
        {0, 0xFFFF0010, "<null>"},
        {0, 0x1142, LAYER2_FAULT},
        {0, 0xFF37, LAYER2_FAULT},
        {0, 0xA11F, OVER_LIMIT},
        {0, 0x0120, OVER_LIMIT "(\x8F\x88\x97\x9D\x92\x86)"},  // (処理中)
        {0, 0xFF0A, "\x8A\x84\x82\xE8\x8D\x9E\x82\xDD\x83\x47\x83\x89\x81\x5B(CfgErr:0A)"},
        {0, 0x0220, "\x98\x5F\x97\x9D\xC1\xAC\xC8\xD9\x94\xD4\x8D\x86\x8F\x64\x95\xA1"
                    "(\x94\xAD\x92\x85\x8C\xC4\x95\x73\x89\xC2)"},  // half-width ﾁｬﾈﾙ
        {1, 0x0000, "Normal end"},
        {1, 0xFFFF, "Unknown error"},
        {1, 0x0004, "<null>"},
        {1, 0x0120, "Firmware couldn't control"},
        {1, 0xA11F, "Firmware couldn't control"},
        {1, 0x1142, "Out of order in layer 2"},
        {1, 0xFF37, "Out of order in layer 2"},
        {1, 0xFF24, "Registry Warrning  <SPID>(CfgErr:24)"},
        {7, 0x0062, LONGEST_ENGLISH},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "language " << c.language << ", code 0x" << std::hex << c.code);
        Language language(c.language);
        EXPECT_EQ(std::string(c.text), Text(LookupCause(c.code)));
    }
    EXPECT_EQ(85u, std::strlen(LONGEST_ENGLISH));
}

TEST(CauseCatalogue, ColumnsPairTheSameUniqueCodes)
{
    ASSERT_EQ(178, CAUSE_COUNT);
    ASSERT_EQ(178u, std::size(JapaneseCauses));
    ASSERT_EQ(178u, std::size(EnglishCauses));
    std::set<uint32_t> codes;
    for (int i = 0; i < CAUSE_COUNT; ++i) {
        SCOPED_TRACE(testing::Message() << "row " << i + 1);
        const uint32_t code = JapaneseCauses[i].code;
        EXPECT_EQ(code, EnglishCauses[i].code);
        EXPECT_LE(code, 0xFFFFu);
        EXPECT_TRUE(codes.insert(code).second) << "code 0x" << std::hex << code << " repeated";
        EXPECT_EQ(i == CAUSE_COUNT - 1, code == 0xFFFF) << "0xFFFF must be the last row, and only it";
        for (const unsigned char c : std::string(EnglishCauses[i].text))
            EXPECT_LT(c, 0x80) << EnglishCauses[i].text;
    }
}

TEST(CauseCatalogue, ConfigurationErrorsCarryTheirNumber)
{
    // High byte FF with low byte 00..14 or 20..26; FF37 and FFFF are other kinds of row.
    for (const CauseEntry* column : {JapaneseCauses, EnglishCauses}) {
        int count = 0;
        for (int i = 0; i < CAUSE_COUNT; ++i) {
            const CauseEntry& row = column[i];
            SCOPED_TRACE(testing::Message() << "row " << i + 1 << ": " << row.text);
            const uint32_t low = row.code & 0xFF;
            const bool configuration = (row.code >> 8) == 0xFF && (low <= 0x14 || (low >= 0x20 && low <= 0x26));
            count += configuration;
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "(CfgErr:%02X)", static_cast<unsigned>(low));
            const std::string text = row.text;
            EXPECT_EQ(configuration, text.ends_with(suffix));
            EXPECT_EQ(configuration, text.find("(CfgErr:") != std::string::npos);
        }
        EXPECT_EQ(28, count);
    }
}

TEST(ParseCauseCode, ReadsHexadecimalLikeACConversion)
{
    const struct {
        const char* text;
        bool found;
        uint32_t code;
    } cases[] = {
        {"10", true, 0x10},
        {"  0x1f", true, 0x1F},
        {"\t\n\v\f\r 7", true, 0x7},
        {"1F zz", true, 0x1F},
        {"ff00", true, 0xFF00},
        {"FFFF", true, 0xFFFF},
        {"4", true, 0x4},
        {"1001F", true, 0x1001F},
        {"123456789", true, 0x23456789},
        {"-1", true, 0xFFFFFFFF},
        {"-0x10", true, 0xFFFFFFF0},
        {"+1f", true, 0x1F},
        {"0X1F", true, 0x1F},
        {"0", true, 0x0},
        {"00x1", true, 0x0},
        {"0x0x5", true, 0x0},
        {"0x", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"-0x", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"zz", false, 0},
        {"x1", false, 0},
        {"+-1", false, 0},
        {"- 1", false, 0},
    };
    const uint32_t untouched = 0xDEADBEEF;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.text << '"');
        uint32_t code = untouched;
        EXPECT_EQ(c.found, ParseCauseCode(c.text, &code));
        EXPECT_EQ(c.found ? c.code : untouched, code);
        EXPECT_EQ(c.found ? c.code : 0xFFFFu, CauseCodeFromText(c.text));
    }
}

TEST(ComposeCauseMessage, FoundAndUndefinedMessagesAsBytes)
{
    const struct {
        const char* entry;
        const char* message;
    } cases[] = {
        {"10", FOUND_PREFIX NORMAL_CLEARING},
        {"  0x1f", FOUND_PREFIX "\x82\xBB\x82\xCC\x91\xBC\x82\xCC\x90\xB3\x8F\xED\x83\x4E\x83\x89\x83\x58"},
        {"ff00", FOUND_PREFIX "\x83\x54\x83\x7C\x81\x5B\x83\x67\x82\xB5\x82\xC4\x82\xA2\x82\xC8\x82\xA2\x83\x7B"
                              "\x81\x5B\x83\x68\x83\x5E\x83\x43\x83\x76(CfgErr:00)"},
        {"FFFF", FOUND_PREFIX UNKNOWN_CAUSE},
        {"", FOUND_PREFIX UNKNOWN_CAUSE},
        {"zz", FOUND_PREFIX UNKNOWN_CAUSE},
        {"4", UNDEFINED_PREFIX "CODE=0004h"},
        {"1001F", UNDEFINED_PREFIX "CODE=1001Fh"},
        {"123456789", UNDEFINED_PREFIX "CODE=23456789h"},
        {"-1", UNDEFINED_PREFIX "CODE=FFFFFFFFh"},
        {"abc", UNDEFINED_PREFIX "CODE=0ABCh"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.entry << '"');
        char message[CAUSE_MESSAGE_SIZE];
        ComposeCauseMessage(CauseCodeFromText(c.entry), message, sizeof message);
        EXPECT_EQ(std::string(c.message), std::string(message));
    }
}

TEST(ComposeCauseMessage, EveryRowIsFoundAndItsMessageFitsWhole)
{
    for (int32_t language : {0, 1}) {
        Language selected(language);
        const CauseEntry* column = language == 0 ? JapaneseCauses : EnglishCauses;
        size_t longest = 0;
        for (int i = 0; i < CAUSE_COUNT; ++i) {
            SCOPED_TRACE(testing::Message() << "language " << language << ", row " << i + 1);
            EXPECT_EQ(column[i].text, LookupCause(column[i].code));
            char message[CAUSE_MESSAGE_SIZE];
            ComposeCauseMessage(column[i].code, message, sizeof message);
            EXPECT_EQ(FOUND_PREFIX + std::string(column[i].text), std::string(message));
            longest = std::max(longest, std::strlen(message));
        }
        EXPECT_EQ(language == 0 ? 64u : 96u, longest) << "language " << language;
    }
}

}  // namespace
