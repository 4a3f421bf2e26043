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
    // Where a run also writes its figures, one "name value" line each, for a table that sets
    // several runs side by side; empty for none.
    std::filesystem::path summary;
};

// Reads --prefix, --seed, --scale, --runs and --summary from argv[first] on; false, with the reason
// on standard error, for anything else or a value that is not a number in range.
bool ParseBenchOptions(int argc, char** argv, int first, BenchOptions* options);

double SecondsSince(std::chrono::steady_clock::time_point start);
// CPU time used so far by the whole process and by the calling thread: unlike wall time, it
// does not grow while other programs have the machine's cores.
double ProcessCpuSeconds();
double ThreadCpuSeconds();
// Decimal megabytes: 10^6 bytes.
double Megabytes(double bytes);
double Median(std::vector<double> samples);

}  // namespace quillary
