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

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const char upper = static_cast<char>(c & ~0x20);
    if (upper >= 'A' && upper <= 'F')
        return upper - 'A' + 10;
    return 0;  // not a digit: the driver never writes one here, and 0 is the safe reading
}

bool IsPrintableHighDigit(char c)
{
    return c >= '2' && c <= '7';
}

// Collects the pieces of the decoded text; a piece that would not fit whole is dropped,
// so the record stays within its buffer however many tokens a line carries.
struct DecodedText {
    char text[DECODED_TEXT_MAX + 1];
    int length = 0;

    bool Fits(int pieceLength) const { return length + pieceLength <= DECODED_TEXT_MAX; }
    void Add(const char* piece, int pieceLength)
    {
        if (!Fits(pieceLength))
            return;
        std::memcpy(text + length, piece, static_cast<size_t>(pieceLength));
        length += pieceLength;
    }
};

// Decodes the hex token whose digits start at `line[digits]` and returns how many digits
// the line holds before its end (HEX_DIGITS unless the line ends inside the token).
int DecodeHexToken(const char* line, int digits, DecodedText* decoded)
{
    int available = 0;
    while (available < HEX_DIGITS && digits + available < LINE_CONTENT_MAX &&
           line[digits + available] != '\0')
        ++available;

    const char* d = line + digits;  // d[0] is d1 ... d[7] is d8
    bool printable = true;
    for (int high = 0; high < HEX_DIGITS; high += 2) {
        if (high >= available || !IsPrintableHighDigit(d[high])) {
            printable = false;
            break;
        }
    }

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
        decoded->Add(bytes, 4);
    } else {
        char piece[HEX_DIGITS + 3];
        int length = 0;
        piece[length++] = ' ';
        piece[length++] = '(';
        std::memcpy(piece + length, d, static_cast<size_t>(available));
        length += available;
        if (available == HEX_DIGITS)
            piece[length++] = ')';
        decoded->Add(piece, length);
    }
    return available;
}

}  // namespace

unsigned char HexPairToByte(const char* pair)
{
    return static_cast<unsigned char>((HexDigitValue(pair[0]) << 4) | HexDigitValue(pair[1]));
}

void FormatLogRecord(char* line, char* record)
{
    record[0] = '\0';

    // Head: up to the first '.'.
    int period = 0;
    while (period < LINE_CONTENT_MAX && line[period] != '.') {
        if (line[period] == '\0')
            return;
        ++period;
    }
    if (period == LINE_CONTENT_MAX)
        return;
    line[period] = '\0';
    char* out = record;
    std::memcpy(out, line, static_cast<size_t>(period));
    out += period;
    std::memcpy(out, INDENT, sizeof INDENT - 1);
    out += sizeof INDENT - 1;

    // Message: up to the first ',' after the '.'.
    const int messageStart = period + 1;
    int comma = messageStart;
    while (comma < LINE_CONTENT_MAX && line[comma] != ',') {
        if (line[comma] == '\0') {
            record[0] = '\0';
            return;
        }
        ++comma;
    }
    if (comma == LINE_CONTENT_MAX) {
        record[0] = '\0';
        return;
    }
    line[comma] = '\0';
    std::memcpy(out, line + messageStart, static_cast<size_t>(comma - messageStart));
    out += comma - messageStart;
    std::memcpy(out, GAP, sizeof GAP - 1);
    out += sizeof GAP - 1;

    // Argument fields: only hex tokens contribute; every other character is dropped.
    DecodedText decoded;
    int fields = 0;
    int at = comma + 1;
    while (fields < ARGUMENT_FIELDS_EXAMINED && at < LINE_CONTENT_MAX) {
        const char c = line[at];
        if (c == '\0')
            break;
        if (c == ',') {
            line[at] = '\0';
            ++fields;
            ++at;
        } else if (c == '0' && at + 1 < LINE_CONTENT_MAX && (line[at + 1] == 'x' || line[at + 1] == 'X')) {
            const int digits = DecodeHexToken(line, at + 2, &decoded);
            if (digits < HEX_DIGITS)
                break;  // the line ended inside the token
            at += HEX_TOKEN_LENGTH;
        } else {
            ++at;
        }
    }

    std::memcpy(out, decoded.text, static_cast<size_t>(decoded.length));
    out[decoded.length] = '\0';
}
