// Measures a whole scan of a large synthetic Wine prefix and compares it with the least any
// scan must do there: one walk over every key and value, and one existence check of every
// path the registry names. Prints the load time beside the time `wc -l` takes to read the
// same files, the CPU time of each scanner and of the whole scan, the two reference times in
// CPU time, their ratio and the peak memory of the process. The `sizes` mode runs this for a
// prefix at scale 1 and for a large one, each in a process of its own, and sets their figures
// side by side.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
constexpr double kTargetLoadOverWc = 20;
constexpr double kTargetPeakOverFiles = 4;
// The scale at which the prefix has about a million keys and three million values.
constexpr double kLargeScale = 3.15;
// wc -l is quick and its time varies: it is measured at least this many times.
constexpr int kMinWcRuns = 5;
constexpr const char* kRegistryFiles[] = {"system.reg", "user.reg", "userdef.reg"};

constexpr const char* kUsage =
    "usage: quillary-bench-scan [--prefix DIR] [--seed N] [--scale X] [--runs N] [--summary F]\n"
    "         generates the scan prefix in DIR (default: scan-prefix) unless it is there with\n"
    "         the same seed and scale, then measures a scan of it\n"
    "       quillary-bench-scan sizes [--prefix DIR] [--seed N] [--scale X] [--runs N]\n"
    "         measures the prefix at scale 1 in DIR and at scale X (default 3.15) in DIR-large,\n"
    "         each in a process of its own, and prints their figures side by side\n"
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

// Times each category of a scan in CPU time, from its start to its end: the observer is
// called on the scan's worker thread, so its thread CPU time is the category's.
class CCategoryTimer final : public IScanObserver {
public:
    void OnCategoryStarting(std::uint32_t bit, bool) override {
        std::lock_guard lock(mutex_);
        started_[bit] = ThreadCpuSeconds();
    }
    void OnCategoryFinished(std::uint32_t bit) override {
        std::lock_guard lock(mutex_);
        seconds_[bit] = ThreadCpuSeconds() - started_[bit];
    }
    std::map<std::uint32_t, double> Seconds() {
        std::lock_guard lock(mutex_);
        return seconds_;
    }

private:
    std::mutex mutex_;
    std::map<std::uint32_t, double> started_;
    std::map<std::uint32_t, double> seconds_;
};

// Runs a program with its standard output thrown away and waits for it; its exit status, or
// -1 when it could not be started or did not end normally.
int RunProgram(const std::vector<std::string>& arguments, bool quiet) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t child = 0;
    const int failure = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The median time `wc -l` takes over the registry files: how long merely reading their lines
