#include "categories/help_files.h"

#include <array>
#include <vector>

#include "categories/pump_messages.h"
#include "core/shell_path.h"

namespace quillary {
namespace {

constexpr CHelpFiles::HelpList kClassicHelp{CHelpFiles::kHelpKey, 24, u"Help file: ",
                                            u"Missing help file "};
constexpr CHelpFiles::HelpList kHtmlHelp{CHelpFiles::kHtmlHelpKey, 25, u"HTML help file: ",
                                         u"Missing HTML help file "};

}  // namespace

int CHelpFiles::CountItems() {
    std::vector<RegSam> views = {0};
    if (environment_.target.is64Bit)
        views = {KeyWow64_32Key, KeyWow64_64Key};
    std::uint32_t count = 0;
    for (RegSam view : views) {
        for (std::u16string_view path : {kHelpKey, kHtmlHelpKey}) {
            RegKey key(*environment_.target.store);
            if (key.Open(HKeyLocalMachine, path, kMaskReadOnly | view) == ErrorSuccess)
                count += CountValues(key.Store(), key.Handle());
        }
    }
    return static_cast<int>(count);
}

int CHelpFiles::Scan() {
    const int total = CountItems();
    if (total >= 0)
        progressTotal_ = total;
    progressCount_ = 0;
    return environment_.target.is64Bit ? ScanBothViews() : ScanOneView();
}

int CHelpFiles::ScanBothViews() {
    // The 64-bit view first, so that the 32-bit walk knows what it may be seeing again.
    const std::array<std::pair<const HelpList*, RegSam>, 4> walks = {{
        {&kClassicHelp, KeyWow64_64Key},
        {&kHtmlHelp, KeyWow64_64Key},
        {&kClassicHelp, KeyWow64_32Key},
        {&kHtmlHelp, KeyWow64_32Key},
    }};
    int result = kScanDone;
    for (const auto& [list, view] : walks) {
        result = WalkHelpList(*list, view);
        if (result == kScanStopped)
            break;
    }
    // What was found before a stop is still shown in order.
    FinishProgress();
    SortProblems();
    return result == kScanStopped || IsStopRequested() ? kScanStopped : kScanDone;
}

int CHelpFiles::ScanOneView() {
    if (WalkHelpList(kClassicHelp, 0) == kScanStopped)
        return kScanStopped;
    const int result = WalkHelpList(kHtmlHelp, 0);
    FinishProgress();
    SortProblems();
    return result == kScanStopped || IsStopRequested() ? kScanStopped : kScanDone;
}

int CHelpFiles::WalkHelpList(const HelpList& list, RegSam view) {
    RegKey key(*environment_.target.store);
    // Read-only, so that a store that refuses changes is scanned all the same.
    if (key.Open(HKeyLocalMachine, list.keyPath, kMaskReadOnly | view) != ErrorSuccess)
        return kScanDone;
    const bool is32BitEntry = view == KeyWow64_32Key;
    const bool mayRepeat64BitView = is32BitEntry && ReachedThroughLinkIn32BitView(list.keyPath);
    const std::u16string keyText = u"HKEY_LOCAL_MACHINE\\" + std::u16string(list.keyPath);
    std::vector<std::u16string> names;
    ListValueNames(key.Store(), key.Handle(), names);
    for (const std::u16string& name : names) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        ShowStatus(std::u16string(list.statusPrefix) + name);
        std::u16string folder = ReadKeyText(key, name);
        if (!folder.empty() && !folder.ends_with(u'\\'))
            folder += u'\\';
        if (HelpFileIsMissing(folder, name) &&
            !(mayRepeat64BitView && Has64BitTwin(list.entryType, keyText, name, folder))) {
            AddProblemWithDetails(is32BitEntry, list.entryType, keyText, name, folder,
                                  {std::u16string(list.detailPrefix) + name});
        }
        StepProgress();
    }
    return kScanDone;
}

bool CHelpFiles::HelpFileIsMissing(std::u16string_view folder, std::u16string_view name) {
    // Without a folder the help file is looked for by its name alone, in the current folder.
    if (folder.empty())
        return !PathFileExistsW(environment_.files, name);
    FileReferenceOptions options;
    options.forwardedC3 = true;
    return !environment_.references.FileReferenceIsValid(
        SystemDirectory(), std::u16string(folder) + std::u16string(name), options);
}

bool CHelpFiles::ReachedThroughLinkIn32BitView(std::u16string_view keyPath) {
    return IsSymbolicLink(*environment_.target.store, HKeyLocalMachine, keyPath,
                          kMaskReadOnly | KeyWow64_32Key);
}

}  // namespace quillary
