#pragma once

// The deep scans: a walk of a whole registry tree that tests every text value looking like a
// file reference and reports the values whose file is gone. The machine-wide scan walks
// HKEY_LOCAL_MACHINE\SOFTWARE (both views of a 64-bit system), the user's scan the whole of
// HKEY_CURRENT_USER.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/category.h"

namespace quillary {

class CDeepScan : public CCategory {
public:
    // 1 finished, 2 stopped.
    int Scan() override;
    // The start key's subkeys and theirs, two levels deep; on a 64-bit system the machine-wide
    // scan counts in each view. 2 when a stop came.
    int CountItems() override;

    // Whether a value's text is to be tested as a file reference: an address only when it is
    // a res:// or file:// one, a text with a backslash or a colon, and (the prefer-safety
    // option off) a bare name of a program file.
    bool IsFileText(std::u16string_view text) const;

protected:
    CDeepScan(ScanEnvironment& environment, HKey root, std::u16string_view basePath,
              std::int32_t entryType, bool walksBothViews);

private:
    // Where one walk is: the key's path below the root (the base path lower-cased, then the
    // names as enumerated), the view, and the buffers every key of the walk reuses.
    struct WalkState;
    // Where the tests for excluded key fragments stand after a key's lower-cased path.
    struct PathMatch;

    // Walks the start key in one view (none on a 32-bit system).
    int WalkView(RegSam view);
    // Walks parent\name, whose path the state holds and whose lower-cased path left match:
    // its children depth first, then its values, then the empty-key search. 1 finished, 2
    // stopped.
    int WalkKey(WalkState& state, HKey parent, std::u16string_view name, const PathMatch& match,
                int depth);
    // Tests the key's text values.
    int TestValues(WalkState& state, RegKey& key);
    // The match of a key's path extended by lower-cased text.
    static PathMatch ExtendMatch(const PathMatch& match, std::u16string_view lowerText);
    // Whether the walk leaves out the key whose path gave match, with everything below it.
    bool IsExcludedPath(const PathMatch& match) const;
    void ReportMissingFile(const WalkState& state, std::u16string_view valueName,
                           std::u16string_view text);
    // A stop request or the latch: sets the latch, so every level of the walk unwinds.
    bool ShouldStop();
    // Adds the start key's subkeys in the view and theirs to count; false when a stop came.
    bool CountTwoLevels(RegSam view, std::uint32_t& count);

    HKey root_;
    std::u16string basePath_;
    std::u16string rootName_;
    std::int32_t entryType_;
    bool walksBothViews_;
    bool stopLatch_ = true;
};

// HKEY_LOCAL_MACHINE\SOFTWARE with everything below it.
class CDeepScanLM final : public CDeepScan {
public:
    explicit CDeepScanLM(ScanEnvironment& environment);
};

// The whole of HKEY_CURRENT_USER, in the 64-bit view of a 64-bit system only.
class CDeepScanCU final : public CDeepScan {
public:
    explicit CDeepScanCU(ScanEnvironment& environment);
};

}  // namespace quillary
