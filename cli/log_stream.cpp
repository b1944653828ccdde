// The companion's report, written while the log is read.
#include "log_stream.h"

#include <cerrno>
#include <cstring>

#include "log_reader.h"
#include "program_texts.h"
#include "cp932_utf8.h"

namespace {

// The log's name as the user gave it. Windows hands the command line over in its ANSI code
// page, which a UTF-8 terminal needs converted like the program's own texts; elsewhere the
// name's bytes are already the terminal's and are printed unchanged.
std::string ShownPath(const std::string& path, bool utf8)
{
#ifdef _WIN32
    return utf8 ? Cp932ToUtf8(path) : path;
#else
    static_cast<void>(utf8);
    return path;
#endif
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
    }
    return std::string();
}

LogFile OpenLog(const std::string& path)
{
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

bool StreamLogReport(const std::string& path, RecordWriter& writer, OutputSink& sink)
{
    const LogFile file = OpenLog(path);
    if (!file) {
        sink.Announce(Notice::CannotOpen, 0);
        return false;
    }
    // The reader holds a 64 KiB chunk, too much for the stack of every caller.
    const auto reader = std::make_unique<LogLineReader>(file.get());
    char line[LOG_LINE_SIZE];
    std::string pending;
    int64_t number = 1;
    bool wrote = false;
    while (reader->ReadLine(line)) {
        if (writer.Write(line, number, &pending))
            ++number;
        if (pending.size() >= OUTPUT_CHUNK_SIZE) {
            if (!sink.Write(pending))
                return false;
            pending.clear();
            wrote = true;
        }
    }
    // The reader ends on a read error as it does at the end of the log; only the stream
    // tells the two apart.
    if (std::ferror(file.get())) {
        sink.Announce(wrote ? Notice::ReportCutShort : Notice::CannotRead, errno);
        return false;
    }
    return pending.empty() || sink.Write(pending);
}
