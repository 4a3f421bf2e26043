#include "categories/shared_files.h"

#include <array>

#include "categories/pump_messages.h"
#include "categories/value_reading.h"
#include "core/text_format.h"

namespace quillary {
namespace {

constexpr std::int32_t kMissingSharedFile = 33;

// Longer library paths are not judged.
constexpr std::size_t kLongestLibraryPath = 225;

constexpr std::array<RegSam, 1> kSingleView = {0};
constexpr std::array<RegSam, 2> kBothViews = {KeyWow64_64Key, KeyWow64_32Key};

}  // namespace

std::span<const RegSam> CSharedFiles::Views() const {
    if (environment_.target.is64Bit)
        return kBothViews;
    return kSingleView;
}

int CSharedFiles::CountItems() {
    std::uint32_t count = 0;
    for (RegSam view : Views()) {
        RegKey key(*environment_.target.store);
        if (key.Open(HKeyLocalMachine, kSharedDllsKey, kMaskReadOnly | view) == ErrorSuccess)
            count += CountValues(key.Store(), key.Handle());
    }
    return static_cast<int>(count);
}

int CSharedFiles::Scan() {
    const int total = CountItems();
    if (total < 1)
        return kScanDone;
    progressTotal_ = total;
    progressCount_ = 0;
    classTrees_.clear();

    const int result = ScanLists();
    classTrees_.clear();
    SortProblems();
    if (result == kScanStopped || IsStopRequested())
        return kScanStopped;
    FinishProgress();
    return kScanDone;
}

int CSharedFiles::ScanLists() {
    for (auto list : {&CSharedFiles::ScanSharedLibraries, &CSharedFiles::ScanApprovedExtensions}) {
        for (RegSam view : Views()) {
            if ((this->*list)(view) == kScanStopped)
                return kScanStopped;
        }
    }
    return kScanDone;
}

int CSharedFiles::ScanSharedLibraries(RegSam view) {
    RegKey key(*environment_.target.store);
    if (key.Open(HKeyLocalMachine, kSharedDllsKey, kMaskReadOnly | view) != ErrorSuccess)
        return kScanDone;
    std::vector<std::u16string> paths;
    ListValueNames(key.Store(), key.Handle(), paths);
    FileReferenceOptions options;
    options.builtinFileExclusions = true;
    options.safetyList = true;
    for (const std::u16string& path : paths) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        if (path.size() > kLongestLibraryPath)
            continue;
        ShowStatus(u"Shared DLL: " + path);
        if (!environment_.references.FileReferenceIsValid(SystemDirectory(), path, options))
            Report(view, kSharedDllsKey, path, LastPathPart(path), ParentPath(path));
        StepProgress();
    }
    return kScanDone;
}

int CSharedFiles::ScanApprovedExtensions(RegSam view) {
    RegKey key(*environment_.target.store);
    if (key.Open(HKeyLocalMachine, kApprovedKey, kMaskReadOnly | view) != ErrorSuccess)
        return kScanDone;
    std::vector<std::u16string> classes;
    ListValueNames(key.Store(), key.Handle(), classes);
    for (const std::u16string& clsid : classes) {
        // The list may be long: a stop is honoured between its values too.
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        std::u16string description;
        QueryShortText(key, clsid, description);
        ShowStatus(u"Approved Shell Extensions: " + description);
        if (!clsid.starts_with(u'{'))
            continue;
        if (!ClassIsRegistered(clsid))
            Report(view, kApprovedKey, clsid, description, description);
        StepProgress();
    }
    return kScanDone;
}

bool CSharedFiles::ClassIsRegistered(std::u16string_view clsid) {
    if (classTrees_.empty()) {
        classTrees_.reserve(Views().size());
        for (RegSam view : Views())
            classTrees_.emplace_back(*environment_.target.store, view, u"CLSID");
    }
    for (const CClassesKey& tree : classTrees_) {
        RegKey key(*environment_.target.store);
        const LStatus status = tree.OpenSubkey(key, clsid);
        if (status == ErrorSuccess || status == ErrorAccessDenied)
            return true;
    }
    return false;
}

void CSharedFiles::Report(RegSam view, std::u16string_view key, std::u16string_view valueName,
                          std::u16string_view shownName, std::u16string_view secondLine) {
    const bool is32BitEntry = view == KeyWow64_32Key;
    const std::u16string keyText = u"HKEY_LOCAL_MACHINE\\" + std::u16string(key);
    if (is32BitEntry && Has64BitTwin(kMissingSharedFile, keyText, valueName, u""))
        return;
    const std::u16string format =
        environment_.text ? environment_.text(u"IDS_MISSING_SHARED_FILE") : std::u16string();
    AddProblemWithDetails(is32BitEntry, kMissingSharedFile, keyText, valueName, u"",
                          {Format(format, shownName), secondLine});
}

}  // namespace quillary
