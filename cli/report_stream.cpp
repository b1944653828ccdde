// The companion's report, written while the log is read.
#include "report_stream.h"

#include "log_file.h"
#include "log_reader.h"
#include "piece_writer.h"

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
    if (pieces.Undelivered())
        return false;
    // The reader ends on a read error as it does at the end of the log; it tells the two apart.
    if (reader.Failed()) {
        output.Announce(pieces.DeliveredAny() ? Notice::ReportCutShort : Notice::CannotRead, reader.Error());
        return false;
    }
    return pieces.Deliver();
}
