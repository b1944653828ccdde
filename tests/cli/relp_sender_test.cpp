// RELP as the sender speaks it: the framing table by table, and whole deliveries to a fake
// centre on the loopback interface that answers well, badly, or not at all.
#include "relp_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "command_line.h"
#include "host_port.h"
#include "notices.h"
#include "relp_output.h"
#include "syslog_message.h"

namespace {

using namespace std::chrono;

TEST(RelpFraming, EncodesWithAndWithoutData)
{
    std::string out;
    AppendRelpFrame(1, "open", "relp_version=0", &out);
    AppendRelpFrame(999999999, "close", "", &out);
    EXPECT_EQ("1 open 14 relp_version=0\n999999999 close 0\n", out);
}

TEST(RelpFraming, ParsesAnswersAndRefusesWhatIsNone)
{
    struct Case {
        std::string bytes;
        FrameParse parse;
        uint32_t txnr;
        std::string command;
        std::string data;
    } const cases[] = {
        {"2 rsp 6 200 OK\n", FrameParse::Complete, 2, "rsp", "200 OK"},
        {"4 rsp 0\n", FrameParse::Complete, 4, "rsp", ""},
        {"0 serverclose 0\n", FrameParse::Complete, 0, "serverclose", ""},
        {"999999999 rsp 3 200\n7 rsp", FrameParse::Complete, 999999999, "rsp", "200"},
        {"1 rsp 10 200 OK\nx=\n\n", FrameParse::Complete, 1, "rsp", "200 OK\nx=\n"},  // LF inside data
        {"1 rsp 16384 ", FrameParse::Incomplete, 0, "", ""},
        {"1 rsp 16385 ", FrameParse::Malformed, 0, "", ""},  // longer than any answer of ours
        {"1234567890 rsp 0\n", FrameParse::Malformed, 0, "", ""},
        {"1 rsp 1234567890 ", FrameParse::Malformed, 0, "", ""},
        {"HTTP/1.1 400 Bad Request\r\n", FrameParse::Malformed, 0, "", ""},
        {"1 rsp 6 200 OKX", FrameParse::Malformed, 0, "", ""},  // no trailer where it belongs
        {"1 rsp 6\n", FrameParse::Malformed, 0, "", ""},
        {"1 rsp 0 \n", FrameParse::Malformed, 0, "", ""},
        {"1  rsp 0\n", FrameParse::Malformed, 0, "", ""},
        {"1 r2p 0\n", FrameParse::Malformed, 0, "", ""},
        {" 1 rsp 0\n", FrameParse::Malformed, 0, "", ""},
        {"1 " + std::string(33, 'r') + " 0\n", FrameParse::Malformed, 0, "", ""},
    };
    for (const Case& c : cases) {
        RelpFrame frame;
        size_t length = 0;
        ASSERT_EQ(c.parse, ParseRelpFrame(c.bytes, &frame, &length)) << c.bytes;
        if (c.parse != FrameParse::Complete)
            continue;
        EXPECT_EQ(std::tie(c.txnr, c.command, c.data), std::tie(frame.txnr, frame.command, frame.data)) << c.bytes;
        // Every shorter start of the frame waits for more.
        for (size_t cut = 0; cut < length; ++cut)
            EXPECT_EQ(FrameParse::Incomplete, ParseRelpFrame(c.bytes.substr(0, cut), &frame, &length)) << cut;
    }
}

TEST(RelpFraming, ReadsStatusCodesAndNumbers)
{
    const std::pair<std::string, int> codes[] = {
        {"200 OK", 200}, {"200", 200}, {"500 error\nmore", 500}, {"200OK", -1}, {"20", -1}, {"", -1}, {"OK 200", -1},
    };
    for (const auto& [data, code] : codes)
        EXPECT_EQ(code, RelpResponseCode(data)) << data;
    const std::pair<uint32_t, uint32_t> txnrs[] = {{1, 2}, {999999998, 999999999}, {999999999, 1}};
    for (const auto& [txnr, next] : txnrs)
        EXPECT_EQ(next, NextRelpTxnr(txnr)) << txnr;
}

TEST(RelpTarget, SplitsHostAndPort)
{
    const std::pair<std::string, std::string> cases[] = {  // text, "host port" or "" when refused
        {"centre:2514", "centre 2514"}, {"10.0.0.5:65535", "10.0.0.5 65535"}, {"c:1", "c 1"},
        {"centre:0", ""}, {"centre:65536", ""}, {"centre", ""}, {":2514", ""}, {"centre:", ""},
        {"centre:25x4", ""}, {"centre:000002514", ""},
        // The sender speaks IPv4: an IPv6 address is no host it could reach.
        {"[::1]:514", ""}, {"::1:514", ""}, {"fe80::1:514", ""}, {"[centre]:514", ""}, {"centre]:514", ""},
    };
    for (const auto& [text, expected] : cases) {
        HostPort target;
        const bool valid = ParseHostPort(text, &target);
        EXPECT_EQ(expected, valid ? target.host + " " + std::to_string(target.port) : "") << text;
    }
}

TEST(RelpTarget, GoesOnlyWithFollowingJson)
{
    const std::pair<std::vector<std::string>, Command> cases[] = {
        {{"report", "--follow", "--json", "--relp", "centre:2514", "log"}, Command::Report},
        {{"report", "--follow", "--relp", "centre:2514", "log"}, Command::BadUsage},  // text is no record
        {{"report", "--json", "--relp", "centre:2514", "log"}, Command::BadUsage},
        {{"report", "--follow", "--json", "--relp", "centre", "log"}, Command::BadUsage},
        {{"report", "--follow", "--json", "log", "--relp"}, Command::BadUsage},
    };
    for (const auto& [arguments, command] : cases)
        EXPECT_EQ(command, ParseCommandLine(arguments, true).command) << arguments.size();
}

TEST(SyslogMessage, HeaderCarriesTheUtcTimeAndAPrintableHostName)
{
    const auto leapDay = sys_days{2024y / February / 29} + 23h + 59min + 59s + 1us;
    EXPECT_EQ("<134>1 2024-02-29T23:59:59.000001Z pc-7 ndislog - - - ", SyslogHeader("pc-7", leapDay));
    EXPECT_EQ("<134>1 1999-12-31T00:00:00.000000Z - ndislog - - - ",
              SyslogHeader(SyslogHostName(""), sys_days{1999y / December / 31}));
    EXPECT_EQ("a-b-\x21~-", SyslogHostName("a b\xE3\x21~\x7F"));
    EXPECT_EQ(255u, SyslogHostName(std::string(300, 'h')).size());
}

// How the fake centre misbehaves.
enum class Fault {
    None,
    AnswersByteByByte,
    Trickles,         // a byte of its answers every 100 ms: never a whole answer in time
    AnswersAhead,     // 200 to transactions 2-129 with the open's answer, before any was sent
    AnswersAheadByHalf,  // the first half of its answer to 2 with the open's answer, the rest after 2
    AnswersAfterTen,  // holds its answers until ten records have come
    Answers500,
    Answers500ToThird,
    RefusesOpen,
    OffersNoSyslog,
    AnswersGarbage,
    AnswersStrangeTxnr,
    AnswersTwice,        // a second 200 to a record already taken, ahead of those before it
    AnswersWithoutCode,
    AnswersOpenAsAnother,  // the open's answer carries another transaction number
    ClosesMidFrame,
    SaysServerclose,
    Silent,
};

// A RELP centre on 127.0.0.1 that takes one session at a time and keeps every frame it got.
class FakeCentre {
public:
    explicit FakeCentre(Fault fault) : fault_(fault)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener_, 4) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            ADD_FAILURE() << "the fake centre cannot listen";
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~FakeCentre()
    {
        stop_ = true;
        thread_.join();
        close(listener_);
    }

