// Measures importing a large registry export file into a small Wine prefix: with the program's
// command line (`quillary-cli import`, which keeps an undo copy first), with the library call
// alone (ImportRegFile, with the prefix's opening and saving timed apart), and with Wine's own
// `regedit /s`; then exporting the whole imported registry, ours against `regedit /e`. Each
// import starts from a fresh copy of one prefix made once by `wineboot -i`, and every measured
// import or export is a process of its own, so its time is the whole command's and its peak
// memory its own.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_options.h"
#include "repair/full_registry_export.h"
#include "repair/reg_import.h"
#include "synthetic_reg_file.h"
#include "targets/posix/posix_file_io.h"
#include "targets/wine/wine_prefix_registry.h"

extern char** environ;

namespace quillary {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: quillary-bench-import [--prefix WORKDIR] [--seed N] [--scale X] [--runs N]\n"
    "       quillary-bench-import generate FILE VALUES [--seed N]\n"
    "  imports files of 10,000, 100,000 and 1,000,000 values (times --scale) into a fresh\n"
    "  copy of a Wine prefix made once in WORKDIR, with quillary-cli, with the library and\n"
    "  with `wine regedit /s`, and exports the result with both\n";

constexpr const char* kRegistryFiles[] = {"system.reg", "user.reg", "userdef.reg"};
constexpr std::uint64_t kSizesAtScaleOne[] = {10'000, 100'000, 1'000'000};

// --- processes -------------------------------------------------------------------------

struct ProcessRun {
    int status = -1;  // the exit status, or -1 when it did not start or end normally
    double seconds = 0;
    double peakMegabytes = 0;
    std::string output;  // its standard output, when asked for
};

// Runs a program with extra environment variables, its standard output kept in a file when
// outputFile is given and thrown away otherwise, and waits for it.
ProcessRun RunProcess(const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment,
                      const fs::path& outputFile = {}) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view text = *variable;
        if (!environment.contains(std::string(text.substr(0, text.find('='))))) {
            variables.emplace_back(text);
        }
    }
    for (const auto& [name, value] : environment) {
        variables.push_back(name + "=" + value);
    }
    const auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> result;
        for (std::string& text : texts) {
            result.push_back(text.data());
        }
        result.push_back(nullptr);
        return result;
    };
    std::vector<std::string> argumentCopy = arguments;
    std::vector<char*> argv = pointers(argumentCopy);
    std::vector<char*> envp = pointers(variables);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = outputFile.empty() ? "/dev/null" : outputFile.string();
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ProcessRun run;
    const auto start = Clock::now();
    pid_t child = 0;
    const int failure = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        return run;
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            return run;
        }
    }
    run.seconds = SecondsSince(start);
    run.peakMegabytes = Megabytes(static_cast<double>(usage.ru_maxrss) * 1024);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!outputFile.empty()) {
        std::ifstream stream(outputFile);
        run.output.assign(std::istreambuf_iterator<char>(stream), {});
    }
    return run;
}

// "name seconds" lines, as the measured children print them.
std::map<std::string, double> ReadFigures(const std::string& text) {
    std::map<std::string, double> figures;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const std::size_t space = line.find(' ');
        if (space != std::string::npos) {
            figures[line.substr(0, space)] = std::strtod(line.c_str() + space + 1, nullptr);
        }
        start = end + 1;
    }
    return figures;
}

// --- the prefixes ------------------------------------------------------------------------

std::map<std::string, std::string> WineEnvironment(const fs::path& prefix) {
    return {{"WINEPREFIX", prefix.string()}, {"WINEDEBUG", "-all"}};
}

// The prefix every run copies, made once by wineboot and kept.
bool EnsureBasePrefix(const fs::path& base) {
    if (fs::exists(base / "system.reg")) {
        return true;
    }
    std::printf("Making the Wine prefix %s (wineboot -i, once)\n", base.c_str());
    std::fflush(stdout);
    const auto environment = WineEnvironment(base);
    return RunProcess({"wineboot", "-i"}, environment).status == 0 &&
           RunProcess({"wineserver", "-w"}, environment).status == 0 &&
           fs::exists(base / "system.reg");
}

