#include "bench_options.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace quillary {

bool ParseBenchOptions(int argc, char** argv, int first, BenchOptions* options) {
    for (int i = first; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n", argv[i]);
            return false;
        }
        const std::string_view value = argv[++i];
        char* end = nullptr;
        if (arg == "--prefix") {
            options->prefix = value;
        } else if (arg == "--seed") {
            options->seed = std::strtoull(value.data(), &end, 10);
        } else if (arg == "--scale") {
            options->scale = std::strtod(value.data(), &end);
        } else if (arg == "--summary") {
            options->summary = value;
        } else if (arg == "--runs") {
            options->runs = static_cast<int>(std::strtol(value.data(), &end, 10));
        } else {
            std::fprintf(stderr, "unknown option %s\n", argv[i - 1]);
            return false;
        }
        if (end != nullptr && (*end != '\0' || end == value.data())) {
            std::fprintf(stderr, "%s: not a number: %s\n", argv[i - 1], argv[i]);
            return false;
        }
    }
    if (options->scale <= 0 || options->runs < 1) {
        std::fprintf(stderr, "--scale must be above 0 and --runs at least 1\n");
        return false;
    }
    return true;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

namespace {

double CpuSeconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

double ProcessCpuSeconds() {
    return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

double ThreadCpuSeconds() {
    return CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}

double Megabytes(double bytes) {
    return bytes / 1e6;
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

}  // namespace quillary
