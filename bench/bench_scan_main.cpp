// Measures a whole scan of a large synthetic Wine prefix and compares it with the least any
// scan must do there: one walk over every key and value, and one existence check of every
// path the registry names. Prints the load time, the scan time of each scanner and in all,
// the two reference times, their ratio and the peak memory of the process.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "app/target_factory.h"
#include "bench_options.h"
#include "categories/category_factory.h"
#include "core/text_case.h"
#include "core/text_encoding.h"
#include "engine/category_table.h"
#include "platform/file_io.h"
#include "process_memory.h"
#include "registry_walk.h"
#include "scan_prefix.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/wine_prefix_registry.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kTargetRatio = 2;

constexpr const char* kUsage =
    "usage: quillary-bench-scan [--prefix DIR] [--seed N] [--scale X] [--runs N]\n"
    "         generates the scan prefix in DIR (default: scan-prefix) unless it is there with\n"
    "         the same seed and scale, then measures a scan of it\n"
    "       quillary-bench-scan generate DIR [--seed N] [--scale X]\n";

std::string ShapeStamp(const ScanPrefixShape& shape) {
    return "seed " + std::to_string(shape.seed) + " scale " + std::to_string(shape.scale) + "\n";
}

bool GeneratePrefix(IFileIo& fileIo, const BenchOptions& options) {
    std::printf("Generating the scan prefix in %s ...\n", options.prefix.c_str());
    std::fflush(stdout);
    const auto start = Clock::now();
    ScanPrefixFacts facts;
    if (FileError failure = WriteScanPrefix(fileIo, options.prefix,
                                            ScanPrefixShape{options.seed, options.scale}, &facts)) {
        std::fprintf(stderr, "cannot generate the prefix: %s\n", failure->c_str());
        return false;
    }
    std::printf(
        "  done in %.1f s: %zu products (%zu removed), %zu files written (%zu shortcuts), %zu "
        "named files left out\n",
        SecondsSince(start), facts.products, facts.removedProducts, facts.files, facts.shortcuts,
        facts.missingFiles);
    return true;
}

// Generates the prefix unless it is there already with the same shape.
bool EnsurePrefix(IFileIo& fileIo, const BenchOptions& options) {
    std::vector<std::uint8_t> stamp;
    const bool same = !fileIo.ReadWholeFile(options.prefix / kScanPrefixMarker, 4096, stamp) &&
                      std::string(stamp.begin(), stamp.end()) ==
                          ShapeStamp(ScanPrefixShape{options.seed, options.scale});
    return same || GeneratePrefix(fileIo, options);
}

// Times each category of a scan, from its start to its end, on the scan's worker thread.
class CCategoryTimer final : public IScanObserver {
public:
    void OnCategoryStarting(std::uint32_t bit, bool) override {
        std::lock_guard lock(mutex_);
        started_[bit] = Clock::now();
    }
    void OnCategoryFinished(std::uint32_t bit) override {
        std::lock_guard lock(mutex_);
        seconds_[bit] = SecondsSince(started_[bit]);
    }
    std::map<std::uint32_t, double> Seconds() {
        std::lock_guard lock(mutex_);
        return seconds_;
    }

private:
    std::mutex mutex_;
    std::map<std::uint32_t, Clock::time_point> started_;
    std::map<std::uint32_t, double> seconds_;
};

// The registry views a walk goes through: both on a 64-bit system.
std::vector<RegSam> Views(bool is64Bit) {
    if (is64Bit) {
        return {KeyWow64_64Key, KeyWow64_32Key};
    }
    return {0};
}

// Every distinct path (compared without regard to case) that the values of the registry
// name, in both views.
std::vector<std::u16string> DistinctPaths(IRegistry& registry, IFileSystem& files, bool is64Bit,
                                          std::uint64_t* mentions) {
    std::unordered_set<std::u16string> seen;
    std::vector<std::u16string> paths;
    for (RegSam view : Views(is64Bit)) {
        WalkRegistry(registry, view, [&](RegType type, std::span<const std::uint8_t> data) {
            for (std::u16string& path : PathsInValue(files, type, data)) {
                ++*mentions;
                if (seen.insert(ToUpperInvariant(path)).second) {
                    paths.push_back(std::move(path));
                }
            }
        });
    }
    return paths;
}

struct CategoryRun {
    std::map<std::uint32_t, double> seconds;
    std::map<std::uint32_t, std::size_t> problems;
    double total = 0;
};

CategoryRun RunScan(CAppContext& context, CMappedFileSystem& files, std::uint32_t selection) {
    files.ClearCache();
    CCategoryTimer timer;
    CScanDriver& scans = context.Scans();
    scans.SetObserver(&timer);
    const auto start = Clock::now();
    scans.StartScan(selection);
    scans.WaitForScan();
    CategoryRun run;
    run.total = SecondsSince(start);
    scans.SetObserver(nullptr);
    run.seconds = timer.Seconds();
    for (const CategoryRow& row : kCategories) {
        if (selection & row.bit) {
            run.problems[row.bit] = scans.ProblemsOf(row.bit).size();
        }
    }
    return run;
}

