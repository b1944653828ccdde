// The text of the report, one numbered line at a time.
#include "record_format.h"

#include <algorithm>
#include <cstring>

#include "cp932_utf8.h"

namespace {

// A piece holds about OUTPUT_CHUNK_SIZE bytes and one record more.
constexpr size_t ROOM_START = 80 * 1024;

bool IsAscii(const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    }
    return true;
}

}  // namespace

char* OutputPiece::Room(size_t bytes)
{
    if (size_ + bytes > capacity_) {
        const size_t capacity = std::max({2 * capacity_, size_ + bytes, ROOM_START});
        std::unique_ptr<char[]> data(new char[capacity]);
        if (size_ > 0)
            std::memcpy(data.get(), data_.get(), size_);
        data_ = std::move(data);
        capacity_ = capacity;
    }
    return data_.get() + size_;
}

void OutputPiece::Append(std::string_view bytes)
{
    std::memcpy(Room(bytes.size()), bytes.data(), bytes.size());
    Grow(bytes.size());
}

void TextFormat::Append(const RecordNumber& number, const LogRecordParts& parts, OutputPiece* out)
{
    const size_t length = static_cast<size_t>(NumberedLineLength(number, parts));
    char* line = out->Room(length);
    WriteNumberedLine(number, parts, line);
    // Most records are ASCII, which converts to itself.
    if (utf8_ && !IsAscii(line, length))
        out->Append(Cp932ToUtf8(std::string_view(line, length)));
    else
        out->Grow(length);
}
