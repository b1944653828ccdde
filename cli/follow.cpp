// The follow logic, kept apart from the sleeping loop so that it can be tested directly.
#include "follow.h"

#include <cerrno>
#include <functional>
#include <new>
#include <string_view>

#include "log_reader.h"

namespace {

// Adds the `length` bytes of one delivered line or piece to the hash of its line.
size_t HashPiece(size_t hash, const char* line, int length)
{
    const size_t piece = std::hash<std::string_view>{}(std::string_view(line, static_cast<size_t>(length)));
    return hash ^ (piece + 0x9E3779B97F4A7C15u + (hash << 6) + (hash >> 2));
}

bool EndsInLineFeed(const char* line, int length)
{
    return length > 0 && line[length - 1] == '\n';
}

}  // namespace

// Reads the line that `mark` describes once more; true when it still ends at the same byte
// and reads the same.
bool LogFollower::StillThere(std::FILE* file, const LineMark& mark)
{
    if (!SeekLog(file, mark.start))
        return false;
    const auto reader = std::make_unique<LogLineReader>(file);
    char line[LOG_LINE_SIZE];
    size_t hash = 0;
    while (reader->ReadLine(line)) {
        const int length = reader->LineLength();
        hash = HashPiece(hash, line, length);
        const int64_t end = mark.start + reader->BytesTaken();
        if (EndsInLineFeed(line, length))
            return end == mark.end && hash == mark.hash;
        if (end >= mark.end)
            return false;
    }
    return false;
}

void LogFollower::Announce(OutputSink& sink, Notice notice, int error)
{
    if (problem_ != notice)
        sink.Announce(notice, error);
    problem_ = notice;
}

bool LogFollower::Read(OutputSink& sink)
{
    try {
        const LogFile file = OpenLog(path_);
        if (!file) {
            Announce(sink, Notice::CannotOpen, 0);
            return true;
        }
        if (printed_.offset > 0 && !(StillThere(file.get(), printed_.first) && StillThere(file.get(), printed_.last))) {
            if (std::ferror(file.get())) {
                Announce(sink, Notice::CannotRead, errno);
                return true;
            }
            printed_ = Printed{};
            sink.Announce(Notice::Restarted, 0);
        }
        if (!SeekLog(file.get(), printed_.offset)) {
            Announce(sink, Notice::CannotRead, errno);
            return true;
        }

        // Records go out only up to the end of the last finished line; `reached` is what
        // has been printed once they have.
        const int64_t start = printed_.offset;
        const auto reader = std::make_unique<LogLineReader>(file.get());
        char line[LOG_LINE_SIZE];
        std::string pending;
        size_t finished = 0;  // bytes of `pending` that belong to finished lines
        Printed reached = printed_;
        LineMark current{start, 0, 0};
        int64_t number = printed_.nextNumber;
        while (reader->ReadLine(line)) {
            const int length = reader->LineLength();
            current.hash = HashPiece(current.hash, line, length);  // before the writer cuts it
            if (writer_.Write(line, number, &pending))
                ++number;
            if (!EndsInLineFeed(line, length))
                continue;
            current.end = start + reader->BytesTaken();
            if (current.start == 0)
                reached.first = current;
            reached.last = current;
            reached.offset = current.end;
            reached.nextNumber = number;
            current = LineMark{current.end, 0, 0};
            finished = pending.size();
            if (finished >= OUTPUT_CHUNK_SIZE) {
                if (!sink.Write(std::string_view(pending).substr(0, finished)))
                    return false;
                pending.erase(0, finished);
                finished = 0;
                printed_ = reached;
            }
        }
        if (std::ferror(file.get())) {
            Announce(sink, Notice::CannotRead, errno);
            return true;
        }
        if (finished > 0 && !sink.Write(std::string_view(pending).substr(0, finished)))
            return false;
        printed_ = reached;
        problem_.reset();
        return true;
    } catch (const std::bad_alloc&) {
        Announce(sink, Notice::NoMemory, 0);
        return true;
    }
}
