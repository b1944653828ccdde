// Feeds any bytes to FormatLogRecord as one log line, the way the line reader hands it
// over, and checks that the record stays within its buffer and keeps its shape, and that
// the line is only cut at its separators.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "log_record.h"

namespace {

constexpr char INDENT[] = "\r\n          ";
constexpr char GAP[] = "  ";
constexpr int RECORD_TEXT_MAX = LOG_RECORD_SIZE - 1;
// Separators FormatLogRecord may cut: the first '.', the ',' ending the message and the
// ',' ending each of the four examined argument fields.
constexpr int COMMAS_CUT_MAX = 5;

// Text the fuzzer did not choose after the line's NUL: separators and hex tokens, so that a
// formatter reading past the end of the line would find something to act on.
constexpr char BEYOND_LINE[] = ".x,0x41424344,0x00000010,";

int Find(const char* text, int from, int end, char wanted)
{
    for (int i = from; i < end; ++i)
        if (text[i] == wanted)
            return i;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly sized heap buffers, so that AddressSanitizer sees any step past their ends.
    std::unique_ptr<char[]> line(new char[LOG_LINE_SIZE]);
    std::unique_ptr<char[]> record(new char[LOG_RECORD_SIZE]);
    char original[LOG_LINE_SIZE];

    const size_t taken = size < LOG_LINE_SIZE ? size : LOG_LINE_SIZE;
    std::memcpy(line.get(), data, taken);
    for (size_t i = taken; i < LOG_LINE_SIZE; ++i)
        line[i] = BEYOND_LINE[i % (sizeof BEYOND_LINE - 1)];
    // At most 1023 characters, then NUL; a NUL the fuzzer put earlier ends the line sooner.
    line[taken < LOG_LINE_SIZE ? taken : LOG_LINE_SIZE - 1] = '\0';
    std::memcpy(original, line.get(), LOG_LINE_SIZE);
    std::memset(record.get(), 0xA5, LOG_RECORD_SIZE);
    std::unique_ptr<char[]> splitLine(new char[LOG_LINE_SIZE]);
    std::memcpy(splitLine.get(), line.get(), LOG_LINE_SIZE);

    FormatLogRecord(line.get(), record.get());

    const char* recordEnd = static_cast<const char*>(std::memchr(record.get(), '\0', LOG_RECORD_SIZE));
    FUZZ_REQUIRE(recordEnd != nullptr);
    const int recordLength = static_cast<int>(recordEnd - record.get());
    FUZZ_REQUIRE(recordLength <= RECORD_TEXT_MAX);

    // What the line holds, read from the untouched copy.
    const int lineEnd = static_cast<int>(std::strlen(original));
    const int period = Find(original, 0, lineEnd, '.');
    const int comma = period < 0 ? -1 : Find(original, period + 1, lineEnd, ',');

    // The line changes only where a '.' or ',' before its NUL becomes NUL, and the only '.'
    // that may go is the first one.
    int commasCut = 0;
    for (int i = 0; i < LOG_LINE_SIZE; ++i) {
        if (line[i] == original[i])
            continue;
        if (i >= lineEnd || line[i] != '\0' || (original[i] != '.' && original[i] != ','))
            FUZZ_REQUIRE_BYTES(original, static_cast<size_t>(LOG_LINE_SIZE), line.get(),
                               static_cast<size_t>(LOG_LINE_SIZE));
        if (original[i] == '.')
            FUZZ_REQUIRE_EQ(period, i);
        else
            ++commasCut;
    }
    FUZZ_REQUIRE(commasCut <= COMMAS_CUT_MAX);

    if (period < 0 || comma < 0) {
        // Nothing to show: no '.', or no ',' after it.
        FUZZ_REQUIRE_EQ(0, recordLength);
        FUZZ_REQUIRE_EQ(0, commasCut);
        // The head pass cuts the '.' before it looks for the ','.
        if (period >= 0)
            FUZZ_REQUIRE_EQ('\0', line[period]);
    } else {
        // Head, line break and indent, message, gap, then at most 39 characters decoded.
        FUZZ_REQUIRE_EQ('\0', line[period]);
        FUZZ_REQUIRE_EQ('\0', line[comma]);
        char expected[LOG_RECORD_SIZE];
        int length = 0;
        std::memcpy(expected + length, original, static_cast<size_t>(period));
        length += period;
        std::memcpy(expected + length, INDENT, sizeof INDENT - 1);
        length += sizeof INDENT - 1;
        std::memcpy(expected + length, original + period + 1, static_cast<size_t>(comma - period - 1));
        length += comma - period - 1;
        std::memcpy(expected + length, GAP, sizeof GAP - 1);
        length += sizeof GAP - 1;
        FUZZ_REQUIRE(recordLength >= length);
        FUZZ_REQUIRE_BYTES(expected, static_cast<size_t>(length), record.get(), static_cast<size_t>(length));
        FUZZ_REQUIRE(recordLength - length <= DECODED_TEXT_MAX);
    }

    // The split gives the record's own pieces and makes the same cuts in the line.
    LogRecordParts parts;
    const bool shown = SplitLogRecord(splitLine.get(), &parts);
    FUZZ_REQUIRE_BYTES(line.get(), static_cast<size_t>(LOG_LINE_SIZE), splitLine.get(),
                       static_cast<size_t>(LOG_LINE_SIZE));
    FUZZ_REQUIRE_EQ(recordLength > 0, shown);
    if (shown) {
        FUZZ_REQUIRE_EQ(period, parts.headLength);
        FUZZ_REQUIRE_EQ(comma - period - 1, parts.messageLength);
        FUZZ_REQUIRE(parts.head == splitLine.get() && parts.message == splitLine.get() + period + 1);
        const int decodedStart = recordLength - parts.decodedLength;
        FUZZ_REQUIRE(decodedStart >= 0);
        FUZZ_REQUIRE_BYTES(record.get() + decodedStart, static_cast<size_t>(parts.decodedLength), parts.decoded,
                           static_cast<size_t>(parts.decodedLength));
        FUZZ_REQUIRE_EQ(period + static_cast<int>(sizeof INDENT - 1) + parts.messageLength +
                            static_cast<int>(sizeof GAP - 1) + parts.decodedLength,
                        recordLength);
        FUZZ_REQUIRE_EQ(recordLength, LogRecordLength(parts));
    }

    // The line now ends where its first '.' stood: a second call has nothing to show.
    std::memset(record.get(), 0xA5, LOG_RECORD_SIZE);
    FormatLogRecord(line.get(), record.get());
    FUZZ_REQUIRE_EQ('\0', record[0]);
    return 0;
}
