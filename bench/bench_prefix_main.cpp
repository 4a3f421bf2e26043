// Measures the Wine prefix store on a large synthetic prefix: how fast it loads and saves,
// and how much memory each takes compared with the size of the files. Every measured run is
// a process of its own, so one run's memory never counts towards another's.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_options.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "process_memory.h"
#include "synthetic_prefix.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/wine_prefix_registry.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFileNames[] = {"system.reg", "user.reg", "userdef.reg"};
constexpr const char* kShapeFileName = "synthetic-shape";
constexpr std::size_t kMaxFileBytes = std::size_t{4} << 30;
constexpr double kTargetMegabytesPerSecond = 100;
constexpr double kTargetMemoryFactor = 4;

constexpr const char* kUsage =
    "usage: quillary-bench-prefix [--prefix DIR] [--seed N] [--scale X] [--runs N]\n"
    "         generates the synthetic prefix in DIR (default: bench-prefix) unless it is there\n"
    "         with the same seed and scale, then measures loading and saving it\n"
    "       quillary-bench-prefix generate DIR [--seed N] [--scale X]\n"
    "       quillary-bench-prefix load DIR\n"
    "         one load, in this process; prints what it measured\n"
    "       quillary-bench-prefix save DIR ORIGINAL\n"
    "         loads DIR (a copy of ORIGINAL), changes one value in each file, saves, checks\n"
    "         that each saved file differs from ORIGINAL's by exactly that value\n";

