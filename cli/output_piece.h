// The bytes of one piece of output: whole records, handed on together.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

// Output is handed on in pieces of about this many bytes (whole records, one more at most).
constexpr size_t OUTPUT_PIECE_SIZE = 64 * 1024;

// Room is added as needed and never zero-filled: records are written straight into it.
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
