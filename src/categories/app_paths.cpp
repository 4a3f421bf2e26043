#include "categories/app_paths.h"

#include <array>
#include <span>

#include "categories/pump_messages.h"
#include "categories/value_reading.h"

namespace quillary {
namespace {

constexpr std::int32_t kEmptyKey = 1;
constexpr std::int32_t kMissingProgram = 13;
constexpr std::int32_t kNoValues = 14;

constexpr CAppPaths::Pass kNativePass{
    .view = 0, .is32BitEntry = false, .alwaysReportsEmptyKeys = false};
constexpr CAppPaths::Pass k64BitPass{
    .view = KeyWow64_64Key, .is32BitEntry = false, .alwaysReportsEmptyKeys = true};
constexpr CAppPaths::Pass k32BitPass{
    .view = KeyWow64_32Key, .is32BitEntry = true, .alwaysReportsEmptyKeys = true};

using Kind = CAppPaths::ListPlace::Kind;

// A system with one view: the machine's App Paths, the user's, then the applications.
constexpr std::array<CAppPaths::ListPlace, 3> kNativeLists = {{
    {Kind::AppPaths, HKeyLocalMachine, &kNativePass},
    {Kind::AppPaths, HKeyCurrentUser, &kNativePass},
    {Kind::Applications, HKeyLocalMachine, &kNativePass},
}};

// A 64-bit system: each machine list in the 64-bit view before the 32-bit view, so that the
// 32-bit walk can leave out the keys both views reach. The user's App Paths are one list for
// both views and are walked once.
constexpr std::array<CAppPaths::ListPlace, 5> k64BitLists = {{
    {Kind::AppPaths, HKeyCurrentUser, &k64BitPass},
    {Kind::AppPaths, HKeyLocalMachine, &k64BitPass},
    {Kind::AppPaths, HKeyLocalMachine, &k32BitPass},
    {Kind::Applications, HKeyLocalMachine, &k64BitPass},
    {Kind::Applications, HKeyLocalMachine, &k32BitPass},
}};

}  // namespace

std::vector<CAppPaths::OpenList> CAppPaths::OpenLists() {
    const std::span<const ListPlace> places = environment_.target.is64Bit
                                                  ? std::span<const ListPlace>(k64BitLists)
                                                  : std::span<const ListPlace>(kNativeLists);
    std::vector<OpenList> lists;
    for (const ListPlace& place : places) {
        OpenList list{&place, RegKey(*environment_.target.store), {}};
        const std::u16string_view path =
            place.kind == Kind::AppPaths ? kAppPathsKey : kApplicationsKey;
        if (list.key.Open(place.root, path, kMaskReadOnly | place.pass->view) != ErrorSuccess)
            continue;
        ListSubkeyNames(environment_.target, list.key.Handle(), list.names);
        lists.push_back(std::move(list));
    }
    return lists;
}

int CAppPaths::CountNames(std::span<const OpenList> lists) {
    std::size_t count = 0;
    for (const OpenList& list : lists)
        count += list.names.size();
    return static_cast<int>(count);
}

int CAppPaths::CountItems() {
    return CountNames(OpenLists());
}

int CAppPaths::Scan() {
    const std::vector<OpenList> lists = OpenLists();
    // One total for the whole scan, so that the bar never runs backwards between lists.
    progressTotal_ = CountNames(lists);
    progressCount_ = 0;

    int result = kScanDone;
    for (const OpenList& list : lists) {
        result = list.place->kind == Kind::AppPaths ? WalkAppPaths(list) : WalkApplications(list);
        if (result == kScanStopped)
            break;
    }
    SortProblems();
    if (result == kScanStopped || IsStopRequested())
        return kScanStopped;
    FinishProgress();
    return kScanDone;
}

// --- App Paths -------------------------------------------------------------------------------

int CAppPaths::WalkAppPaths(const OpenList& list) {
    for (const std::u16string& name : list.names) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        ShowStatus(u"Application Paths: " + name);
        CheckAppPath(list, name);
        StepProgress();
    }
    return kScanDone;
}

void CAppPaths::CheckAppPath(const OpenList& list, const std::u16string& name) {
    const Pass& pass = *list.place->pass;
    IRegistry& store = *environment_.target.store;
    RegKey key(store);
    if (key.Open(list.key.Handle(), name, kMaskReadOnly | pass.view) != ErrorSuccess)
        return;
    const std::u16string keyText =
        JoinKeyPath(RootKeyName(list.place->root), JoinKeyPath(kAppPathsKey, name));
    std::u16string program;
    const LStatus read = QueryText(key, u"", kShortValueLength, program);
    if (read == ErrorFileNotFound) {
        // Without any value the key registers nothing; what lies below it does not matter.
        std::vector<std::u16string> values;
        if (ListValueNames(store, key.Handle(), values) == 0 && ReportsEmptyKey(pass))
            Report(pass, kNoValues, keyText, u"", {name});
        return;
    }
    // A default value too long for the buffer, or not text, is not judged.
    if (read != ErrorSuccess)
        return;
    if (!program.empty()) {
        if (IsMissing(environment_.references.ExtractValuePath(program)))
            Report(pass, kMissingProgram, keyText, program, {name});
        return;
    }
    if (!Subkeys(key).empty())
        return;
    std::vector<std::u16string> values;
    if (ListValueNamesNoBlankFirst(store, key.Handle(), values) == 0) {
        if (ReportsEmptyKey(pass))
            Report(pass, kEmptyKey, keyText, u"", {name, name});
        return;
    }
    CheckPathValue(pass, key, keyText, name);
}