// takes on this machine, process start included. Negative when wc cannot be run.
double MedianWcSeconds(const fs::path& prefix, int runs) {
    std::vector<std::string> command = {"wc", "-l"};
    for (const char* name : kRegistryFiles) {
        command.push_back((prefix / name).string());
    }
    std::vector<double> seconds;
    for (int run = 0; run < std::max(runs, kMinWcRuns); ++run) {
        const auto start = Clock::now();
        if (RunProgram(command, true) != 0) {
            return -1;
        }
        seconds.push_back(SecondsSince(start));
    }
    return Median(seconds);
}

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
        WalkRegistry(registry, view, kWineUserSid,
                     [&](RegType type, std::span<const std::uint8_t> data) {
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
    std::map<std::uint32_t, double> seconds;  // CPU time of each category
    std::map<std::uint32_t, std::size_t> problems;
    double total = 0;      // CPU time of the process, from the start to the end of the scan
    double wallTotal = 0;  // wall time of the same
};

CategoryRun RunScan(CAppContext& context, CMappedFileSystem& files, std::uint32_t selection) {
    files.ClearCache();
    CCategoryTimer timer;
    CScanDriver& scans = context.Scans();
    scans.SetObserver(&timer);
    const auto start = Clock::now();
    const double cpuStart = ProcessCpuSeconds();
    scans.StartScan(selection);
    scans.WaitForScan();
    CategoryRun run;
    run.total = ProcessCpuSeconds() - cpuStart;
    run.wallTotal = SecondsSince(start);
    scans.SetObserver(nullptr);
    run.seconds = timer.Seconds();
    for (const CategoryRow& row : kCategories) {
        if (selection & row.bit) {
            run.problems[row.bit] = scans.ProblemsOf(row.bit).size();
        }
    }
    return run;
}

struct FileCounts {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
};

// The key blocks and values of the registry files, counted in the files themselves.
FileCounts CountKeysAndValues(const fs::path& prefix) {
    FileCounts counts;
    for (const char* name : kRegistryFiles) {
        std::ifstream stream(prefix / name);
        std::string line;
        while (std::getline(stream, line)) {
            counts.keys += line.starts_with('[') ? 1 : 0;
            counts.values += line.starts_with('"') || line.starts_with('@') ? 1 : 0;
        }
    }
    return counts;
}

// The figures of one size that the table of sizes shows, by name.
using Figures = std::map<std::string, double>;

FileError WriteFigures(IFileIo& fileIo, const fs::path& path, const Figures& figures) {
    std::string text;
    for (const auto& [name, value] : figures) {
        char line[128];
        std::snprintf(line, sizeof line, "%s %.6f\n", name.c_str(), value);
        text += line;
    }
    return fileIo.ReplaceFileAtomically(
        path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

Figures ReadFigures(const fs::path& path) {
    Figures figures;
    std::ifstream stream(path);
    std::string name;
    double value = 0;
    while (stream >> name >> value) {
        figures[name] = value;
    }
    return figures;
}

// Opens the prefix as quillary-cli does; null, with the reason printed, unless it loads
// without a diagnostic.
std::unique_ptr<COpenTarget> OpenCleanly(const fs::path& prefix) {
    // The program's own settings and data live beside the prefix, never in the user's home.
    const fs::path home = prefix.string() + ".home";
    std::string error;
    std::unique_ptr<COpenTarget> target = COpenTarget::OpenPrefix(
        {prefix, PrefixOrigin::Argument}, {{home / "config", home / "data", fs::path()}}, &error);
    if (!target || !target->PrefixStore()->Diagnostics().empty()) {
        std::fprintf(stderr, "cannot load %s cleanly: %s\n", prefix.c_str(),
                     target
                         ? DescribeDiagnostic(target->PrefixStore()->Diagnostics().front()).c_str()
                         : error.c_str());
        return nullptr;
    }
    return target;
}

int MeasureAll(IFileIo& fileIo, const BenchOptions& options) {
#ifndef __OPTIMIZE__
    std::printf("warning: this build is not optimised; use the release preset for figures\n");
#endif
    if (!EnsurePrefix(fileIo, options)) {
        return 1;
    }
    std::uintmax_t fileBytes = 0;
    for (const char* name : kRegistryFiles) {
        std::error_code error;
        fileBytes += fs::file_size(options.prefix / name, error);
    }
    const double fileMegabytes = Megabytes(static_cast<double>(fileBytes));
    const FileCounts fileCounts = CountKeysAndValues(options.prefix);
    std::printf(
        "\nScan prefix %s (seed %llu, scale %.2f), registry files %.1f MB: %llu keys, "
        "%llu values\n\n",
        options.prefix.c_str(), static_cast<unsigned long long>(options.seed), options.scale,
        fileMegabytes, static_cast<unsigned long long>(fileCounts.keys),
        static_cast<unsigned long long>(fileCounts.values));

    // Loading is timed on the wall clock, as wc -l is: it is what the user waits for. Each
    // load but the last is freed at once, so the process's peak is one load's.
    std::vector<double> loadSeconds;
    std::vector<double> loadCpuSeconds;
    std::unique_ptr<COpenTarget> target;
    for (int run = 0; run < options.runs; ++run) {
        target.reset();
        const auto start = Clock::now();
        const double cpuStart = ProcessCpuSeconds();
        target = OpenCleanly(options.prefix);
        loadCpuSeconds.push_back(ProcessCpuSeconds() - cpuStart);
        loadSeconds.push_back(SecondsSince(start));
        if (!target) {
            return 1;
        }
    }
    const std::uint64_t loadPeak = PeakResidentBytes();
    const double wcSeconds = MedianWcSeconds(options.prefix, options.runs);
    IRegistry& registry = target->Store();
    CMappedFileSystem& files = target->Files();
    CAppContext& context = target->Context();
    const bool is64Bit = context.Target().is64Bit;
    context.Load();

    // The least a scan must do: walk every key and value, check every path once. Each run
    // measures the walk, the checks and the scan one after the other, so that a machine whose
    // speed drifts (shared cores) weighs on all three alike. All three are CPU times.
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
        double start = ProcessCpuSeconds();
        for (RegSam view : Views(is64Bit)) {
            walkCounts.push_back(WalkRegistry(registry, view, kWineUserSid));
        }
        walkSeconds.push_back(ProcessCpuSeconds() - start);

        files.ClearCache();
        existing = 0;
        start = ProcessCpuSeconds();
        for (const std::u16string& path : paths) {
            existing += files.GetFileAttributesW(path, nullptr) != InvalidFileAttributes ? 1 : 0;
        }
        checkSeconds.push_back(ProcessCpuSeconds() - start);

        scans.push_back(RunScan(context, files, selection));
    }
    const std::uint64_t peak = PeakResidentBytes();

    const double load = Median(loadSeconds);
    std::printf(
        "Load (COpenTarget::OpenPrefix), median of %d runs: %8.3f s (%.3f s of CPU), "
        "%.1f ms per MB\n",
        options.runs, load, Median(loadCpuSeconds), load * 1000 / fileMegabytes);
    if (wcSeconds >= 0) {
        std::printf(
            "wc -l over the same files, median of %d runs:       %8.3f s  -> load / wc = "
            "%.1f\n",
            std::max(options.runs, kMinWcRuns), wcSeconds, load / wcSeconds);
    } else {
        std::printf("wc -l could not be run\n");
    }
    std::printf("Scan (CScanDriver, pacing off), CPU time, median of %d runs:\n", options.runs);
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
    std::vector<double> scanWallTotals;
    for (const CategoryRun& run : scans) {
        scanTotals.push_back(run.total);
        scanWallTotals.push_back(run.wallTotal);
    }
    const double scanSeconds = Median(scanTotals);
    std::printf("  %-28s %8.3f s  (%.3f s on the wall clock)\n", "all", scanSeconds,
                Median(scanWallTotals));

    std::printf("Raw walk (RegEnumKeyExW and RegEnumValueW of every key), CPU, median: %8.3f s\n",
                Median(walkSeconds));
    RegistryWalkCounts allViews;
    for (std::size_t i = 0; i < walkCounts.size(); ++i) {
        const char* name = walkCounts.size() == 1 ? "the view"
                           : i == 0               ? "64-bit view"
                                                  : "32-bit view";
        std::printf("  %-12s %10llu keys %10llu values %9.1f MB of data\n", name,
                    static_cast<unsigned long long>(walkCounts[i].keys),
                    static_cast<unsigned long long>(walkCounts[i].values),
                    Megabytes(static_cast<double>(walkCounts[i].dataBytes)));
        allViews.keys += walkCounts[i].keys;
        allViews.values += walkCounts[i].values;
    }
    std::printf(
        "Distinct paths (GetFileAttributesW of each), CPU, median:             %8.3f s\n"
        "  %zu distinct paths (%llu mentions in string values), %zu exist, %zu do not\n",
        Median(checkSeconds), paths.size(), static_cast<unsigned long long>(mentions), existing,
        paths.size() - existing);
    const double reference = Median(walkSeconds) + Median(checkSeconds);
    const double ratio = scanSeconds / reference;
    std::printf("\nScan / (raw walk + distinct checks), CPU time = %.3f / %.3f = %.2f\n",
                scanSeconds, reference, ratio);
    std::printf("Scan CPU time per key walked: %.2f us (%llu keys in all views)\n",
                scanSeconds * 1e6 / static_cast<double>(allViews.keys),
                static_cast<unsigned long long>(allViews.keys));
    const double peakOverFiles = static_cast<double>(loadPeak) / static_cast<double>(fileBytes);
    std::printf(
        "Peak memory (VmHWM): %.1f MB after loading (%.2f x the files), %.1f MB at the "
        "end\n",
        Megabytes(static_cast<double>(loadPeak)), peakOverFiles,
        Megabytes(static_cast<double>(peak)));
    std::printf(
        "\nTargets: scan ratio <= %.0f %s; load <= %.0f x wc -l %s; peak < %.0f x files "
        "%s\n",
        kTargetRatio, ratio <= kTargetRatio ? "met" : "MISSED", kTargetLoadOverWc,
        wcSeconds >= 0 && load <= kTargetLoadOverWc * wcSeconds ? "met" : "MISSED",
        kTargetPeakOverFiles, peakOverFiles < kTargetPeakOverFiles ? "met" : "MISSED");

    if (!options.summary.empty()) {
        const Figures figures = {
            {"scale", options.scale},
            {"fileMegabytes", fileMegabytes},
            {"fileKeys", static_cast<double>(fileCounts.keys)},
            {"fileValues", static_cast<double>(fileCounts.values)},
            {"keysAllViews", static_cast<double>(allViews.keys)},
            {"load", load},
            {"loadCpu", Median(loadCpuSeconds)},
            {"wc", wcSeconds},
            {"scan", scanSeconds},
            {"walk", Median(walkSeconds)},
            {"checks", Median(checkSeconds)},
            {"loadPeakMegabytes", Megabytes(static_cast<double>(loadPeak))},
            {"endPeakMegabytes", Megabytes(static_cast<double>(peak))},
        };
        if (FileError failure = WriteFigures(fileIo, options.summary, figures)) {
            std::fprintf(stderr, "cannot write the figures: %s\n", failure->c_str());
            return 1;
        }
    }
    return 0;
}

// A figure of a run, or 0 when the run did not report it.
double Get(const Figures& figures, const char* name) {
    const auto found = figures.find(name);
    return found == figures.end() ? 0.0 : found->second;
}

void PrintSizesTable(const Figures& small, const Figures& large) {
    const auto row = [&](const char* label, const char* format, auto value) {
        char left[64];
        char right[64];
        std::snprintf(left, sizeof left, format, value(small));
        std::snprintf(right, sizeof right, format, value(large));
        std::printf("| %-40s | %14s | %14s |\n", label, left, right);
    };
    const auto figure = [](const char* name) {
        return [name](const Figures& figures) { return Get(figures, name); };
    };
    std::printf("\n| %-40s | %14s | %14s |\n|%s|%s|%s|\n", "", "scale 1", "large",
                std::string(42, '-').c_str(), std::string(16, '-').c_str(),
                std::string(16, '-').c_str());
    row("scale", "%.2f", figure("scale"));
    row("registry files (MB)", "%.1f", figure("fileMegabytes"));
    row("keys in the files", "%.0f", figure("fileKeys"));
    row("values in the files", "%.0f", figure("fileValues"));
    row("keys walked in both views", "%.0f", figure("keysAllViews"));
    row("load, wall (s)", "%.3f", figure("load"));
    row("wc -l, wall (s)", "%.3f", figure("wc"));
    row("load / wc -l", "%.1f", [](const Figures& f) { return Get(f, "load") / Get(f, "wc"); });
    row("load per MB (ms)", "%.2f",
        [](const Figures& f) { return Get(f, "load") * 1000 / Get(f, "fileMegabytes"); });
    row("scan, CPU (s)", "%.3f", figure("scan"));
    row("raw walk + distinct checks, CPU (s)", "%.3f",
        [](const Figures& f) { return Get(f, "walk") + Get(f, "checks"); });
    row("scan / (walk + checks)", "%.2f",
        [](const Figures& f) { return Get(f, "scan") / (Get(f, "walk") + Get(f, "checks")); });
    row("scan CPU per key walked (us)", "%.2f",
        [](const Figures& f) { return Get(f, "scan") * 1e6 / Get(f, "keysAllViews"); });
    row("walk + checks CPU per key walked (us)", "%.2f", [](const Figures& f) {
        return (Get(f, "walk") + Get(f, "checks")) * 1e6 / Get(f, "keysAllViews");
    });
    row("peak after loading (MB)", "%.0f", figure("loadPeakMegabytes"));
    row("peak after loading / files", "%.2f",
        [](const Figures& f) { return Get(f, "loadPeakMegabytes") / Get(f, "fileMegabytes"); });
    row("peak at the end (MB)", "%.0f", figure("endPeakMegabytes"));
}

// Measures scale 1 and the large scale, each in a process of its own so that each peak is its
// own, and prints their figures side by side.
int MeasureSizes(const BenchOptions& options, double largeScale) {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path largePrefix = options.prefix.string() + "-large";
    struct Size {
        fs::path prefix;
        double scale;
        Figures figures;
    };
    Size sizes[] = {{options.prefix, 1.0, {}}, {largePrefix, largeScale, {}}};
    for (Size& size : sizes) {
        const fs::path summary = size.prefix.string() + ".figures";
        char scale[32];
        std::snprintf(scale, sizeof scale, "%g", size.scale);
        std::fflush(stdout);
        if (RunProgram({self.string(), "--prefix", size.prefix.string(), "--seed",
                        std::to_string(options.seed), "--scale", scale, "--runs",
                        std::to_string(options.runs), "--summary", summary.string()},
                       false) != 0) {
            std::fprintf(stderr, "the measurement of %s failed\n", size.prefix.c_str());
            return 1;
        }
        size.figures = ReadFigures(summary);
    }
    std::printf(
        "\nBoth sizes (CPU times for the scan and its reference, wall times for load "
        "and wc -l):\n");
    PrintSizesTable(sizes[0].figures, sizes[1].figures);
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
    if (command == "sizes") {
        options.scale = kLargeScale;
        if (!ParseBenchOptions(argc, argv, 2, &options)) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        return MeasureSizes(options, options.scale);
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
