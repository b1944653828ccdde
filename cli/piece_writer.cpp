// Pieces of whole records: a collector reading the output never meets half a record.
#include "piece_writer.h"

bool PieceWriter::TakeRecord(const RecordNumber& number, const LogRecordParts& parts)
{
    format_.Append(number, generation_, parts, &piece_);
    return true;
}

bool PieceWriter::Deliver()
{
    if (piece_.Size() > 0) {
        if (!output_.Write(piece_.View())) {
            undelivered_ = true;
            return false;
        }
        piece_.Clear();
        delivered_ = true;
    }
    return PieceDelivered();
}
