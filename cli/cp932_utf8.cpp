// The platform converts each character: iconv on POSIX, MultiByteToWideChar and
// WideCharToMultiByte on Windows. Splitting into characters is done here, so both
// platforms treat broken bytes alike. iconv's CP932 gives every pair what Windows gives it
// (as does Python's 'cp932' codec); of the single bytes it lacks the five that Windows maps
// beyond the JIS table, so those are mapped here.
#include "cp932_utf8.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <iconv.h>
#endif

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

#ifdef _WIN32

constexpr unsigned int CP932 = 932;

class CharacterConverter {
public:
    // Appends the UTF-8 form of one character of 1 or 2 bytes; false when it has none.
    bool Append(const char* character, int size, std::string* out)
    {
        wchar_t wide[2];
        const int wideCount = MultiByteToWideChar(CP932, MB_ERR_INVALID_CHARS, character, size, wide, 2);
        if (wideCount <= 0)
            return false;
        char utf8[8];
        const int count = WideCharToMultiByte(CP_UTF8, 0, wide, wideCount, utf8, sizeof utf8, nullptr, nullptr);
        if (count <= 0)
            return false;
        out->append(utf8, static_cast<size_t>(count));
        return true;
    }
};

#else

class CharacterConverter {
public:
    CharacterConverter() : handle_(iconv_open("UTF-8", "CP932")) {}
    ~CharacterConverter()
    {
        if (handle_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(handle_);
    }
    CharacterConverter(const CharacterConverter&) = delete;
    CharacterConverter& operator=(const CharacterConverter&) = delete;

    bool Append(const char* character, int size, std::string* out)
    {
        if (handle_ == reinterpret_cast<iconv_t>(-1))
            return false;
        char in[2] = {character[0], size > 1 ? character[1] : '\0'};
        char utf8[8];
        char* inAt = in;
        size_t inLeft = static_cast<size_t>(size);
        char* outAt = utf8;
        size_t outLeft = sizeof utf8;
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(handle_, &inAt, &inLeft, &outAt, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
            return false;
        out->append(utf8, static_cast<size_t>(outAt - utf8));
        return true;
    }

private:
    iconv_t handle_;
};

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

#endif

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
    // One converter for the whole run (the companion has one thread): JSON output converts
    // three pieces of every record.
    static CharacterConverter converter;
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
        } else if (!converter.Append(text.data() + at, size, out)) {
            out->append(REPLACEMENT);
            *lossy = true;
            // An unassigned pair is given up whole, unless its second byte is ASCII text.
            if (size == 2 && static_cast<unsigned char>(text[at + 1]) < 0x80)
                size = 1;
        }
        at += static_cast<size_t>(size);
    }
}

#ifdef _WIN32

// The runtime made the arguments from the wide command line, so they hold no invalid bytes:
// what the ANSI code page lacks is already '?'.
void AppendArgumentAsUtf8(std::string_view argument, std::string* out, bool*)
{
    const int size = static_cast<int>(argument.size());
    std::wstring wide(argument.size(), L'\0');  // never more UTF-16 units than bytes
    const int wideCount = MultiByteToWideChar(CP_ACP, 0, argument.data(), size, wide.data(), size);
    const size_t start = out->size();
    out->resize(start + static_cast<size_t>(wideCount) * 3);  // at most 3 bytes a unit
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideCount, out->data() + start,
                                          wideCount * 3, nullptr, nullptr);
    out->resize(start + static_cast<size_t>(count));
}

#else

void AppendArgumentAsUtf8(std::string_view argument, std::string* out, bool* lossy)
{
    for (size_t at = 0; at < argument.size();) {
        const size_t size = Utf8CharacterSize(argument.substr(at));
        if (size == 0) {
            out->append(REPLACEMENT);
            *lossy = true;
            ++at;
        } else {
            out->append(argument.substr(at, size));
            at += size;
        }
    }
}

#endif

bool WriteText(std::FILE* stream, std::string_view text, bool utf8)
{
    if (utf8) {
        const std::string converted = Cp932ToUtf8(text);
        return std::fwrite(converted.data(), 1, converted.size(), stream) == converted.size();
    }
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

void SetBinaryMode(std::FILE* stream)
{
#ifdef _WIN32
    _setmode(_fileno(stream), _O_BINARY);
#else
    static_cast<void>(stream);
#endif
}
