// The follow logic, kept apart from the waiting loop so that it can be tested directly.
#include "follow.h"

#include <cerrno>

#include <functional>

#include "log_file.h"
#include "log_reader.h"
#include "piece_writer.h"
#include "platform.h"

namespace {

bool EndsInLineFeed(const char* line, int length)
{
    return length > 0 && line[length - 1] == '\n';
}

// Reads the stretch of the log that `mark` describes once more; true when it still reads
// the same and ends at the same byte, a line end there exactly when `closed`. A place no
// seek reaches is not in the log; a failed read leaves its error number in `*readError`.
bool StillThere(std::FILE* file, const LineMark& mark, bool closed, int* readError)
{
    if (!SeekFile(file, mark.start))
        return false;
    LogLineReader reader(file);
    char line[LOG_LINE_SIZE];
    uint64_t fingerprint = FINGERPRINT_START;
    while (reader.ReadLine(line)) {
        const int length = reader.LineLength();
        fingerprint = Fingerprint(fingerprint, line, static_cast<size_t>(length));
        const int64_t end = mark.start + reader.BytesTaken();
        const bool lineEnded = EndsInLineFeed(line, length) || reader.EndedByCtrlZ();
        if (end >= mark.end || lineEnded)
            return end == mark.end && fingerprint == mark.fingerprint && lineEnded == closed;
    }
    if (reader.Failed())
        *readError = reader.Error() != 0 ? reader.Error() : EIO;
    return false;
}

// Reads the log from its start up to `offset` once: true when its lines end there exactly,
// with `*fingerprint` the fingerprint of every byte the line reader delivered for them. A
// failed read leaves its error number in `*readError`.
bool FingerprintStretch(std::FILE* file, int64_t offset, uint64_t* fingerprint, int* readError)
{
    if (!SeekFile(file, 0)) {
        *readError = errno;
        return false;
    }
    LogLineReader reader(file);
    char line[LOG_LINE_SIZE];
    uint64_t stretch = FINGERPRINT_START;
    while (reader.BytesTaken() < offset && reader.ReadLine(line))
        stretch = Fingerprint(stretch, line, static_cast<size_t>(reader.LineLength()));
    if (reader.Failed()) {
        *readError = reader.Error() != 0 ? reader.Error() : EIO;
        return false;
    }
    *fingerprint = stretch;
    return reader.BytesTaken() == offset;
}

// The lines of one reading: held back while unfinished, fingerprinted, and turned into
// pieces; the place each delivered piece reaches is handed to `commit`.
class FollowReading final : public PieceWriter {
public:
    FollowReading(RecordFormat& format, OutputSink& output, LogLineReader& reader, const FollowPlace& from,
                  bool (*stopRequested)(), std::function<bool(const FollowPlace&)> commit)
        : PieceWriter(format, output, from.generation),
          reader_(reader),
          start_(from.offset),
          reached_(from),
          stopRequested_(stopRequested),
          commit_(std::move(commit))
    {
        current_ = reached_.lineOpen ? reached_.last : LineMark{reached_.offset, reached_.offset, FINGERPRINT_START};
    }

    bool TakeLine(const char* line, int length) override
    {
        lineEnds_ = EndsInLineFeed(line, length) || reader_.EndedByCtrlZ();
        // A piece that is not followed by anything yet may still grow.
        if (!lineEnds_ && reader_.AtEnd())
            return false;
        current_.fingerprint = Fingerprint(current_.fingerprint, line, static_cast<size_t>(length));
        stretch_ = Fingerprint(reached_.stretch, line, static_cast<size_t>(length));
        return true;
    }

    bool TakeRecord(const RecordNumber& number, const LogRecordParts& parts) override
    {
        reached_.nextRecord = number.Value() + 1;
        return PieceWriter::TakeRecord(number, parts);
    }

    bool LineDone() override
    {
        current_.end = start_ + reader_.BytesTaken();
        reached_.offset = current_.end;
        reached_.last = current_;
        reached_.lineOpen = !lineEnds_;
        reached_.stretch = stretch_;
        if (current_.start == 0)
            reached_.first = current_;
        if (lineEnds_)
            current_ = LineMark{current_.end, current_.end, FINGERPRINT_START};
        if (stopRequested_ && stopRequested_()) {
            stopped_ = true;
            Deliver();
            return false;
        }
        return PieceWriter::LineDone();
    }

    bool Stopped() const { return stopped_; }

private:
    // A place that cannot be saved ends the reading: no piece goes after an unsaved one.
    bool PieceDelivered() override { return commit_(reached_); }

    LogLineReader& reader_;
    const int64_t start_;  // where the reader began
    FollowPlace reached_;  // the place after the last line taken
    LineMark current_;     // the line being read
    uint64_t stretch_ = 0; // the log's fingerprint up to the end of the line being read
    bool (*stopRequested_)();
    std::function<bool(const FollowPlace&)> commit_;
    bool lineEnds_ = false;
    bool stopped_ = false;
};

}  // namespace