    uint16_t Port() const { return port_; }
    void SetFault(Fault fault) { fault_ = fault; }
    int Sessions() const { return sessions_; }
    // The frames of session `session` (1 the first), or of all sessions.
    std::vector<RelpFrame> Frames(int session = 0)
    {
        std::lock_guard lock(mutex_);
        std::vector<RelpFrame> frames;
        for (const auto& [from, frame] : frames_) {
            if (session == 0 || from == session)
                frames.push_back(frame);
        }
        return frames;
    }
    // The MSG of every syslog message received, checking the header of each.
    std::vector<std::string> Messages(int session = 0)
    {
        std::vector<std::string> messages;
        for (const RelpFrame& frame : Frames(session)) {
            if (frame.command != "syslog")
                continue;
            const size_t msg = frame.data.find(" host-1 ndislog - - - ");
            EXPECT_TRUE(frame.data.starts_with("<134>1 20") && msg != std::string::npos) << frame.data;
            messages.push_back(frame.data.substr(msg + 22));
        }
        return messages;
    }

private:
    bool Readable(int descriptor) const
    {
        pollfd watched{descriptor, POLLIN, 0};
        return poll(&watched, 1, 20) > 0;
    }

    void Run()
    {
        while (!stop_) {
            if (!Readable(listener_))
                continue;
            const int session = accept(listener_, nullptr, nullptr);
            if (session < 0)
                continue;
            ++sessions_;
            Serve(session);
            close(session);
        }
    }

