// Writes the benchmarks' generated log of MIB mebibytes to PATH, for measuring a whole
// program on it (callgrind, hyperfine): write_bench_log MIB PATH
#include <cstdio>
#include <cstdlib>

#include "generated_log.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_bench_log MIB PATH\n");
        return 2;
    }
    const GeneratedLog log(std::atoll(argv[1]) * MEBIBYTE);
    if (std::rename(log.Path(), argv[2]) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
