// JSON Lines for log collectors: one object per record or per cause code, UTF-8, one line each.
// Every object carries "lossy":true as its last member when one of its texts lost a byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cause_catalogue.h"
#include "log_record.h"
#include "record_format.h"

// Appends `cp932` to `out` as a JSON string, quotes included: converted to UTF-8, with '"',
// '\' and every control character (U+0000..U+001F and U+007F) escaped. Sets `*lossy` when a
// byte had no character and became U+FFFD.
void AppendJsonString(std::string_view cp932, std::string* out, bool* lossy);

// Appends the record `number` made of `parts` as one line, with the follower's generation
// id when there is one:
//   {"record":N,"generation":"0123456789abcdef","head":"...","message":"...","decoded":"..."}
void AppendJsonRecord(int64_t number, std::string_view generation, const LogRecordParts& parts,
                      std::string* out);

// The report as JSON Lines: each record the object AppendJsonRecord makes, from the
// formatter's own split of its line.
class JsonFormat final : public RecordFormat {
public:
    void Append(const RecordNumber& number, std::string_view generation, const LogRecordParts& parts,
                OutputPiece* out) override;

private:
    std::string object_;
};

// One catalogue row as a line: {"code":"0010","text":"..."}; the code as four or more
// upper-case hex digits, as the lookup message shows it.
void AppendJsonCause(const CauseEntry& entry, std::string* out);

// The lookup of what the user typed (a command-line argument, in the encoding it came in)
// as a line:
//   {"input":"10","code":"0010","text":"...","message":"..."}
// "text" is the catalogue's text, or null when the code is not in the catalogue; "message"
// is what the lookup shows. `message` is the composed CP932 message.
void AppendJsonLookup(std::string_view input, uint32_t code, const char* text, const char* message,
                      std::string* out);
