#include "engine/category.h"

#include <algorithm>
#include <array>

#include "core/text_case.h"
#include "core/text_format.h"

namespace quillary {
namespace {

// An identifier in its bare form: 8-4-4-4-12 hexadecimal digits, no braces.
bool IsBareIdentifier(std::u16string_view name) {
    if (name.size() != 36)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t ch = name[i];
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex =
            (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
        if (hyphenPlace ? ch != u'-' : !hex)
            return false;
    }
    return true;
}

// Keys the empty-key search never reports, matched in the upper-cased full path.
constexpr std::array<std::u16string_view, 30> kProtectedEmptyKeyFragments = {
    u"WOW6432NODE",
    u"MICROSOFT\\SECURITY CENTER",
    u"MICROSOFT\\SPEECH\\RECOGNIZERS",
    u"MICROSOFT\\SYSTEMCERTIFICATES",
    u"MICROSOFT\\VISUALSTUDIO",
    u"MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\NETWORK",
    u"MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\SECEDIT",
    u"POLICIES\\MICROSOFT",
    u"MICROSOFT\\WINDOWS\\CURRENTVERSION",
    u"\\DATAPROVIDERS\\",
    u"\\OPENWITHLIST",
    u"MICROSOFT\\ASP.NET",
    u"\\PRINTERS\\SHELL",
    u"\\SHELLEX\\",
    u"MICROSOFT\\ODBC",
    u"MICROSOFT\\ENTERPRISECERTIFICATES",
    u"MICROSOFT\\WBEM",
    u"MICROSOFT\\KEYRING",
    u"SOFTWARE\\CLASSES\\.",
    u"SOFTWARE\\CLASSES\\CLSID\\",
    u"SOFTWARE\\CLASSES\\TYPELIB\\",
    u"SOFTWARE\\CLASSES\\INTERFACE\\",
    u"SOFTWARE\\MICROSOFT\\SAPI LAYER",
    u"SOFTWARE\\MICROSOFT",
    u"MICROSOFT\\CRYPTOGRAPHY",
    u"WINDOWS 3.1 MIGRATION STATUS",
    u"\\VIRTUALSTORE\\",
    u"\\IMPLEMENTED CATEGORIES",
    u"INTERNET EXPLORER",
    u"SOFTWARE\\MICROSOFT\\WINDOWS NT",
};
constexpr std::u16string_view kSafetyEmptyKeyFragment = u"SOFTWARE\\MICROSOFT\\VISUAL BASIC\\6.0";

// Windows nests keys at most 512 deep; a deeper walk is a link cycle in a hostile registry.
constexpr int kMaxKeyDepth = 512;

constexpr std::size_t kStatusBreak = 90;

constexpr std::int32_t kShortcutEntryType = 34;
constexpr std::int32_t kStartMenuShortcutEntryType = 40;
constexpr std::int32_t kEmptyKeyEntryType = 1;

void QuickSortByLabel(std::vector<std::unique_ptr<CProblem>>& problems, std::ptrdiff_t low,
                      std::ptrdiff_t high) {
    while (low < high) {
        std::u16string pivot(problems[static_cast<std::size_t>((low + high) / 2)]->DetailLine(0));
        std::ptrdiff_t i = low;
        std::ptrdiff_t j = high;
        while (i <= j) {
            while (CompareNoCase(problems[static_cast<std::size_t>(i)]->DetailLine(0), pivot) < 0)
                ++i;
            while (CompareNoCase(problems[static_cast<std::size_t>(j)]->DetailLine(0), pivot) > 0)
                --j;
            if (i <= j) {
                std::swap(problems[static_cast<std::size_t>(i)],
                          problems[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        }
        // Recurse into the smaller part and loop on the larger, so the stack stays shallow.
        if (j - low < high - i) {
            QuickSortByLabel(problems, low, j);
            low = i;
        } else {
            QuickSortByLabel(problems, i, high);
            high = j;
        }
    }
}

}  // namespace

CCategory::CCategory(ScanEnvironment& environment) : environment_(environment) {
    systemDirectory_ = environment_.files.GetSystemDirectoryW();
    if (!systemDirectory_.empty() && systemDirectory_.back() != u'\\')
        systemDirectory_ += u'\\';
}

void CCategory::Attach(CManualResetEvent* stopEvent, IScanObserver* observer,
                       CRepairContext* repairContext) {
    if (stopEvent)
        stopEvent_ = stopEvent;
    if (observer) {
        observer_ = observer;
        observer_->OnCategoryProgress(0);
    }
    if (repairContext)
        repairContext_ = repairContext;
}

int CCategory::AddProblem(bool is32BitEntry, std::int32_t entryType, std::u16string_view key,
                          std::u16string_view valueName, std::u16string_view valueData,
                          std::u16string_view alternateKey) {
    if (!environment_.rules.PassesBuiltinKeyRules(ToLower(key)))
        return -1;

    auto problem = std::make_unique<CProblem>();
    problem->EntryType = entryType;
    problem->Key = key;
    problem->ValueName = valueName;
    problem->ValueData = valueData;
    problem->AlternateKey = alternateKey;
    problem->is32BitEntry = is32BitEntry;

    if (entryType != kShortcutEntryType && entryType != kStartMenuShortcutEntryType) {
        RegistryPath path = SplitRegistryPath(key);
        std::optional<HKey> root = RootKeyFromName(path.rootName);
        if (!root)
            return -1;
        if (environment_.rules.IsKeyProtectedBySystem(*root, path.subKey, is32BitEntry))
            return -1;
    }
    if (environment_.exclusions.IsExcluded(*problem))
        return -1;

    problem->repairContext = repairContext_;
    if (observer_)
        observer_->OnFoundChanged();
    if (environment_.log) {
        environment_.log(
            Format(u"Invalid Entry Found :\r\n EntryType:%d\r\n Key:%s\r\n "
                   u"ValueName:%s \r\n ValueData:%s \r\n AlternateKey:%s \r\n "
                   u"32BitEntry:%d",
                   problem->EntryType, problem->Key, problem->ValueName, problem->ValueData,
                   problem->AlternateKey, problem->is32BitEntry ? 1 : 0));
    }
    if (!problem->is32BitEntry) {
        recorded64BitProblems_.insert(
            {problem->EntryType, problem->Key, problem->ValueName, problem->ValueData});
    }
    problems_.push_back(std::move(problem));
    return static_cast<int>(problems_.size() - 1);
}

int CCategory::AddProblemWithDetails(bool is32BitEntry, std::int32_t entryType,
                                     std::u16string_view key, std::u16string_view valueName,
                                     std::u16string_view valueData,
                                     std::initializer_list<std::u16string_view> detailLines) {
    const int index = AddProblem(is32BitEntry, entryType, key, valueName, valueData, u"");
    if (index >= 0) {
        for (std::u16string_view line : detailLines)
            AddDetailLine(index, line);
    }
    return index;
}

void CCategory::AddDetailLine(int index, std::u16string_view text) {
    if (index < 0 || static_cast<std::size_t>(index) >= problems_.size())
        return;
    problems_[static_cast<std::size_t>(index)]->detailLines.emplace_back(text);
}

int CCategory::ScanInViewPasses(const std::function<int(ViewPass)>& runPass) {
    const int total = CountItems();
    if (total >= 0)
        progressTotal_ = total;
    progressCount_ = 0;
    int result = kScanDone;
    if (environment_.target.is64Bit) {
        result = runPass(ViewPass::View64);
        if (result != kScanStopped && !IsStopRequested())
            result = runPass(ViewPass::View32);
    } else {
        result = runPass(ViewPass::Native);
    }
    SortProblems();
    if (result == kScanStopped || IsStopRequested())
        return kScanStopped;
    FinishProgress();
    return kScanDone;
}

void CCategory::StepProgress() {
    ++progressCount_;
    // A scanner that expects no steps has no percentage to show. A walk that steps more
    // often than its count foresaw (deep trees counted by their first level) stays at 100.
    if (observer_ && progressTotal_ > 0) {
        observer_->OnCategoryProgress(static_cast<int>(std::min<std::int64_t>(
            static_cast<std::int64_t>(progressCount_) * 100 / progressTotal_, 100)));
    }
}

void CCategory::ResetProgress(std::int32_t total) {
    progressTotal_ = total;
    progressCount_ = 0;
    if (observer_)
        observer_->OnCategoryProgress(0);
}

void CCategory::FinishProgress() {
    if (observer_)
        observer_->OnCategoryProgress(100);
}

void CCategory::ShowStatus(std::u16string_view text) {
    if (!observer_)
        return;
    if (text.size() <= kStatusBreak) {
        observer_->OnStatus(text);
        return;
    }
    std::u16string broken(text);
    broken.insert(kStatusBreak, 1, u' ');
    observer_->OnStatus(broken);
}

bool CCategory::IsStopRequested() const {
    return stopEvent_ && stopEvent_->IsSet();
}

bool CCategory::HasProblem(std::u16string_view key, std::int32_t entryType) const {
    return std::any_of(problems_.begin(), problems_.end(), [&](const auto& problem) {
        return problem->EntryType == entryType && problem->Key == key;
    });
}

std::size_t CCategory::TwinFieldsHash::operator()(const TwinFields& fields) const {
    const std::hash<std::u16string> hashText;
    std::size_t hash = std::hash<std::int32_t>()(fields.entryType);
    for (const std::u16string* text : {&fields.key, &fields.valueName, &fields.valueData})
        hash = hash * 31 + hashText(*text);
    return hash;
}

bool CCategory::Has64BitTwin(std::int32_t entryType, std::u16string_view key,
                             std::u16string_view valueName, std::u16string_view valueData) const {
    return recorded64BitProblems_.contains(
        {entryType, std::u16string(key), std::u16string(valueName), std::u16string(valueData)});
}

std::size_t CCategory::CountSelected() const {
    return static_cast<std::size_t>(std::count_if(
        problems_.begin(), problems_.end(), [](const auto& problem) { return problem->selected; }));
}

void CCategory::SortProblems() {
    if (problems_.size() < 2)
        return;
    QuickSortByLabel(problems_, 0, static_cast<std::ptrdiff_t>(problems_.size()) - 1);
}

std::u16string_view CCategory::LastPathPart(std::u16string_view path) {
    std::size_t backslash = path.rfind(u'\\');
    return backslash == std::u16string_view::npos ? path : path.substr(backslash + 1);
}

std::u16string_view CCategory::ParentPath(std::u16string_view path) {
    std::size_t backslash = path.rfind(u'\\');
    return backslash == std::u16string_view::npos ? std::u16string_view()
                                                  : path.substr(0, backslash);
}

std::uint32_t CCategory::CountSubkeysDeep(HKey root, std::u16string_view subKey, RegSam mask,
                                          bool skipWow6432Node) {
    return CountSubkeysBelow(root, subKey, mask, skipWow6432Node, 0);
}

std::uint32_t CCategory::CountSubkeysBelow(HKey parent, std::u16string_view name, RegSam mask,
                                           bool skipWow6432Node, int depth) {
    RegKey key(*environment_.target.store);
    // Each key is opened through its parent's handle rather than from the root again.
    if (depth > kMaxKeyDepth || key.Open(parent, name, mask) != ErrorSuccess)
        return 0;
    RegKeyInfo info;
    if (key.Store().RegQueryInfoKeyW(key.Handle(), &info) != ErrorSuccess)
        return 0;
    std::uint32_t count = info.subKeys;
    std::vector<char16_t> childName(info.maxSubKeyLength + 1);
    for (std::uint32_t index = 0; index < info.subKeys; ++index) {
        if (IsStopRequested())
            break;
        std::uint32_t length = static_cast<std::uint32_t>(childName.size());
        if (key.Store().RegEnumKeyExW(key.Handle(), index, childName.data(), &length, nullptr) !=
            ErrorSuccess) {
            continue;
        }
        const std::u16string_view child(childName.data(), length);
        if (skipWow6432Node && EqualsNoCase(child, u"wow6432node"))
            continue;
        count += CountSubkeysBelow(key.Handle(), child, mask, skipWow6432Node, depth + 1);
    }
    return count;
}

bool CCategory::IsProtectedEmptyKey(std::u16string_view subKey, std::u16string_view fullPath,
                                    bool in64BitView) const {
    if (EqualsNoCase(subKey, u"SOFTWARE\\CLASSES"))
        return true;
    std::u16string upper = ToUpper(fullPath);
    for (std::u16string_view fragment : kProtectedEmptyKeyFragments) {
        if (upper.find(fragment) != std::u16string::npos)
            return true;
    }
    if (environment_.settings.PreferSafetyOverCount &&
        upper.find(kSafetyEmptyKeyFragment) != std::u16string::npos) {
        return true;
    }
    // Components register themselves in a category by an empty key named after their
    // identifier without braces (media transforms, for one): such a key is always kept.
    if (IsBareIdentifier(LastPathPart(fullPath)))
        return true;
    // An empty key named after a braced identifier is kept unless that identifier is
    // registered as a class, a type library and an interface at once: COM components create
    // such keys as markers and look for them, and removing one is not worth the risk.
    std::size_t open = upper.rfind(u'{');
    std::size_t close = open == std::u16string::npos ? open : upper.find(u'}', open);
    if (close == std::u16string::npos)
        return false;
    std::u16string braced = ToLower(std::u16string_view(fullPath).substr(open, close - open + 1));
    RegSam view =
        !environment_.target.is64Bit ? 0 : (in64BitView ? KeyWow64_64Key : KeyWow64_32Key);
    for (std::u16string_view area : {u"clsid\\", u"typelib\\", u"interface\\"}) {
        RegKey registered(*environment_.target.store);
        if (registered.Open(HKeyClassesRoot, std::u16string(area) + braced, kMaskReadOnly | view) !=
            ErrorSuccess) {
            return true;
        }
    }
    return false;
}

bool CCategory::SearchEmptyKeys(HKey root, std::u16string_view subKey, bool in64BitView,
                                std::span<const std::u16string_view> exclusionFragments,
                                bool recurse) {
    return SearchEmptyKeysBelow(root, subKey, root, subKey, in64BitView, exclusionFragments,
                                recurse);
}

bool CCategory::SearchEmptyKeysBelow(HKey parent, std::u16string_view name, HKey root,
                                     std::u16string_view subKey, bool in64BitView,
                                     std::span<const std::u16string_view> exclusionFragments,
                                     bool recurse) {
    if (environment_.settings.SetChkSkipEmptyKeys)
        return false;
    return SearchEmptyKeysAt(root, parent, name, subKey, in64BitView, exclusionFragments, recurse);
}

bool CCategory::SearchEmptyKeysAt(HKey root, HKey parent, std::u16string_view name,
                                  std::u16string_view subKey, bool in64BitView,
                                  std::span<const std::u16string_view> exclusionFragments,
                                  bool recurse) {
    // Deeper than Windows nests keys: a link leads back up in a hostile registry.
    if (std::count(subKey.begin(), subKey.end(), u'\\') >= kMaxKeyDepth)
        return true;
    std::u16string lowerPath = ToLower(subKey);
    for (std::u16string_view fragment : exclusionFragments) {
        if (lowerPath.find(fragment) != std::u16string::npos)
            return false;
    }
    const RegistryTarget& target = environment_.target;
    RegSam view = 0;
    if (target.is64Bit)
        view = in64BitView ? KeyWow64_64Key : KeyWow64_32Key;

    RegKey key(*target.store);
    if (key.Open(parent, name, kMaskReadOnly | view) != ErrorSuccess)
        return true;
    const std::u16string defaultText = ReadKeyText(key, u"");
    std::vector<std::u16string> subkeys;
    std::vector<std::u16string> values;
    ListSubkeyNames(target, key.Handle(), subkeys);
    ListValueNames(*target.store, key.Handle(), values);

    bool empty = subkeys.empty() &&
                 (values.empty() || (recurse && values.size() == 1 && defaultText.empty()));
    if (!recurse && !empty)
        return false;
    if (empty) {
        std::u16string fullPath =
            std::u16string(RootKeyName(root)) + u"\\" + std::u16string(subKey);
        if (IsProtectedEmptyKey(subKey, fullPath, in64BitView))
            return false;
        // Only a 64-bit system has a 32-bit view for the entry to live in.
        int index = AddProblem(target.is64Bit && !in64BitView, kEmptyKeyEntryType, fullPath, u"",
                               defaultText, u"");
        AddDetailLine(index, environment_.text ? environment_.text(u"IDS_EMPTY_KEY") : u"");
        AddDetailLine(index, fullPath);
        return false;
    }
    // Each child is opened through this key's handle rather than from the root again.
    for (const std::u16string& child : subkeys) {
        if (IsStopRequested())
            return true;
        SearchEmptyKeysAt(root, key.Handle(), child, std::u16string(subKey) + u"\\" + child,
                          in64BitView, exclusionFragments, true);
    }
    return false;
}

}  // namespace quillary
