#include "engine/saved_results.h"

#include <system_error>

#include "core/archive.h"
#include "core/text_case.h"
#include "engine/entry_types.h"

namespace quillary {
namespace {

// Results of a huge scan stay far below this; a larger file is not ours.
constexpr std::size_t kMaxResultsFileBytes = 512u * 1024 * 1024;

// The fewest bytes a problem record takes: five integers' worth of fixed fields, four
// string records and a detail count.
constexpr std::size_t kMinProblemRecordBytes = 4 + 4 + 4 * kMinStringRecordBytes + 4 + 2;

void WriteProblem(CArchiveWriter& writer, const CProblem& problem) {
    writer.WriteInt32(problem.EntryType);
    writer.WriteInt32(problem.selected ? 1 : 0);
    writer.WriteString(problem.Key);
    writer.WriteString(problem.ValueName);
    writer.WriteString(problem.ValueData);
    writer.WriteString(problem.AlternateKey);
    writer.WriteInt32(problem.is32BitEntry ? 1 : 0);
    writer.WriteCount(static_cast<std::uint32_t>(problem.detailLines.size()));
    for (const std::u16string& line : problem.detailLines)
        writer.WriteString(line);
}

std::unique_ptr<CProblem> ReadProblem(CArchiveReader& reader) {
    auto problem = std::make_unique<CProblem>();
    std::optional<std::int32_t> entryType = reader.ReadInt32();
    std::optional<std::int32_t> selected = reader.ReadInt32();
    std::optional<std::u16string> key = reader.ReadString();
    std::optional<std::u16string> valueName = reader.ReadString();
    std::optional<std::u16string> valueData = reader.ReadString();
    std::optional<std::u16string> alternateKey = reader.ReadString();
    std::optional<std::int32_t> is32Bit = reader.ReadInt32();
    std::optional<std::uint32_t> lines = reader.ReadCount(kMinStringRecordBytes);
    if (reader.Failed())
        return nullptr;
    problem->EntryType = *entryType;
    problem->selected = *selected != 0;
    problem->Key = std::move(*key);
    problem->ValueName = std::move(*valueName);
    problem->ValueData = std::move(*valueData);
    problem->AlternateKey = std::move(*alternateKey);
    problem->is32BitEntry = *is32Bit != 0;
    for (std::uint32_t i = 0; i < *lines; ++i) {
        std::optional<std::u16string> line = reader.ReadString();
        if (!line)
            return nullptr;
        problem->detailLines.push_back(std::move(*line));
    }
    return problem;
}

// Whether the entry a saved problem names is still in the registry.
bool StillPresent(const CProblem& problem, const RegistryTarget& target) {
    if (EntryTypeInfo(problem.EntryType).repair == RepairCode::R7)
        return target.keepsUrlHistory;
    RegistryPath path = SplitRegistryPath(problem.Key);
    std::optional<HKey> root = RootKeyFromName(path.rootName);
    if (!root)
        return true;  // a file problem, or a key the check cannot judge
    RegSam view = 0;
    if (target.is64Bit)
        view = problem.is32BitEntry ? KeyWow64_32Key : KeyWow64_64Key;
    // Looked at read-only: a key that may not be written now (Wine runs) is still there.
    ConfigKey key(*target.store, *root);
    key.SetAccessMask(kMaskReadOnly | view);
    if (!key.Open(*root, path.subKey, false))
        return false;
    if (!problem.ValueName.empty()) {
        if (key.HasValue(problem.ValueName))
            return true;
        // An uninstall entry reported for having no uninstall command names the value it
        // lacks: it is still broken while the value stays missing.
        return problem.ValueData.empty() &&
               EqualsNoCaseInvariant(problem.ValueName, u"UninstallString");
    }
    if (!problem.ValueData.empty()) {
        std::u16string text;
        key.ReadString(u"", text);
        // Without a default value the data came from elsewhere in the key (a program found
        // through the key's Path value, the command of an application's verb), so the key
        // being there is all that can be checked.
        return text.empty() || EqualsNoCase(ToLower(text), problem.ValueData);
    }
    return true;
}

}  // namespace

FileError SaveResults(IFileIo& files, const CScanDriver& driver,
                      const std::filesystem::path& dataFolder) {
    CArchiveWriter writer;
    writer.WriteInt32(static_cast<std::int32_t>(driver.CountFound()));
    for (const CategoryRow& row : kCategories) {
        std::span<const std::unique_ptr<CProblem>> problems = driver.ProblemsOf(row.bit);
        writer.WriteInt32(static_cast<std::int32_t>(problems.size()));
        for (const auto& problem : problems)
            WriteProblem(writer, *problem);
    }
    return files.ReplaceFileAtomically(dataFolder / kResultsFileName, writer.Bytes());
}

LoadedResults LoadResults(IFileIo& files, CScanDriver& driver,
                          const std::filesystem::path& dataFolder, const RegistryTarget& target) {
    LoadedResults loaded;
    std::filesystem::path path = dataFolder / kResultsFileName;
    std::error_code code;
    if (!std::filesystem::exists(path, code))
        return loaded;
    std::vector<std::uint8_t> bytes;
    if (FileError error = files.ReadWholeFile(path, kMaxResultsFileBytes, bytes)) {
        loaded.error = *error;
        return loaded;
    }
    CArchiveReader reader(bytes);
    std::optional<std::int32_t> total = reader.ReadInt32();
    if (!total || *total < 1)
        return loaded;
    loaded.savedTotal = *total;

    driver.CreateCategories((1u << kCategoryCount) - 1, static_cast<int>(kCategoryCount), false);
    for (const CategoryRow& row : kCategories) {
        std::size_t countOffset = reader.Offset();
        std::optional<std::int32_t> count = reader.ReadInt32();
        if (!count || !reader.CheckCount(*count, kMinProblemRecordBytes, countOffset))
            break;
        CCategory* category = driver.CategoryOf(row.bit);
        for (std::int32_t i = 0; i < *count; ++i) {
            std::unique_ptr<CProblem> problem = ReadProblem(reader);
            if (!problem)
                break;
            problem->repairContext = &driver.RepairContext();
            if (category && StillPresent(*problem, target)) {
                category->MutableProblems().push_back(std::move(problem));
            }
        }
        if (reader.Failed())
            break;
    }
    if (reader.Failed())
        loaded.error = path.string() + ": " + reader.Error();
    loaded.kept = static_cast<int>(driver.CountFound());
    return loaded;
}

}  // namespace quillary
