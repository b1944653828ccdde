// Turns one line of the adapter driver's log into the two-line record the report shows.
#pragma once

// One log line as read: at most 1023 characters and the terminating NUL.
constexpr int LOG_LINE_SIZE = 1024;

// A record is never longer than 1038 characters (see FormatLogRecord), plus its NUL.
constexpr int LOG_RECORD_SIZE = 1039;

// The decoded text of one record holds at most this many characters.
constexpr int DECODED_TEXT_MAX = 39;

// Turns the digit pair `pair[0] pair[1]` (high digit first) into one byte. Hex digits
// of either case count as 0..15; any other character counts as 0.
unsigned char HexPairToByte(const char* pair);

// One log line taken apart as the record shows it. `head` and `message` point into the line
// buffer, each ended by the NUL the split wrote over its separator; the decoded text is
// built here from the argument fields. Lengths are in bytes, without the NUL.
struct LogRecordParts {
    const char* head;
    int headLength;
    const char* message;
    int messageLength;
    char decoded[DECODED_TEXT_MAX + 1];
    int decodedLength;
};

// Splits the NUL-terminated log line in `line` (a buffer of LOG_LINE_SIZE bytes whose NUL
// lies within it) in place, writing NUL over its first '.', the ',' ending the message and
// each ',' ending an examined argument field. False when the line has nothing to show (no
// '.', or no ',' after it); `parts` is then unspecified.
bool SplitLogRecord(char* line, LogRecordParts* parts);

// The length of the record made of `parts`: head, CR LF and ten spaces, message, two
// spaces, decoded text.
int LogRecordLength(const LogRecordParts& parts);

// Writes the record made of `parts` (LogRecordLength bytes, no NUL) to `out`; returns the
// byte after it.
char* WriteLogRecord(const LogRecordParts& parts, char* out);

// Formats the NUL-terminated log line in `line` (a buffer of LOG_LINE_SIZE bytes whose NUL
// lies within it) into `record` (at least LOG_RECORD_SIZE bytes): head, CR LF and ten
// spaces, message, two spaces, decoded text, from the pieces SplitLogRecord gives (and with
// the same changes to the line). When the line has nothing to show, record[0] is NUL.
void FormatLogRecord(char* line, char* record);
