// The platform converts each character: iconv on POSIX, MultiByteToWideChar and
// WideCharToMultiByte on Windows. Splitting into characters is done here, so both
// platforms treat broken bytes alike.
#include "text_output.h"

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
        int size = 0;
        if (IsSingleByte(c))
            size = 1;
        else if (IsLeadByte(c) && at + 1 < text.size() && IsTrailByte(static_cast<unsigned char>(text[at + 1])))
            size = 2;
        if (size == 0) {
            // A stray byte, or a lead byte whose follower cannot end a pair: only the first
            // byte is given up, the next may start a character of its own.
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