    void Serve(int session)
    {
        std::string received;
        std::string held;  // answers not yet sent
        int syslogCount = 0;
        while (!stop_) {
            if (!Readable(session))
                continue;
            char buffer[4096];
            const ssize_t count = recv(session, buffer, sizeof buffer, 0);
            if (count <= 0)
                return;
            received.append(buffer, static_cast<size_t>(count));
            RelpFrame frame;
            size_t length = 0;
            while (ParseRelpFrame(received, &frame, &length) == FrameParse::Complete) {
                received.erase(0, length);
                {
                    std::lock_guard lock(mutex_);
                    frames_.emplace_back(sessions_.load(), frame);
                }
                const auto answer = [&frame](std::string_view data) {
                    std::string bytes;
                    AppendRelpFrame(frame.txnr, "rsp", data, &bytes);
                    return bytes;
                };
                if (frame.command == "open" && fault_ == Fault::AnswersOpenAsAnother) {
                    Send(session, "7 rsp 37 200 OK\nrelp_version=0\ncommands=syslog\n");
                    continue;
                }
                if (frame.command == "open" && (fault_ == Fault::AnswersAhead || fault_ == Fault::AnswersAheadByHalf)) {
                    std::string ahead = answer("200 OK\nrelp_version=0\ncommands=syslog");
                    for (uint32_t txnr = 2; txnr <= (fault_ == Fault::AnswersAhead ? 129u : 1u); ++txnr)
                        AppendRelpFrame(txnr, "rsp", "200 OK", &ahead);
                    Send(session, fault_ == Fault::AnswersAhead ? ahead : ahead + "2 rsp 6 20");
                    continue;
                }
                if (frame.command == "open") {
                    Send(session, answer(fault_ == Fault::RefusesOpen      ? "500 No no"
                                         : fault_ == Fault::OffersNoSyslog ? "200 OK\nrelp_version=0"
                                                                           : "200 OK\nrelp_version=0\ncommands=syslog"));
                    continue;
                }
                if (frame.command == "close") {
                    Send(session, answer("") + "0 serverclose 0\n");
                    return;
                }
                ++syslogCount;
                switch (fault_) {
                case Fault::AnswersAheadByHalf:
                    Send(session, frame.txnr == 2 ? std::string("0 OK\n") : answer("200 OK"));
                    break;
                case Fault::None:
                case Fault::AnswersAhead:
                case Fault::AnswersOpenAsAnother:
                case Fault::RefusesOpen:
                case Fault::OffersNoSyslog: Send(session, answer("200 OK")); break;
                case Fault::AnswersByteByByte:
                    for (const char c : answer("200 OK")) {
                        Send(session, std::string(1, c));
                        std::this_thread::sleep_for(1ms);
                    }
                    break;
                case Fault::Trickles:
                    for (const char c : answer("200 OK")) {
                        if (stop_ || !Send(session, std::string(1, c)))
                            return;
                        std::this_thread::sleep_for(100ms);
                    }
                    break;
                case Fault::AnswersAfterTen:
                    held += answer("200 OK");
                    if (syslogCount >= 10)
                        Send(session, std::exchange(held, std::string()));
                    break;
                case Fault::Answers500: Send(session, answer("500 Refused")); break;
                case Fault::Answers500ToThird: Send(session, answer(syslogCount == 3 ? "500 Refused" : "200 OK")); break;
                case Fault::AnswersGarbage: Send(session, "HTTP/1.1 400 Bad Request\r\n\r\n"); break;
                case Fault::AnswersStrangeTxnr: Send(session, "77 rsp 6 200 OK\n"); break;
                case Fault::AnswersTwice:  // the tenth twice, while the first nine are still unanswered
                    if (syslogCount < 10)
                        held += answer("200 OK");
                    else
                        Send(session, answer("200 OK") + (syslogCount == 10 ? answer("200 OK") + held : ""));
                    break;
                case Fault::AnswersWithoutCode: Send(session, answer("OK")); break;
                case Fault::ClosesMidFrame: Send(session, answer("200 OK").substr(0, 9)); return;
                case Fault::SaysServerclose: Send(session, "0 serverclose 0\n"); return;
                case Fault::Silent: break;
                }
            }
        }
    }

