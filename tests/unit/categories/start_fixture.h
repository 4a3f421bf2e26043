#pragma once

// A scan environment for the shortcut, Start menu and startup scanners: a registry stated in
// reg text, a temporary folder mapped as C: with the profile's special folders, the built-in
// rules, the exclusion lists, and a shortcut reader whose answers the test sets.

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "engine/category.h"
#include "platform/posix/mapped_file_system.h"
#include "platform/shell_link.h"
#include "support/fake_platform_queries.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"

namespace quillary::testing {

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

class NoFileProtection final : public ISystemProtection {
public:
    std::optional<bool> SfcIsKeyProtected(HKey, std::u16string_view, RegSam) override {
        return std::nullopt;
    }
    bool SfcIsFileProtected(std::u16string_view) override { return false; }
};

// The profile folders of the user "demo", as a Wine prefix lays them out.
inline std::map<int, std::u16string> ProfileFolders() {
    return {
        {CsidlDesktop, u"C:\\users\\demo\\Desktop"},
        {CsidlCommonDesktopDirectory, u"C:\\users\\Public\\Desktop"},
        {CsidlAppData, u"C:\\users\\demo\\AppData\\Roaming"},
        {CsidlLocalAppData, u"C:\\users\\demo\\AppData\\Local"},
        {CsidlRecent, u"C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    };
}

class CStartFixture {
public:
    explicit CStartFixture(std::string_view registryText,
                           std::map<int, std::u16string> specialFolders = ProfileFolders(),
                           bool is64Bit = true)
        : registry_(MakeRegistry(registryText, [&] {
              MemoryRegistryOptions options;
              options.is64Bit = is64Bit;
              return options;
          }())) {
        folder_.MakeFolder("c/windows/system32");
        for (const auto& [csidl, path] : specialFolders) {
            MakeFolder(path);
        }
        MappedFileSystemSetup setup;
        setup.drives = {{u'C', folder_.Path() / "c", DriveFixed, {}}};
        setup.is64Bit = is64Bit;
        setup.environment.Set(u"ProgramFiles", u"C:\\Program Files");
        setup.specialFolders = std::move(specialFolders);
        files_ = std::make_unique<CMappedFileSystem>(std::move(setup));
        target_ = {registry_.get(), is64Bit, {}};
        platform_.is64Bit = is64Bit;
        rules_ = std::make_unique<CBuiltinRules>(*files_, protection_, platform_, settings_);
        references_ =
            std::make_unique<CFileReferenceResolver>(*files_, target_, *rules_, settings_);
        environment_ = std::make_unique<ScanEnvironment>(ScanEnvironment{
            target_, *files_, platform_, settings_, *rules_, *references_, exclusions_,
            [](std::u16string_view id) { return u"text of " + std::u16string(id) + u": "; },
            [this](std::u16string_view line) { log.emplace_back(line); }});
    }

    ScanEnvironment& Environment() { return *environment_; }
    CMemoryRegistry& Registry() { return *registry_; }
    SettingsValues& Settings() { return settings_; }
    CExclusionLists& Exclusions() { return exclusions_; }
    CMappedFileSystem& Files() { return *files_; }
    CTableShellLinkReader& Links() { return links_; }

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
    NoFileProtection protection_;
    CExclusionLists exclusions_;
    std::unique_ptr<CBuiltinRules> rules_;
    std::unique_ptr<CFileReferenceResolver> references_;
    std::unique_ptr<ScanEnvironment> environment_;
    CTableShellLinkReader links_;
};

// Keeps the progress and status a scanner reports.
class CProgressRecorder final : public IScanObserver {
public:
    void OnCategoryProgress(int percent) override { progress.push_back(percent); }
    void OnStatus(std::u16string_view text) override { status.emplace_back(text); }
    std::vector<int> progress;
    std::vector<std::u16string> status;
};

// What a test compares of a problem.
struct ProblemView {
    std::int32_t entryType;
    std::u16string key;
    std::u16string valueName;
    std::u16string valueData;
    bool is32BitEntry;
    std::vector<std::u16string> details;
    bool operator==(const ProblemView&) const = default;
};

inline void PrintTo(const ProblemView& view, std::ostream* out) {
    *out << "{type " << view.entryType << ", key \"" << Utf16ToUtf8(view.key) << "\", name \""
         << Utf16ToUtf8(view.valueName) << "\", data \"" << Utf16ToUtf8(view.valueData)
         << "\", 32-bit " << view.is32BitEntry << ", details";
    for (const std::u16string& line : view.details)
        *out << " \"" << Utf16ToUtf8(line) << "\"";
    *out << "}";
}

inline std::vector<ProblemView> ProblemsOf(const CCategory& category) {
    std::vector<ProblemView> views;
    for (const auto& problem : category.Problems()) {
        views.push_back({problem->EntryType, problem->Key, problem->ValueName, problem->ValueData,
                         problem->is32BitEntry, problem->detailLines});
    }
    return views;
}

}  // namespace quillary::testing