// A prefix of its own for one run: the base's registry files, and drive C: as a tree of links
// to the base's files (Wine's programs are read from it, and nothing there is changed).
bool FreshPrefix(const fs::path& base, const fs::path& prefix) {
    std::error_code error;
    fs::remove_all(prefix, error);
    fs::create_directories(prefix / "dosdevices", error);
    for (const char* name : kRegistryFiles) {
        fs::copy_file(base / name, prefix / name, error);
        if (error) {
            return false;
        }
    }
    // Without its stamp Wine would take the copy for a prefix to update, which takes seconds.
    fs::copy_file(base / ".update-timestamp", prefix / ".update-timestamp", error);
    if (error ||
        RunProcess({"cp", "-as", (base / "drive_c").string(), (prefix / "drive_c").string()}, {})
                .status != 0) {
        return false;
    }
    fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:", error);
    return !error;
}

// --- the measured children ---------------------------------------------------------------

std::unique_ptr<CWinePrefixRegistry> OpenPrefix(IFileIo& files, const fs::path& prefix) {
    std::string error;
    std::unique_ptr<CWinePrefixRegistry> store = CWinePrefixRegistry::Open(files, prefix, &error);
    if (store == nullptr || store->IsDamaged()) {
        std::fprintf(stderr, "cannot open %s: %s\n", prefix.c_str(), error.c_str());
        return nullptr;
    }
    return store;
}

// Opens the prefix, imports the file with the library call and saves the prefix, each timed.
int ImportWithLibrary(const fs::path& file, const fs::path& prefix) {
    CPosixFileIo files;
    auto start = Clock::now();
    std::unique_ptr<CWinePrefixRegistry> store = OpenPrefix(files, prefix);
    if (store == nullptr) {
        return 1;
    }
    std::printf("open %.6f\n", SecondsSince(start));
    RegistryTarget target;
    target.store = store.get();
    target.is64Bit = store->Is64Bit();
    start = Clock::now();
    if (std::optional<std::string> failure = ImportRegFile(target, target.is64Bit, files, file)) {
        std::fprintf(stderr, "the import failed: %s\n", failure->c_str());
        return 1;
    }
    std::printf("import %.6f\n", SecondsSince(start));
    start = Clock::now();
    if (FileError failure = store->Save()) {
        std::fprintf(stderr, "the save failed: %s\n", failure->c_str());
        return 1;
    }
    std::printf("save %.6f\n", SecondsSince(start));
    return 0;
}

// Opens the prefix and exports its whole registry, each timed.
int ExportWithLibrary(const fs::path& prefix, const fs::path& file) {
    CPosixFileIo files;
    auto start = Clock::now();
    std::unique_ptr<CWinePrefixRegistry> store = OpenPrefix(files, prefix);
    if (store == nullptr) {
        return 1;
    }
    std::printf("open %.6f\n", SecondsSince(start));
    RegistryTarget target;
    target.store = store.get();
    target.is64Bit = store->Is64Bit();
    start = Clock::now();
    if (FileError failure = ExportWholeRegistry(target, files, file)) {
        std::fprintf(stderr, "the export failed: %s\n", failure->c_str());
        return 1;
    }
    std::printf("export %.6f\n", SecondsSince(start));
    return 0;
}

// --- one size ----------------------------------------------------------------------------

struct SizeFigures {
    std::uint64_t values = 0;
    double fileMegabytes = 0;
    std::vector<double> cli, cliPeak, library, libraryImport, libraryPeak, wine;
    std::vector<double> ourExport, ourExportOnly, wineExport;
};