std::string Grouped(std::uint64_t number) {
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

std::optional<std::string> ReadText(IFileIo& files, const fs::path& path, std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (FileError failure = files.ReadWholeFile(path, kMaxFileBytes, bytes)) {
        *error = *failure;
        return std::nullopt;
    }
    return std::string(bytes.begin(), bytes.end());
}

// --- one measured run, in a process of its own ------------------------------------------

// Opens the prefix and insists that every line of its files was understood.
std::unique_ptr<CWinePrefixRegistry> OpenCleanly(IFileIo& files, const fs::path& prefix,
                                                 const IClock* clock) {
    std::string error;
    auto store = CWinePrefixRegistry::Open(files, prefix, &error, clock);
    if (store == nullptr) {
        std::fprintf(stderr, "cannot open %s: %s\n", prefix.c_str(), error.c_str());
        return nullptr;
    }
    if (!store->Diagnostics().empty()) {
        std::fprintf(stderr, "%zu lines of %s were not understood; the first: %s\n",
                     store->Diagnostics().size(), prefix.c_str(),
                     DescribeDiagnostic(store->Diagnostics().front()).c_str());
        return nullptr;
    }
    return store;
}

int MeasureLoad(IFileIo& files, const fs::path& prefix) {
    const std::uint64_t before = ResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    auto store = OpenCleanly(files, prefix, nullptr);
    const double seconds = SecondsSince(start);
    if (store == nullptr) {
        return 1;
    }
    std::printf("seconds %.6f\npeak %llu\nbefore %llu\n", seconds,
                static_cast<unsigned long long>(PeakResidentBytes()),
                static_cast<unsigned long long>(before));
    return 0;
}

// Sets the benchmark's counter in one branch to 1.
bool ChangeCounter(CWinePrefixRegistry& store, HKey root, std::u16string_view prefix) {
    std::u16string path(prefix);
    path += kBenchKeyPath;
    HKey key = HKey::None;
    if (store.RegOpenKeyExW(root, path, 0, KeySetValue | KeyWow64_64Key, &key) != ErrorSuccess) {
        return false;
    }
    const std::uint8_t one[4] = {1, 0, 0, 0};
    const LStatus status = store.RegSetValueExW(key, kBenchValueName, RegDword, one, sizeof one);
    return store.RegCloseKey(key) == ErrorSuccess && status == ErrorSuccess;
}

// The saved file must be the original with the counter's line changed and nothing else.
bool SavedExactly(IFileIo& files, const fs::path& saved, const fs::path& original) {
    std::string error;
    auto savedText = ReadText(files, saved, &error);
    auto expected = ReadText(files, original, &error);
    if (!savedText || !expected) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    const std::string before = "\"Counter\"=dword:00000000\n";
    const std::size_t at = expected->find(before);
    if (at == std::string::npos || expected->find(before, at + 1) != std::string::npos) {
        std::fprintf(stderr, "%s does not hold the counter exactly once\n", original.c_str());
        return false;
    }
    expected->replace(at, before.size(), "\"Counter\"=dword:00000001\n");
    if (*savedText == *expected) {
        return true;
    }
    const auto mismatch =
        std::mismatch(savedText->begin(), savedText->end(), expected->begin(), expected->end());
    std::fprintf(stderr, "%s differs from the expected bytes at offset %td\n", saved.c_str(),
                 mismatch.first - savedText->begin());
    return false;
}

int MeasureSave(IFileIo& files, const fs::path& prefix, const fs::path& original) {
    // The clock stands at the counter key's time, so changing the value rewrites its line only.
    const CManualClock clock{
        std::chrono::system_clock::time_point(std::chrono::seconds(kBenchKeyUnixSeconds))};
    auto store = OpenCleanly(files, prefix, &clock);
    if (store == nullptr) {
        return 1;
    }
    if (!ChangeCounter(*store, HKeyLocalMachine, u"") ||
        !ChangeCounter(*store, HKeyCurrentUser, u"") ||
        !ChangeCounter(*store, HKeyUsers, u".Default\\")) {
        std::fprintf(stderr, "cannot change the counter of every file\n");
        return 1;
    }
    const bool phasePeak = ResetPeakResidentBytes();
    const std::uint64_t held = ResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    const FileError failure = store->Save();
    const double seconds = SecondsSince(start);
    const std::uint64_t peak = PeakResidentBytes();
    if (failure) {
        std::fprintf(stderr, "save failed: %s\n", failure->c_str());
        return 1;
    }
    bool exact = true;
    for (const char* name : kFileNames) {
        exact = SavedExactly(files, prefix / name, original / name) && exact;
    }
    std::printf("seconds %.6f\npeak %llu\nheld %llu\nphase_peak %d\nexact %d\n", seconds,
                static_cast<unsigned long long>(peak), static_cast<unsigned long long>(held),
                phasePeak ? 1 : 0, exact ? 1 : 0);
    return exact ? 0 : 1;
}

// --- the whole measurement ---------------------------------------------------------------

std::string ShapeStamp(const SyntheticPrefixShape& shape) {
    char text[96];
    std::snprintf(text, sizeof text, "seed %llu scale %.6f\n",
                  static_cast<unsigned long long>(shape.seed), shape.scale);
    return text;
}

// Writes the prefix and a note of its shape, so a later run can reuse it.
bool GeneratePrefix(IFileIo& files, const BenchOptions& options) {
    std::printf("Generating the synthetic prefix in %s ...\n", options.prefix.c_str());
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    FileError failure = WriteSyntheticPrefix(files, options.prefix,
                                             SyntheticPrefixShape{options.seed, options.scale});
    if (!failure) {
        const std::string text = ShapeStamp(SyntheticPrefixShape{options.seed, options.scale});
        failure = files.ReplaceFileAtomically(
            options.prefix / kShapeFileName,
            {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }
    if (failure) {
        std::fprintf(stderr, "cannot generate the prefix: %s\n", failure->c_str());
        return false;
    }
    std::printf("  done in %.1f s\n", SecondsSince(start));
    return true;
}

// Generates the prefix unless it is there already with the same shape.
bool EnsurePrefix(IFileIo& files, const BenchOptions& options) {
    std::string error;
    const auto stamp = ReadText(files, options.prefix / kShapeFileName, &error);
    bool complete =
        stamp && *stamp == ShapeStamp(SyntheticPrefixShape{options.seed, options.scale});
    for (const char* name : kFileNames) {
        complete = complete && fs::exists(options.prefix / name);
    }
    return complete || GeneratePrefix(files, options);
}

// Runs this program with args in a child process; its standard output as "name value" lines.
std::optional<std::map<std::string, double>> RunChild(const std::vector<std::string>& args) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        std::perror("pipe");
        return std::nullopt;
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return std::nullopt;
    }
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        std::perror("execv");
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t count; (count = read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        output.append(buffer, static_cast<std::size_t>(count));
    }
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the %s run failed\n", args[1].c_str());
        return std::nullopt;
    }
    std::map<std::string, double> results;
    std::size_t offset = 0;
    while (offset < output.size()) {
        std::size_t end = output.find('\n', offset);
        end = end == std::string::npos ? output.size() : end;
        const std::string line = output.substr(offset, end - offset);
        const std::size_t blank = line.find(' ');
        if (blank != std::string::npos) {
            results[line.substr(0, blank)] = std::strtod(line.c_str() + blank + 1, nullptr);
        }
        offset = end + 1;
    }
    return results;
}

struct FileFacts {
    std::uint64_t bytes = 0;
    std::uint64_t keyBlocks = 0;
    std::uint64_t values = 0;
};

