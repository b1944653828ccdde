// Output streams that hand each piece to the system whole.
#include "output_stream.h"

#include <cerrno>
#include <cstdint>

#include "platform.h"

namespace {

// Static, as the runtime may still flush standard output after main returns.
char pieceBuffer[OUTPUT_STREAM_BUFFER_SIZE];

// Reads the last byte of `file` (-1 when it is empty) and leaves the position at its end, as
// an update stream must be positioned between reading and writing; false with errno set.
bool ReadLastByte(std::FILE* file, int* last)
{
    int64_t length = 0;
    if (!FileLength(file, &length))
        return false;
    unsigned char byte = 0;
    errno = 0;
    if (length > 0 && !(SeekFile(file, length - 1) && std::fread(&byte, 1, 1, file) == 1)) {
        if (errno == 0)
            errno = EIO;
        return false;
    }
    *last = length > 0 ? byte : -1;
    return SeekFile(file, length);
}

}  // namespace

void BufferWholePieces(std::FILE* stream)
{
    std::setvbuf(stream, pieceBuffer, _IOFBF, sizeof pieceBuffer);
}

std::FILE* OpenOutputFile(const std::string& path)
{
    // Binary: the report's CR LF and the JSON's LF go out as they are. Opened for appending
    // and reading, for the last byte; every write goes to the end.
    std::FILE* file = std::fopen(path.c_str(), "a+b");
    if (!file)
        return nullptr;
    BufferWholePieces(file);
    int last = -1;
    errno = 0;
    const bool ready = ReadLastByte(file, &last) &&
                       (last == -1 || last == '\n' || (std::fputc('\n', file) != EOF && std::fflush(file) == 0));
    if (ready)
        return file;
    const int error = errno != 0 ? errno : EIO;
    std::fclose(file);
    errno = error;
    return nullptr;
}
