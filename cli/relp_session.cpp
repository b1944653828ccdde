// RELP framing and the sender's session. Answers are matched to records by transaction
// number, so the records taken are known exactly even when a session breaks half way.
#include "relp_session.h"

#include <chrono>
#include <deque>

#include "syslog_message.h"

#ifndef NDISLOG_VERSION
#define NDISLOG_VERSION "0"
#endif

namespace {

constexpr int RELP_STATUS_OK = 200;
constexpr size_t RELP_NUMBER_DIGITS_MAX = 9;
constexpr size_t RELP_COMMAND_MAX = 32;
constexpr int CLOSE_ANSWER_TIMEOUT_MS = 2000;

// What the sender offers when it opens a session: the protocol version, itself, and the
// one command it will send.
constexpr std::string_view OPEN_OFFERS =
    "relp_version=0\nrelp_software=ndislog," NDISLOG_VERSION ",-\ncommands=syslog";

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Reads the decimal number at `*at`, up to RELP_NUMBER_DIGITS_MAX digits and the byte after.
FrameParse ReadNumber(std::string_view bytes, size_t* at, uint32_t* value)
{
    const size_t start = *at;
    uint32_t number = 0;
    while (*at < bytes.size() && IsDigit(bytes[*at])) {
        if (*at - start == RELP_NUMBER_DIGITS_MAX)
            return FrameParse::Malformed;
        number = number * 10 + static_cast<uint32_t>(bytes[*at] - '0');
        ++*at;
    }
    if (*at == bytes.size())
        return FrameParse::Incomplete;
    *value = number;
    return *at > start ? FrameParse::Complete : FrameParse::Malformed;
}

// Takes the byte `expected` at `*at`.
FrameParse Expect(std::string_view bytes, size_t* at, char expected)
{
    if (*at == bytes.size())
        return FrameParse::Incomplete;
    return bytes[(*at)++] == expected ? FrameParse::Complete : FrameParse::Malformed;
}

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

uint32_t NextRelpTxnr(uint32_t txnr)
{
    return txnr >= RELP_TXNR_MAX ? 1 : txnr + 1;
}

void AppendRelpFrame(uint32_t txnr, std::string_view command, std::string_view data, std::string* out)
{
    *out += std::to_string(txnr);
    *out += ' ';
    *out += command;
    *out += ' ';
    *out += std::to_string(data.size());
    if (!data.empty()) {
        *out += ' ';
        *out += data;
    }
    *out += '\n';
}

FrameParse ParseRelpFrame(std::string_view bytes, RelpFrame* frame, size_t* length)
{
    size_t at = 0;
    uint32_t txnr = 0;
    FrameParse step = ReadNumber(bytes, &at, &txnr);
    if (step == FrameParse::Complete)
        step = Expect(bytes, &at, ' ');
    if (step != FrameParse::Complete)
        return step;

    const size_t commandStart = at;
    while (at < bytes.size() && IsLetter(bytes[at]) && at - commandStart < RELP_COMMAND_MAX)
        ++at;
    if (at == bytes.size())
        return FrameParse::Incomplete;
    if (at == commandStart)
        return FrameParse::Malformed;
    const std::string_view command = bytes.substr(commandStart, at - commandStart);
    uint32_t dataLength = 0;
    step = Expect(bytes, &at, ' ');
    if (step == FrameParse::Complete)
        step = ReadNumber(bytes, &at, &dataLength);
    if (step != FrameParse::Complete)
        return step;
    if (dataLength > RELP_ANSWER_MAX)
        return FrameParse::Malformed;

    // Data, when there is any, follows a space; the trailer LF ends every frame.
    if (dataLength > 0 && (step = Expect(bytes, &at, ' ')) != FrameParse::Complete)
        return step;
    if (bytes.size() - at < dataLength)
        return FrameParse::Incomplete;
    const std::string_view data = bytes.substr(at, dataLength);
    at += dataLength;
    if ((step = Expect(bytes, &at, '\n')) != FrameParse::Complete)
        return step;
    frame->txnr = txnr;
    frame->command.assign(command);
    frame->data.assign(data);
    *length = at;
    return FrameParse::Complete;
}

int RelpResponseCode(std::string_view data)
{
    if (data.size() < 3 || !IsDigit(data[0]) || !IsDigit(data[1]) || !IsDigit(data[2]))
        return -1;
    if (data.size() > 3 && data[3] != ' ' && data[3] != '\n')
        return -1;
    return (data[0] - '0') * 100 + (data[1] - '0') * 10 + (data[2] - '0');
}

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

bool ParseHostPort(std::string_view text, std::string* host, uint16_t* port)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    const std::string_view digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5)
        return false;
    uint32_t value = 0;
    for (const char c : digits) {
        if (!IsDigit(c))
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    host->assign(text.substr(0, colon));
    *port = static_cast<uint16_t>(value);
    return true;
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
