// The platform converts each character (platform.h); splitting into characters is done here,
// so every platform treats broken bytes alike. Of the single bytes, the five that Windows maps
// beyond the JIS table are mapped here, as not every CP932 table has them.
#include "cp932_utf8.h"

#include "platform.h"

namespace {

constexpr const char REPLACEMENT[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool IsLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsTrailByte(unsigned char c)
{
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

bool IsSingleByte(unsigned char c)
{
    return c < 0x80 || (c >= 0xA1 && c <= 0xDF);  // ASCII and half-width katakana
}

// The UTF-8 of the single bytes that Windows maps outside the JIS table; null for others.
const char* WindowsOnlySingleByte(unsigned char c)
{
    switch (c) {
    case 0x80: return "\xC2\x80";      // U+0080
    case 0xA0: return "\xEF\xA3\xB0";  // U+F8F0
    case 0xFD: return "\xEF\xA3\xB1";  // U+F8F1
    case 0xFE: return "\xEF\xA3\xB2";  // U+F8F2
    case 0xFF: return "\xEF\xA3\xB3";  // U+F8F3
    default: return nullptr;
    }
}

// Bytes of the valid UTF-8 character that `text` starts with; 0 when it starts none (a
// stray or cut byte, an overlong form, a surrogate, a value past U+10FFFF).
size_t Utf8CharacterSize(std::string_view text)
{
    const unsigned char lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80)
        return 1;
    const size_t size = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (size == 0 || lead > 0xF4 || text.size() < size)
        return 0;
    char32_t value = lead & (0x7F >> size);
    for (size_t i = 1; i < size; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (next & 0x3F);
    }
    static constexpr char32_t LEAST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < LEAST[size] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return size;
}

// Appends `text` as UTF-8 where it is valid; each byte that starts no valid character
// becomes U+FFFD and sets `*lossy`.
void AppendCheckedUtf8(std::string_view text, std::string* out, bool* lossy)
{
    for (size_t at = 0; at < text.size();) {
        const size_t size = Utf8CharacterSize(text.substr(at));
        if (size == 0) {
            out->append(REPLACEMENT);
            *lossy = true;
            ++at;
        } else {
            out->append(text.substr(at, size));
            at += size;
        }
    }
}

}  // namespace

std::string Cp932ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    bool lossy = false;
    AppendCp932AsUtf8(text, &out, &lossy);
    return out;
}

void AppendCp932AsUtf8(std::string_view text, std::string* out, bool* lossy)
{
    size_t at = 0;
    while (at < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            out->push_back(static_cast<char>(c));
            ++at;
            continue;
        }
        if (const char* utf8 = WindowsOnlySingleByte(c)) {
            out->append(utf8);
            ++at;
            continue;
        }
        int size = 0;
        if (IsSingleByte(c))
            size = 1;
        else if (IsLeadByte(c) && at + 1 < text.size() && IsTrailByte(static_cast<unsigned char>(text[at + 1])))
            size = 2;
        if (size == 0) {
            // A lead byte whose follower cannot end a pair: only the lead byte is given up,
            // the next may start a character of its own.
            out->append(REPLACEMENT);
            *lossy = true;
            size = 1;
        } else if (!AppendCp932CharacterAsUtf8(text.data() + at, size, out)) {
            out->append(REPLACEMENT);
            *lossy = true;
            // An unassigned pair is given up whole, unless its second byte is ASCII text.
            if (size == 2 && static_cast<unsigned char>(text[at + 1]) < 0x80)
                size = 1;
        }
        at += static_cast<size_t>(size);
    }
}

void AppendArgumentAsUtf8(std::string_view argument, std::string* out, bool* lossy)
{
    if (!AppendAnsiAsUtf8(argument, out))
        AppendCheckedUtf8(argument, out, lossy);
}
