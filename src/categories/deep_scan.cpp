#include "categories/deep_scan.h"

#include <algorithm>
#include <array>
#include <vector>

#include "categories/pump_messages.h"
#include "core/fragment_matcher.h"
#include "core/text_case.h"

namespace quillary {
namespace {

constexpr std::int32_t kMachineEntryType = 42;
constexpr std::int32_t kUserEntryType = 43;

// Buffers of the walk: a subkey name in characters, a value name in characters and a value's
// data in bytes, terminators included. Larger data is not examined.
constexpr std::uint32_t kSubkeyNameLength = 519;
constexpr std::uint32_t kValueNameLength = 2046;
constexpr std::uint32_t kValueDataSize = 4096;
constexpr std::uint32_t kLargestExaminedData = 2045;
// A text of fewer bytes holds at most one character.
constexpr std::uint32_t kSmallestExaminedData = 3;

// Parts of key paths the walk never enters: areas whose values name files in ways the file
// test cannot judge (caches, per-user assist data, shell folders, type libraries) and keys
// of the other view.
constexpr auto kExcludedKeyFragments = std::to_array<std::u16string_view>({
    u"\\wow6432node",
    u"software\\microsoft\\ctf\\",
    u"\\nativeimagesindex",
    u"keyboard layout\\toggle",
    u"microsoft\\windows\\currentversion\\explorer\\userassist",
    u"{645ff040-5081-101b-9f08-00aa002f954e}",
    u"{20d04fe0-3aea-1069-a2d8-08002b30309d}",
    u"{d20ea4e1-3957-11d2-a40b-0c5020524153}",
    u"{85bbd920-42a0-1069-a2e4-08002b30309d}",
    u"{21ec2020-3aea-1069-a2dd-08002b30309d}",
    u"{d20ea4e1-3957-11d2-a40b-0c5020524152}",
    u"{ff393560-c2a7-11cf-bff4-444553540000}",
    u"{00020d75-0000-0000-c000-000000000046}",
    u"{00028b00-0000-0000-c000-000000000046}",
    u"{450d8fba-ad25-11d0-98a8-0800361b1103}",
    u"{208d2c60-3aea-1069-a2d7-08002b30309d}",
    u"{1f4de370-d627-11d1-ba4f-00a0c91eedba}",
    u"{7007acc7-3202-11d1-aad2-00805fc1270e}",
    u"{2227a280-3aea-1069-a2de-08002b30309d}",
    u"{7be9d83c-a729-4d97-b5a7-1b7313c39e0a}",
    u"{e211b736-43fd-11d1-9efb-0000f8757fcd}",
    u"{d6277990-4c6a-11cf-8d87-00aa0060f5bf}",
    u"{48e7caab-b918-4e58-a94d-505519c795dc}",
    u"{7bd29e00-76c1-11cf-9dd0-00a0c9034933}",
    u"{bdeadf00-c265-11d0-bced-00a0c90ab50f}",
    u"{715F10EB-9E99-11D2-BFC2-00C04F990235}",
    u"software\\classes\\applications",
    u"software\\microsoft\\windows\\currentversion\\app paths",
    u"shellnoroam",
    u"common language runtime",
    u"software\\classes\\local",
    u"software\\classes\\typelib",
    u"software\\classes\\interface",
    u"windows\\shell\\bags",
    u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    u"{11dbb47c-a525-400b-9e80-a54615a090c0}",
    u"{99969a8f-27e6-4adf-ab9f-b5b5e90d4733}",
    u"opensearchfilefolderresult",
    u"opennewprocess",
    u"opennewwindow",
    u"WMP11.AssocFile.m3u\\shell\\Enqueue\\command",
    u"{45597c98-80f6-4549-84ff-752cf55e2d29}",
    u"DelegateExecute",
    u"Folder\\shell\\opennewwindow\\command",
    u"Folder\\shell\\explore\\command",
});

// Areas of the system's own components, left alone while safety comes first.
constexpr auto kSafetyKeyFragments = std::to_array<std::u16string_view>({
    u"\\windows\\currentversion\\sidebyside\\",
    u"\\windows\\currentversion\\component based servicing\\",
    u"currentversion\\installer\\userdata\\s-1-5-18",
});

// A bare name with one of these in its last four characters names a program file.
constexpr auto kProgramExtensions =
    std::to_array<std::u16string_view>({u".dll", u".ocx", u".exe", u".ax"});

// The fragments lower-cased, since they are matched in a lower-cased path.
template <std::size_t N>
CFragmentMatcher LowerCaseMatcher(const std::array<std::u16string_view, N>& fragments) {
    std::vector<std::u16string> lowered;
    lowered.reserve(N);
    for (std::u16string_view fragment : fragments)
        lowered.push_back(ToLower(fragment));
    return CFragmentMatcher(lowered);
}

const CFragmentMatcher& ExcludedKeyMatcher() {
    static const CFragmentMatcher matcher = LowerCaseMatcher(kExcludedKeyFragments);
    return matcher;
}

const CFragmentMatcher& SafetyKeyMatcher() {
    static const CFragmentMatcher matcher = LowerCaseMatcher(kSafetyKeyFragments);
    return matcher;
}

// Appends a path part, with the separator when the path already has one.
void AppendPathPart(std::u16string& path, std::u16string_view part) {
    if (!path.empty())
        path += u'\\';
    path += part;
}

// Sets lower to text lower-cased, reusing its storage.
void AssignLowerCase(std::u16string& lower, std::u16string_view text) {
    lower.resize(text.size());
    std::transform(text.begin(), text.end(), lower.begin(), ToLowerChar);
}

}  // namespace

struct CDeepScan::WalkState {
    RegSam view = 0;  // the view bit of every open; none on a 32-bit system
    bool is32BitEntry = false;
    std::u16string path;
    // A child's separator and name lower-cased, and the status line: rebuilt for each child.
    std::u16string lowerPart;
    std::u16string status;
    // The value enumeration's buffers, shared by every key of the walk.
    std::vector<char16_t> valueName = std::vector<char16_t>(kValueNameLength);
    std::vector<char16_t> valueData = std::vector<char16_t>(kValueDataSize / sizeof(char16_t));
};

struct CDeepScan::PathMatch {
    CFragmentMatcher::State excluded;
    CFragmentMatcher::State safety;
};

CDeepScan::CDeepScan(ScanEnvironment& environment, HKey root, std::u16string_view basePath,
                     std::int32_t entryType, bool walksBothViews)
    : CCategory(environment),
      root_(root),
      basePath_(basePath),
      rootName_(RootKeyName(root)),
      entryType_(entryType),
      walksBothViews_(walksBothViews) {}

CDeepScanLM::CDeepScanLM(ScanEnvironment& environment)
    : CDeepScan(environment, HKeyLocalMachine, u"SOFTWARE", kMachineEntryType, true) {}

CDeepScanCU::CDeepScanCU(ScanEnvironment& environment)
    : CDeepScan(environment, HKeyCurrentUser, u"", kUserEntryType, false) {}

bool CDeepScan::IsFileText(std::u16string_view text) const {
    if (text.size() > 4) {
        // An address names a file only through the res: and file: schemes.
        const std::size_t scheme = text.find(u"://");
        if (scheme >= 3 && scheme <= 6) {
            const std::u16string_view name = text.substr(0, scheme);
            return EqualsNoCase(name, u"res") || EqualsNoCase(name, u"file");
        }
        // A drive-like part after a leading number ("1:\", "12,C:\") is a count or an index
        // followed by data, not a path.
        const std::size_t drive = text.find(u":\\");
        const auto isDigit = [](char16_t ch) { return ch >= u'0' && ch <= u'9'; };
        if (drive != std::u16string_view::npos && drive > 1 &&
            (isDigit(text[0]) || isDigit(text[1])))
            return false;
    }
    if (text.find_first_of(u"\\:") != std::u16string_view::npos)
        return true;
    if (environment_.settings.PreferSafetyOverCount)
        return false;
    // The last four characters of the trimmed text, lower-cased without an allocation.
    const std::u16string_view name = TrimView(text);
    std::array<char16_t, 4> lowerTail{};
    const std::size_t tailLength = std::min<std::size_t>(name.size(), lowerTail.size());
    std::transform(name.end() - static_cast<std::ptrdiff_t>(tailLength), name.end(),
                   lowerTail.begin(), ToLowerChar);
    const std::u16string_view tail(lowerTail.data(), tailLength);
    return std::any_of(kProgramExtensions.begin(), kProgramExtensions.end(),
                       [&](std::u16string_view extension) {
                           return tail.find(extension) != std::u16string_view::npos;
                       });
}

int CDeepScan::Scan() {
    progressCount_ = 0;
    stopLatch_ = false;
    basePath_ = ToLower(basePath_);
    ShowStatus(u"Initializing...");

    // The total counts both views of a 64-bit system, for the user's scan too.
    std::uint32_t total = 0;
    if (environment_.target.is64Bit) {
        total = CountSubkeysDeep(root_, basePath_, kMaskReadOnly | KeyWow64_64Key, true) +
                CountSubkeysDeep(root_, basePath_, kMaskReadOnly | KeyWow64_32Key, true);
    } else {
        total = CountSubkeysDeep(root_, basePath_, kMaskReadOnly, true);
    }
    stopLatch_ = true;
    progressTotal_ = static_cast<std::int32_t>(std::min<std::uint32_t>(total, INT32_MAX));
    if (IsStopRequested())
        return kScanStopped;

    stopLatch_ = false;
    int result = kScanDone;
    if (!environment_.target.is64Bit) {
        result = WalkView(0);
    } else {
        result = WalkView(KeyWow64_64Key);
        // The user's keys are not redirected: the 32-bit view would show the same keys again.
        if (walksBothViews_ && !IsStopRequested())
            result = WalkView(KeyWow64_32Key);
    }
    stopLatch_ = true;
    FinishProgress();
    SortProblems();
    return IsStopRequested() ? kScanStopped : result;
}

int CDeepScan::WalkView(RegSam view) {
    WalkState state;
    state.view = view;
    state.is32BitEntry = view == KeyWow64_32Key;
    state.path = basePath_;
    const PathMatch start{ExcludedKeyMatcher().Start(), SafetyKeyMatcher().Start()};
    return WalkKey(state, root_, basePath_, ExtendMatch(start, basePath_), 0);
}

int CDeepScan::WalkKey(WalkState& state, HKey parent, std::u16string_view name,
                       const PathMatch& match, int depth) {
    if (ShouldStop())
        return kScanStopped;
    RegKey key(*environment_.target.store);
    // Deeper than a registry nests keys: a link leads back up in a hostile registry.
    if (depth > static_cast<int>(kMaxRegistryKeyDepth) ||
        key.Open(parent, name, kMaskReadOnly | state.view) != ErrorSuccess) {
        return kScanDone;
    }
    PumpMessages(environment_.target);
    IRegistry& store = key.Store();

    // Children first, each opened through this key's handle. The status line shows every
    // second one.
    const std::size_t pathLength = state.path.size();
    bool showChild = false;
    std::array<char16_t, kSubkeyNameLength> childName;
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t length = kSubkeyNameLength;
        if (store.RegEnumKeyExW(key.Handle(), index, childName.data(), &length, nullptr) !=
            ErrorSuccess) {
            break;
        }
        if (ShouldStop())
            return kScanStopped;
        const std::u16string_view child(childName.data(), length);
        // The fragments are matched in the lower-cased path: this key's path was matched
        // already, so only the separator and the child's name are fed to the matchers.
        AssignLowerCase(state.lowerPart, child);
        if (pathLength != 0)
            state.lowerPart.insert(state.lowerPart.begin(), u'\\');
        const PathMatch childMatch = ExtendMatch(match, state.lowerPart);
        AppendPathPart(state.path, child);
        showChild = !showChild;
        if (showChild) {
            state.status.assign(rootName_);
            state.status += u'\\';
            state.status += state.path;
            ShowStatus(state.status);
        }
        if (!IsExcludedPath(childMatch)) {
            StepProgress();
            // A nameless child would open this key again.
            if (!child.empty())
                WalkKey(state, key.Handle(), child, childMatch, depth + 1);
        }
        state.path.resize(pathLength);
    }

