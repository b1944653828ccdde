// Code page 932 and the ANSI code page through Windows' own tables.
#include "platform.h"

#include <windows.h>

namespace {

constexpr unsigned int CP932 = 932;
constexpr int UTF8_BYTES_PER_UNIT_MAX = 3;

}  // namespace

bool AppendCp932CharacterAsUtf8(const char* character, int size, std::string* out)
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

// The runtime made the arguments from the wide command line, so they hold no invalid bytes:
// what the ANSI code page lacks is already '?'.
bool AppendAnsiAsUtf8(std::string_view text, std::string* out)
{
    const int size = static_cast<int>(text.size());
    std::wstring wide(text.size(), L'\0');  // never more UTF-16 units than bytes
    const int wideCount = MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), size);
    const size_t start = out->size();
    out->resize(start + static_cast<size_t>(wideCount) * UTF8_BYTES_PER_UNIT_MAX);
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideCount, out->data() + start,
                                          wideCount * UTF8_BYTES_PER_UNIT_MAX, nullptr, nullptr);
    out->resize(start + static_cast<size_t>(count));
    return true;
}