// Without a program named, the Path value gives the folder that holds the program the key is
// named after.
void CAppPaths::CheckPathValue(const Pass& pass, RegKey& key, const std::u16string& keyText,
                               const std::u16string& name) {
    std::u16string folder;
    if (!QueryShortText(key, u"Path", folder))
        return;
    std::u16string program = environment_.references.ExtractValuePath(folder);
    // A blank Path names no folder.
    if (program.empty())
        return;
    // One separator between the folder and the name, also after a folder written with one.
    if (program.back() != u'\\')
        program += u'\\';
    program += name;
    if (IsMissing(environment_.references.ExtractValuePath(program)))
        Report(pass, kMissingProgram, keyText, program, {name});
}

// --- applications ------------------------------------------------------------------------------

int CAppPaths::WalkApplications(const OpenList& list) {
    const Pass& pass = *list.place->pass;
    for (const std::u16string& name : list.names) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        const std::u16string applicationPath = JoinKeyPath(kApplicationsKey, name);
        ShowStatus(applicationPath);
        RegKey application(*environment_.target.store);
        if (application.Open(list.key.Handle(), name, kMaskReadOnly | pass.view) == ErrorSuccess)
            CheckApplication(pass, application, applicationPath, name);
        StepProgress();
    }
    return kScanDone;
}

void CAppPaths::CheckApplication(const Pass& pass, RegKey& application,
                                 const std::u16string& applicationPath,
                                 const std::u16string& name) {
    const std::vector<std::u16string> parts = Subkeys(application);
    if (parts.empty())
        return;
    RegKey shell(*environment_.target.store);
    if (shell.Open(application.Handle(), u"shell", kMaskReadOnly | pass.view) != ErrorSuccess)
        return;
    const std::vector<std::u16string> verbs = Subkeys(shell);
    for (const std::u16string& verb : verbs) {
        RegKey command(*environment_.target.store);
        if (command.Open(shell.Handle(), JoinKeyPath(verb, u"command"),
                         kMaskReadOnly | pass.view) != ErrorSuccess) {
            continue;
        }
        std::u16string text;
        if (!QueryShortText(command, u"", text) || text.empty() ||
            !IsMissing(environment_.references.ExtractValuePath(text))) {
            continue;
        }
        // The problem names the smallest key that holds nothing but the broken command: the
        // verb when the application has more, the whole application (ending in a backslash)
        // when it has nothing else, the command when its verb holds more.
        const std::u16string verbPath = JoinKeyPath(JoinKeyPath(applicationPath, u"shell"), verb);
        std::u16string key = u"HKEY_LOCAL_MACHINE\\";
        if (parts.size() > 1 || verbs.size() > 1) {
            key += verbPath;
        } else {
            RegKey verbKey(*environment_.target.store);
            const bool verbHoldsMore =
                verbKey.Open(shell.Handle(), verb, kMaskReadOnly | pass.view) == ErrorSuccess &&
                Subkeys(verbKey).size() > 1;
            key += verbHoldsMore ? JoinKeyPath(verbPath, u"command") : applicationPath + u"\\";
        }
        Report(pass, kMissingProgram, key, text, {name});
    }
}

// --- helpers -------------------------------------------------------------------------------

bool CAppPaths::ReportsEmptyKey(const Pass& pass) const {
    return pass.alwaysReportsEmptyKeys || environment_.settings.SetChkSkipEmptyKeys == 0;
}

bool CAppPaths::IsMissing(std::u16string_view path) {
    // Neither the built-in file rules nor the safety list apply, and network paths count as
    // present: a share that cannot be reached now may be later.
    return !environment_.references.FileReferenceIsValid(SystemDirectory(), path,
                                                         FileReferenceOptions{});
}

std::vector<std::u16string> CAppPaths::Subkeys(const RegKey& key) const {
    std::vector<std::u16string> names;
    ListSubkeyNames(environment_.target, key.Handle(), names);
    return names;
}

void CAppPaths::Report(const Pass& pass, std::int32_t entryType, const std::u16string& key,
                       std::u16string_view valueData,
                       std::initializer_list<std::u16string_view> lines) {
    if (pass.is32BitEntry && Has64BitTwin(entryType, key, u"", valueData))
        return;
    AddProblemWithDetails(pass.is32BitEntry, entryType, key, u"", valueData, lines);
}

}  // namespace quillary
