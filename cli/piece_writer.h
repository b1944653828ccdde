// The sink of the record loop that fills output pieces and hands each on when it is full.
#pragma once

#include <string>

#include "log_report.h"
#include "output_piece.h"
#include "output_sink.h"
#include "record_format.h"

// Formats records into a piece of output and hands the piece on once it holds
// OUTPUT_PIECE_SIZE bytes, each piece ending with a whole line of the log.
class PieceWriter : public RecordSink {
public:
    // Records carry `generation` (see RecordFormat::Append).
    PieceWriter(RecordFormat& format, OutputSink& output, std::string generation = {})
        : output_(output), format_(format), generation_(std::move(generation))
    {
    }

    bool TakeRecord(const RecordNumber& number, const LogRecordParts& parts) override;
    bool LineDone() override { return piece_.Size() < OUTPUT_PIECE_SIZE || Deliver(); }

    // Hands on the piece so far, then calls PieceDelivered; false when the output did not
    // take it (the piece is kept) or PieceDelivered said stop.
    bool Deliver();
    bool DeliveredAny() const { return delivered_; }
    // The output refused a piece: it was not delivered.
    bool Undelivered() const { return undelivered_; }

protected:
    // What follows a delivered piece (the follower saves its place); false ends the reading.
    virtual bool PieceDelivered() { return true; }

    OutputSink& output_;

private:
    RecordFormat& format_;
    std::string generation_;
    OutputPiece piece_;
    bool delivered_ = false;
    bool undelivered_ = false;
};