    static bool Send(int session, const std::string& bytes)
    {
        return send(session, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }

    std::atomic<Fault> fault_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_ = false;
    std::atomic<int> sessions_ = 0;
    std::mutex mutex_;
    std::vector<std::pair<int, RelpFrame>> frames_;
};

std::string Records(int first, int last)
{
    std::string lines;
    for (int number = first; number <= last; ++number)
        lines += "{\"record\":" + std::to_string(number) + "}\n";
    return lines;
}

std::vector<std::string> RecordList(int first, int last)
{
    std::vector<std::string> list;
    for (int number = first; number <= last; ++number)
        list.push_back("{\"record\":" + std::to_string(number) + "}");
    return list;
}

constexpr int SHORT_TIMEOUT_MS = 300;

TEST(RelpSender, DeliversEveryRecordOnlyWhenEachWasAnswered200)
{
    struct Case {
        Fault fault;
        bool delivered;
        RelpFailure failure;
    } const cases[] = {
        {Fault::None, true, RelpFailure::None},
        {Fault::AnswersByteByByte, true, RelpFailure::None},
        {Fault::AnswersAfterTen, true, RelpFailure::None},  // only when records go before answers come
        {Fault::Answers500, false, RelpFailure::Rejected},
        {Fault::RefusesOpen, false, RelpFailure::Rejected},
        {Fault::OffersNoSyslog, false, RelpFailure::Rejected},
        {Fault::AnswersGarbage, false, RelpFailure::Garbage},
        {Fault::AnswersStrangeTxnr, false, RelpFailure::Garbage},
        {Fault::AnswersTwice, false, RelpFailure::Garbage},
        {Fault::AnswersAhead, false, RelpFailure::Garbage},
        {Fault::AnswersAheadByHalf, false, RelpFailure::Garbage},
        {Fault::AnswersWithoutCode, false, RelpFailure::Garbage},
        {Fault::AnswersOpenAsAnother, false, RelpFailure::Garbage},
        {Fault::ClosesMidFrame, false, RelpFailure::Dropped},
        {Fault::SaysServerclose, false, RelpFailure::Dropped},
        {Fault::Silent, false, RelpFailure::TimedOut},
        {Fault::Trickles, false, RelpFailure::TimedOut},  // the time-out is for the whole answer
    };
    for (const Case& c : cases) {
        FakeCentre centre(c.fault);
        RelpSender sender("127.0.0.1", centre.Port(), "host-1");
        sender.SetTimeouts(SHORT_TIMEOUT_MS, SHORT_TIMEOUT_MS);
        const auto started = steady_clock::now();
        const std::string piece = Records(1, 6) + "\n" + Records(7, 12);  // an empty line carries nothing
        EXPECT_EQ(c.delivered, sender.Deliver(piece)) << static_cast<int>(c.fault);
        EXPECT_EQ(c.failure, sender.Failure()) << static_cast<int>(c.fault);
        EXPECT_LT(steady_clock::now() - started, 3s) << static_cast<int>(c.fault);
        if (c.delivered) {
            sender.Close();
            const std::vector<RelpFrame> frames = centre.Frames();
            ASSERT_EQ(14u, frames.size());
            EXPECT_EQ("open", frames[0].command);
            EXPECT_EQ(0u, frames[0].data.find("relp_version=0\nrelp_software=ndislog,")) << frames[0].data;
            EXPECT_TRUE(frames[0].data.ends_with(",-\ncommands=syslog")) << frames[0].data;
            for (uint32_t index = 0; index < frames.size(); ++index)
                EXPECT_EQ(index + 1, frames[index].txnr);
            EXPECT_EQ("close", frames.back().command);
            EXPECT_EQ(RecordList(1, 12), centre.Messages());
        }
    }
}

TEST(RelpSender, ReportsWhyNoSessionCameAbout)
{
    const std::pair<std::string, RelpFailure> cases[] = {
        {"no-such-host.invalid", RelpFailure::Unresolved},
        {"127.0.0.1", RelpFailure::Refused},
    };
    uint16_t unusedPort;
    {
        FakeCentre gone(Fault::None);
        unusedPort = gone.Port();
    }
    for (const auto& [host, failure] : cases) {
        RelpSender sender(host, unusedPort, "host-1");
        EXPECT_FALSE(sender.Deliver(Records(1, 1))) << host;
        EXPECT_EQ(failure, sender.Failure()) << host;
    }
}

TEST(RelpSender, AfterAFailureSendsOnlyWhatTheCentreHadNotTaken)
{
    FakeCentre centre(Fault::Answers500ToThird);
    RelpSender sender("127.0.0.1", centre.Port(), "host-1");
    sender.SetTimeouts(SHORT_TIMEOUT_MS, SHORT_TIMEOUT_MS);
    EXPECT_FALSE(sender.Deliver(Records(1, 5)));
    EXPECT_EQ(RelpFailure::Rejected, sender.Failure());
    EXPECT_EQ(500, sender.RejectedCode());

    // The follower reads the same place again, and more has been written meanwhile.
    centre.SetFault(Fault::None);
    EXPECT_TRUE(sender.Deliver(Records(1, 7)));
    EXPECT_EQ(2, centre.Sessions());
    EXPECT_EQ(RecordList(3, 7), centre.Messages(2));

    // A piece that does not begin with what was taken (the log was rewritten) is sent whole.
    sender.Close();
    centre.SetFault(Fault::Answers500ToThird);
    EXPECT_FALSE(sender.Deliver(Records(1, 5)));
    centre.SetFault(Fault::None);
    EXPECT_TRUE(sender.Deliver(Records(11, 15)));
    EXPECT_EQ(RecordList(11, 15), centre.Messages(4));

    // Answers that came before their records confirm none of them.
    sender.Close();
    centre.SetFault(Fault::AnswersAhead);
    EXPECT_FALSE(sender.Deliver(Records(1, 5)));
    centre.SetFault(Fault::None);
    EXPECT_TRUE(sender.Deliver(Records(1, 5)));
    EXPECT_EQ(RecordList(1, 5), centre.Messages(6));
}

bool AlwaysStop()
{
    return true;
}

// One grace for the whole session: a centre that keeps sending a byte now and then gains none.
TEST(RelpSender, AStopEndsTheWaitForAnAnswerAfterAGrace)
{
    for (const Fault fault : {Fault::Silent, Fault::Trickles}) {
        FakeCentre centre(fault);
        RelpSender sender("127.0.0.1", centre.Port(), "host-1");
        sender.SetStopCheck(AlwaysStop);
        const auto started = steady_clock::now();
        EXPECT_FALSE(sender.Deliver(Records(1, 12))) << static_cast<int>(fault);
        sender.Close();
        EXPECT_EQ(RelpFailure::Stopped, sender.Failure()) << static_cast<int>(fault);
        EXPECT_LT(steady_clock::now() - started, milliseconds(TcpConnection::STOP_GRACE_MS + 500))
            << static_cast<int>(fault);
    }
}

// What the centre's notices say, line by line, each after its type.
class RecordingChannel final : public NoticeChannel {
public:
    void Tell(NoticeType type, std::string_view lines) override
    {
        told.push_back((type == NoticeType::Error ? "error " : type == NoticeType::Warning ? "warning " : "information ") +
                       std::string(lines));
    }
    std::vector<std::string> told;
};

class NoLogNotices final : public OutputSink {
public:
    bool Write(std::string_view) override { return true; }
    void Announce(Notice, int) override {}
};

// Each outage is told once, and so is its end; the next outage is told afresh.
TEST(RelpOutput, TellsEachOutageAndItsEndOnce)
{
    FakeCentre centre(Fault::Answers500);
    HostPort target;
    ASSERT_TRUE(ParseHostPort("127.0.0.1:" + std::to_string(centre.Port()), &target));
    NoLogNotices logNotices;
    RecordingChannel channel;
    RelpOutput output(target, "host-1", logNotices, channel, nullptr);
    const std::string down = "warning " + CannotDeliverText(target.text, "answered 500");
    const std::string back = "information " + DeliveringAgainText(target.text);
    EXPECT_FALSE(output.Write(Records(1, 1)));
    std::this_thread::sleep_for(milliseconds(ReconnectPauseMs(1) + 100));
    EXPECT_FALSE(output.Write(Records(1, 1)));  // the same outage
    std::this_thread::sleep_for(milliseconds(ReconnectPauseMs(2) + 100));
    centre.SetFault(Fault::None);
    EXPECT_TRUE(output.Write(Records(1, 1)));
    EXPECT_TRUE(output.Write(Records(2, 2)));
    centre.SetFault(Fault::Answers500);
    EXPECT_FALSE(output.Write(Records(3, 3)));
    EXPECT_EQ((std::vector<std::string>{down, back, down}), channel.told);
}

TEST(RelpOutput, PausesGrowToHalfAMinute)
{
    const std::pair<int, int> pauses[] = {{1, 1000}, {2, 2000}, {5, 16000}, {6, 30000}, {1000, 30000}};
    for (const auto& [failures, pauseMs] : pauses)
        EXPECT_EQ(pauseMs, ReconnectPauseMs(failures)) << failures;
}

}  // namespace
