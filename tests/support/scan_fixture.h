#pragma once

// A scan environment over a small target for the engine's and the scanners' tests: a registry
// stated in reg text, a temporary folder mapped as C: (with the special folders asked for),
// the built-in rules, the exclusion lists, a log that keeps its lines, and a shortcut reader
// whose answers the test sets.

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "engine/category.h"
#include "platform/shell_link.h"
#include "support/fake_platform_queries.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"
#include "targets/posix/mapped_file_system.h"
#include "targets/posix/posix_file_io.h"

namespace quillary::testing {

// Short names for long identifiers, expanded in registry texts and expected problems alike.
using ShortNames = std::vector<std::pair<std::string, std::string>>;

inline std::string ExpandNames(std::string text, const ShortNames& names) {
    for (const auto& [name, value] : names) {
        for (std::size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size())) {
            text.replace(at, name.size(), value);
        }
    }
    return text;
}

// Answers GetPath from a table of shortcut paths (any case) and remembers what it was asked.
class CTableShellLinkReader final : public IShellLinkReader {
public:
    std::u16string GetPath(std::u16string_view linkPath) override {
        asked.emplace_back(linkPath);
        auto found = targets.find(ToLower(linkPath));
        return found == targets.end() ? std::u16string() : found->second;
    }
    void Set(std::u16string_view linkPath, std::u16string_view target) {
        targets[ToLower(linkPath)] = target;
    }
    std::map<std::u16string, std::u16string> targets;
    std::vector<std::u16string> asked;
};

// Protects no file, and the one key a test names (none: the system has no such function).
class CTestProtection final : public ISystemProtection {
public:
    std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view subKey, RegSam) override {
        if (protectedKey.empty())
            return std::nullopt;
        return subKey == protectedKey;
    }
    bool SfcIsFileProtected(std::u16string_view) override { return false; }
    std::u16string protectedKey;
};

struct ScanFixtureOptions {
    bool is64Bit = true;
    // Made as folders on C: and answered by the file system's special-folder lookup.
    std::map<int, std::u16string> specialFolders = {};
    std::vector<std::pair<std::u16string, std::u16string>> environment = {};
    // Language texts read "text of <identifier>" followed by this.
    std::u16string textSuffix = {};
    bool searchEmptyKeys = true;  // the skip-empty-keys setting turned off
};

class CScanFixture {
public:
    explicit CScanFixture(std::string_view registryText, bool is64Bit = true)
        : CScanFixture(registryText, ScanFixtureOptions{.is64Bit = is64Bit}) {}

    CScanFixture(std::string_view registryText, ScanFixtureOptions options)
        : registry_(MakeRegistry(registryText, [&] {
              MemoryRegistryOptions registryOptions;
              registryOptions.is64Bit = options.is64Bit;
              return registryOptions;
          }())) {
        folder_.MakeFolder("c/windows/system32");
        for (const auto& [csidl, path] : options.specialFolders) {
            MakeFolder(path);
        }
        MappedFileSystemSetup setup;
        setup.drives = {{u'C', folder_.Path() / "c", DriveFixed, {}}};
        setup.is64Bit = options.is64Bit;
        for (const auto& [name, value] : options.environment) {
            setup.environment.Set(name, value);
        }
        setup.specialFolders = std::move(options.specialFolders);
        files_ = std::make_unique<CMappedFileSystem>(std::move(setup));
        target_ = {registry_.get(), options.is64Bit, {}};
        platform_.is64Bit = options.is64Bit;
        if (options.searchEmptyKeys)
            settings_.SetChkSkipEmptyKeys = 0;
        rules_ = std::make_unique<CBuiltinRules>(*files_, protection_, platform_, settings_);
        references_ =
            std::make_unique<CFileReferenceResolver>(*files_, target_, *rules_, settings_);
        environment_ = std::make_unique<ScanEnvironment>(ScanEnvironment{
            target_, *files_, platform_, settings_, *rules_, *references_, exclusions_,
            [suffix = options.textSuffix](std::u16string_view id) {
                return u"text of " + std::u16string(id) + suffix;
            },
            [this](std::u16string_view line) { log.emplace_back(line); }});
    }

    ScanEnvironment& Environment() { return *environment_; }
    CMemoryRegistry& Registry() { return *registry_; }
    SettingsValues& Settings() { return settings_; }
    CExclusionLists& Exclusions() { return exclusions_; }
    CTestProtection& Protection() { return protection_; }
    CMappedFileSystem& Files() { return *files_; }
    CTableShellLinkReader& Links() { return links_; }
    const CTempFolder& Folder() const { return folder_; }

    // The Unix path of a Windows path on C:.
    std::filesystem::path UnixPath(std::u16string_view windowsPath) const {
        std::string relative = Utf16ToUtf8(windowsPath.substr(3));
        std::replace(relative.begin(), relative.end(), '\\', '/');
        return folder_.Path() / "c" / relative;
    }
    void MakeFolder(std::u16string_view windowsPath) const {
        std::filesystem::create_directories(UnixPath(windowsPath));
    }
    // A file at a Windows path on C:, with its folders.
    void MakeFile(std::u16string_view windowsPath) const {
        std::filesystem::path path = UnixPath(windowsPath);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "x";
    }
    // A shortcut file at linkPath whose target the reader reports as target.
    void MakeShortcut(std::u16string_view linkPath, std::u16string_view target) {
        MakeFile(linkPath);
        links_.Set(linkPath, target);
    }

    std::vector<std::u16string> log;

private:
    CTempFolder folder_;
    std::unique_ptr<CMemoryRegistry> registry_;
    std::unique_ptr<CMappedFileSystem> files_;
    RegistryTarget target_;
    FakePlatformQueries platform_;
    SettingsValues settings_;
    CTestProtection protection_;
    CPosixFileIo fileIo_;
    CExclusionLists exclusions_{fileIo_};
    std::unique_ptr<CBuiltinRules> rules_;
    std::unique_ptr<CFileReferenceResolver> references_;
    std::unique_ptr<ScanEnvironment> environment_;
    CTableShellLinkReader links_;
};

}  // namespace quillary::testing
