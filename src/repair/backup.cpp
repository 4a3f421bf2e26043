#include "repair/backup.h"

#include <cstdio>
#include <system_error>

#include "core/text_encoding.h"
#include "repair/backup_undo.h"
#include "repair/local_time_text.h"
#include "repair/undo_folder.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

constexpr std::size_t kMaxListFileBytes = 256u * 1024 * 1024;
// Tries at taking a number when another run takes the same one at the same moment.
constexpr int kNumberAttempts = 8;

std::string ExportEntryName(std::int32_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "%.8d.reg", static_cast<int>(number));
    return name;
}

}  // namespace

CBackup::CBackup(const BackupEnvironment& environment, std::optional<std::u16string> description)
    : environment_(environment),
      repairUse_(description.has_value()),
      runner_(environment),
      description_(std::move(description).value_or(std::u16string())) {
    if (!environment_.dataFolder.empty())
        folder_ = UndoFolderOf(environment_.dataFolder);
}

CBackup::~CBackup() {
    (void)Close();
}

void CBackup::Fail(const std::string& why) {
    if (failure_.empty())
        failure_ = why;
}

bool CBackup::BeginJournal() {
    if (folder_.empty()) {
        Fail("there is no data folder");
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (error) {
        Fail("cannot create the folder " + folder_.string() + ": " + error.message());
        return false;
    }
    for (int attempt = 0; attempt < kNumberAttempts; ++attempt) {
        const std::filesystem::path base = UndoBasePath(folder_, NextUndoNumber(folder_));
        std::filesystem::path journal = base;
        journal += ".rjl";
        std::string why;
        journal_ = CBackupJournal::Create(environment_.fileIo, journal, description_,
                                          environment_.Now(), environment_.appendToJournal, &why);
        if (journal_) {
            listFilePath_ = ListPathOfJournal(journal);
            archivePath_ = ArchivePathOfList(listFilePath_);
            return true;
        }
        // Only a name that another run took at the same moment is worth another try.
        if (!std::filesystem::exists(journal, error)) {
            Fail(why);
            return false;
        }
    }
    Fail("no free number for a partial backup in " + folder_.string());
    return false;
}

void CBackup::BeginExports() {
    runner_.BeginExports();
}

CRegExport* CBackup::ExportWriter(RegistryView view) {
    return runner_.ExportWriter(view);
}

void CBackup::FreeExports() {
    runner_.FreeExports();
}

// --- performing ------------------------------------------------------------------------------

bool CBackup::AddOperation(COperation operation) {
    environment_.Log(u"Trying to Add operation");
    // A backup of the undo list only reads its files; and once the backup could not be
    // written, no change may go without its copy.
    std::string journalFailure;
    if (!repairUse_ || !journal_ || !failure_.empty() ||
        !runner_.Run(operation, *journal_, &journalFailure)) {
        if (!journalFailure.empty())
            Fail(journalFailure);
        environment_.Log(u"Add operation FAILED");
        return false;
    }
    // The registry changes are undone through the export texts; only a file needs its own
    // record.
    if (!std::holds_alternative<ArchiveDeleteFileRecord>(operation)) {
        environment_.Log(u"operation Not added for key delete or value delete");
        return true;
    }
    operations_.push_back(std::move(operation));
    environment_.Log(u"Add operation Done");
    return true;
}

bool CBackup::ArchiveDeleteFile(std::u16string_view path) {
    return AddOperation(ArchiveDeleteFileRecord{std::u16string(path), std::nullopt});
}

bool CBackup::DeleteKey(HKey root, std::u16string_view subKey, KeyScope scope, RegistryView view) {
    return AddOperation(DeleteKeyRecord{root, std::u16string(subKey), scope, view});
}

bool CBackup::DeleteValue(HKey root, std::u16string_view subKey, std::u16string_view valueName,
                          RegistryView view) {
    return AddOperation(
        DeleteValueRecord{root, std::u16string(subKey), std::u16string(valueName), view});
}

bool CBackup::SetTextValue(HKey root, std::u16string_view subKey, std::u16string_view valueName,
                           std::u16string_view text, RegistryView view) {
    RecordValue value{std::u16string(valueName), RecordValueKind::Text, std::u16string(text)};
    return AddOperation(SetValueRecord{root, std::u16string(subKey), std::move(value), view});
}

// --- the archive and the list file -----------------------------------------------------------

bool CBackup::ArchiveExports() {
    if (!journal_) {
        environment_.Log(u"ZIP NOT written: the backup has no journal");
        return false;
    }
    bool allStored = true;
    std::vector<RegistryView> views = {RegistryView::Bits32};
    if (environment_.target.is64Bit)
        views.push_back(RegistryView::Bits64);
    for (RegistryView view : views) {
        environment_.Log(u"Exporting Reg File");
        const CRegExport* writer = runner_.ExportWriter(view);
        if (writer == nullptr) {
            environment_.Log(u"ZIP NOT written: there is no export text");
            Fail("there is no export text");
            allStored = false;
            continue;
        }
        const std::string entry = ExportEntryName(exportCount_ + 1);
        environment_.Log(u"Attempting TO ZIP Exported File");
        if (FileError error =
                journal_->AddExport(entry, view, writer->FileBytes(), environment_.Now())) {
            environment_.Log(u"ZIP NOT written: " + Utf8ToUtf16(*error));
            Fail(*error);
            allStored = false;
            continue;
        }
        environment_.Log(u"ZIP File OK!");
        operations_.emplace_back(ExportTextRecord{Utf8ToUtf16(entry), view});
        ++exportCount_;
    }
    return allStored;
}

bool CBackup::LoadList() {
    if (listFilePath_.empty())
        return false;
    archivePath_ = ArchivePathOfList(listFilePath_);
    std::vector<std::uint8_t> bytes;
    if (FileError error =
            environment_.fileIo.ReadWholeFile(listFilePath_, kMaxListFileBytes, bytes)) {
        environment_.Log(u"List file NOT read: " + Utf8ToUtf16(*error));
        return false;
    }
    DecodedUndoList list = DecodeUndoList(bytes);
    if (list.headerRead) {
        description_ = list.header.description;
        lastChangeTime_ = list.header.lastChangeTime;
    }
    for (COperation& record : list.records)
        operations_.push_back(std::move(record));
    if (!list.error.empty()) {
        environment_.Log(u"List file damaged: " + listFilePath_.u16string() + u": " +
                         Utf8ToUtf16(list.error));
        return false;
    }
    return true;
}

bool CBackup::Close() {
    if (!repairUse_ || closed_)
        return true;
    closed_ = true;
    FreeExports();
    if (!journal_)
        return failure_.empty();
    environment_.Log(u"Attempting to save partial backup");
    const std::filesystem::path journal = journal_->Path();
    journal_.reset();  // lets go of the file before it is completed and removed
    if (FileError error = CompleteFromJournal(journal, environment_.zip, environment_.fileIo)) {
        environment_.Log(u"List file NOT written: " + Utf8ToUtf16(*error));
        Fail(*error);
        return false;
    }
    std::error_code ignored;
    if (std::filesystem::exists(listFilePath_, ignored)) {
        // Only a list that was written is a point the user can go back to.
        environment_.settings.StrLatestRestorePoint =
            FormatLocalTime("%a. %B %d, %Y. %I:%M %p ", environment_.clock.Now()) +
            (environment_.text ? environment_.text(u"IDS_STR_PARTIAL_BACKUP") : std::u16string());
    }
    environment_.Log(u"Archiveing partial backup Done!");
    return failure_.empty();
}

void CBackup::Discard() {
    closed_ = true;
    FreeExports();
    if (!journal_)
        return;
    const std::filesystem::path journal = journal_->Path();
    journal_.reset();
    std::error_code ignored;
    std::filesystem::remove(journal, ignored);
    environment_.Log(u"Partial backup discarded");
}

// --- undo ------------------------------------------------------------------------------------

bool CBackup::UndoAll() {
    if (environment_.target.pumpMessages)
        environment_.target.pumpMessages();
    CBackupUndo undo(environment_, archivePath_);
    if (std::string why = undo.Check(operations_); !why.empty()) {
        environment_.Log(u"Undo refused: " + Utf8ToUtf16(why));
        Fail(why);
        undoRefused_ = true;
    } else if (std::string failure = undo.Reverse(operations_); !failure.empty()) {
        Fail(failure);
    } else {
        return true;
    }
    environment_.ShowText(u"IDS_STR_UNDO_FAILED");
    return false;
}

// --- a repair run's partial backup -----------------------------------------------------------

std::unique_ptr<CBackup> BeginPartialBackup(const BackupEnvironment& environment,
                                            std::u16string_view appTitle) {
    environment.Log(u"Initializing Backup");
    auto backup = std::make_unique<CBackup>(environment, std::u16string(appTitle));
    backup->SetExportAtEnd(true);
    backup->BeginExports();
    (void)backup->BeginJournal();  // when it fails, every change is refused
    return backup;
}

bool EndPartialBackup(CBackup& backup) {
    bool stored = true;
    if (backup.ExportAtEnd()) {
        stored = backup.ArchiveExports();
        backup.FreeExports();
    }
    return backup.Close() && stored;
}

}  // namespace quillary
