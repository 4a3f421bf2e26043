#pragma once

// What a partial backup works with: the target it changes, the program's folders, settings
// and texts, and the seams a test replaces (the clock, the writing of whole files and of the
// journal).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/registry_access.h"
#include "core/settings.h"
#include "engine/text_tables.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "repair/backup_journal.h"
#include "repair/zip_codec.h"

namespace quillary {

// The references must outlive every backup made with it.
struct BackupEnvironment {
    const RegistryTarget& target;
    // The target's files: copies, moves and deletions go through it.
    IFileSystem& files;
    // The program's own files (the journal, the archive, the list file) and the local files a
    // backup reads and restores; a test puts one here that fails as a full disk does.
    IFileIo& fileIo;
    // Where a target's path lies on this machine, when it exists: the bytes of a file to
    // store are read there, and a restored file is written there.
    std::function<std::optional<std::filesystem::path>(std::u16string_view)> localPathOf;
    const IZipCodec& zip;
    const IClock& clock;
    // The program's settings: a written list file becomes the latest restore point.
    SettingsValues& settings;
    // The program's data folder; the undo folder is made inside it.
    std::filesystem::path dataFolder;
    TextLookup text;                                       // language texts by identifier
    std::function<void(std::u16string_view)> log;          // one line of the daily log
    std::function<void(std::u16string_view)> showMessage;  // a message box with an OK button
    // Whether a repair or an undo may delete or write the file at a target's path; null lets
    // it change any file.
    std::function<bool(std::u16string_view)> mayChangeFile;
    // Appends a record to the journal and flushes it; a test puts a failing one here.
    CBackupJournal::Append appendToJournal =
        [](CAppendFile& file, std::span<const std::uint8_t> bytes) { return file.Append(bytes); };

    void Log(std::u16string_view line) const {
        if (log)
            log(line);
    }
    // Shows a language text in a message box, when there is one to show it in.
    void ShowText(std::u16string_view id) const {
        if (showMessage && text)
            showMessage(text(id));
    }
    // Seconds since 1970 (UTC).
    std::int64_t Now() const {
        return std::chrono::duration_cast<std::chrono::seconds>(clock.Now().time_since_epoch())
            .count();
    }
};

}  // namespace quillary
