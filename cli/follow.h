// Following the driver log: each reading prints the records of the lines finished since the
// last one, reading only what the log gained, and can keep its place in a state file.
#pragma once

#include <optional>
#include <string>

#include "follow_state.h"
#include "output_sink.h"
#include "platform.h"
#include "record_format.h"

enum class FollowResult {
    Continue,       // a reading is over: done, or the log could not be read (announced)
    NotDelivered,   // the output did not take a piece; the place stays before it
    Stopped,        // a stop was asked for; what was read is delivered and its place saved
    NotFollowable,  // the log is a pipe or a device (announced)
};

class LogFollower {
public:
    // Follows the log at `path`, printing records in `format`. With a `stateFile`, the place
    // is read from it at the first reading and written to it after every delivered piece.
    // `stopRequested`, when given, is asked after every line.
    LogFollower(std::string path, RecordFormat& format, std::string stateFile = {},
                bool (*stopRequested)() = nullptr);

    // Reads the log from the end of what was printed and hands the records of the lines
    // finished since then to `output` in pieces of about OUTPUT_PIECE_SIZE bytes. A line
    // still being written is held back until its end arrives (its LF, or a Ctrl-Z, which
    // ends the log for good); a long one goes out in 1023-byte pieces as they are complete.
    // When the log is shorter than before, or its first or last printed line is no longer
    // what it was, or another file took the log's name, or (checked at the first reading
    // from a state file) any byte printed before differs or the place cannot be reached, the
    // follower announces a restart and prints the log again from record 001 under a new
    // generation. A log that cannot be opened or read is announced once
    // until a reading succeeds; what a failed reading held back is read again next time.
    // With a state file, a place that cannot be saved pauses delivery: announced once, the
    // save is tried again at every reading, and nothing more goes out until it succeeds
    // (which is announced too), so a restart repeats at most the one piece delivered last.
    FollowResult Read(OutputSink& output);

    const FollowPlace& Place() const { return place_; }

private:
    void Start(OutputSink& output);
    bool StartAfresh(OutputSink& output);
    bool StillMatches(std::FILE* file, const std::optional<FileIdentity>& identity, int* readError);
    FollowResult ReadNewLines(std::FILE* file, OutputSink& output);
    // Takes `reached` as the place and saves it; false while it cannot be saved.
    bool Commit(const FollowPlace& reached, OutputSink& output);
    bool Unsaved() const { return !stateFile_.empty() && saved_ != place_; }
    void Announce(OutputSink& output, Notice notice, int error);

    std::string path_;
    RecordFormat& format_;
    std::string stateFile_;
    bool (*stopRequested_)();
    bool started_ = false;
    FollowPlace place_;                 // what has been delivered
    std::optional<FollowPlace> saved_;  // what the state file holds
    std::optional<Notice> problem_;     // the failure announced last, until it is over
    bool stretchUnchecked_ = false;     // the place came from the state file, not yet verified
    std::optional<FileIdentity> logIdentity_;  // the log's at the last reading, where known
    bool stateUnwritable_ = false;      // announced; said again only after a save succeeds
};
