// How the companion prints one record: the Windows program's numbered text, or JSON.
#pragma once

#include <cstdint>
#include <string>

#include "log_record.h"

class RecordFormat {
public:
    virtual ~RecordFormat() = default;
    // Appends record `number`, made of `parts`, to `out`.
    virtual void Append(int64_t number, const LogRecordParts& parts, std::string* out) = 0;
    // The follower's generation id, for formats that carry it; empty: none.
    virtual void SetGeneration(const std::string& generation) { static_cast<void>(generation); }
};

// The report as the Windows program shows and saves it: "%03d. %s\r\n" for each record,
// byte for byte what BuildLogReport gives; with `utf8`, converted from code page 932.
class TextFormat final : public RecordFormat {
public:
    explicit TextFormat(bool utf8) : utf8_(utf8) {}
    void Append(int64_t number, const LogRecordParts& parts, std::string* out) override;

private:
    bool utf8_;
};
