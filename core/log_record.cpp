// The driver writes "head.message,arg,arg,...": the head and message are shown as they
// stand, and 32-bit hex values in the first four argument fields are decoded, as four
// characters when every byte is printable, otherwise as their digits in parentheses.
#include "log_record.h"

#include <cstring>

namespace {

// Positions 0..LINE_CONTENT_MAX-1 may hold text; the line always ends at or before the last
// byte of the buffer, so nothing past it is ever examined, even for a malformed buffer.
constexpr int LINE_CONTENT_MAX = LOG_LINE_SIZE - 1;
constexpr int ARGUMENT_FIELDS_EXAMINED = 4;
constexpr int HEX_DIGITS = 8;
constexpr int HEX_TOKEN_LENGTH = 2 + HEX_DIGITS;  // "0x" and the digits
constexpr char INDENT[] = "\r\n          ";     // line break and ten spaces
constexpr char GAP[] = "  ";

// The value of every byte as a hex digit, looked up rather than tested: the formatter
// decodes several digits per line. A byte that is no digit reads as 0; the driver never
// writes one there, and 0 is the safe reading.
struct HexDigitTable {
    unsigned char value[256] = {};
    constexpr HexDigitTable()
    {
        for (int c = '0'; c <= '9'; ++c)
            value[c] = static_cast<unsigned char>(c - '0');
        for (int c = 'A'; c <= 'F'; ++c) {
            value[c] = static_cast<unsigned char>(c - 'A' + 10);
            value[c | 0x20] = static_cast<unsigned char>(c - 'A' + 10);  // lower case
        }
    }
};
constexpr HexDigitTable HEX_DIGIT_VALUES;

int HexDigitValue(char c)
{
    return HEX_DIGIT_VALUES.value[static_cast<unsigned char>(c)];
}

// True when d1, d3, d5 and d7 all lie in '2'..'7', so that every byte of the token lies in
// 0x20..0x7F. The four are tested together rather than one by one: which tokens are
// printable follows no pattern a branch could learn.
bool HasPrintableHighDigits(const char* d)
{
    unsigned outside = 0;
    for (int high = 0; high < HEX_DIGITS; high += 2)
        outside |= static_cast<unsigned>(static_cast<unsigned char>(d[high] - '2') > '7' - '2');
    return outside == 0;
}

// Adds one piece to the decoded text; a piece that would not fit whole is dropped, so the
// record stays within its buffer however many tokens a line carries.
void AddDecodedPiece(LogRecordParts* parts, const char* piece, int pieceLength)
{
    if (parts->decodedLength + pieceLength > DECODED_TEXT_MAX)
        return;
    std::memcpy(parts->decoded + parts->decodedLength, piece, static_cast<size_t>(pieceLength));
    parts->decodedLength += pieceLength;
}

// Decodes the hex token whose digits start at `line[digits]`, in a line that ends at
// `end`, and returns how many digits the line holds (HEX_DIGITS unless it ends inside).
int DecodeHexToken(const char* line, int digits, int end, LogRecordParts* parts)
{
    const int available = end - digits < HEX_DIGITS ? end - digits : HEX_DIGITS;

    const char* d = line + digits;  // d[0] is d1 ... d[7] is d8
    // A token cut short before d7 is not printable; one cut after d7 still may be.
    const bool printable = available >= HEX_DIGITS - 1 && HasPrintableHighDigits(d);

    if (printable) {
        // Least significant byte first, as the value lies in memory. A token cut short
        // after d7 has no d8; the pair then reads its end of line as 0.
        char pair[2];
        char bytes[4];
        for (int i = 0; i < 4; ++i) {
            const int high = HEX_DIGITS - 2 - 2 * i;
            pair[0] = d[high];
            pair[1] = high + 1 < available ? d[high + 1] : '\0';
            bytes[i] = static_cast<char>(HexPairToByte(pair));
        }
        AddDecodedPiece(parts, bytes, 4);
    } else {
        char piece[HEX_DIGITS + 3];
        int length = 0;
        piece[length++] = ' ';
        piece[length++] = '(';
        std::memcpy(piece + length, d, static_cast<size_t>(available));
        length += available;
        if (available == HEX_DIGITS)
            piece[length++] = ')';
        AddDecodedPiece(parts, piece, length);
    }
    return available;
}

}  // namespace

unsigned char HexPairToByte(const char* pair)
{
    return static_cast<unsigned char>((HexDigitValue(pair[0]) << 4) | HexDigitValue(pair[1]));
}

bool SplitLogRecord(char* line, LogRecordParts* parts)
{
    // Where the line ends: its NUL, or the last byte of the buffer for a malformed one.
    const char* nul = static_cast<const char*>(std::memchr(line, '\0', LINE_CONTENT_MAX));
    const int end = nul ? static_cast<int>(nul - line) : LINE_CONTENT_MAX;

    // Head: up to the first '.'.
    const char* periodAt = static_cast<const char*>(std::memchr(line, '.', static_cast<size_t>(end)));
    if (!periodAt)
        return false;
    const int period = static_cast<int>(periodAt - line);
    line[period] = '\0';

    // Message: up to the first ',' after the '.'.
    const int messageStart = period + 1;
    const char* commaAt = static_cast<const char*>(
        std::memchr(line + messageStart, ',', static_cast<size_t>(end - messageStart)));
    if (!commaAt)
        return false;
    const int comma = static_cast<int>(commaAt - line);
    line[comma] = '\0';

    parts->head = line;
    parts->headLength = period;
    parts->message = line + messageStart;
    parts->messageLength = comma - messageStart;
    parts->decodedLength = 0;

    // Argument fields: only hex tokens contribute; every other character is dropped.
    int fields = 0;
    int at = comma + 1;
    while (fields < ARGUMENT_FIELDS_EXAMINED && at < end) {
        const char c = line[at];
        if (c == ',') {
            line[at] = '\0';
            ++fields;
            ++at;
        } else if (c == '0' && at + 1 < end && (line[at + 1] == 'x' || line[at + 1] == 'X')) {
            const int digits = DecodeHexToken(line, at + 2, end, parts);
            if (digits < HEX_DIGITS)
                break;  // the line ended inside the token
            at += HEX_TOKEN_LENGTH;
        } else {
            ++at;
        }
    }
    parts->decoded[parts->decodedLength] = '\0';
    return true;
}

int LogRecordLength(const LogRecordParts& parts)
{
    return parts.headLength + static_cast<int>(sizeof INDENT - 1) + parts.messageLength +
           static_cast<int>(sizeof GAP - 1) + parts.decodedLength;
}

char* WriteLogRecord(const LogRecordParts& parts, char* out)
{
    std::memcpy(out, parts.head, static_cast<size_t>(parts.headLength));
    out += parts.headLength;
    std::memcpy(out, INDENT, sizeof INDENT - 1);
    out += sizeof INDENT - 1;
    std::memcpy(out, parts.message, static_cast<size_t>(parts.messageLength));
    out += parts.messageLength;
    std::memcpy(out, GAP, sizeof GAP - 1);
    out += sizeof GAP - 1;
    std::memcpy(out, parts.decoded, static_cast<size_t>(parts.decodedLength));
    return out + parts.decodedLength;
}

void FormatLogRecord(char* line, char* record)
{
    LogRecordParts parts;
    if (!SplitLogRecord(line, &parts)) {
        record[0] = '\0';
        return;
    }
    *WriteLogRecord(parts, record) = '\0';
}
