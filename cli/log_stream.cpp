// The companion's report, written while the log is read.
#include "log_stream.h"

#include <cerrno>
#include <cstring>

#include "cp932_utf8.h"
#include "program_texts.h"

namespace {

// The log's name as the user gave it. Windows hands the command line over in its ANSI code
// page, which a UTF-8 terminal needs converted; elsewhere the name's bytes are already the
// terminal's and are printed unchanged.
std::string ShownPath(const std::string& path, bool utf8)
{
#ifdef _WIN32
    if (utf8) {
        std::string shown;
        bool lossy = false;
        AppendArgumentAsUtf8(path, &shown, &lossy);
        return shown;
    }
#else
    static_cast<void>(utf8);
#endif
    return path;
}

}  // namespace

std::string NoticeText(Notice notice, const std::string& givenPath, int error, bool utf8)
{
    const std::string path = ShownPath(givenPath, utf8);
    const std::string reason = error != 0 ? std::string(" (") + std::strerror(error) + ")" : std::string();
    switch (notice) {
    case Notice::CannotOpen:
        return CANNOT_OPEN_TEXT + path + "\n";
    case Notice::CannotRead:
        return "ndislog: cannot read " + path + reason + "\n";
    case Notice::ReportCutShort:
        return "ndislog: cannot read " + path + reason + "; the report above is incomplete\n";
    case Notice::NoMemory: {
        const std::string message = std::string(NO_MEMORY_TEXT) + "\n";
        return utf8 ? Cp932ToUtf8(message) : message;
    }
    case Notice::Restarted:
        return "ndislog: the log is shorter than before or was rewritten; starting again from record 001\n";
    case Notice::NotFollowable:
        return "ndislog: cannot follow " + path + ": not a regular file\n";
    case Notice::StateUnreadable:
        return "ndislog: the saved place in " + path + reason + " cannot be used; following the log from its start\n";
    case Notice::StateUnwritable:
        return "ndislog: cannot save the place in " + path + reason + "; following goes on\n";
    }
    return std::string();
}

LogFile OpenLog(const std::string& path)
{
    if (path == STANDARD_INPUT_NAME) {
        SetBinaryMode(stdin);
        return LogFile(stdin);
    }
    return LogFile(std::fopen(path.c_str(), "rb"));
}

bool SeekLog(std::FILE* file, int64_t offset)
{
#ifdef _WIN32
    // The runtime's fpos_t is a plain 64-bit byte offset; fsetpos reaches past 2 GiB on
    // every Windows version, where _fseeki64 is missing from older system runtimes.
    const fpos_t position = offset;
    return std::fsetpos(file, &position) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool PieceWriter::TakeRecord(const RecordNumber& number, const LogRecordParts& parts)
{
    format_.Append(number, parts, &piece_);
    return true;
}

bool PieceWriter::Deliver()
{
    if (piece_.Size() > 0) {
        if (!output_.Write(piece_.View())) {
            outputFailed_ = true;
            return false;
        }
        piece_.Clear();
        delivered_ = true;
    }
    return PieceDelivered();
}

bool StreamLogReport(const std::string& path, RecordFormat& format, OutputSink& output)
{
    const LogFile file = OpenLog(path);
    if (!file) {
        output.Announce(Notice::CannotOpen, 0);
        return false;
    }
    LogLineReader reader(file.get());
    PieceWriter pieces(format, output);
    RecordNumber number(1);
    ReadLogRecords(reader, &number, pieces);
    if (pieces.OutputFailed())
        return false;
    // The reader ends on a read error as it does at the end of the log; it tells the two apart.
    if (reader.Failed()) {
        output.Announce(pieces.DeliveredAny() ? Notice::ReportCutShort : Notice::CannotRead, reader.Error());
        return false;
    }
    return pieces.Deliver();
}
