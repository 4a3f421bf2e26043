#include "readme_table.h"

#include "core/text_encoding.h"
#include "planted_entries.h"

namespace quillary::demo {
namespace {

constexpr std::u16string_view kUserAssistMarker = u"\\UserAssist\\";

// The root names shortened as people write them.
std::string ShortKey(std::u16string_view key) {
    struct Root {
        std::u16string_view longName;
        std::string_view shortName;
    };
    constexpr Root kRoots[] = {{u"HKEY_LOCAL_MACHINE", "HKLM"},
                               {u"HKEY_CURRENT_USER", "HKCU"},
                               {u"HKEY_CLASSES_ROOT", "HKCR"},
                               {u"HKEY_USERS", "HKU"}};
    for (const Root& root : kRoots) {
        if (key.starts_with(root.longName)) {
            return std::string(root.shortName) + Utf16ToUtf8(key.substr(root.longName.size()));
        }
    }
    return Utf16ToUtf8(key);
}

std::string Code(std::string_view text) {
    return "`" + std::string(text) + "`";
}

std::string EntryCell(const PlantedEntry& entry) {
    if (entry.shortcut) {
        return "shortcut " + Code(Utf16ToUtf8(entry.shortcut->path));
    }
    std::string cell = Code(ShortKey(entry.key));
    if (entry.emptyKey) {
        return cell + " (empty key)";
    }
    if (entry.valueName.empty()) {
        return entry.valueText ? cell + " (default value)" : cell;
    }
    if (entry.key.find(kUserAssistMarker) != std::u16string::npos) {
        return cell + " value " + Code(Utf16ToUtf8(Rot13(entry.valueName))) +
               " (stored ROT13-encoded)";
    }
    return cell + " value " + Code(Utf16ToUtf8(entry.valueName));
}

std::string DataCell(const PlantedEntry& entry) {
    if (entry.shortcut) {
        return "target " + Code(Utf16ToUtf8(entry.shortcut->target));
    }
    if (!entry.valueText) {
        return "";
    }
    return entry.valueText->empty() ? "(empty)" : Code(Utf16ToUtf8(*entry.valueText));
}

std::string TargetsCell(const PlantedEntry& entry) {
    std::string cell;
    for (const Target& target : entry.targets) {
        if (!cell.empty()) {
            cell += "; ";
        }
        const std::string path =
            target.kind == TargetKind::Key ? ShortKey(target.path) : Utf16ToUtf8(target.path);
        cell += Code(path) + (target.exists ? " exists" : " missing");
    }
    return cell;
}

}  // namespace

std::string FormatPlantedEntriesMarkdown() {
    std::string text;
    int category = -1;
    for (const PlantedEntry& entry : PlantedEntries()) {
        if (entry.category != category) {
            category = entry.category;
            text += "\n### " + std::to_string(category) + ". " +
                    std::string(CategoryLabel(category)) + "\n\n";
            text += "| Reported | Entry | Data | Points at | Why |\n";
            text += "|---|---|---|---|---|\n";
        }
        std::string reported = entry.verdict == Verdict::Reported ? "yes" : "no";
        if (entry.onlyWhenSearchingEmptyKeys) {
            reported = "with empty keys";
        }
        text += "| " + reported + " | " + EntryCell(entry) + " | " + DataCell(entry) + " | " +
                TargetsCell(entry) + " | " + entry.why + " |\n";
    }
    return text;
}

}  // namespace quillary::demo
