// The sender's session. Answers are matched to records by transaction number, so the records
// taken are known exactly even when a session breaks half way.
#include "relp_sender.h"

#include <chrono>
#include <deque>

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

// A record on the way: its transaction number and where it ends in the piece.
struct InFlight {
    uint32_t txnr;
    size_t end;
    bool confirmed;
};

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

// Marks the record that `answer` answers as taken; the failure when the answer is anything
// but a 200 to a record on the way (`*code` then holds a code other than 200).
RelpFailure TakeAnswer(const RelpFrame& answer, std::deque<InFlight>* inFlight, int* code)
{
    if (answer.command == "serverclose")
        return RelpFailure::Dropped;
    *code = RelpResponseCode(answer.data);
    auto record = inFlight->begin();
    while (record != inFlight->end() && (record->txnr != answer.txnr || record->confirmed))
        ++record;
    if (answer.command != "rsp" || record == inFlight->end() || *code < 0)
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

bool RelpSender::Fail(RelpFailure failure)
{
    failure_ = failure;
    connection_.Close();
    received_.clear();
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

FrameParse RelpSender::TakeFrame(RelpFrame* frame)
{
    size_t length = 0;
    const FrameParse parse = ParseRelpFrame(received_, frame, &length);
    if (parse == FrameParse::Complete)
        received_.erase(0, length);
    return parse;
}

bool RelpSender::AwaitFrame(RelpFrame* frame, int timeoutMs)
{
    for (;;) {
        const FrameParse parse = TakeFrame(frame);
        if (parse == FrameParse::Complete)
            return true;
        if (parse == FrameParse::Malformed)
            return Fail(RelpFailure::Garbage);
        const NetResult result = connection_.Receive(&received_, timeoutMs);
        if (result != NetResult::Ok)
            return FailOn(result);
    }
}

bool RelpSender::Open()
{
    received_.clear();
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
    if (!AwaitFrame(&answer, answerTimeoutMs_))
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

bool RelpSender::SendRecords(std::string_view piece, size_t* confirmed)
{
    size_t next = *confirmed;
    if (next < piece.size() && !connection_.IsOpen() && !Open())
        return false;
    const std::string header = SyslogHeader(syslogHost_, std::chrono::system_clock::now());
    std::deque<InFlight> inFlight;
    std::string out;
    while (next < piece.size() || !inFlight.empty()) {
        out.clear();
        while (inFlight.size() < WINDOW && next < piece.size()) {
            if (FrameRecord(piece, header, &next, &txnr_, &out))
                inFlight.push_back({txnr_, next, false});
            else if (inFlight.empty())
                *confirmed = next;  // an empty line carries no record
        }
        const NetResult sent = out.empty() ? NetResult::Ok : connection_.SendAll(out, answerTimeoutMs_);
        if (sent != NetResult::Ok)
            return FailOn(sent);
        if (inFlight.empty())
            break;

        // One answer is awaited; every other one already here is taken before more records go.
        RelpFrame answer;
        if (!AwaitFrame(&answer, answerTimeoutMs_))
            return false;
        for (FrameParse parse = FrameParse::Complete; parse != FrameParse::Incomplete; parse = TakeFrame(&answer)) {
            int code = 0;
            const RelpFailure failure = parse == FrameParse::Malformed ? RelpFailure::Garbage
                                                                       : TakeAnswer(answer, &inFlight, &code);
            if (failure != RelpFailure::None) {
                rejectedCode_ = code;
                return Fail(failure);
            }
            while (!inFlight.empty() && inFlight.front().confirmed) {
                *confirmed = inFlight.front().end;
                inFlight.pop_front();
            }
        }
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
    if (connection_.SendAll(close, CLOSE_ANSWER_TIMEOUT_MS) == NetResult::Ok)
        AwaitFrame(&answer, CLOSE_ANSWER_TIMEOUT_MS);  // the centre's "rsp"; then it closes
    connection_.Close();
    received_.clear();
}
