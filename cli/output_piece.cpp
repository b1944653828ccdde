// A piece grows geometrically from room for a whole piece and a long record.
#include "output_piece.h"

#include <algorithm>
#include <cstring>

namespace {

// A piece holds about OUTPUT_PIECE_SIZE bytes and one record more.
constexpr size_t ROOM_START = 80 * 1024;

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
