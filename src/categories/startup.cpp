#include "categories/startup.h"

#include <algorithm>
#include <array>

#include "categories/pump_messages.h"
#include "categories/start_entries.h"

namespace quillary {
namespace {

// A Run value is read into a buffer of this many characters, its terminator included.
constexpr std::uint32_t kValueBufferLength = 260;

}  // namespace

int CStartup::CountRunValues(HKey root, RegSam view) {
    RegKey key(*environment_.target.store);
    if (key.Open(root, kRunKey, kMaskReadOnly | view) != ErrorSuccess)
        return 0;
    return static_cast<int>(CountValues(key.Store(), key.Handle()));
}

int CStartup::CountItems() {
    return CountRunValues(HKeyCurrentUser, 0) + CountRunValues(HKeyLocalMachine, 0);
}

int CStartup::WalkRunKey(HKey root, std::u16string_view keyPath) {
    std::vector<RegSam> views = {0};
    if (environment_.platform.Is64BitWindows() && root == HKeyLocalMachine)
        views = {KeyWow64_64Key, KeyWow64_32Key};
    const FileReferenceOptions options = StartEntryReferenceOptions();
    for (RegSam view : views) {
        RegKey key(*environment_.target.store);
        if (key.Open(root, keyPath, kMaskReadOnly | view) != ErrorSuccess)
            continue;
        std::vector<std::u16string> names;
        ListValueNames(key.Store(), key.Handle(), names);
        for (const std::u16string& name : names) {
            PumpMessages(environment_.target);
            if (IsStopRequested())
                return kScanStopped;
            std::array<char16_t, kValueBufferLength> buffer{};
            std::uint32_t length = kValueBufferLength;
            if (key.QueryString(name, buffer.data(), &length) == ErrorSuccess) {
                std::u16string_view data(buffer.data(), std::min(length, kValueBufferLength));
                std::u16string text(data.substr(0, data.find(u'\0')));
                if (text.empty() || !environment_.references.FileReferenceIsValid(SystemDirectory(),
                                                                                  text, options)) {
                    int index = AddProblem(
                        view == KeyWow64_32Key, kEntryType,
                        std::u16string(RootKeyName(root)) + u"\\" + std::u16string(keyPath), name,
                        text, u"");
                    AddDetailLine(index, name);
                }
            }
            StepProgress();
        }
    }
    return kScanDone;
}

int CStartup::Scan() {
    int total = 0;
    if (environment_.platform.Is64BitWindows()) {
        total = CountRunValues(HKeyCurrentUser, 0) +
                CountRunValues(HKeyLocalMachine, KeyWow64_32Key) +
                CountRunValues(HKeyLocalMachine, KeyWow64_64Key);
    } else {
        total = CountItems();
    }
    if (total >= 0)
        progressTotal_ = total;
    progressCount_ = 0;
    const std::array<std::pair<HKey, std::u16string_view>, 4> walks = {{
        {HKeyLocalMachine, kRunKey},
        {HKeyLocalMachine, kDisabledRunKey},
        {HKeyCurrentUser, kRunKey},
        {HKeyCurrentUser, kDisabledRunKey},
    }};
    for (const auto& [root, keyPath] : walks) {
        if (WalkRunKey(root, keyPath) == kScanStopped)
            return kScanStopped;
    }
    if (IsStopRequested())
        return kScanStopped;
    FinishProgress();
    SortProblems();
    return kScanDone;
}

}  // namespace quillary
