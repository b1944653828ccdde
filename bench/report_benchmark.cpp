// Measures BuildLogReport on generated driver logs of 1, 8 and 64 MiB: bytes of log read
// per second, and how the time grows with the size of the log.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "generated_log.h"
#include "log_report.h"

namespace {

void BM_BuildLogReport(benchmark::State& state)
{
    const GeneratedLog& log = LogOf(state.range(0));
    int32_t reportLength = 0;
    for (auto _ : state) {
        LogReport report;
        if (BuildLogReport(log.Path(), &report) != REPORT_OK) {
            state.SkipWithError("BuildLogReport failed");
            break;
        }
        reportLength = report.length;
        benchmark::DoNotOptimize(report.text);
        ReleaseLogReport(&report);
    }
    state.SetBytesProcessed(state.iterations() * log.Size());
    state.SetComplexityN(log.Size());
    state.counters["lines"] = log.Lines();
    state.counters["report_MiB"] = static_cast<double>(reportLength) / MEBIBYTE;
}

}  // namespace

BENCHMARK(BM_BuildLogReport)
    ->Arg(1)
    ->Arg(8)
    ->Arg(64)
    ->ArgName("MiB")
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
