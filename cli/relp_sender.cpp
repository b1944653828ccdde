// The sender's session. Answers are matched to records by transaction number, so the records
// taken are known exactly even when a session breaks half way; an answer counts only when it
// began to arrive after its record went, so a centre cannot confirm what it never received.
#include "relp_sender.h"

#include <chrono>

#include "syslog_message.h"

#ifndef NDISLOG_VERSION
#define NDISLOG_VERSION "0"
#endif

namespace {

constexpr int RELP_STATUS_OK = 200;
constexpr int CLOSE_ANSWER_TIMEOUT_MS = 2000;

// What the sender offers when it opens a session: the protocol version, itself, and the
// one command it will send.
constexpr std::string_view OPEN_OFFERS =
    "relp_version=0\nrelp_software=ndislog," NDISLOG_VERSION ",-\ncommands=syslog";

// Whether the "commands=" offer of an open answer names "syslog".
bool OffersSyslog(std::string_view data)
{
    constexpr std::string_view KEY = "\ncommands=";
    const size_t key = data.find(KEY);
    if (key == std::string_view::npos)
        return false;
    std::string_view commands = data.substr(key + KEY.size());
    commands = commands.substr(0, commands.find('\n'));
    while (!commands.empty()) {
        const size_t comma = commands.find(',');
        if (commands.substr(0, comma) == "syslog")
            return true;
        commands = comma == std::string_view::npos ? std::string_view() : commands.substr(comma + 1);
    }
    return false;
}

// Appends the syslog command of the line at `*next` in `piece` to `out`, numbered after
// `*txnr`, and moves `*next` past the line. False, with nothing appended, for an empty line.
bool FrameRecord(std::string_view piece, const std::string& header, size_t* next, uint32_t* txnr, std::string* out)
{
    size_t end = piece.find('\n', *next);
    end = end == std::string_view::npos ? piece.size() : end + 1;
    std::string_view line = piece.substr(*next, end - *next);
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    *next = end;
    if (line.empty())
        return false;
    std::string message = header;
    message.append(line);
    *txnr = NextRelpTxnr(*txnr);
    AppendRelpFrame(*txnr, "syslog", message, out);
    return true;
}

// Marks the record that `answer`, begun at byte `start` of the session, answers as taken;
// the failure when the answer is anything but a 200 to a record sent before it and not yet
// answered (`*code` then holds a code other than 200).
RelpFailure TakeAnswer(const RelpFrame& answer, uint64_t start, std::deque<RecordOnTheWay>* onTheWay, int* code)
{
    if (answer.command == "serverclose")
        return RelpFailure::Dropped;
    *code = RelpResponseCode(answer.data);
    auto record = onTheWay->begin();
    while (record != onTheWay->end() &&
           (record->txnr != answer.txnr || record->confirmed || start < record->sentAfter))
        ++record;
    if (answer.command != "rsp" || record == onTheWay->end() || *code < 0)
        return RelpFailure::Garbage;
    if (*code != RELP_STATUS_OK)
        return RelpFailure::Rejected;
    record->confirmed = true;
    return RelpFailure::None;
}

}  // namespace

std::string RelpFailureText(RelpFailure failure, int rejectedCode)
{
    switch (failure) {
    case RelpFailure::None: return "no failure";
    case RelpFailure::Unresolved: return "host name not found";
    case RelpFailure::Refused: return "connection refused";
    case RelpFailure::TimedOut: return "no answer in time";
    case RelpFailure::Dropped: return "connection closed by the centre";
    case RelpFailure::Rejected:
        return rejectedCode == 0 ? std::string("the centre does not take syslog messages")
                                 : "answered " + std::to_string(rejectedCode);
    case RelpFailure::Garbage: return "the answer is no RELP";
    case RelpFailure::Stopped: return "stopped";
    }
    return "unknown failure";
}

void RelpSender::DropReceived()
{
    consumed_ += received_.size();
    received_.clear();
}

bool RelpSender::Fail(RelpFailure failure)
{
    failure_ = failure;
    connection_.Close();
    DropReceived();
    return false;
}

bool RelpSender::FailOn(NetResult result)
{
    switch (result) {
    case NetResult::Ok: break;
    case NetResult::Unresolved: return Fail(RelpFailure::Unresolved);
    case NetResult::Refused: return Fail(RelpFailure::Refused);
    case NetResult::TimedOut: return Fail(RelpFailure::TimedOut);
    case NetResult::Closed: return Fail(RelpFailure::Dropped);
    case NetResult::Stopped: return Fail(RelpFailure::Stopped);
    }
    return Fail(RelpFailure::Dropped);
}

FrameParse RelpSender::TakeFrame(RelpFrame* frame, uint64_t* start)
{
    size_t length = 0;
    const FrameParse parse = ParseRelpFrame(received_, frame, &length);
    if (parse == FrameParse::Complete) {
        if (start != nullptr)
            *start = consumed_;
        received_.erase(0, length);
        consumed_ += length;
    }
    return parse;
}

