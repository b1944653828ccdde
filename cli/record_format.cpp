// The text of the report, one numbered line at a time.
#include "record_format.h"

#include "cp932_utf8.h"

namespace {

bool IsAscii(const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    }
    return true;
}

}  // namespace

void TextFormat::Append(const RecordNumber& number, std::string_view, const LogRecordParts& parts, OutputPiece* out)
{
    const size_t length = static_cast<size_t>(NumberedLineLength(number, parts));
    char* line = out->Room(length);
    WriteNumberedLine(number, parts, line);
    // Most records are ASCII, which converts to itself.
    if (utf8_ && !IsAscii(line, length))
        out->Append(Cp932ToUtf8(std::string_view(line, length)));
    else
        out->Grow(length);
}
