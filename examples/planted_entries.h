#pragma once

// What the demo prefix holds for the scans: for every scan category, entries that point at
// something gone (a scan must report them) and entries that must be left alone (what they
// point at exists, or a built-in exclusion rule covers them). The generator writes this
// table, the tests check the written prefix against it, and examples/README.md shows it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace quillary::demo {

// The account the prefix belongs to; its profile is C:\users\demo.
inline constexpr std::u16string_view kUserName = u"demo";

enum class Verdict { Reported, NotReported };

enum class TargetKind {
    File,    // a file on drive C:
    Folder,  // a folder on drive C:
    Key,     // a registry key, full path
};

struct Target {
    TargetKind kind;
    std::u16string path;
    bool exists;
};

// One value or key written into the registry, always in the 64-bit view (a 32-bit entry
// names its Wow6432Node path).
struct RegWrite {
    std::u16string key;  // full path, root name first
    std::u16string name;
    RegType type = RegNone;           // RegNone creates the key and writes no value
    std::u16string text;              // data of the string types
    std::vector<std::uint8_t> bytes;  // data of the other types
};

struct ShortcutFile {
    std::u16string path;    // where the .lnk file goes
    std::u16string target;  // what it points at
    bool targetIsFolder = false;
};

struct PlantedEntry {
    int category = 0;  // index of the scan category, 0-13
    Verdict verdict = Verdict::Reported;
    // Where a scan finds the entry: a registry key and value, or a shortcut file.
    std::u16string key{};
    // Where the scan reports it, when that is not the key itself (a whole application is
    // reported for the command of its only verb).
    std::u16string reportedAt{};
    std::u16string valueName{};
    std::optional<std::u16string> valueText{};  // the value's stored text, when it has one
    std::optional<ShortcutFile> shortcut{};
    // The key is written with neither values nor subkeys.
    bool emptyKey = false;
    // The entry lacks a part its kind must have (a file name left empty, no uninstall
    // command): broken although nothing it names is missing.
    bool incomplete = false;
    // Reported only while the search for empty keys is on; the skip-empty-keys setting, on
    // by default, leaves it alone.
    bool onlyWhenSearchingEmptyKeys = false;
    // What the entry points at; empty for an empty key that points at nothing.
    std::vector<Target> targets{};
    // A fragment of a built-in exclusion rule that the entry's key path or file reference
    // contains, which keeps it out of the results although its target is gone.
    std::u16string excludedBy{};
    // Why a scan reports it or leaves it alone, for the README.
    std::string why{};
    // Everything the generator writes for this entry, the entry's own value first.
    std::vector<RegWrite> writes{};
};

const std::vector<PlantedEntry>& PlantedEntries();

// The short name of a scan category, as the README's table shows it.
std::string_view CategoryLabel(int category);

// ROT13, the encoding of the value names of Explorer's UserAssist keys.
std::u16string Rot13(std::u16string_view text);

}  // namespace quillary::demo
