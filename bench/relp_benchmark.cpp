// Records per second over RELP to a local central rsyslogd (contrib/rsyslog's centre, imrelp,
// which writes each record before it confirms it): the sender alone, piece by piece, and the
// companion as a process following a log until the centre holds all of it.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "generated_log.h"
#include "relp_sender.h"
#include "socket_connection.h"
#include "syslog_message.h"

namespace {

using namespace std::chrono;

constexpr int FOLLOWED_RECORDS = 20000;
constexpr auto CENTRE_DEADLINE = 20s;
const char* const BENCH_HOST = "relp-bench";

// One record as `report --follow --json` writes it, about 120 bytes.
std::string JsonRecord(int number)
{
    return "{\"record\":" + std::to_string(number) +
           ",\"generation\":\"0f3a5c7e9b1d2f40\",\"head\":\"00:00:01 00001\",\"message\":\"Call setup\","
           "\"decoded\":\"CONN (00000010) ch=1 (0000001F)\"}\n";
}

// contrib/rsyslog's centre; NDISLOG_BENCH_CENTRE_CONF may name another config of the same kind.
const char* CentreConfig()
{
    const char* config = std::getenv("NDISLOG_BENCH_CENTRE_CONF");
    return config && *config ? config : NDISLOG_CENTRE_CONF;
}

uint16_t FreePort()
{
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

// Counts the lines of a file that only grows, reading each byte once.
class LineCounter {
public:
    explicit LineCounter(std::string path) : path_(std::move(path)) {}

    size_t Count()
    {
        if (std::FILE* file = std::fopen(path_.c_str(), "rb")) {
            std::fseek(file, offset_, SEEK_SET);
            char buffer[65536];
            for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0; offset_ += static_cast<long>(count))
                lines_ += static_cast<size_t>(std::count(buffer, buffer + count, '\n'));
            std::fclose(file);
        }
        return lines_;
    }

private:
    std::string path_;
    long offset_ = 0;
    size_t lines_ = 0;
};

// The central rsyslogd, started once with its own folder and port, ended by its pid at exit.
class LocalCentre {
public:
    static LocalCentre& Get()
    {
        static LocalCentre centre;
        return centre;
    }

    bool Running() const { return running_; }
    uint16_t Port() const { return port_; }
    std::string Folder() const { return folder_; }
    std::string StoreOf(const std::string& host) const { return folder_ + "/store/" + host + ".jsonl"; }

    ~LocalCentre()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        std::system(("rm -rf '" + folder_ + "'").c_str());
    }

private:
    LocalCentre() : folder_("/tmp/ndislog-relp-bench-XXXXXX"), port_(FreePort())
    {
        if (mkdtemp(folder_.data()) == nullptr)
            return;
        const std::string store = folder_ + "/store";
        std::system(("mkdir -p '" + store + "'").c_str());
        setenv("NDISLOG_CENTRE_ADDRESS", "127.0.0.1", 1);
        setenv("NDISLOG_CENTRE_PORT", std::to_string(port_).c_str(), 1);
        setenv("NDISLOG_CENTRE_STORE", store.c_str(), 1);
        setenv("NDISLOG_CENTRE_WRITER", NDISLOG_STORE_WRITER, 1);
        const std::string pidFile = folder_ + "/centre.pid";
        pid_ = fork();
        if (pid_ == 0) {
            freopen((folder_ + "/centre.out").c_str(), "w", stderr);
            execlp("rsyslogd", "rsyslogd", "-n", "-f", CentreConfig(), "-i", pidFile.c_str(), nullptr);
            execl("/usr/sbin/rsyslogd", "rsyslogd", "-n", "-f", CentreConfig(), "-i", pidFile.c_str(), nullptr);
            _exit(127);
        }
        TcpConnection probe;
        for (const auto deadline = steady_clock::now() + CENTRE_DEADLINE; steady_clock::now() < deadline;) {
            if (probe.Connect("127.0.0.1", port_, 1000) == NetResult::Ok) {
                running_ = true;
                return;
            }
            std::this_thread::sleep_for(50ms);
        }
    }

    std::string folder_;
    uint16_t port_;
    pid_t pid_ = -1;
    bool running_ = false;
};

void BM_SenderToCentre(benchmark::State& state)
{
    LocalCentre& centre = LocalCentre::Get();
    if (!centre.Running()) {
        state.SkipWithError("the central rsyslogd did not start");
        return;
    }
    std::string piece;
    int records = 0;
    while (piece.size() < 64 * 1024)
        piece += JsonRecord(++records);
    RelpSender sender("127.0.0.1", centre.Port(), BENCH_HOST);
    for (auto _ : state) {
        if (!sender.Deliver(piece)) {
            state.SkipWithError(("delivery failed: " + RelpFailureText(sender.Failure(), 0)).c_str());
            break;
        }
    }
    sender.Close();
    state.counters["records"] = benchmark::Counter(records, benchmark::Counter::kIsIterationInvariantRate);
}

// The companion process from its start until the centre holds every record of the log.
void BM_CompanionToCentre(benchmark::State& state)
{
    LocalCentre& centre = LocalCentre::Get();
    if (!centre.Running()) {
        state.SkipWithError("the central rsyslogd did not start");
        return;
    }
    const std::string log = centre.Folder() + "/ndislog.txt";
    const std::string stateFile = centre.Folder() + "/ndislog.state";
    if (std::FILE* file = std::fopen(log.c_str(), "wb")) {
        std::mt19937 random(11u);
        for (int index = 0; index < FOLLOWED_RECORDS; ++index) {
            const std::string line = MakeLogLine(index, &random);
            std::fwrite(line.data(), 1, line.size(), file);
        }
        std::fclose(file);
    }
    LineCounter stored(centre.StoreOf(SyslogHostName(LocalHostName())));
    for (auto _ : state) {
        // The centre keeps its file open: what came before is counted, not removed.
        const size_t before = stored.Count();
        unlink(stateFile.c_str());
        const auto started = steady_clock::now();
        const pid_t companion = fork();
        if (companion == 0) {
            const std::string target = "127.0.0.1:" + std::to_string(centre.Port());
            execl(NDISLOG_PROGRAM, NDISLOG_PROGRAM, "report", "--follow", "--json", "--relp", target.c_str(), "--state",
                  stateFile.c_str(), "--interval", "100", log.c_str(), nullptr);
            _exit(127);
        }
        const auto deadline = started + 60s;
        while (stored.Count() < before + FOLLOWED_RECORDS && steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        state.SetIterationTime(duration<double>(steady_clock::now() - started).count());
        kill(companion, SIGTERM);
        waitpid(companion, nullptr, 0);
        if (stored.Count() != before + FOLLOWED_RECORDS) {
            state.SkipWithError(("the centre took " + std::to_string(stored.Count() - before) + " records, not each once").c_str());
            break;
        }
    }
    state.counters["records"] = benchmark::Counter(FOLLOWED_RECORDS, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_SenderToCentre)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompanionToCentre)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
