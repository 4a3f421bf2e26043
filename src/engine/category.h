#pragma once

// The base of every scanner: the services a scanner uses to record problems with the
// exclusion rules applied, to report progress and status, to notice a stop request, and to
// search for keys that hold nothing.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/manual_reset_event.h"
#include "core/registry_access.h"
#include "core/settings.h"
#include "engine/builtin_rules.h"
#include "engine/exclusion_lists.h"
#include "engine/file_reference.h"
#include "engine/problem.h"
#include "engine/scan_observer.h"
#include "engine/text_tables.h"
#include "platform/file_system.h"
#include "platform/platform_queries.h"
#include "platform/shell_link.h"

namespace quillary {

class CBackup;

// The scan's shared repair context: what a repair reaches through its problem.
class CRepairContext {
public:
    CBackup* undoSession = nullptr;  // the cleaning run's undo session, while it runs
    std::u16string appTitle;
};

// What every scanner of one target works with.
struct ScanEnvironment {
    const RegistryTarget& target;
    IFileSystem& files;
    const IPlatformQueries& platform;
    const SettingsValues& settings;
    const CBuiltinRules& rules;
    CFileReferenceResolver& references;
    const CExclusionLists& exclusions;
    TextLookup text;                               // language texts by identifier
    std::function<void(std::u16string_view)> log;  // one line of the daily log
    IShellLinkReader* shellLinks = nullptr;        // reads shortcut files; none: not scanned
};

class CCategory {
public:
    explicit CCategory(ScanEnvironment& environment);
    virtual ~CCategory() = default;
    CCategory(const CCategory&) = delete;
    CCategory& operator=(const CCategory&) = delete;

    // Scan results: 1 ran to its end, 2 stopped on a stop request.
    static constexpr int kScanDone = 1;
    static constexpr int kScanStopped = 2;
    virtual int Scan() = 0;
    // Progress steps the scan expects; negative keeps the previous total.
    virtual int CountItems() = 0;

    // Sets each reference that is given (null leaves it as it was).
    void Attach(CManualResetEvent* stopEvent, IScanObserver* observer,
                CRepairContext* repairContext);

    // Records a problem unless a rule drops it; its index, or -1 when dropped.
    int AddProblem(bool is32BitEntry, std::int32_t entryType, std::u16string_view key,
                   std::u16string_view valueName, std::u16string_view valueData,
                   std::u16string_view alternateKey);
    // Appends a detail line; an index outside the list is ignored.
    void AddDetailLine(int index, std::u16string_view text);
    // AddProblem with no alternate key, then AddDetailLine for each line in order; a dropped
    // problem gets none. The problem's index, or -1 when dropped.
    int AddProblemWithDetails(bool is32BitEntry, std::int32_t entryType, std::u16string_view key,
                              std::u16string_view valueName, std::u16string_view valueData,
                              std::initializer_list<std::u16string_view> detailLines);
    void StepProgress();
    void FinishProgress();
    // Starts the progress over with a new number of steps (a cleaning run's walk).
    void ResetProgress(std::int32_t total);
    void ShowStatus(std::u16string_view text);
    bool IsStopRequested() const;
    bool HasProblem(std::u16string_view key, std::int32_t entryType) const;
    // Whether a problem outside the 32-bit view with exactly these fields is recorded. A key
    // both views reach (through a registry link, or one a 64-bit system does not redirect) is
    // the same entry seen twice, so a 32-bit pass leaves out what the 64-bit pass recorded.
    bool Has64BitTwin(std::int32_t entryType, std::u16string_view key,
                      std::u16string_view valueName, std::u16string_view valueData) const;
    std::size_t CountSelected() const;
    // Orders the problems by detail line 0, without regard to case.
    void SortProblems();
    // The walks of a scanner that reads the registry in each view: one without a view on a
    // 32-bit system, the 64-bit view's and then the 32-bit view's on a 64-bit one.
    enum class ViewPass { Native, View64, View32 };
    // Sets the progress total from CountItems, runs the passes (the second only when no stop
    // came during the first), sorts the problems and closes the progress. 2 when stopped.
    int ScanInViewPasses(const std::function<int(ViewPass)>& runPass);
    // Looks for keys that hold nothing below root\subKey and records each as a problem.
    // True when the key could not be opened or a stop came during the descent.
    bool SearchEmptyKeys(HKey root, std::u16string_view subKey, bool in64BitView,
                         std::span<const std::u16string_view> exclusionFragments, bool recurse);
    // As SearchEmptyKeys for root\subKey, opened as parent\name: a scanner that holds the
    // parent's handle spares the walk from the root.
    bool SearchEmptyKeysBelow(HKey parent, std::u16string_view name, HKey root,
                              std::u16string_view subKey, bool in64BitView,
                              std::span<const std::u16string_view> exclusionFragments,
                              bool recurse);
    // How many keys lie below root\subKey; a Wow6432Node child is counted but, with
    // skipWow6432Node, not descended into.
    std::uint32_t CountSubkeysDeep(HKey root, std::u16string_view subKey, RegSam mask,
                                   bool skipWow6432Node);

    static std::u16string_view LastPathPart(std::u16string_view path);
    static std::u16string_view ParentPath(std::u16string_view path);

    std::span<const std::unique_ptr<CProblem>> Problems() const { return problems_; }
    std::vector<std::unique_ptr<CProblem>>& MutableProblems() { return problems_; }
    const std::u16string& SystemDirectory() const { return systemDirectory_; }

protected:
    ScanEnvironment& environment_;
    std::int32_t progressTotal_ = 0;
    std::int32_t progressCount_ = 0;

private:
    bool IsProtectedEmptyKey(std::u16string_view subKey, std::u16string_view fullPath,
                             bool in64BitView) const;
    // The empty-key search at parent\name, whose path below root is subKey.
    bool SearchEmptyKeysAt(HKey root, HKey parent, std::u16string_view name,
                           std::u16string_view subKey, bool in64BitView,
                           std::span<const std::u16string_view> exclusionFragments, bool recurse);
    // CountSubkeysDeep for parent\name, depth levels below where the count started.
    std::uint32_t CountSubkeysBelow(HKey parent, std::u16string_view name, RegSam mask,
                                    bool skipWow6432Node, int depth);

    // The fields Has64BitTwin compares, of one problem outside the 32-bit view.
    struct TwinFields {
        std::int32_t entryType = 0;
        std::u16string key;
        std::u16string valueName;
        std::u16string valueData;
        bool operator==(const TwinFields&) const = default;
    };
    struct TwinFieldsHash {
        std::size_t operator()(const TwinFields& fields) const;
    };

    CManualResetEvent* stopEvent_ = nullptr;
    IScanObserver* observer_ = nullptr;
    CRepairContext* repairContext_ = nullptr;
    std::vector<std::unique_ptr<CProblem>> problems_;
    // Every problem outside the 32-bit view that AddProblem recorded, so that a 32-bit pass
    // finds a twin without going through thousands of problems for each candidate.
    std::unordered_set<TwinFields, TwinFieldsHash> recorded64BitProblems_;
    std::u16string systemDirectory_;
};

}  // namespace quillary
