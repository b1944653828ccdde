// How the companion prints one record: the Windows program's numbered text, or JSON.
#pragma once

#include <string_view>

#include "log_record.h"
#include "log_report.h"
#include "output_piece.h"

class RecordFormat {
public:
    virtual ~RecordFormat() = default;
    // Appends record `number`, made of `parts`, to `out`. `generation` is the follower's id of
    // the numbering (16 hex digits), empty for a report read once; a format may leave it out.
    virtual void Append(const RecordNumber& number, std::string_view generation, const LogRecordParts& parts,
                        OutputPiece* out) = 0;
};

// The report as the Windows program shows and saves it: "%03d. %s\r\n" for each record,
// byte for byte what BuildLogReport gives; with `utf8`, converted from code page 932.
class TextFormat final : public RecordFormat {
public:
    explicit TextFormat(bool utf8) : utf8_(utf8) {}
    void Append(const RecordNumber& number, std::string_view generation, const LogRecordParts& parts,
                OutputPiece* out) override;

private:
    bool utf8_;
};