bool RelpSender::AwaitWholeFrame(int64_t deadlineMs)
{
    RelpFrame frame;
    size_t length = 0;
    while (ParseRelpFrame(received_, &frame, &length) == FrameParse::Incomplete) {
        const int64_t leftMs = deadlineMs - MonotonicMs();
        const NetResult result =
            leftMs > 0 ? connection_.Receive(&received_, static_cast<int>(leftMs)) : NetResult::TimedOut;
        if (result != NetResult::Ok)
            return FailOn(result);
    }
    return true;
}

bool RelpSender::AwaitFrame(RelpFrame* frame, int64_t deadlineMs)
{
    if (!AwaitWholeFrame(deadlineMs))
        return false;
    return TakeFrame(frame) == FrameParse::Complete || Fail(RelpFailure::Garbage);
}

bool RelpSender::Open()
{
    DropReceived();
    const NetResult connected = connection_.Connect(host_, port_, connectTimeoutMs_);
    if (connected != NetResult::Ok)
        return FailOn(connected);
    txnr_ = 1;
    std::string offer;
    AppendRelpFrame(txnr_, "open", OPEN_OFFERS, &offer);
    const NetResult sent = connection_.SendAll(offer, answerTimeoutMs_);
    if (sent != NetResult::Ok)
        return FailOn(sent);
    RelpFrame answer;
    if (!AwaitFrame(&answer, MonotonicMs() + answerTimeoutMs_))
        return false;
    if (answer.command == "serverclose")
        return Fail(RelpFailure::Dropped);
    const int code = RelpResponseCode(answer.data);
    if (answer.command != "rsp" || answer.txnr != txnr_ || code < 0)
        return Fail(RelpFailure::Garbage);
    if (code != RELP_STATUS_OK || !OffersSyslog(answer.data)) {
        rejectedCode_ = code == RELP_STATUS_OK ? 0 : code;
        return Fail(RelpFailure::Rejected);
    }
    return true;
}

bool RelpSender::Deliver(std::string_view piece)
{
    // What the centre took of this piece before a failure goes no second time.
    size_t confirmed = 0;
    if (!confirmed_.empty() && piece.substr(0, confirmed_.size()) == confirmed_)
        confirmed = confirmed_.size();
    if (SendRecords(piece, &confirmed)) {
        confirmed_.clear();
        failure_ = RelpFailure::None;
        return true;
    }
    confirmed_.assign(piece.substr(0, confirmed));
    return false;
}

bool RelpSender::TakeArrivedAnswers(std::deque<RecordOnTheWay>* onTheWay, size_t* confirmed)
{
    const NetResult arrived = connection_.ReceiveArrived(&received_);
    RelpFrame answer;
    uint64_t start = 0;
    for (FrameParse parse; (parse = TakeFrame(&answer, &start)) != FrameParse::Incomplete;) {
        int code = 0;
        const RelpFailure failure =
            parse == FrameParse::Malformed ? RelpFailure::Garbage : TakeAnswer(answer, start, onTheWay, &code);
        if (failure != RelpFailure::None) {
            rejectedCode_ = code;
            return Fail(failure);
        }
        while (!onTheWay->empty() && onTheWay->front().confirmed) {
            *confirmed = onTheWay->front().end;
            onTheWay->pop_front();
        }
    }
    return arrived == NetResult::Ok || FailOn(arrived);
}

bool RelpSender::SendRecords(std::string_view piece, size_t* confirmed)
{
    size_t next = *confirmed;
    if (next < piece.size() && !connection_.IsOpen() && !Open())
        return false;
    const std::string header = SyslogHeader(syslogHost_, std::chrono::system_clock::now());
    std::deque<RecordOnTheWay> onTheWay;
    std::string out;
    while (next < piece.size() || !onTheWay.empty()) {
        // Whatever the centre sent so far is read before more records go, so that none of it
        // is taken for an answer to them.
        if (!TakeArrivedAnswers(&onTheWay, confirmed))
            return false;
        out.clear();
        const uint64_t sentAfter = consumed_ + received_.size();
        while (onTheWay.size() < WINDOW && next < piece.size()) {
            if (FrameRecord(piece, header, &next, &txnr_, &out))
                onTheWay.push_back({txnr_, next, sentAfter, false});
            else if (onTheWay.empty())
                *confirmed = next;  // an empty line carries no record
        }
        const NetResult sent = out.empty() ? NetResult::Ok : connection_.SendAll(out, answerTimeoutMs_);
        if (sent != NetResult::Ok)
            return FailOn(sent);
        // One answer is awaited, whole within the time-out; the loop takes it with the rest.
        if (!onTheWay.empty() && !AwaitWholeFrame(MonotonicMs() + answerTimeoutMs_))
            return false;
    }
    return true;
}

void RelpSender::Close()
{
    if (!connection_.IsOpen())
        return;
    std::string close;
    txnr_ = NextRelpTxnr(txnr_);
    AppendRelpFrame(txnr_, "close", "", &close);
    RelpFrame answer;
    const int64_t deadline = MonotonicMs() + CLOSE_ANSWER_TIMEOUT_MS;
    if (connection_.SendAll(close, CLOSE_ANSWER_TIMEOUT_MS) == NetResult::Ok)
        AwaitFrame(&answer, deadline);  // the centre's "rsp"; then it closes
    connection_.Close();
    DropReceived();
}
