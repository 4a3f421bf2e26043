#pragma once

// Platform answers a test sets by hand: a 64-bit Windows 7 unless told otherwise.

#include <optional>

#include "platform/platform_queries.h"

namespace quillary::testing {

class FakePlatformQueries : public IPlatformQueries {
public:
    bool Is64BitWindows() const override { return is64Bit; }
    int WindowsMajorVersion() const override { return majorVersion; }
    int WindowsMinorVersion() const override { return 1; }
    int CurrentLanguageIndex() const override { return 0; }
    BaseFont InterfaceFont() const override { return {}; }
    std::u16string DataFolder() override { return dataFolder; }
    void CreateFolder(std::u16string_view) override {}
    int CommandLineHook(std::u16string_view line) override {
        hookLine = line;
        return hookAnswer;
    }
    int TextWidth(std::u16string_view, std::int32_t, int) const override { return 0; }
    std::u16string WebAddress(int) const override { return {}; }
    bool IsFirstRun() override { return false; }
    bool IsStartScanRequested() override { return false; }
    void AcknowledgeStartScan() override {}
    void StoreLastScanProblemCount(int count) override { storedCount = count; }
    int LastScanProblemCount() const override { return storedCount.value_or(0); }

    bool is64Bit = true;
    std::u16string dataFolder = u"C:\\Data";
    int hookAnswer = 0;
    std::u16string hookLine;  // what the command-line hook was offered
    int majorVersion = 6;
    // Empty until the settings hand a count over.
    std::optional<int> storedCount;
};

}  // namespace quillary::testing