LogFollower::LogFollower(std::string path, RecordFormat& format, std::string stateFile, bool (*stopRequested)())
    : path_(std::move(path)), format_(format), stateFile_(std::move(stateFile)), stopRequested_(stopRequested)
{
}

void LogFollower::Announce(OutputSink& output, Notice notice, int error)
{
    if (problem_ != notice)
        output.Announce(notice, error);
    problem_ = notice;
}

// The place becomes what was delivered, and the state file follows it. A generation is
// saved before its first record goes out, so that a repeat after a kill keeps its id.
bool LogFollower::Commit(const FollowPlace& reached, OutputSink& output)
{
    place_ = reached;
    if (!Unsaved())
        return true;
    int error = 0;
    const bool saved = SaveFollowState(stateFile_, place_, &error);
    if (saved) {
        saved_ = place_;
        if (stateUnwritable_)
            output.Announce(Notice::StateSavedAgain, 0);
    } else if (!stateUnwritable_) {
        output.Announce(Notice::StateUnwritable, error);
    }
    stateUnwritable_ = !saved;
    return saved;
}

bool LogFollower::StartAfresh(OutputSink& output)
{
    FollowPlace fresh;
    fresh.generation = NewGeneration();
    return Commit(fresh, output);
}

void LogFollower::Start(OutputSink& output)
{
    started_ = true;
    if (!stateFile_.empty()) {
        FollowPlace loaded;
        int error = 0;
        switch (LoadFollowState(stateFile_, &loaded, &error)) {
        case StateLoad::Loaded:
            place_ = loaded;
            saved_ = loaded;
            stretchUnchecked_ = true;
            return;
        case StateLoad::Unusable:
            output.Announce(Notice::StateUnreadable, error);
            break;
        case StateLoad::Missing:
            break;
        }
    }
    StartAfresh(output);
}

bool LogFollower::StillMatches(std::FILE* file, const std::optional<FileIdentity>& identity, int* readError)
{
    if (place_.offset == 0)
        return true;
    // Another file under the log's name is another log, however it begins and ends.
    if (identity && logIdentity_ && *identity != *logIdentity_)
        return false;
    const bool firstIsLast = place_.last.start == 0;
    if (!StillThere(file, place_.first, !(firstIsLast && place_.lineOpen), readError))
        return false;
    if (!firstIsLast && !StillThere(file, place_.last, !place_.lineOpen, readError))
        return false;
    if (!stretchUnchecked_)
        return true;
    // Once per start, everything printed before it is read again; a place of version 1 has
    // no fingerprint of it yet and takes the one read now (saved at the end of the reading).
    uint64_t stretch = 0;
    if (!FingerprintStretch(file, place_.offset, &stretch, readError))
        return false;
    if (!place_.stretchKnown) {
        place_.stretch = stretch;
        place_.stretchKnown = true;
    }
    return stretch == place_.stretch;
}

FollowResult LogFollower::ReadNewLines(std::FILE* file, OutputSink& output)
{
    if (!SeekFile(file, place_.offset)) {
        Announce(output, Notice::CannotRead, errno);
        return FollowResult::Continue;
    }
    LogLineReader reader(file);
    FollowReading lines(format_, output, reader, place_, stopRequested_,
                        [this, &output](const FollowPlace& reached) { return Commit(reached, output); });
    RecordNumber number(place_.nextRecord);
    ReadLogRecords(reader, &number, lines);
    if (lines.Undelivered())
        return FollowResult::NotDelivered;
    if (lines.Stopped())
        return FollowResult::Stopped;
    if (reader.Failed()) {
        Announce(output, Notice::CannotRead, reader.Error());
        return FollowResult::Continue;
    }
    // A place left unsaved pauses the reading here: what is held back waits with it.
    if (!lines.Deliver())
        return lines.Undelivered() ? FollowResult::NotDelivered : FollowResult::Continue;
    problem_.reset();
    return FollowResult::Continue;
}

FollowResult LogFollower::Read(OutputSink& output)
{
    if (!started_)
        Start(output);
    if (Unsaved() && !Commit(place_, output))
        return FollowResult::Continue;
    bool followable = true;
    const LogFile file = OpenLogToFollow(path_, &followable);
    if (!followable) {
        output.Announce(Notice::NotFollowable, 0);
        return FollowResult::NotFollowable;
    }
    if (!file) {
        Announce(output, Notice::CannotOpen, 0);
        return FollowResult::Continue;
    }
    FileIdentity identified;
    const std::optional<FileIdentity> identity =
        IdentifyOpenFile(file.get(), &identified) ? std::optional(identified) : std::nullopt;
    int readError = 0;
    const bool matches = StillMatches(file.get(), identity, &readError);
    if (readError != 0) {
        Announce(output, Notice::CannotRead, readError);
        return FollowResult::Continue;
    }
    logIdentity_ = identity;
    stretchUnchecked_ = false;
    if (!matches) {
        output.Announce(Notice::Restarted, 0);
        if (!StartAfresh(output))
            return FollowResult::Continue;
    }
    return ReadNewLines(file.get(), output);
}