class CImportBench {
public:
    CImportBench(const BenchOptions& options, fs::path self)
        : options_(options),
          self_(std::move(self)),
          base_(options.prefix / "wine-prefix"),
          run_(options.prefix / "run-prefix"),
          home_(options.prefix / "home") {}

    bool Prepare() { return EnsureBasePrefix(base_); }

    std::optional<SizeFigures> Measure(std::uint64_t values) {
        SizeFigures figures;
        figures.values = values;
        const fs::path file = options_.prefix / ("import-" + std::to_string(values) + "-seed" +
                                                 std::to_string(options_.seed) + ".reg");
        if (!fs::exists(file)) {
            SyntheticRegFileSize size;
            std::string error;
            if (!WriteSyntheticRegFile(file, values, options_.seed, &size, &error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return std::nullopt;
            }
        }
        figures.fileMegabytes = Megabytes(static_cast<double>(fs::file_size(file)));
        for (int run = 0; run < options_.runs; ++run) {
            if (!MeasureCli(file, figures) || !MeasureLibrary(file, figures) ||
                !MeasureWine(file, figures)) {
                return std::nullopt;
            }
        }
        return figures;
    }

private:
    bool Failed(const char* what, const ProcessRun& run) const {
        if (run.status == 0) {
            return false;
        }
        std::fprintf(stderr, "%s failed (status %d)\n", what, run.status);
        return true;
    }

    // `quillary-cli import`, with its program data in a folder of its own, and then the
    // export of what it imported.
    bool MeasureCli(const fs::path& file, SizeFigures& figures) {
        std::error_code error;
        fs::remove_all(home_, error);
        fs::create_directories(home_, error);
        if (!FreshPrefix(base_, run_)) {
            std::fprintf(stderr, "cannot copy the prefix into %s\n", run_.c_str());
            return false;
        }
        const ProcessRun import =
            RunProcess({QUILLARY_CLI_PATH, "--prefix", run_.string(), "import", file.string()},
                       {{"HOME", home_.string()},
                        {"XDG_DATA_HOME", (home_ / "data").string()},
                        {"XDG_CONFIG_HOME", (home_ / "config").string()}});
        if (Failed("quillary-cli import", import)) {
            return false;
        }
        figures.cli.push_back(import.seconds);
        figures.cliPeak.push_back(import.peakMegabytes);
        const ProcessRun exported = RunProcess(
            {self_.string(), "export", run_.string(), (options_.prefix / "ours.reg").string()}, {},
            options_.prefix / "export.figures");
        if (Failed("our export", exported)) {
            return false;
        }
        figures.ourExport.push_back(exported.seconds);
        figures.ourExportOnly.push_back(ReadFigures(exported.output)["export"]);
        return true;
    }

    bool MeasureLibrary(const fs::path& file, SizeFigures& figures) {
        if (!FreshPrefix(base_, run_)) {
            return false;
        }
        const ProcessRun import =
            RunProcess({self_.string(), "library", file.string(), run_.string()}, {},
                       options_.prefix / "library.figures");
        if (Failed("the library's import", import)) {
            return false;
        }
        figures.library.push_back(import.seconds);
        figures.libraryImport.push_back(ReadFigures(import.output)["import"]);
        figures.libraryPeak.push_back(import.peakMegabytes);
        return true;
    }

    // `wine regedit /s` with a server started for it that writes the registry and ends as
    // soon as regedit is done (-p0), rather than lingering for seconds; then `regedit /e`.
    bool MeasureWine(const fs::path& file, SizeFigures& figures) {
        if (!FreshPrefix(base_, run_)) {
            return false;
        }
        std::error_code error;
        fs::create_symlink(fs::absolute(file), run_ / "drive_c" / "import.reg", error);
        if (error) {
            return false;
        }
        const auto environment = WineEnvironment(run_);
        const auto timed = [&](const std::vector<std::string>& command, const char* what,
                               std::vector<double>& seconds) {
            const auto start = Clock::now();
            if (Failed("wineserver -p0", RunProcess({"wineserver", "-p0"}, environment)) ||
                Failed(what, RunProcess(command, environment)) ||
                Failed("wineserver -w", RunProcess({"wineserver", "-w"}, environment))) {
                return false;
            }
            seconds.push_back(SecondsSince(start));
            return true;
        };
        return timed({"wine", "regedit", "/s", "C:\\import.reg"}, "wine regedit /s",
                     figures.wine) &&
               timed({"wine", "regedit", "/e", "C:\\export.reg"}, "wine regedit /e",
                     figures.wineExport);
    }

    const BenchOptions& options_;
    fs::path self_;
    fs::path base_;
    fs::path run_;
    fs::path home_;
};

void PrintTable(const std::vector<SizeFigures>& sizes, int runs) {
    std::printf("\nWall time of the whole command, median of %d run(s); peak = VmHWM\n\n", runs);
    std::printf("%10s %8s | %10s %8s | %10s %10s %8s | %10s | %10s %10s | %10s\n", "values", "MB",
                "cli import", "peak MB", "library", "import", "peak MB", "regedit /s", "our export",
                "export", "regedit /e");
    for (const SizeFigures& size : sizes) {
        std::printf(
            "%10llu %8.1f | %9.2fs %8.0f | %9.2fs %9.2fs %8.0f | %9.2fs | %9.2fs %9.2fs | %9.2fs\n",
            static_cast<unsigned long long>(size.values), size.fileMegabytes, Median(size.cli),
            Median(size.cliPeak), Median(size.library), Median(size.libraryImport),
            Median(size.libraryPeak), Median(size.wine), Median(size.ourExport),
            Median(size.ourExportOnly), Median(size.wineExport));
    }
}

int MeasureAll(BenchOptions options) {
    // Wine takes only an absolute prefix.
    options.prefix = fs::absolute(options.prefix);
    std::error_code error;
    fs::create_directories(options.prefix, error);
    CImportBench bench(options, fs::read_symlink("/proc/self/exe"));
    if (!bench.Prepare()) {
        std::fprintf(stderr, "cannot make the Wine prefix\n");
        return 1;
    }
    std::vector<SizeFigures> sizes;
    for (std::uint64_t atScaleOne : kSizesAtScaleOne) {
        const auto values =
            static_cast<std::uint64_t>(static_cast<double>(atScaleOne) * options.scale);
        std::printf("Importing %llu values...\n", static_cast<unsigned long long>(values));
        std::fflush(stdout);
        std::optional<SizeFigures> figures = bench.Measure(values);
        if (!figures) {
            return 1;
        }
        sizes.push_back(std::move(*figures));
        PrintTable(sizes, options.runs);
    }
    return 0;
}

int Main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "library" && argc == 4) {
        return ImportWithLibrary(argv[2], argv[3]);
    }
    if (command == "export" && argc == 4) {
        return ExportWithLibrary(argv[2], argv[3]);
    }
    BenchOptions options;
    options.prefix = "import-work";
    if (command == "generate" && argc >= 4) {
        if (!ParseBenchOptions(argc, argv, 4, &options)) {
            return 2;
        }
        SyntheticRegFileSize size;
        std::string error;
        if (!WriteSyntheticRegFile(argv[2], std::strtoull(argv[3], nullptr, 10), options.seed,
                                   &size, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::printf("%s: %llu keys, %llu values, %.1f MB\n", argv[2],
                    static_cast<unsigned long long>(size.keys),
                    static_cast<unsigned long long>(size.values),
                    Megabytes(static_cast<double>(size.bytes)));
        return 0;
    }
    if (command.empty() || command.starts_with("--")) {
        if (!ParseBenchOptions(argc, argv, 1, &options)) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        return MeasureAll(options);
    }
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace
}  // namespace quillary

int main(int argc, char** argv) {
    return quillary::Main(argc, argv);
}