    if (TestValues(state, key) == kScanStopped)
        return kScanStopped;
    SearchEmptyKeysBelow(key.Handle(), u"", root_, state.path, state.view != KeyWow64_32Key, {},
                         false);
    return kScanDone;
}

int CDeepScan::TestValues(WalkState& state, RegKey& key) {
    FileReferenceOptions options;
    options.builtinFileExclusions = true;
    options.safetyList = true;
    options.forwardedC3 = true;
    const std::uint32_t count = CountValues(key.Store(), key.Handle());
    for (std::uint32_t index = 0; index < count; ++index) {
        std::uint32_t nameLength = kValueNameLength;
        std::uint32_t dataSize = kValueDataSize;
        RegType type = RegNone;
        const LStatus status = key.Store().RegEnumValueW(
            key.Handle(), index, state.valueName.data(), &nameLength, &type,
            reinterpret_cast<std::uint8_t*>(state.valueData.data()), &dataSize);
        if (status == ErrorNoMoreItems)
            break;
        // A name or data too long for the buffers, or any failure, passes the value over.
        if (status != ErrorSuccess || dataSize > kLargestExaminedData ||
            (type != RegSz && type != RegExpandSz)) {
            continue;
        }
        if (ShouldStop())
            return kScanStopped;
        if (dataSize < kSmallestExaminedData)
            continue;
        std::u16string_view text(state.valueData.data(), dataSize / sizeof(char16_t));
        text = text.substr(0, text.find(u'\0'));
        if (IsFileText(text) &&
            !environment_.references.FileReferenceIsValid(SystemDirectory(), text, options)) {
            ReportMissingFile(state, std::u16string_view(state.valueName.data(), nameLength), text);
        }
    }
    return kScanDone;
}

