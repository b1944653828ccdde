// Feeds any bytes to the cause lookup as the text typed into its field (cut to 29
// characters as the field is read) and checks the parsed code against the C library's
// own hexadecimal conversion and the composed message against the catalogue.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cause_catalogue.h"
#include "cause_code.h"
#include "fuzz_check.h"

namespace {

// The same literals as the lookup's; clang keeps them in UTF-8 on both sides.
constexpr char FOUND_PREFIX[] = "理由表示 : ";
constexpr char UNDEFINED_PREFIX[] = "未定義理由表示 : CODE=";
constexpr uint32_t UNTOUCHED = 0xA5A5A5A5;

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char entry[CODE_TEXT_SIZE];
    const size_t taken = size < CODE_TEXT_MAX - 1 ? size : CODE_TEXT_MAX - 1;
    std::memcpy(entry, data, taken);
    entry[taken] = '\0';

    uint32_t code = UNTOUCHED;
    const bool found = ParseCauseCode(entry, &code);

    // strtoull reads the same syntax; it differs only on a bare "0x", which it takes as
    // the number 0 and the lookup as no number, and it clamps where the lookup wraps.
    errno = 0;
    char* end = nullptr;
    const unsigned long long reference = std::strtoull(entry, &end, 16);
    if (!found) {
        FUZZ_REQUIRE_EQ(UNTOUCHED, code);
        FUZZ_REQUIRE_EQ(0, reference);
        FUZZ_REQUIRE_EQ(UNKNOWN_CAUSE_CODE, CauseCodeFromText(entry));
    } else {
        FUZZ_REQUIRE(end != entry);
        if (errno != ERANGE)
            FUZZ_REQUIRE_EQ(static_cast<uint32_t>(reference), code);
        FUZZ_REQUIRE_EQ(code, CauseCodeFromText(entry));
    }

    const uint32_t looked = CauseCodeFromText(entry);
    std::unique_ptr<char[]> message(new char[CAUSE_MESSAGE_SIZE]);
    std::memset(message.get(), 0xA5, CAUSE_MESSAGE_SIZE);
    ComposeCauseMessage(looked, message.get(), CAUSE_MESSAGE_SIZE);
    const void* terminator = std::memchr(message.get(), '\0', CAUSE_MESSAGE_SIZE);
    FUZZ_REQUIRE(terminator != nullptr);

    if (const char* text = LookupCause(looked)) {
        FUZZ_REQUIRE(StartsWith(message.get(), FOUND_PREFIX));
        const char* rest = message.get() + sizeof FOUND_PREFIX - 1;
        FUZZ_REQUIRE_BYTES(text, std::strlen(text), rest, std::strlen(rest));
    } else {
        FUZZ_REQUIRE(StartsWith(message.get(), UNDEFINED_PREFIX));
        char digits[16];
        const int length = std::snprintf(digits, sizeof digits, "%04Xh", static_cast<unsigned>(looked));
        const char* rest = message.get() + sizeof UNDEFINED_PREFIX - 1;
        FUZZ_REQUIRE_BYTES(digits, static_cast<size_t>(length), rest, std::strlen(rest));
    }
    return 0;
}
