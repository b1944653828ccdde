// Frames are read byte by byte as they arrive, so a frame cut anywhere waits for the rest
// and anything that cannot begin a frame is known at once.
#include "relp_frame.h"

#include "digits.h"

namespace {

constexpr size_t RELP_NUMBER_DIGITS_MAX = 9;
constexpr size_t RELP_COMMAND_MAX = 32;

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Reads the decimal number at `*at`, up to RELP_NUMBER_DIGITS_MAX digits and the byte after.
FrameParse ReadNumber(std::string_view bytes, size_t* at, uint32_t* value)
{
    const size_t start = *at;
    uint32_t number = 0;
    for (int digit; *at < bytes.size() && (digit = DecimalDigitValue(bytes[*at])) >= 0;) {
        if (*at - start == RELP_NUMBER_DIGITS_MAX)
            return FrameParse::Malformed;
        number = number * 10 + static_cast<uint32_t>(digit);
        ++*at;
    }
    if (*at == bytes.size())
        return FrameParse::Incomplete;
    *value = number;
    return *at > start ? FrameParse::Complete : FrameParse::Malformed;
}

// Takes the byte `expected` at `*at`.
FrameParse Expect(std::string_view bytes, size_t* at, char expected)
{
    if (*at == bytes.size())
        return FrameParse::Incomplete;
    return bytes[(*at)++] == expected ? FrameParse::Complete : FrameParse::Malformed;
}

}  // namespace

uint32_t NextRelpTxnr(uint32_t txnr)
{
    return txnr >= RELP_TXNR_MAX ? 1 : txnr + 1;
}

void AppendRelpFrame(uint32_t txnr, std::string_view command, std::string_view data, std::string* out)
{
    *out += std::to_string(txnr);
    *out += ' ';
    *out += command;
    *out += ' ';
    *out += std::to_string(data.size());
    if (!data.empty()) {
        *out += ' ';
        *out += data;
    }
    *out += '\n';
}

FrameParse ParseRelpFrame(std::string_view bytes, RelpFrame* frame, size_t* length)
{
    size_t at = 0;
    uint32_t txnr = 0;
    FrameParse step = ReadNumber(bytes, &at, &txnr);
    if (step == FrameParse::Complete)
        step = Expect(bytes, &at, ' ');
    if (step != FrameParse::Complete)
        return step;

    const size_t commandStart = at;
    while (at < bytes.size() && IsLetter(bytes[at]) && at - commandStart < RELP_COMMAND_MAX)
        ++at;
    if (at == bytes.size())
        return FrameParse::Incomplete;
    if (at == commandStart)
        return FrameParse::Malformed;
    const std::string_view command = bytes.substr(commandStart, at - commandStart);
    uint32_t dataLength = 0;
    step = Expect(bytes, &at, ' ');
    if (step == FrameParse::Complete)
        step = ReadNumber(bytes, &at, &dataLength);
    if (step != FrameParse::Complete)
        return step;
    if (dataLength > RELP_ANSWER_MAX)
        return FrameParse::Malformed;

    // Data, when there is any, follows a space; the trailer LF ends every frame.
    if (dataLength > 0 && (step = Expect(bytes, &at, ' ')) != FrameParse::Complete)
        return step;
    if (bytes.size() - at < dataLength)
        return FrameParse::Incomplete;
    const std::string_view data = bytes.substr(at, dataLength);
    at += dataLength;
    if ((step = Expect(bytes, &at, '\n')) != FrameParse::Complete)
        return step;
    frame->txnr = txnr;
    frame->command.assign(command);
    frame->data.assign(data);
    *length = at;
    return FrameParse::Complete;
}

int RelpResponseCode(std::string_view data)
{
    uint64_t code = 0;
    if (data.size() < 3 || !ReadWholeNumber(data.substr(0, 3), 10, 3, &code))
        return -1;
    if (data.size() > 3 && data[3] != ' ' && data[3] != '\n')
        return -1;
    return static_cast<int>(code);
}

