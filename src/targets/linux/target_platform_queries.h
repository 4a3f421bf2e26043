#pragma once

// The platform answers on Linux. What Windows itself would tell the program (bitness,
// version) is read from the target, the registry being cleaned; what the program remembers
// about its own runs is kept in the config store; the program's files live in a folder of
// the user's data home, one per target.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform_queries.h"
#include "platform/registry.h"

namespace quillary {

// Looks up one environment variable; nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The user's data home: $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share
// when $HOME is an absolute path, else an empty path (there is then no data folder).
std::filesystem::path DataHomeFrom(const EnvironmentLookup& environment);
// DataHomeFrom the environment of this process.
std::filesystem::path DefaultDataHome();

class CTargetPlatformQueries final : public IPlatformQueries {
public:
    // targetId names the target's own data folder below <dataHome>/quillary; it must be one
    // folder name (see DataFolder). The target's bitness and version are read here, once:
    // a target does not change them while the program runs.
    CTargetPlatformQueries(IRegistry& targetStore, IRegistry& configStore, std::u16string targetId,
                           std::filesystem::path dataHome);

    bool Is64BitWindows() const override { return is64Bit_; }
    int WindowsMajorVersion() const override { return version_.major; }
    int WindowsMinorVersion() const override { return version_.minor; }
    // The stored "LangID" choice; 0 (English) when it is missing, not a REG_DWORD or not an
    // index of the language table.
    int CurrentLanguageIndex() const override;
    BaseFont InterfaceFont() const override;

    // <dataHome>/quillary/<targetId>, created with its parents when missing. Empty when it
    // cannot be made: no data home, a file in the way, no permission, or a target id that is
    // not one plain folder name (empty, ".", "..", holding '/', '\\' or NUL, or text that
    // would not come back unchanged from the file system). Such an id is refused rather than
    // repaired, since two ids repaired to the same name would share one undo history.
    std::u16string DataFolder() override;
    // Does nothing for a path the file system cannot hold exactly (empty, NUL, lone
    // surrogates); callers test for the folder afterwards either way.
    void CreateFolder(std::u16string_view path) override;

    // Nothing on Linux makes the program quit at start.
    int CommandLineHook(std::u16string_view /*joinedArguments*/) override { return 0; }

    // There is no window system to measure with, so this estimates: every character (a
    // surrogate pair counts once) is 0.55 of the font height wide, the sign of the height
    // ignored and a height of 0 taken as the interface font's. The result is rounded and
    // capped at limit when limit is above 0. The GUI measures with its own toolkit.
    int TextWidth(std::u16string_view text, std::int32_t fontHeight, int limit) const override;
    // The user guide installed with the program, for every selector.
    std::u16string WebAddress(int selector) const override;

    // Answers true once per user: the answer is marked in the config store before it is
    // given, and this object answers false after its first call even when the mark could not
    // be stored.
    bool IsFirstRun() override;
    bool IsStartScanRequested() override;
    void AcknowledgeStartScan() override;

    // A negative count is stored as 0.
    void StoreLastScanProblemCount(int count) override;
    int LastScanProblemCount() const override;

private:
    struct WindowsVersion {
        int major;
        int minor;
    };

    static bool ReadIs64Bit(IRegistry& targetStore);
    static WindowsVersion ReadVersion(IRegistry& targetStore, bool is64Bit);

    IRegistry& configStore_;
    std::u16string targetId_;
    std::filesystem::path dataHome_;
    bool is64Bit_;
    WindowsVersion version_;
    bool firstRunAnswered_ = false;
};

}  // namespace quillary
