// The walk of the Windows Installer registrations under HKEY_CLASSES_ROOT\Installer: every
// key below it is visited, and the value names and string values that name a file or folder
// are looked for. The installer writes few paths there: a product's icon, and the folders a
// package was installed from, which are often temporary and gone.

#include <algorithm>
#include <span>

#include "categories/software.h"
#include "core/text_case.h"
#include "core/text_encoding.h"

namespace quillary {
namespace {

constexpr std::u16string_view kClassesRoot = u"HKEY_CLASSES_ROOT\\";

// Value names up to 1023 characters and data up to 2045 bytes are examined; a value that does
// not fit is left alone.
constexpr std::uint32_t kValueNameBuffer = 1024;
constexpr std::uint32_t kValueDataBuffer = 2045;
// Shorter names and data cannot name a path.
constexpr std::size_t kShortestTestedName = 4;
constexpr std::uint32_t kShortestTestedData = 3;

// A key of the installer tree, held open while the walk is below it. It is opened without
// following a symbolic link: the tree holds none, and a link in a damaged or hostile registry
// could lead back up the tree and make the walk endless.
class CInstallerKey {
public:
    CInstallerKey(IRegistry& store, HKey parent, std::u16string_view name, RegSam view)
        : store_(store) {
        store_.RegOpenKeyExW(parent, name, RegOptionOpenLink, kMaskReadOnly | view, &handle_);
    }
    ~CInstallerKey() {
        if (IsOpen())
            store_.RegCloseKey(handle_);
    }
    CInstallerKey(const CInstallerKey&) = delete;
    CInstallerKey& operator=(const CInstallerKey&) = delete;

    bool IsOpen() const { return handle_ != HKey::None; }
    HKey Handle() const { return handle_; }

private:
    IRegistry& store_;
    HKey handle_ = HKey::None;
};

}  // namespace

int CSoftware::WalkInstallerTree() {
    const RegSam view = environment_.target.is64Bit ? KeyWow64_64Key : 0;
    CInstallerKey tree(*environment_.target.store, HKeyClassesRoot, kInstallerTreePath, view);
    if (!tree.IsOpen())
        return kScanDone;
    return WalkInstallerKey(tree.Handle(), std::u16string(kInstallerTreePath), view);
}

int CSoftware::WalkInstallerKey(HKey key, const std::u16string& path, RegSam view) {
    std::vector<std::u16string> subkeys;
    ListSubkeyNames(environment_.target, key, subkeys);
    for (std::size_t index = 0; index < subkeys.size(); ++index) {
        if (IsStopRequested())
            return kScanStopped;
        const std::u16string& name = subkeys[index];
        const std::u16string childPath = path + u"\\" + name;
        if (index % 2 == 1)
            ShowStatus(std::u16string(kClassesRoot) + childPath);
        // The 32-bit view's copy of a key is not part of the tree walked here.
        if (StartsWithNoCase(name, u"wow6432node"))
            continue;
        StepProgress();
        CInstallerKey child(*environment_.target.store, key, name, view);
        if (child.IsOpen() && WalkInstallerKey(child.Handle(), childPath, view) == kScanStopped)
            return kScanStopped;
    }
    CheckInstallerValues(key, path);
    return kScanDone;
}

// Only names and string data that start with a drive or a share are looked for: the tree holds
// much else that the file test must not judge, such as product and feature names, packed
// identifiers, numbers, and media lines ("n;1;C:\source\") that merely mention a folder.
void CSoftware::CheckInstallerValues(HKey key, const std::u16string& path) {
    IRegistry& store = *environment_.target.store;
    RegKeyInfo info;
    if (store.RegQueryInfoKeyW(key, &info) != ErrorSuccess || info.values == 0)
        return;
    const std::u16string keyText = std::u16string(kClassesRoot) + path;
    // The tree is walked in one view only, so none of its problems is an entry of the 32-bit
    // view.
    const auto report = [&](std::u16string_view valueName, std::u16string_view tested) {
        AddProblemWithDetails(false, kMissingFile, keyText, valueName, tested,
                              {Text(u"IDS_ENG_MISSING_FILE") + std::u16string(tested)});
    };
    std::vector<char16_t> nameBuffer(kValueNameBuffer);
    std::vector<std::uint8_t> data(kValueDataBuffer);
    for (std::uint32_t index = 0; index < info.values; ++index) {
        auto nameLength = static_cast<std::uint32_t>(nameBuffer.size());
        auto dataSize = static_cast<std::uint32_t>(data.size());
        RegType type = RegNone;
        if (store.RegEnumValueW(key, index, nameBuffer.data(), &nameLength, &type, data.data(),
                                &dataSize) != ErrorSuccess) {
            continue;
        }
        const std::u16string name(nameBuffer.data(),
                                  std::min<std::size_t>(nameLength, nameBuffer.size()));
        if (name.size() >= kShortestTestedName && NamesDriveOrShare(name) &&
            ReferenceIsMissing(name, true)) {
            report(name, name);
        }
        if ((type != RegSz && type != RegExpandSz) || dataSize < kShortestTestedData)
            continue;
        std::u16string text = FromUtf16LeBytes(std::span<const std::uint8_t>(
            data.data(), std::min<std::size_t>(dataSize, data.size())));
        text.resize(std::min(text.find(u'\0'), text.size()));
        if (NamesDriveOrShare(text) && ReferenceIsMissing(text, true))
            report(name, text);
    }
}

}  // namespace quillary
