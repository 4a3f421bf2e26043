// quillary-demo-prefix: writes the demo Wine prefix, or prints the README's table of what it
// plants.

#include <cstdio>
#include <string_view>

#include "demo_prefix.h"
#include "readme_table.h"
#include "targets/posix/posix_file_io.h"

namespace {

constexpr std::string_view kUsage =
    "usage: quillary-demo-prefix OUTPUT_DIR\n"
    "       quillary-demo-prefix --readme-table\n"
    "\n"
    "Writes a small Wine prefix into OUTPUT_DIR (a missing or empty folder, or a demo prefix\n"
    "written before, which is replaced) with broken and valid entries for every scan category.\n"
    "--readme-table prints the Markdown table of those entries.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs(kUsage.data(), stderr);
        return 2;
    }
    const std::string_view argument = argv[1];
    if (argument == "--help" || argument == "-h") {
        std::fputs(kUsage.data(), stdout);
        return 0;
    }
    if (argument == "--readme-table") {
        std::fputs(quillary::demo::FormatPlantedEntriesMarkdown().c_str(), stdout);
        return 0;
    }
    if (argument.starts_with("-")) {
        std::fprintf(stderr, "quillary-demo-prefix: unknown option %s\n%s", argv[1], kUsage.data());
        return 2;
    }
    quillary::CPosixFileIo files;
    if (quillary::FileError failure = quillary::demo::WriteDemoPrefix(files, argument)) {
        std::fprintf(stderr, "quillary-demo-prefix: %s\n", failure->c_str());
        return 1;
    }
    std::printf("quillary-demo-prefix: wrote the demo prefix to %s\n", argv[1]);
    return 0;
}
