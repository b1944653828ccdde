// The text of the report, one numbered line at a time.
#include "record_writer.h"

#include <charconv>
#include <cstring>

#include "cp932_utf8.h"

namespace {

// Every record number has at least this many digits, zero-padded.
constexpr int NUMBER_DIGITS_MIN = 3;

bool IsAscii(const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    }
    return true;
}

}  // namespace

bool TextRecordWriter::Write(char* line, int64_t number, std::string* out)
{
    FormatLogRecord(line, record_);
    if (record_[0] == '\0')
        return false;
    char digits[24];
    const size_t count = static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, number).ptr - digits);
    if (count < NUMBER_DIGITS_MIN)
        out->append(NUMBER_DIGITS_MIN - count, '0');
    out->append(digits, count);
    out->append(". ");
    const size_t length = std::strlen(record_);
    // Most records are ASCII, which converts to itself.
    if (utf8_ && !IsAscii(record_, length))
        out->append(Cp932ToUtf8(std::string_view(record_, length)));
    else
        out->append(record_, length);
    out->append("\r\n");
    return true;
}
