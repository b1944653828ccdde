// The stream the report goes to (standard output or --output FILE), set up so that each
// piece reaches the system in one write.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "output_piece.h"

// A piece is OUTPUT_PIECE_SIZE bytes and one record more, and a record is a few KiB at most
// (a 1023-byte line, every byte escaped as \u00XX), so a whole piece fits.
constexpr size_t OUTPUT_STREAM_BUFFER_SIZE = 2 * OUTPUT_PIECE_SIZE;

// Gives `stream` a buffer of OUTPUT_STREAM_BUFFER_SIZE bytes, before any input or output on
// it: a piece then goes out in the one write of its flush, never in slices that a kill could
// cut. One stream of the run at a time: the buffer is shared and lives as long as the program.
void BufferWholePieces(std::FILE* stream);

// Opens `path` to append output (created when missing), with its piece buffer. When the last
// byte is no line end (what a kill or a full disk left), appends a line end first, so that the
// half stands alone as a line and no new record is joined to it. Null with errno set.
std::FILE* OpenOutputFile(const std::string& path);
