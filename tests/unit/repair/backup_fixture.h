#pragma once

// A partial backup over a small target: a registry stated in reg text (values kept sorted,
// as in a Wine prefix, so an undone change leaves the same text), a temporary folder mapped
// as C:, a data folder beside it, a clock that stands still, and a log and message boxes that
// keep what they were told. The file writer can be told to fail for paths that end in a
// given text, and the journal's appends to fail, standing in for a full or broken disk.
// Files below C:\outside stand for those that no repair or undo may change.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "repair/backup.h"
#include "repair/minizip_codec.h"
#include "support/registry_fixture.h"
#include "support/temp_folder.h"
#include "targets/memory/reg_text.h"
#include "targets/posix/mapped_file_system.h"
#include "targets/posix/posix_file_io.h"

namespace quillary::testing {

// The host's file I/O, with whole-file writes that count and, for paths that end in a given
// text, fail as on a full disk.
class CFailingFileIo final : public CPosixFileIo {
public:
    FileError ReplaceFileAtomically(const std::filesystem::path& path,
                                    std::span<const std::uint8_t> bytes) override {
        ++writes;
        if (!failWritesEndingIn.empty() && path.string().ends_with(failWritesEndingIn))
            return FileError("cannot write " + path.string() + ": disk full");
        return CPosixFileIo::ReplaceFileAtomically(path, bytes);
    }

    std::string failWritesEndingIn;
    int writes = 0;
};

class CBackupFixture {
public:
    explicit CBackupFixture(std::string_view registryText, bool is64Bit = true)
        : registry_(MakeRegistry(registryText,
                                 [&] {
                                     MemoryRegistryOptions options;
                                     options.is64Bit = is64Bit;
                                     options.sortValues = true;
                                     return options;
                                 }())),
          clock_(std::chrono::sys_days(std::chrono::year(2024) / 3 / 5) + std::chrono::hours(14)) {
        folder_.MakeFolder("c");
        folder_.MakeFolder("data");
        MappedFileSystemSetup setup;
        setup.drives = {{u'C', folder_.Path() / "c", DriveFixed, {}}};
        setup.is64Bit = is64Bit;
        files_ = std::make_unique<CMappedFileSystem>(std::move(setup));
        target_ = {registry_.get(), is64Bit, {}};
        environment_ = std::make_unique<BackupEnvironment>(BackupEnvironment{
            .target = target_,
            .files = *files_,
            .fileIo = fileIo_,
            .localPathOf = [this](std::u16string_view path) { return files_->UnixPathOf(path); },
            .zip = zip_,
            .clock = clock_,
            .settings = settings_,
            .dataFolder = folder_.Path() / "data",
            .text = [](std::u16string_view id) { return u"text of " + std::u16string(id); },
            .log = [this](std::u16string_view line) { log.emplace_back(line); },
            .showMessage = [this](std::u16string_view text) { messages.emplace_back(text); },
            .mayChangeFile =
                [this](std::u16string_view path) { return !path.starts_with(u"C:\\outside"); },
            .appendToJournal =
                [this](CAppendFile& file, std::span<const std::uint8_t> bytes) {
                    if (failJournalAppends)
                        return FileError("cannot write " + file.Path().string() + ": disk full");
                    return file.Append(bytes);
                }});
    }

    BackupEnvironment& Environment() { return *environment_; }
    CMemoryRegistry& Registry() { return *registry_; }
    SettingsValues& Settings() { return settings_; }
    const std::filesystem::path& Root() const { return folder_.Path(); }
    std::filesystem::path UndoFolder() const { return folder_.Path() / "data" / "Partial Backups"; }
    // Writes a file of the C: drive ("dir/name.txt").
    void WriteFile(std::string_view relative, std::string_view bytes) const {
        folder_.Write("c/" + std::string(relative), bytes);
    }

    // The whole registry as text.
    std::string RegistryText() { return FormatRegTree(registry_->Tree()); }
    // Every file and folder of the C: drive with its bytes.
    std::string DriveText() {
        std::vector<std::string> entries;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(folder_.Path() / "c")) {
            std::string line = std::filesystem::relative(entry.path(), folder_.Path()).string();
            if (entry.is_regular_file()) {
                std::vector<std::uint8_t> bytes;
                (void)fileIo_.ReadWholeFile(entry.path(), 1 << 20, bytes);
                line += " = " + std::string(bytes.begin(), bytes.end());
            }
            entries.push_back(line);
        }
        std::sort(entries.begin(), entries.end());
        std::string text;
        for (const std::string& entry : entries)
            text += entry + "\n";
        return text;
    }
    bool HasLogLine(std::u16string_view line) const {
        return std::find(log.begin(), log.end(), line) != log.end();
    }
    // A backup of the undo list, loaded from the list file at path.
    std::unique_ptr<CBackup> LoadBackup(const std::filesystem::path& listFile) {
        auto backup = std::make_unique<CBackup>(*environment_);
        backup->SetListFilePath(listFile);
        backup->LoadList();
        return backup;
    }

    std::vector<std::u16string> log;
    std::vector<std::u16string> messages;
    // The fixture's file I/O: tell it to fail writes, and count them.
    CFailingFileIo& FileIo() { return fileIo_; }
    bool failJournalAppends = false;
    CManualClock& Clock() { return clock_; }

private:
    CTempFolder folder_;
    CFailingFileIo fileIo_;
    std::unique_ptr<CMemoryRegistry> registry_;
    std::unique_ptr<CMappedFileSystem> files_;
    RegistryTarget target_;
    CMinizipCodec zip_;
    CManualClock clock_;
    SettingsValues settings_;
    std::unique_ptr<BackupEnvironment> environment_;
};

}  // namespace quillary::testing
