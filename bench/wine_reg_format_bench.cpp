// Microbenchmarks of the registry file format alone: parsing a synthetic system.reg into a
// key tree and writing the tree back, without the file system.

#include <benchmark/benchmark.h>

#include "synthetic_prefix.h"
#include "targets/wine/wine_reg_reader.h"
#include "targets/wine/wine_reg_writer.h"

namespace quillary {
namespace {

// About 3 MB of system.reg: large enough for the tree to leave the caches.
constexpr SyntheticPrefixShape kShape{1, 0.02};

const std::string& SystemRegText() {
    static const std::string text = [] {
        CRegistryNode machine(u"", KeyOrder::LowerCase, true);
        BuildSyntheticMachine(machine, kShape);
        return FormatWineRegFile(machine, WineRegHeader{"REGISTRY\\\\Machine", "win64"});
    }();
    return text;
}

void BM_ReadWineRegFile(benchmark::State& state) {
    const std::string& text = SystemRegText();
    for (auto _ : state) {
        CRegistryNode machine(u"", KeyOrder::LowerCase, true);
        WineRegHeader header;
        std::vector<WineRegDiagnostic> diagnostics;
        if (!ReadWineRegFile(text, "system.reg", machine, 0, &header, &diagnostics)) {
            state.SkipWithError("the synthetic file was not understood");
            break;
        }
        benchmark::DoNotOptimize(machine.ChildCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadWineRegFile)->Unit(benchmark::kMillisecond);

void BM_FormatWineRegFile(benchmark::State& state) {
    const std::string& text = SystemRegText();
    CRegistryNode machine(u"", KeyOrder::LowerCase, true);
    WineRegHeader header;
    std::vector<WineRegDiagnostic> diagnostics;
    ReadWineRegFile(text, "system.reg", machine, 0, &header, &diagnostics);
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatWineRegFile(machine, header));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FormatWineRegFile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillary

BENCHMARK_MAIN();
