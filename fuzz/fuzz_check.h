// Invariant checks for the fuzz targets: a broken invariant prints what was expected and
// what was found, then aborts, which libFuzzer reports as a crash with the input saved.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* what)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::abort();
}

// Prints `size` bytes as C-escaped text, so that control bytes and CP932 stay readable.
inline void PrintBytes(const char* label, const void* bytes, size_t size)
{
    const unsigned char* at = static_cast<const unsigned char*>(bytes);
    std::fprintf(stderr, "  %s (%zu bytes): \"", label, size);
    for (size_t i = 0; i < size; ++i) {
        if (at[i] >= 0x20 && at[i] < 0x7F && at[i] != '"' && at[i] != '\\')
            std::fputc(at[i], stderr);
        else
            std::fprintf(stderr, "\\x%02X", at[i]);
    }
    std::fprintf(stderr, "\"\n");
}

}  // namespace fuzz

// Each takes the two values and shows both when they differ.
#define FUZZ_REQUIRE(condition)                                          \
    do {                                                                 \
        if (!(condition))                                                \
            fuzz::Fail(__FILE__, __LINE__, #condition);                  \
    } while (0)

#define FUZZ_REQUIRE_EQ(expected, actual)                                                   \
    do {                                                                                    \
        const long long fuzzExpected = static_cast<long long>(expected);                    \
        const long long fuzzActual = static_cast<long long>(actual);                        \
        if (fuzzExpected != fuzzActual) {                                                   \
            std::fprintf(stderr, "  expected %s = %lld\n  actual   %s = %lld\n", #expected, \
                         fuzzExpected, #actual, fuzzActual);                                \
            fuzz::Fail(__FILE__, __LINE__, #expected " == " #actual);                      \
        }                                                                                   \
    } while (0)

#define FUZZ_REQUIRE_BYTES(expected, expectedSize, actual, actualSize)                     \
    do {                                                                                   \
        const size_t fuzzExpectedSize = (expectedSize);                                    \
        const size_t fuzzActualSize = (actualSize);                                        \
        if (fuzzExpectedSize != fuzzActualSize ||                                          \
            std::memcmp((expected), (actual), fuzzExpectedSize) != 0) {                    \
            fuzz::PrintBytes("expected " #expected, (expected), fuzzExpectedSize);         \
            fuzz::PrintBytes("actual   " #actual, (actual), fuzzActualSize);               \
            fuzz::Fail(__FILE__, __LINE__, #expected " == " #actual " (bytes)");           \
        }                                                                                  \
    } while (0)
