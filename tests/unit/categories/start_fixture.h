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

#include "core/text_encoding.h"
#include "engine/category.h"
#include "platform/shell_link.h"
#include "support/fake_platform_queries.h"
#include "support/registry_fixture.h"
#include "support/scan_fixture.h"
#include "support/temp_folder.h"
#include "targets/posix/mapped_file_system.h"

namespace quillary::testing {

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

// The scan fixture as these scanners need it: the profile's folders and ProgramFiles set,
// language texts ending in ": ", the skip-empty-keys setting left at its default.
class CStartFixture : public CScanFixture {
public:
    explicit CStartFixture(std::string_view registryText,
                           std::map<int, std::u16string> specialFolders = ProfileFolders(),
                           bool is64Bit = true)
        : CScanFixture(registryText,
                       ScanFixtureOptions{.is64Bit = is64Bit,
                                          .specialFolders = std::move(specialFolders),
                                          .environment = {{u"ProgramFiles", u"C:\\Program Files"}},
                                          .textSuffix = u": ",
                                          .searchEmptyKeys = false}) {}
};

// Keeps the progress and status a scanner reports.
class CProgressRecorder final : public IScanObserver {
public:
    void OnCategoryProgress(int percent) override { progress.push_back(percent); }
    void OnStatus(std::u16string_view text) override { status.emplace_back(text); }
    std::vector<int> progress;
    std::vector<std::u16string> status;
};

// Asks for a stop when the status names one entry.
class StopAtStatus final : public IScanObserver {
public:
    StopAtStatus(CManualResetEvent& stop, std::u16string_view status)
        : stop_(stop), status_(status) {}
    void OnStatus(std::u16string_view text) override {
        if (text == status_)
            stop_.Set();
    }

private:
    CManualResetEvent& stop_;
    std::u16string status_;
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