FileFacts CountFile(IFileIo& files, const fs::path& path) {
    FileFacts facts;
    std::string error;
    const auto text = ReadText(files, path, &error);
    if (!text) {
        return facts;
    }
    facts.bytes = text->size();
    std::size_t offset = 0;
    while (offset < text->size()) {
        const char first = (*text)[offset];
        facts.keyBlocks += first == '[' ? 1 : 0;
        facts.values += (first == '"' || first == '@') ? 1 : 0;
        const std::size_t end = text->find('\n', offset);
        offset = end == std::string::npos ? text->size() : end + 1;
    }
    return facts;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

int MeasureAll(IFileIo& files, const BenchOptions& options, const char* self) {
#ifndef __OPTIMIZE__
    std::printf("warning: this build is not optimised; use the release preset for figures\n");
#endif
    if (!EnsurePrefix(files, options)) {
        return 1;
    }
    std::printf("\nSynthetic prefix %s (seed %llu, scale %.2f)\n", options.prefix.c_str(),
                static_cast<unsigned long long>(options.seed), options.scale);
    FileFacts total;
    for (const char* name : kFileNames) {
        const FileFacts facts = CountFile(files, options.prefix / name);
        std::printf("  %-12s %9.1f MB %12s key blocks %12s values\n", name,
                    Megabytes(static_cast<double>(facts.bytes)), Grouped(facts.keyBlocks).c_str(),
                    Grouped(facts.values).c_str());
        total.bytes += facts.bytes;
        total.keyBlocks += facts.keyBlocks;
        total.values += facts.values;
    }
    std::printf("  %-12s %9.1f MB %12s key blocks %12s values\n\n", "all",
                Megabytes(static_cast<double>(total.bytes)), Grouped(total.keyBlocks).c_str(),
                Grouped(total.values).c_str());

    std::vector<double> loadSeconds, saveSeconds;
    double loadPeak = 0, savePeak = 0, saveHeld = 0;
    bool exact = true, phasePeak = true;
    for (int run = 0; run < options.runs; ++run) {
        const auto load = RunChild({self, "load", options.prefix.string()});
        if (!load) {
            return 1;
        }
        loadSeconds.push_back(load->at("seconds"));
        loadPeak = std::max(loadPeak, load->at("peak"));
    }
    const fs::path scratch = options.prefix.string() + "-save";
    for (int run = 0; run < options.runs; ++run) {
        std::error_code code;
        fs::create_directories(scratch, code);
        for (const char* name : kFileNames) {
            fs::copy_file(options.prefix / name, scratch / name,
                          fs::copy_options::overwrite_existing, code);
            if (code) {
                std::fprintf(stderr, "cannot copy %s: %s\n", name, code.message().c_str());
                return 1;
            }
        }
        const auto save = RunChild({self, "save", scratch.string(), options.prefix.string()});
        if (!save) {
            return 1;
        }
        saveSeconds.push_back(save->at("seconds"));
        savePeak = std::max(savePeak, save->at("peak"));
        saveHeld = std::max(saveHeld, save->at("held"));
        exact = exact && save->at("exact") == 1;
        phasePeak = phasePeak && save->at("phase_peak") == 1;
    }

    const double megabytes = Megabytes(static_cast<double>(total.bytes));
    const double loadRate = megabytes / Median(loadSeconds);
    const double saveRate = megabytes / Median(saveSeconds);
    const double loadFactor = loadPeak / static_cast<double>(total.bytes);
    const double saveFactor = savePeak / static_cast<double>(total.bytes);
    std::printf("Load (CWinePrefixRegistry::Open), median of %d runs:  %6.2f s  %7.1f MB/s\n",
                options.runs, Median(loadSeconds), loadRate);
    std::printf(
        "Save (one value changed per file, all three rewritten and flushed), median of "
        "%d runs:  %6.2f s  %7.1f MB/s\n",
        options.runs, Median(saveSeconds), saveRate);
    std::printf("Peak memory while loading:  %7.1f MB = %.2f x the files\n", Megabytes(loadPeak),
                loadFactor);
    std::printf(
        "Peak memory while saving:   %7.1f MB = %.2f x the files (%.1f MB held before "
        "the save%s)\n",
        Megabytes(savePeak), saveFactor, Megabytes(saveHeld),
        phasePeak ? "" : "; the kernel kept the load's peak");
    std::printf("Saved files: %s\n\n", exact
                                           ? "byte for byte the originals with the counter changed"
                                           : "DIFFERENT from the originals (see above)");
    std::printf("Targets: load >= %.0f MB/s %s; save >= %.0f MB/s %s; peak < %.0f x files %s\n",
                kTargetMegabytesPerSecond, Verdict(loadRate >= kTargetMegabytesPerSecond),
                kTargetMegabytesPerSecond, Verdict(saveRate >= kTargetMegabytesPerSecond),
                kTargetMemoryFactor,
                Verdict(std::max(loadFactor, saveFactor) < kTargetMemoryFactor));
    return exact ? 0 : 1;
}

int Main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    BenchOptions options;
    options.prefix = "bench-prefix";
    CPosixFileIo files;
    if (command == "load" && argc == 3) {
        return MeasureLoad(files, argv[2]);
    }
    if (command == "save" && argc == 4) {
        return MeasureSave(files, argv[2], argv[3]);
    }
    if (command == "generate" && argc >= 3) {
        options.prefix = argv[2];
        if (!ParseBenchOptions(argc, argv, 3, &options)) {
            return 2;
        }
        return GeneratePrefix(files, options) ? 0 : 1;
    }
    if (command.empty() || command.starts_with("--")) {
        if (!ParseBenchOptions(argc, argv, 1, &options)) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        return MeasureAll(files, options, argv[0]);
    }
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace
}  // namespace quillary

int main(int argc, char** argv) {
    return quillary::Main(argc, argv);
}
