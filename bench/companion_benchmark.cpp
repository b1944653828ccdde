// Measures the companion on a generated 64 MiB driver log: one follow reading after 1 KiB
// was appended, the first reading of a follower started again from its state file (which
// reads everything printed before once), and `ndislog report` as a whole process against copying the same file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "child_process.h"
#include "follow.h"
#include "generated_log.h"
#include "report_stream.h"
#include "record_format.h"

namespace {

constexpr int64_t LOG_MEBIBYTES = 64;
constexpr int APPENDED_BYTES = 1024;

// Takes the output and throws it away.
class DiscardingSink final : public OutputSink {
public:
    bool Write(std::string_view bytes) override
    {
        benchmark::DoNotOptimize(bytes.data());
        return true;
    }
    void Announce(Notice, int) override {}
};

void BM_FollowReadingAfterAppend(benchmark::State& state)
{
    // A copy of its own: the appends must not change the log the other benchmarks read.
    const GeneratedLog& source = LogOf(LOG_MEBIBYTES);
    const std::string path = source.Path() + std::string(".follow");
    if (std::system(("cp '" + std::string(source.Path()) + "' '" + path + "'").c_str()) != 0) {
        state.SkipWithError("cannot copy the log");
        return;
    }
    std::mt19937 random(7u);
    std::string appended;
    for (int index = 0; appended.size() < APPENDED_BYTES; ++index)
        appended += MakeLogLine(index, &random);
    TextFormat writer(false);
    LogFollower follower(path, writer);
    DiscardingSink sink;
    follower.Read(sink);  // the whole log once, as at the start of following
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    for (auto _ : state) {
        state.PauseTiming();
        if (write(fd, appended.data(), appended.size()) != static_cast<ssize_t>(appended.size()))
            state.SkipWithError("cannot append");
        state.ResumeTiming();
        follower.Read(sink);
    }
    close(fd);
    unlink(path.c_str());
    state.counters["appended_bytes"] = static_cast<double>(appended.size());
}

// A follower started again on the whole log printed before: its first reading verifies the
// whole stretch and finds nothing new.
void BM_FollowStartFromState(benchmark::State& state)
{
    const GeneratedLog& log = LogOf(LOG_MEBIBYTES);
    const std::string stateFile = log.Path() + std::string(".state");
    TextFormat writer(false);
    DiscardingSink sink;
    LogFollower(log.Path(), writer, stateFile).Read(sink);
    for (auto _ : state) {
        LogFollower follower(log.Path(), writer, stateFile);
        follower.Read(sink);
    }
    unlink(stateFile.c_str());
    unlink((stateFile + ".new").c_str());
    state.SetBytesProcessed(state.iterations() * log.Size());
}

// Runs `arguments` with standard output into `outPath`; false when it did not exit with 0.
// `peakKiB` receives the process's peak resident memory.
bool RunProcess(const std::vector<std::string>& arguments, const std::string& outPath, long* peakKiB)
{
    const pid_t child = StartProcess(arguments, outPath);
    return child > 0 && WaitForExit(child, 0, peakKiB) == 0;
}

// Seconds on the monotonic clock (<chrono> cannot be compiled with the program's code page).
double Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The companion under test; NDISLOG_BENCH_PROGRAM may name another build of it.
std::string Companion()
{
    const char* program = std::getenv("NDISLOG_BENCH_PROGRAM");
    return program && *program ? program : NDISLOG_PROGRAM;
}

void MeasureProcess(benchmark::State& state, const std::vector<std::string>& arguments)
{
    const GeneratedLog& log = LogOf(LOG_MEBIBYTES);
    const std::string out = log.Path() + std::string(".out");
    long peakKiB = 0;
    for (auto _ : state) {
        const double start = Now();
        if (!RunProcess(arguments, out, &peakKiB)) {
            state.SkipWithError("the process failed");
            break;
        }
        state.SetIterationTime(Now() - start);
    }
    unlink(out.c_str());
    state.SetBytesProcessed(state.iterations() * log.Size());
    state.counters["peak_MiB"] = static_cast<double>(peakKiB) / 1024;
}

void BM_ReportProcess(benchmark::State& state)
{
    MeasureProcess(state, {Companion(), "report", LogOf(LOG_MEBIBYTES).Path()});
}

void BM_CopyProcess(benchmark::State& state)
{
    const GeneratedLog& log = LogOf(LOG_MEBIBYTES);
    MeasureProcess(state, {"cat", log.Path()});
}

}  // namespace

BENCHMARK(BM_FollowReadingAfterAppend)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FollowStartFromState)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyProcess)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportProcess)->UseManualTime()->Unit(benchmark::kMillisecond);
