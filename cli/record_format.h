// How the companion prints one record: the Windows program's numbered text, or JSON.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "log_record.h"
#include "log_report.h"

// The bytes of one piece of output. Room is added as needed and never zero-filled: records
// are written straight into it.
class OutputPiece {
public:
    // Room for `bytes` more at the end; Grow(bytes) once they are written.
    char* Room(size_t bytes);
    void Grow(size_t bytes) { size_ += bytes; }
    void Append(std::string_view bytes);

    std::string_view View() const { return std::string_view(data_.get(), size_); }
    size_t Size() const { return size_; }
    void Clear() { size_ = 0; }

private:
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

class RecordFormat {
public:
    virtual ~RecordFormat() = default;
    // Appends record `number`, made of `parts`, to `out`.
    virtual void Append(const RecordNumber& number, const LogRecordParts& parts, OutputPiece* out) = 0;
    // The follower's generation id, for formats that carry it; empty: none.
    virtual void SetGeneration(const std::string& generation) { static_cast<void>(generation); }
};

// The report as the Windows program shows and saves it: "%03d. %s\r\n" for each record,
// byte for byte what BuildLogReport gives; with `utf8`, converted from code page 932.
class TextFormat final : public RecordFormat {
public:
    explicit TextFormat(bool utf8) : utf8_(utf8) {}
    void Append(const RecordNumber& number, const LogRecordParts& parts, OutputPiece* out) override;

private:
    bool utf8_;
};