int MeasureAll(IFileIo& fileIo, const BenchOptions& options) {
#ifndef __OPTIMIZE__
    std::printf("warning: this build is not optimised; use the release preset for figures\n");
#endif
    if (!EnsurePrefix(fileIo, options)) {
        return 1;
    }
    std::uintmax_t fileBytes = 0;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        std::error_code error;
        fileBytes += fs::file_size(options.prefix / name, error);
    }
    std::printf("\nScan prefix %s (seed %llu, scale %.2f), registry files %.1f MB\n\n",
                options.prefix.c_str(), static_cast<unsigned long long>(options.seed),
                options.scale, Megabytes(static_cast<double>(fileBytes)));

    // The program's own settings and data live beside the prefix, never in the user's home.
    const fs::path home = options.prefix.string() + ".home";
    const auto loadStart = Clock::now();
    std::string error;
    std::unique_ptr<COpenTarget> target =
        COpenTarget::OpenPrefix({options.prefix, PrefixOrigin::Argument},
                                {{home / "config", home / "data", fs::path()}}, &error);
    const double loadSeconds = SecondsSince(loadStart);
    if (!target || !target->PrefixStore()->Diagnostics().empty()) {
        std::fprintf(stderr, "cannot load %s cleanly: %s\n", options.prefix.c_str(),
                     target
                         ? DescribeDiagnostic(target->PrefixStore()->Diagnostics().front()).c_str()
                         : error.c_str());
        return 1;
    }
    const std::uint64_t loadPeak = PeakResidentBytes();
    IRegistry& registry = target->Store();
    CMappedFileSystem& files = target->Files();
    CAppContext& context = target->Context();
    const bool is64Bit = context.Target().is64Bit;
    context.Load();

    // The least a scan must do: walk every key and value, check every path once. Each run
    // measures the walk, the checks and the scan one after the other, so that a machine whose
    // speed drifts (shared cores) weighs on all three alike.
    std::uint64_t mentions = 0;
    const std::vector<std::u16string> paths = DistinctPaths(registry, files, is64Bit, &mentions);
    const std::uint32_t selection = AvailableCategories();
    std::vector<double> walkSeconds;
    std::vector<RegistryWalkCounts> walkCounts;
    std::vector<double> checkSeconds;
    std::size_t existing = 0;
    std::vector<CategoryRun> scans;
    for (int run = 0; run < options.runs; ++run) {
        walkCounts.clear();
        auto start = Clock::now();
        for (RegSam view : Views(is64Bit)) {
            walkCounts.push_back(WalkRegistry(registry, view));
        }
        walkSeconds.push_back(SecondsSince(start));

        files.ClearCache();
        existing = 0;
        start = Clock::now();
        for (const std::u16string& path : paths) {
            existing += files.GetFileAttributesW(path, nullptr) != InvalidFileAttributes ? 1 : 0;
        }
        checkSeconds.push_back(SecondsSince(start));

        scans.push_back(RunScan(context, files, selection));
    }
    const std::uint64_t peak = PeakResidentBytes();

    std::printf("Load (COpenTarget::OpenPrefix):  %8.3f s\n", loadSeconds);
    std::printf("Scan (CScanDriver, pacing off), median of %d runs:\n", options.runs);
    for (const CategoryRow& row : kCategories) {
        if (!(selection & row.bit)) {
            continue;
        }
        std::vector<double> seconds;
        for (const CategoryRun& run : scans) {
            seconds.push_back(run.seconds.count(row.bit) ? run.seconds.at(row.bit) : 0);
        }
        std::printf("  %-28s %8.3f s  %6zu problems\n", Utf16ToUtf8(row.className).c_str(),
                    Median(seconds), scans.back().problems.at(row.bit));
    }
    std::vector<double> scanTotals;
    for (const CategoryRun& run : scans) {
        scanTotals.push_back(run.total);
    }
    const double scanSeconds = Median(scanTotals);
    std::printf("  %-28s %8.3f s\n", "all", scanSeconds);

    std::printf("Raw walk (RegEnumKeyExW and RegEnumValueW of every key), median: %8.3f s\n",
                Median(walkSeconds));
    for (std::size_t i = 0; i < walkCounts.size(); ++i) {
        const char* name = walkCounts.size() == 1 ? "the view"
                           : i == 0               ? "64-bit view"
                                                  : "32-bit view";
        std::printf("  %-12s %10llu keys %10llu values %9.1f MB of data\n", name,
                    static_cast<unsigned long long>(walkCounts[i].keys),
                    static_cast<unsigned long long>(walkCounts[i].values),
                    Megabytes(static_cast<double>(walkCounts[i].dataBytes)));
    }
    std::printf(
        "Distinct paths (GetFileAttributesW of each), median:               %8.3f s\n"
        "  %zu distinct paths (%llu mentions in string values), %zu exist, %zu do not\n",
        Median(checkSeconds), paths.size(), static_cast<unsigned long long>(mentions), existing,
        paths.size() - existing);
    const double reference = Median(walkSeconds) + Median(checkSeconds);
    const double ratio = scanSeconds / reference;
    std::printf("\nScan / (raw walk + distinct checks) = %.3f / %.3f = %.2f\n", scanSeconds,
                reference, ratio);
    std::printf("Peak memory (VmHWM): %.1f MB after loading, %.1f MB at the end\n",
                Megabytes(static_cast<double>(loadPeak)), Megabytes(static_cast<double>(peak)));
    std::printf("\nTarget: ratio <= %.0f %s\n", kTargetRatio,
                ratio <= kTargetRatio ? "met" : "MISSED");
    return 0;
}

int Main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    BenchOptions options;
    options.prefix = "scan-prefix";
    CPosixFileIo fileIo;
    if (command == "generate" && argc >= 3) {
        options.prefix = argv[2];
        if (!ParseBenchOptions(argc, argv, 3, &options)) {
            return 2;
        }
        return GeneratePrefix(fileIo, options) ? 0 : 1;
    }
    if (command.empty() || command.starts_with("--")) {
        if (!ParseBenchOptions(argc, argv, 1, &options)) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        return MeasureAll(fileIo, options);
    }
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace
}  // namespace quillary

int main(int argc, char** argv) {
    return quillary::Main(argc, argv);
}