CDeepScan::PathMatch CDeepScan::ExtendMatch(const PathMatch& match, std::u16string_view lowerText) {
    return {ExcludedKeyMatcher().Continue(match.excluded, lowerText),
            SafetyKeyMatcher().Continue(match.safety, lowerText)};
}

bool CDeepScan::IsExcludedPath(const PathMatch& match) const {
    return match.excluded.found ||
           (environment_.settings.PreferSafetyOverCount && match.safety.found);
}

void CDeepScan::ReportMissingFile(const WalkState& state, std::u16string_view valueName,
                                  std::u16string_view text) {
    const std::u16string keyText = rootName_ + u"\\" + state.path;
    // A key both views reach (a link of the 32-bit view to a shared key) was reported by the
    // 64-bit walk already.
    if (state.is32BitEntry && Has64BitTwin(entryType_, keyText, valueName, text))
        return;
    const std::u16string missing =
        environment_.text ? environment_.text(u"IDS_ENG_MISSING_FILE") : std::u16string();
    AddProblemWithDetails(state.is32BitEntry, entryType_, keyText, valueName, text,
                          {missing + std::u16string(text)});
}

bool CDeepScan::ShouldStop() {
    if (stopLatch_ || IsStopRequested()) {
        stopLatch_ = true;
        return true;
    }
    return false;
}

