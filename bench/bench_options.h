#pragma once

// What the whole-program benchmarks share: their command-line options and the arithmetic of
// their reports.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace quillary {

struct BenchOptions {
    std::filesystem::path prefix;
    std::uint64_t seed = 1;
    double scale = 1.0;
    int runs = 3;  // how many times each phase is measured
};

// Reads --prefix, --seed, --scale and --runs from argv[first] on; false, with the reason on
// standard error, for anything else or a value that is not a number in range.
bool ParseBenchOptions(int argc, char** argv, int first, BenchOptions* options);

double SecondsSince(std::chrono::steady_clock::time_point start);
// Decimal megabytes: 10^6 bytes.
double Megabytes(double bytes);
double Median(std::vector<double> samples);

}  // namespace quillary
