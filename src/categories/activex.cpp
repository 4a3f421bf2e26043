#include "categories/activex.h"

#include <algorithm>
#include <array>
#include <optional>

#include "categories/value_reading.h"
#include "core/text_case.h"

namespace quillary {
namespace {

constexpr std::u16string_view kClassesRoot = u"HKEY_CLASSES_ROOT\\";

constexpr std::array<std::u16string_view, 1> kWin32Only = {u"win32"};
constexpr std::array<std::u16string_view, 2> kWin32AndWin64 = {u"win32", u"win64"};

// The walk of a 32-bit system, which has a single view.
constexpr CActiveX::Pass kNativePass{
    .view = 0,
    .is32BitEntry = false,
    .is64BitView = false,
    .looksInBothViews = false,
    .viewPrefix = u"",
    .alwaysReportsEmptyServer = false,
    .alwaysReportsEmptyProgId = false,
    .alwaysReportsEmptyBitmap = true,
    .reportsHollowInprocServer = true,
    .testsInprocServerDirectly = false,
    .localServerNameView = 0,
    .testsIconFile = true,
    .typeLibraryPlatforms = kWin32Only,
    .skipsSharedDuplicates = false,
};

// On a 64-bit system a local server is registered for both views at once, so its class
// name is read from the other view.
constexpr CActiveX::Pass k64BitPass{
    .view = KeyWow64_64Key,
    .is32BitEntry = false,
    .is64BitView = true,
    .looksInBothViews = true,
    .viewPrefix = u"",
    .alwaysReportsEmptyServer = true,
    .alwaysReportsEmptyProgId = true,
    .alwaysReportsEmptyBitmap = false,
    .reportsHollowInprocServer = false,
    .testsInprocServerDirectly = true,
    .localServerNameView = KeyWow64_32Key,
    .testsIconFile = false,
    .typeLibraryPlatforms = kWin32AndWin64,
    .skipsSharedDuplicates = false,
};

constexpr CActiveX::Pass k32BitPass{
    .view = KeyWow64_32Key,
    .is32BitEntry = true,
    .is64BitView = false,
    .looksInBothViews = true,
    .viewPrefix = u"Wow6432Node\\",
    .alwaysReportsEmptyServer = false,
    .alwaysReportsEmptyProgId = false,
    .alwaysReportsEmptyBitmap = true,
    .reportsHollowInprocServer = false,
    .testsInprocServerDirectly = false,
    .localServerNameView = KeyWow64_64Key,
    .testsIconFile = false,
    .typeLibraryPlatforms = kWin32AndWin64,
    .skipsSharedDuplicates = true,
};

// Parts of a type library or an interface that the empty-key search leaves alone: the
// library files and help folder, and the references an interface makes, are judged by
// their own checks. Compared with the lower-cased key path.
constexpr std::array<std::u16string_view, 3> kTypeLibraryEmptyKeyExclusions = {
    u"\\win32", u"\\win64", u"\\helpdir"};
constexpr std::array<std::u16string_view, 4> kInterfaceEmptyKeyExclusions = {
    u"\\proxystubclsid", u"\\proxystubclsid32", u"\\typelib", u"olevieweriviewerclsid"};

struct InterfaceReference {
    std::u16string_view kind;
    std::u16string_view targetTree;
    std::int32_t entryType;
};

constexpr std::array<InterfaceReference, 4> kInterfaceReferences = {{
    {u"ProxyStubClsid", u"CLSID", 11},
    {u"ProxyStubClsid32", u"CLSID", 11},
    {u"TypeLib", u"TypeLib", 12},
    {u"OLEViewerIViewerCLSID", u"CLSID", 11},
}};

constexpr std::int32_t kMissingLibraryFile = 7;
constexpr std::int32_t kEmptyHelpFolder = 8;
constexpr std::int32_t kEmptyLibraryFile = 9;
constexpr std::int32_t kMissingHelpFolder = 10;
constexpr std::int32_t kMissingApplicationId = 6;

// PathFindOnPathW works in a buffer of this many characters.
constexpr std::size_t kMaxPath = 260;

}  // namespace

int CActiveX::Scan() {
    librariesSearchedFor64Bit_.clear();
    referenceTrees_.clear();
    const int result = ScanInViewPasses([this](ViewPass pass) {
        return RunPass(pass == ViewPass::View64   ? k64BitPass
                       : pass == ViewPass::View32 ? k32BitPass
                                                  : kNativePass);
    });
    referenceTrees_.clear();
    treeNames_.clear();
    return result;
}

int CActiveX::CountItems() {
    // The walk that follows a count lists the same trees.
    treeNames_.clear();
    if (!environment_.target.is64Bit)
        return CountItemsIn(0);
    return CountItemsIn(KeyWow64_64Key) + CountItemsIn(KeyWow64_32Key);
}

int CActiveX::CountItemsIn(RegSam view) {
    IRegistry& store = *environment_.target.store;
    const std::vector<std::u16string>& applicationIds =
        TreeNames(CClassesKey(store, view, u"AppID"));
    auto namedApplicationIds =
        std::count_if(applicationIds.begin(), applicationIds.end(),
                      [](const std::u16string& name) { return !name.starts_with(u'{'); });
    return static_cast<int>(TreeNames(CClassesKey(store, view, u"CLSID")).size() +
                            static_cast<std::size_t>(namedApplicationIds) +
                            TreeNames(CClassesKey(store, view, u"TypeLib")).size() +
                            TreeNames(CClassesKey(store, view, u"Interface")).size());
}

int CActiveX::RunPass(const Pass& pass) {
    for (auto phase : {&CActiveX::ScanClasses, &CActiveX::ScanApplicationIds,
                       &CActiveX::ScanTypeLibraries, &CActiveX::ScanInterfaces}) {
        if ((this->*phase)(pass) == kScanStopped)
            return kScanStopped;
    }
    return kScanDone;
}

// --- application identifiers -----------------------------------------------------------------

int CActiveX::ScanApplicationIds(const Pass& pass) {
    CClassesKey applicationIds(*environment_.target.store, pass.view, u"AppID");
    for (const std::u16string& name : TreeNames(applicationIds)) {
        PumpMessages();
        if (IsStopRequested())
            return kScanStopped;
        // Braced names are the identifiers themselves; the named ones (mostly program
        // names) are the entries that refer to an identifier.
        if (name.starts_with(u'{'))
            continue;
        ShowStatus(std::u16string(pass.viewPrefix) + u"AppID: " + name);
        RegKey key(*environment_.target.store);
        std::u16string named;
        if (applicationIds.OpenSubkey(key, name) == ErrorSuccess &&
            QueryShortText(key, u"AppID", named) && !named.empty() &&
            !ReferencedKeyExists(pass, u"AppID", named)) {
            ReportInSharedTree(pass, kMissingApplicationId, JoinKeyPath(u"AppID", name), u"AppID",
                               named, {name}, KeyForm::ViewPrefixed);
        }
        StepProgress();
    }
    return kScanDone;
}

// --- type libraries ----------------------------------------------------------------------------

int CActiveX::ScanTypeLibraries(const Pass& pass) {
    CClassesKey libraries(*environment_.target.store, pass.view, u"TypeLib");
    for (const std::u16string& library : TreeNames(libraries)) {
        PumpMessages();
        ShowStatus(std::u16string(pass.viewPrefix) + u"TypeLib: " + library);
        CClassesKey libraryKey(libraries, library);
        // Both views show one TypeLib tree: the 32-bit pass leaves out the libraries whose
        // empty keys the 64-bit pass looked for. The key path goes without a trailing
        // backslash, since the search joins subkey names with one of its own.
        const std::u16string lowerName = ToLower(library);
        if (!pass.skipsSharedDuplicates || !librariesSearchedFor64Bit_.contains(lowerName)) {
            const CClassesKey::Place place = libraries.PlaceOf(library);
            SearchEmptyKeysBelow(place.parent, place.name, HKeyClassesRoot, libraryKey.Path(),
                                 pass.is64BitView, kTypeLibraryEmptyKeyExclusions, true);
            if (pass.is64BitView)
                librariesSearchedFor64Bit_.insert(lowerName);
        }

        for (const std::u16string& version : ListSubkeys(libraryKey)) {
            CClassesKey versionKey(libraryKey, version);
            versionKey.KnowSubkeys();
            if (ScanTypeLibraryVersion(pass, versionKey, version) == kScanStopped)
                return kScanStopped;
            CheckHelpFolder(pass, versionKey, library, version);
        }
    }
    StepProgress();
    return kScanDone;
}

int CActiveX::ScanTypeLibraryVersion(const Pass& pass, CClassesKey& versionKey,
                                     const std::u16string& version) {
    const std::vector<std::u16string> locales = ListSubkeys(versionKey);
    for (std::u16string_view platform : pass.typeLibraryPlatforms) {
        for (const std::u16string& locale : locales) {
            PumpMessages();
            if (IsStopRequested())
                return kScanStopped;
            const std::u16string localePlatform = JoinKeyPath(locale, platform);
            RegKey key(*environment_.target.store);
            if (versionKey.OpenSubkey(key, localePlatform) != ErrorSuccess)
                continue;
            const std::u16string file = ReadKeyText(key, u"");
            const std::u16string description = versionKey.ReadText();
            const std::u16string platformPath = JoinKeyPath(versionKey.Path(), localePlatform);
            const std::u16string where = JoinKeyPath(version, localePlatform);
            if (file.empty()) {
                ReportInSharedTree(pass, kEmptyLibraryFile, platformPath, u"", file,
                                   {description, where});
                continue;
            }
            const std::u16string path = environment_.references.ExtractValuePath(file);
            if (path.size() < kMaxPath && environment_.files.PathFindOnPathW(path, {}))
                continue;
            if (FileIsMissing(path, StandardFileOptions()))
                ReportInSharedTree(pass, kMissingLibraryFile, platformPath, u"", file,
                                   {description, where});
        }
    }
    return kScanDone;
}

void CActiveX::CheckHelpFolder(const Pass& pass, CClassesKey& versionKey,
                               const std::u16string& library, const std::u16string& version) {
    const std::u16string helpPath = JoinKeyPath(versionKey.Path(), u"HELPDIR");
    RegKey key(*environment_.target.store);
    if (versionKey.OpenSubkey(key, u"HELPDIR") != ErrorSuccess)
        return;
    const std::u16string where = version + u"\\HELPDIR";
    std::vector<std::u16string> values;
    ListValueNames(*environment_.target.store, key.Handle(), values);
    if (values.empty()) {
        // A HELPDIR key that still has subkeys is not empty, whatever it lacks.
        std::vector<std::u16string> subkeys;
        if (!ListSubkeyNames(environment_.target, key.Handle(), subkeys)) {
            ReportInSharedTree(pass, kEmptyHelpFolder, helpPath, u"", u"",
                               {versionKey.ReadText(), where});
        }
        return;
    }
    if (values.size() != 1)
        return;
    const std::u16string folder = ReadKeyText(key, u"");
    const std::u16string description = versionKey.ReadText();
    if (folder.empty()) {
        ReportInSharedTree(pass, kEmptyHelpFolder, helpPath, u"", u"", {description, where});
        return;
    }
    const std::u16string path = environment_.references.ExtractValuePath(folder);
    if (environment_.references.IsDirectory(path))
        return;
    if (FileIsMissing(path, StandardFileOptions())) {
        ReportInSharedTree(pass, kMissingHelpFolder, helpPath, u"", folder,
                           {description.empty() ? library : description, where});
    }
}

// --- interfaces ----------------------------------------------------------------------------

int CActiveX::ScanInterfaces(const Pass& pass) {
    CClassesKey interfaces(*environment_.target.store, pass.view, u"Interface");
    for (const std::u16string& name : TreeNames(interfaces)) {
        PumpMessages();
        ShowStatus(std::u16string(pass.viewPrefix) + u"Interface: " + name);
        CClassesKey interfaceKey(interfaces, name);
        interfaceKey.KnowSubkeys();
        const CClassesKey::Place place = interfaces.PlaceOf(name);
        SearchEmptyKeysBelow(place.parent, place.name, HKeyClassesRoot, interfaceKey.Path(),
                             pass.is64BitView, kInterfaceEmptyKeyExclusions, true);
        for (const InterfaceReference& reference : kInterfaceReferences) {
            if (IsStopRequested())
                return kScanStopped;
            RegKey key(*environment_.target.store);
            std::u16string target;
            if (interfaceKey.OpenSubkey(key, reference.kind) != ErrorSuccess ||
                !QueryShortText(key, u"", target) || target.empty()) {
                continue;
            }
            if (!ReferencedKeyExists(pass, reference.targetTree, target)) {
                Report(pass, reference.entryType, JoinKeyPath(interfaceKey.Path(), reference.kind),
                       u"", target, {interfaceKey.ReadText()});
            }
        }
        StepProgress();
    }
    return kScanDone;
}

// --- helpers -------------------------------------------------------------------------------

std::vector<std::u16string> CActiveX::ListSubkeys(const CClassesKey& key) {
    std::vector<std::u16string> names;
    if (key.IsOpen())
        ListSubkeyNames(environment_.target, key.Handle(), names);
    return names;
}

const std::vector<std::u16string>& CActiveX::TreeNames(const CClassesKey& tree) {
    for (const TreeList& list : treeNames_) {
        if (list.view == tree.View() && list.path == tree.Path())
            return list.names;
    }
    treeNames_.push_back({tree.View(), tree.Path(), ListSubkeys(tree)});
    return treeNames_.back().names;
}

bool CActiveX::ReferencedKeyExists(const Pass& pass, std::u16string_view tree,
                                   std::u16string_view name) {
    const auto opensIn = [&](RegSam view) {
        RegKey key(*environment_.target.store);
        LStatus status = ReferenceTree(view, tree).OpenSubkey(key, name);
        // A key we may not open is somebody's key all the same.
        return status == ErrorSuccess || status == ErrorAccessDenied;
    };
    if (!pass.looksInBothViews)
        return opensIn(pass.view);
    return opensIn(KeyWow64_64Key) || opensIn(KeyWow64_32Key);
}

CClassesKey& CActiveX::ReferenceTree(RegSam view, std::u16string_view tree) {
    for (const std::unique_ptr<CClassesKey>& key : referenceTrees_) {
        if (key->View() == view && key->Path() == tree)
            return *key;
    }
    referenceTrees_.push_back(
        std::make_unique<CClassesKey>(*environment_.target.store, view, std::u16string(tree)));
    return *referenceTrees_.back();
}

bool CActiveX::HoldsNothing(RegKey& key) {
    std::vector<std::u16string> subkeys;
    if (ListSubkeyNames(environment_.target, key.Handle(), subkeys))
        return false;
    std::vector<std::u16string> values;
    ListValueNames(*environment_.target.store, key.Handle(), values);
    // A single value counts only when it is the default one: the callers ask after reading
    // an empty default value, and a key that keeps a named value (a threading model, say)
    // still holds something a program may read.
    return values.empty() || (values.size() == 1 && values.front().empty());
}

bool CActiveX::FileIsMissing(std::u16string_view text, const FileReferenceOptions& options) {
    return !environment_.references.FileReferenceIsValid(SystemDirectory(), text, options);
}

FileReferenceOptions CActiveX::StandardFileOptions() {
    FileReferenceOptions options;
    options.builtinFileExclusions = true;
    options.safetyList = true;
    return options;
}

void CActiveX::PumpMessages() {
    if (environment_.target.pumpMessages)
        environment_.target.pumpMessages();
}

void CActiveX::Report(const Pass& pass, std::int32_t entryType, std::u16string_view keyPath,
                      std::u16string_view valueName, std::u16string_view valueData,
                      std::initializer_list<std::u16string_view> detailLines, KeyForm form) {
    std::u16string key(kClassesRoot);
    if (form == KeyForm::ViewPrefixed)
        key += pass.viewPrefix;
    key += keyPath;
    AddProblemWithDetails(pass.is32BitEntry, entryType, key, valueName, valueData, detailLines);
}

void CActiveX::ReportInSharedTree(const Pass& pass, std::int32_t entryType,
                                  std::u16string_view keyPath, std::u16string_view valueName,
                                  std::u16string_view valueData,
                                  std::initializer_list<std::u16string_view> detailLines,
                                  KeyForm form) {
    if (pass.skipsSharedDuplicates &&
        Has64BitTwin(entryType, std::u16string(kClassesRoot) + std::u16string(keyPath), valueName,
                     valueData)) {
        return;
    }
    Report(pass, entryType, keyPath, valueName, valueData, detailLines, form);
}

}  // namespace quillary
