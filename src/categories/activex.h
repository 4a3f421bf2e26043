#pragma once

// The scanner of COM registrations under HKEY_CLASSES_ROOT. It walks the four COM trees
// (CLSID, AppID, TypeLib, Interface) and reports servers, icons and bitmaps whose files are
// gone, keys left empty, and references from one registration to another that lead nowhere.
// A 32-bit system is walked once without a view; a 64-bit one twice, the 64-bit view first
// and then the 32-bit view.

#include <initializer_list>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "categories/classes_key.h"
#include "engine/category.h"

namespace quillary {

class CActiveX : public CCategory {
public:
    using CCategory::CCategory;

    int Scan() override;
    int CountItems() override;

    // How one walk over the four trees differs from the others.
    struct Pass {
        RegSam view = 0;  // the view bits every open carries
        bool is32BitEntry = false;
        bool is64BitView = false;  // the empty-key search runs in the 64-bit view
        // References are looked for in both views, not only in the pass's own.
        bool looksInBothViews = false;
        // Prefixed to the status texts and to the keys of some reports.
        std::u16string_view viewPrefix;
        // Empty server, ProgID and toolbox bitmap keys are reported whatever the
        // skip-empty-keys setting says.
        bool alwaysReportsEmptyServer = false;
        bool alwaysReportsEmptyProgId = false;
        bool alwaysReportsEmptyBitmap = false;
        // An InprocServer32 key without a default value is reported even when it holds
        // something else, unless the user prefers safety over the count.
        bool reportsHollowInprocServer = false;
        // InprocServer32 files are looked for exactly where they are named.
        bool testsInprocServerDirectly = false;
        // The view a local server's class name is read in; 0 is the pass's own.
        RegSam localServerNameView = 0;
        bool testsIconFile = false;
        std::span<const std::u16string_view> typeLibraryPlatforms;
        // TypeLib and AppID are one tree seen from both views: what the 64-bit pass already
        // recorded there is not recorded again.
        bool skipsSharedDuplicates = false;
    };

private:
    enum class KeyForm {
        Plain,         // HKEY_CLASSES_ROOT, then the key path
        ViewPrefixed,  // the pass's view prefix goes between the two
    };

    int CountItemsIn(RegSam view);
    int RunPass(const Pass& pass);
    int ScanClasses(const Pass& pass);
    int ScanClass(const Pass& pass, CClassesKey& classKey, const std::u16string& clsid);
    int ScanApplicationIds(const Pass& pass);
    int ScanTypeLibraries(const Pass& pass);
    int ScanTypeLibraryVersion(const Pass& pass, CClassesKey& versionKey,
                               const std::u16string& version);
    void CheckHelpFolder(const Pass& pass, CClassesKey& versionKey, const std::u16string& library,
                         const std::u16string& version);
    int ScanInterfaces(const Pass& pass);

    void CheckServerKind(const Pass& pass, CClassesKey& classKey, const std::u16string& clsid,
                         const std::u16string& className, std::u16string_view kind);
    void CheckApplicationId(const Pass& pass, CClassesKey& classKey,
                            const std::u16string& className);
    void CheckProgId(const Pass& pass, CClassesKey& classKey, const std::u16string& clsid,
                     const std::u16string& className);
    void CheckClassTypeLibrary(const Pass& pass, CClassesKey& classKey,
                               const std::u16string& className);
    void CheckDefaultIcon(const Pass& pass, CClassesKey& classKey, const std::u16string& clsid,
                          const std::u16string& className);
    void CheckContextMenuHandlers(const Pass& pass, CClassesKey& classKey,
                                  const std::u16string& className);
    void CheckToolboxBitmap(const Pass& pass, CClassesKey& classKey, const std::u16string& clsid,
                            const std::u16string& className);

    // Whether an empty key is reported: always in some passes, else unless the user skips
    // empty keys.
    bool ReportsEmptyKey(bool alwaysInThisPass) const;
    // The subkeys of an open key; empty when it did not open.
    std::vector<std::u16string> ListSubkeys(const CClassesKey& key);
    // The subkeys of one of the four trees in its view, listed once for a count and the walk
    // after it.
    const std::vector<std::u16string>& TreeNames(const CClassesKey& tree);
    // Whether tree\name, which a registration refers to, is there (access denied counts as
    // there). tree is one of the trees opened for the scan.
    bool ReferencedKeyExists(const Pass& pass, std::u16string_view tree, std::u16string_view name);
    // The top key of a tree references lead into, opened on first use and held for the scan.
    CClassesKey& ReferenceTree(RegSam view, std::u16string_view tree);
    // Whether the key holds nothing: no subkeys, and no values but an empty default one.
    bool HoldsNothing(RegKey& key);
    bool FileIsMissing(std::u16string_view text, const FileReferenceOptions& options);
    static FileReferenceOptions StandardFileOptions();
    void PumpMessages();

    // Records a problem of the pass with its detail lines; keyPath is below
    // HKEY_CLASSES_ROOT.
    void Report(const Pass& pass, std::int32_t entryType, std::u16string_view keyPath,
                std::u16string_view valueName, std::u16string_view valueData,
                std::initializer_list<std::u16string_view> detailLines,
                KeyForm form = KeyForm::Plain);
    // As Report, for the trees both views share (AppID, TypeLib): the 32-bit pass leaves
    // out what the 64-bit pass recorded, which is the same key seen twice.
    void ReportInSharedTree(const Pass& pass, std::int32_t entryType, std::u16string_view keyPath,
                            std::u16string_view valueName, std::u16string_view valueData,
                            std::initializer_list<std::u16string_view> detailLines,
                            KeyForm form = KeyForm::Plain);

    // Type libraries (lower-cased names) whose empty keys the 64-bit pass looked for.
    std::unordered_set<std::u16string> librariesSearchedFor64Bit_;
    // The trees references lead into (CLSID, AppID, TypeLib), each in a view.
    std::vector<std::unique_ptr<CClassesKey>> referenceTrees_;
    struct TreeList {
        RegSam view;
        std::u16string path;
        std::vector<std::u16string> names;
    };
    // Kept in a list whose elements do not move: callers hold on to the names they got.
    std::list<TreeList> treeNames_;
};

}  // namespace quillary
