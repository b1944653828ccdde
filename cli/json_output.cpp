// Collectors read these lines with a JSON parser, so every object stays on its line: line
// ends and every other control character inside a text are escaped, never written raw.
#include "json_output.h"

#include "cause_code.h"
#include "cp932_utf8.h"

namespace {

void AppendEscaped(std::string_view utf8, std::string* out)
{
    static constexpr char HEX[] = "0123456789abcdef";
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out->append("\\\""); break;
        case '\\': out->append("\\\\"); break;
        case '\b': out->append("\\b"); break;
        case '\f': out->append("\\f"); break;
        case '\n': out->append("\\n"); break;
        case '\r': out->append("\\r"); break;
        case '\t': out->append("\\t"); break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                out->append("\\u00");
                out->push_back(HEX[byte >> 4]);
                out->push_back(HEX[byte & 0xF]);
            } else {
                out->push_back(c);  // UTF-8 bytes of other characters pass as they are
            }
        }
    }
}

bool NeedsEscape(std::string_view utf8)
{
    for (const char c : utf8) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\\')
            return true;
    }
    return false;
}

// Appends `text` as a JSON string, converted to UTF-8 by `appendUtf8`.
void AppendQuoted(void (*appendUtf8)(std::string_view, std::string*, bool*), std::string_view text,
                  std::string* out, bool* lossy)
{
    out->push_back('"');
    const size_t start = out->size();
    appendUtf8(text, out, lossy);
    // Most texts need no escape; those that do are escaped from a copy of their UTF-8.
    if (NeedsEscape(std::string_view(*out).substr(start))) {
        const std::string utf8 = out->substr(start);
        out->resize(start);
        AppendEscaped(utf8, out);
    }
    out->push_back('"');
}

void AppendCode(uint32_t code, std::string* out)
{
    char digits[CAUSE_CODE_DIGITS_SIZE];
    WriteCauseCode(code, digits);
    out->push_back('"');
    out->append(digits);
    out->push_back('"');
}

}  // namespace

void AppendJsonString(std::string_view cp932, std::string* out, bool* lossy)
{
    AppendQuoted(AppendCp932AsUtf8, cp932, out, lossy);
}

void AppendJsonRecord(int64_t number, std::string_view generation, const LogRecordParts& parts, std::string* out)
{
    bool lossy = false;
    out->append("{\"record\":");
    out->append(std::to_string(number));
    if (!generation.empty()) {
        out->append(",\"generation\":\"");
        out->append(generation);  // hex digits: nothing to escape
        out->push_back('"');
    }
    out->append(",\"head\":");
    AppendJsonString(std::string_view(parts.head, static_cast<size_t>(parts.headLength)), out, &lossy);
    out->append(",\"message\":");
    AppendJsonString(std::string_view(parts.message, static_cast<size_t>(parts.messageLength)), out, &lossy);
    out->append(",\"decoded\":");
    AppendJsonString(std::string_view(parts.decoded, static_cast<size_t>(parts.decodedLength)), out, &lossy);
    if (lossy)
        out->append(",\"lossy\":true");
    out->append("}\n");
}

void JsonFormat::Append(const RecordNumber& number, std::string_view generation, const LogRecordParts& parts,
                        OutputPiece* out)
{
    object_.clear();
    AppendJsonRecord(number.Value(), generation, parts, &object_);
    out->Append(object_);
}

void AppendJsonCause(const CauseEntry& entry, std::string* out)
{
    bool lossy = false;
    out->append("{\"code\":");
    AppendCode(entry.code, out);
    out->append(",\"text\":");
    AppendJsonString(entry.text, out, &lossy);
    if (lossy)
        out->append(",\"lossy\":true");
    out->append("}\n");
}

void AppendJsonLookup(std::string_view input, uint32_t code, const char* text, const char* message,
                      std::string* out)
{
    bool lossy = false;
    out->append("{\"input\":");
    AppendQuoted(AppendArgumentAsUtf8, input, out, &lossy);
    out->append(",\"code\":");
    AppendCode(code, out);
    out->append(",\"text\":");
    if (text)
        AppendJsonString(text, out, &lossy);
    else
        out->append("null");
    out->append(",\"message\":");
    AppendJsonString(message, out, &lossy);
    if (lossy)
        out->append(",\"lossy\":true");
    out->append("}\n");
}
