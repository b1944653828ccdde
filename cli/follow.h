// Following the driver log: each reading prints the records of the lines finished since the
// last one, reading only what the log gained.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "log_stream.h"
#include "record_writer.h"

// The driver log is read again this often while following.
constexpr int FOLLOW_PERIOD_MS = 3000;

// A finished line of the log, to be known again at the next reading: where its bytes start
// and end, and a hash of the line as it was read.
struct LineMark {
    int64_t start = 0;
    int64_t end = 0;
    size_t hash = 0;
};

class LogFollower {
public:
    LogFollower(std::string path, RecordWriter& writer) : path_(std::move(path)), writer_(writer) {}

    // Reads the log from the end of the last finished line printed and writes the records
    // of the lines finished since then to `sink`. A last line still being written (no LF
    // yet) is held back until its LF arrives; one cut off by Ctrl-Z never gets one. When the
    // log is shorter than before, or its first or last printed line is no longer what it
    // was, the follower announces a restart and prints the log again from record 001. A log
    // that cannot be opened or read is announced once until a reading succeeds; what a
    // failed reading still held back is dropped and read again next time. Output goes out in
    // pieces of about OUTPUT_CHUNK_SIZE bytes, so memory does not grow with the log. False
    // only when the sink could not take the output.
    bool Read(OutputSink& sink);

private:
    // What has been printed: the next line's offset, the next record's number, and the
    // first and last finished lines before that offset.
    struct Printed {
        int64_t offset = 0;
        int64_t nextNumber = 1;
        LineMark first;
        LineMark last;
    };

    bool StillThere(std::FILE* file, const LineMark& mark);
    void Announce(OutputSink& sink, Notice notice, int error);

    std::string path_;
    RecordWriter& writer_;
    Printed printed_;
    std::optional<Notice> problem_;  // the failure announced last, until a reading succeeds
};
