// Reads the driver log line by line the way a text-mode stream does on the driver's
// platform, over plain binary reads, so that every platform delivers the same lines.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "log_record.h"

// Closes a log file when it goes, except standard input, which stays open for the process.
struct LogFileCloser {
    void operator()(std::FILE* file) const
    {
        if (file != stdin)
            std::fclose(file);
    }
};
using LogFile = std::unique_ptr<std::FILE, LogFileCloser>;

class LogLineReader {
public:
    // Reads from `file`, which stays the caller's to close. Its 64 KiB chunk comes from the
    // heap (std::bad_alloc when there is none), so a reader may live on any stack.
    explicit LogLineReader(std::FILE* file);

    // Reads the next line into `line` (LOG_LINE_SIZE bytes): the characters up to and
    // including the next LF, at most LOG_LINE_SIZE - 1 of them, then NUL. CR LF arrives as
    // LF, a lone CR as itself, NUL bytes as themselves; Ctrl-Z (0x1A) ends the file.
    // Returns false, leaving `line` untouched, when not one character could be read.
    bool ReadLine(char* line);

    // The length of the line ReadLine delivered last, NUL bytes inside it counted.
    int LineLength() const { return lineLength_; }

    // The bytes of the file taken by the lines delivered so far, counted from where the file
    // stood when reading began: a CR LF counts two, a Ctrl-Z none.
    int64_t BytesTaken() const { return chunkStart_ + position_; }

    // True when the line delivered last was cut off by Ctrl-Z: the log ends there for good.
    bool EndedByCtrlZ() const { return ctrlZ_; }

    // True when nothing follows what has been taken: the end of the file as it stands now,
    // a read error, or Ctrl-Z. A line that does not end in LF may still grow until then.
    bool AtEnd() { return Peek() < 0 || ctrlZ_; }

    // True when reading stopped on a read error rather than at the end; `errno` as that
    // read left it.
    bool Failed() const { return failed_; }
    int Error() const { return error_; }

private:
    static constexpr int CHUNK_SIZE = 64 * 1024;

    // Fills the chunk when it is used up; false at the end of the file or on a read error.
    bool Refill();
    // The next raw byte without consuming it, or -1 at the end.
    int Peek();

    std::FILE* file_;
    std::unique_ptr<unsigned char[]> chunk_;
    int position_ = 0;
    int filled_ = 0;
    int usable_ = 0;  // bytes of the chunk before its first Ctrl-Z, if any
    int64_t chunkStart_ = 0;  // bytes of the file before the chunk
    int lineLength_ = 0;
    bool ended_ = false;  // end of file, read error or Ctrl-Z seen
    bool ctrlZ_ = false;
    bool failed_ = false;
    int error_ = 0;
};