int CDeepScan::CountItems() {
    std::vector<RegSam> views = {0};
    if (environment_.target.is64Bit) {
        views = {KeyWow64_64Key};
        if (walksBothViews_)
            views.push_back(KeyWow64_32Key);
    }
    std::uint32_t count = 0;
    for (RegSam view : views) {
        if (!CountTwoLevels(view, count))
            return kScanStopped;
    }
    return static_cast<int>(std::min<std::uint32_t>(count, INT32_MAX));
}

bool CDeepScan::CountTwoLevels(RegSam view, std::uint32_t& count) {
    RegKey start(*environment_.target.store);
    if (start.Open(root_, basePath_, kMaskReadOnly | view) != ErrorSuccess)
        return true;
    std::vector<std::u16string> children;
    ListSubkeyNames(environment_.target, start.Handle(), children);
    count += static_cast<std::uint32_t>(children.size());
    for (const std::u16string& child : children) {
        if (IsStopRequested())
            return false;
        RegKey key(*environment_.target.store);
        RegKeyInfo info;
        if (key.Open(start.Handle(), child, kMaskReadOnly | view) == ErrorSuccess &&
            key.Store().RegQueryInfoKeyW(key.Handle(), &info) == ErrorSuccess) {
            count += info.subKeys;
        }
    }
    return true;
}

}  // namespace quillary
