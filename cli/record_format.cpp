// The text of the report, one numbered line at a time.
#include "record_format.h"

#include "log_report.h"
#include "text_output.h"

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

void TextFormat::Append(int64_t number, const LogRecordParts& parts, std::string* out)
{
    const size_t start = out->size();
    out->resize(start + static_cast<size_t>(NumberedLineLength(number, parts)));
    WriteNumberedLine(number, parts, out->data() + start);
    // Most records are ASCII, which converts to itself.
    const size_t length = out->size() - start;
    if (utf8_ && !IsAscii(out->data() + start, length)) {
        const std::string converted = Cp932ToUtf8(std::string_view(out->data() + start, length));
        out->replace(start, length, converted);
    }
}
