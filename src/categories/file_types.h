#pragma once

// The scanner of file associations: every subkey of HKEY_CLASSES_ROOT, where a name that
// begins with "." is a file extension and any other a program identifier (or another class
// name). It reports extensions whose program identifier is gone, keys left with no content,
// class references that lead nowhere, verbs whose program is gone, icon files that are gone
// and context-menu handlers of unregistered classes. A 32-bit system is walked once without
// a view; a 64-bit one twice, the 64-bit view first and then the 32-bit view.

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "categories/classes_key.h"
#include "engine/category.h"

namespace quillary {

class CFileTypes final : public CCategory {
public:
    using CCategory::CCategory;

    int Scan() override;
    int CountItems() override;

    // How one walk over HKEY_CLASSES_ROOT differs from the others.
    struct Pass {
        RegSam view = 0;  // the view bits every open carries
        bool is32BitEntry = false;
        bool is64BitView = false;  // the empty-key search runs in the 64-bit view
        // Classes are looked for in both views: a component may be registered for the
        // other one, and the system activates it from there.
        bool looksInBothViews = false;
        // An empty CLSID subkey, and an identifier's shell key without verbs, are examined.
        bool examinesEmptyParts = false;
        // Leaves out what the 64-bit pass recorded: a key both views reach is one entry.
        bool leavesOutTwins = false;
    };

private:
    // The subkey of HKEY_CLASSES_ROOT being looked at.
    struct Owner {
        const std::u16string& name;
        CClassesKey key;
        // Read once: an extension's program identifier, an identifier's display name.
        std::u16string defaultValue;

        bool IsExtension() const { return name.starts_with(u'.'); }
        // What the problems of an owner are labelled with.
        std::u16string_view DisplayName() const {
            return defaultValue.empty() ? std::u16string_view(name) : defaultValue;
        }
    };

    // The subkeys of HKEY_CLASSES_ROOT in a view, listed once for the count and the walk.
    const std::vector<std::u16string>& ClassesRootNames(RegSam view);
    int RunPass(const Pass& pass);
    bool HasContentType(const Owner& owner);
    void ScanExtension(const Pass& pass, const Owner& owner);
    void ScanIdentifier(const Pass& pass, const Owner& owner);

    // The CLSID subkey; an empty one is reported whatever the skip-empty-keys setting says
    // when reportsEmptyAlways.
    void CheckClass(const Pass& pass, const Owner& owner, bool reportsEmptyAlways);
    void CheckVerbs(const Pass& pass, const Owner& owner);
    void CheckVerb(const Pass& pass, const Owner& owner, const CClassesKey& shell,
                   const std::u16string& verb);
    void CheckIcon(const Pass& pass, const Owner& owner);
    void CheckContextMenuHandlers(const Pass& pass, const Owner& owner);

    // Whether HKEY_CLASSES_ROOT\name is there in the pass's view (access denied counts as
    // there).
    bool ClassesKeyExists(const Pass& pass, std::u16string_view name);
    // Whether a class is registered in the CLSID trees the pass looks in.
    bool ClassIsRegistered(std::u16string_view clsid);
    // Whether an open key holds nothing: no subkeys and no values, an empty default value
    // that comes first not counted when ignoresBlankFirstValue.
    bool HoldsNothing(HKey key, bool ignoresBlankFirstValue);
    bool FileIsMissing(std::u16string_view text);

    // Records a problem of the pass with its detail lines; keyPath is below
    // HKEY_CLASSES_ROOT.
    void Report(const Pass& pass, std::int32_t entryType, std::u16string_view keyPath,
                std::u16string_view valueData,
                std::initializer_list<std::u16string_view> detailLines);

    std::map<RegSam, std::vector<std::u16string>> classesRootNames_;
    // The CLSID trees of the pass: its own view's and, when it looks in both, the other's.
    std::optional<CClassesKey> ownClasses_;
    std::optional<CClassesKey> otherClasses_;
};

}  // namespace quillary
