// The output stream's buffer: a piece reaches the file in the one write of its flush.
#include "output_stream.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "temp_files.h"

namespace {

// The largest piece the buffer takes is not in the file before the flush, and whole after it:
// a kill can cut no piece in two.
TEST(OutputStream, PieceGoesOutInTheFlushWhole)
{
    TempFolder folder;
    const std::string path = folder.File("out.jsonl");
    std::FILE* file = OpenOutputFile(path);
    ASSERT_NE(nullptr, file);
    const std::string piece(OUTPUT_STREAM_BUFFER_SIZE - 1, 'x');
    ASSERT_EQ(piece.size(), std::fwrite(piece.data(), 1, piece.size(), file));
    EXPECT_EQ(0u, ReadFile(path).size()) << "before the flush";
    ASSERT_EQ(0, std::fflush(file));
    EXPECT_EQ(piece.size(), ReadFile(path).size()) << "after the flush";
    std::fclose(file);
}

}  // namespace
