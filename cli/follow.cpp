// The follow logic, kept apart from the waiting loop so that it can be tested directly.
#include "follow.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "log_reader.h"

namespace {

bool EndsInLineFeed(const char* line, int length)
{
    return length > 0 && line[length - 1] == '\n';
}

// Opens the log for following. A pipe or a device cannot be read again from a saved place,
// so it is refused; on POSIX it is opened without waiting, as a FIFO without a writer would
// keep open() waiting for ever.
LogFile OpenToFollow(const std::string& path, bool* followable)
{
    *followable = true;
#ifdef _WIN32
    LogFile file = OpenLog(path);
    if (file && GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())))) != FILE_TYPE_DISK) {
        *followable = false;
        return nullptr;
    }
    return file;
#else
    const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))) {
        *followable = false;
        close(descriptor);
        return nullptr;
    }
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    LogFile file(fdopen(descriptor, "rb"));
    if (!file)
        close(descriptor);
    return file;
#endif
}

// Reads the stretch of the log that `mark` describes once more; true when it still reads
// the same and ends at the same byte, a line end there exactly when `closed`. A failed
// read leaves its error number in `*readError`.
bool StillThere(std::FILE* file, const LineMark& mark, bool closed, int* readError)
{
    if (!SeekLog(file, mark.start)) {
        *readError = errno;
        return false;
    }
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

}  // namespace

// The lines of one reading: held back while unfinished, fingerprinted, and turned into
// pieces whose place is committed once each piece is delivered.
class NewLines final : public PieceWriter {
public:
    NewLines(LogFollower& follower, LogLineReader& reader, OutputSink& output)
        : PieceWriter(follower.format_, output), follower_(follower), reader_(reader), reached_(follower.place_)
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
        return true;
    }

    bool TakeRecord(int64_t number, const LogRecordParts& parts) override
    {
        reached_.nextRecord = number + 1;
        return PieceWriter::TakeRecord(number, parts);
    }

    bool LineDone() override
    {
        current_.end = start_ + reader_.BytesTaken();
        reached_.offset = current_.end;
        reached_.last = current_;
        reached_.lineOpen = !lineEnds_;
        if (current_.start == 0)
            reached_.first = current_;
        if (lineEnds_)
            current_ = LineMark{current_.end, current_.end, FINGERPRINT_START};
        if (follower_.stopRequested_ && follower_.stopRequested_()) {
            stopped_ = true;
            Deliver();
            return false;
        }
        return PieceWriter::LineDone();
    }

    bool Stopped() const { return stopped_; }

private:
    bool PieceDelivered() override
    {
        follower_.Commit(reached_, output_);
        return true;
    }

    LogFollower& follower_;
    LogLineReader& reader_;
    const int64_t start_ = follower_.place_.offset;  // where the reader began
    FollowPlace reached_;  // the place after the last line taken
    LineMark current_;     // the line being read
    bool lineEnds_ = false;
    bool stopped_ = false;
};

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
void LogFollower::Commit(const FollowPlace& reached, OutputSink& output)
{
    place_ = reached;
    if (stateFile_.empty() || saved_ == place_)
        return;
    int error = 0;
    const bool saved = SaveFollowState(stateFile_, place_, &error);
    if (saved)
        saved_ = place_;
    else if (!stateUnwritable_)
        output.Announce(Notice::StateUnwritable, error);
    stateUnwritable_ = !saved;
}

void LogFollower::StartAfresh(OutputSink& output)
{
    FollowPlace fresh;
    fresh.generation = NewGeneration();
    format_.SetGeneration(fresh.generation);
    Commit(fresh, output);
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
            format_.SetGeneration(place_.generation);
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

bool LogFollower::StillMatches(std::FILE* file, int* readError) const
{
    if (place_.offset == 0)
        return true;
    const bool firstIsLast = place_.last.start == 0;
    if (!StillThere(file, place_.first, !(firstIsLast && place_.lineOpen), readError))
        return false;
    return firstIsLast || StillThere(file, place_.last, !place_.lineOpen, readError);
}

FollowResult LogFollower::ReadNewLines(std::FILE* file, OutputSink& output)
{
    if (!SeekLog(file, place_.offset)) {
        Announce(output, Notice::CannotRead, errno);
        return FollowResult::Read;
    }
    LogLineReader reader(file);
    NewLines lines(*this, reader, output);
    int64_t number = place_.nextRecord;
    ReadLogRecords(reader, &number, lines);
    if (lines.OutputFailed())
        return FollowResult::OutputFailed;
    if (lines.Stopped())
        return FollowResult::Stopped;
    if (reader.Failed()) {
        Announce(output, Notice::CannotRead, reader.Error());
        return FollowResult::Read;
    }
    if (!lines.Deliver())
        return FollowResult::OutputFailed;
    problem_.reset();
    return FollowResult::Read;
}

FollowResult LogFollower::Read(OutputSink& output)
{
    if (!started_)
        Start(output);
    bool followable = true;
    const LogFile file = OpenToFollow(path_, &followable);
    if (!followable) {
        output.Announce(Notice::NotFollowable, 0);
        return FollowResult::NotFollowable;
    }
    if (!file) {
        Announce(output, Notice::CannotOpen, 0);
        return FollowResult::Read;
    }
    int readError = 0;
    if (!StillMatches(file.get(), &readError)) {
        if (readError != 0) {
            Announce(output, Notice::CannotRead, readError);
            return FollowResult::Read;
        }
        output.Announce(Notice::Restarted, 0);
        StartAfresh(output);
    }
    return ReadNewLines(file.get(), output);
}
