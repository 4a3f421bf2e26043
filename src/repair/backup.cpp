#include "repair/backup.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "core/text.h"
#include "platform/write_faults.h"
#include "repair/local_time_text.h"
#include "repair/reg_import.h"
#include "repair/reg_operation_check.h"
#include "repair/undo_folder.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

// The largest file a repair deletes that the archive takes; a larger one is left in place.
constexpr std::size_t kMaxStoredFileBytes = 512u * 1024 * 1024;
constexpr std::size_t kMaxArchiveBytes = std::size_t{4} * 1024 * 1024 * 1024;
constexpr std::size_t kMaxListFileBytes = 256u * 1024 * 1024;
// An export text larger than this is refused before it is inflated: a registry's whole
// export is a small part of it.
constexpr std::size_t kMaxExportBytes = 256u * 1024 * 1024;
// Tries at taking a number when another run takes the same one at the same moment.
constexpr int kNumberAttempts = 8;

// Masks of the operations: read-write, and on a 64-bit system the entry's view.
constexpr RegSam kMaskWrite64 = 0x2011F;
constexpr RegSam kMaskWrite32 = 0x2021F;

std::string EntryName(std::int32_t number, const char* extension) {
    char name[32];
    std::snprintf(name, sizeof name, "%.8d.%s", static_cast<int>(number), extension);
    return name;
}

std::u16string_view FolderPart(std::u16string_view path) {
    std::size_t backslash = path.rfind(u'\\');
    return backslash == std::u16string_view::npos ? std::u16string_view()
                                                  : path.substr(0, backslash);
}

std::u16string_view FileNamePart(std::u16string_view path) {
    std::size_t backslash = path.rfind(u'\\');
    return backslash == std::u16string_view::npos ? path : path.substr(backslash + 1);
}

// Writes a value of the kinds a set-value record writes: text (with its terminating NUL),
// DWORD, expandable text. Binary values are never set from a record.
LStatus WriteRecordValue(IRegistry& store, HKey key, std::u16string_view name,
                         std::int32_t valueKind, std::u16string_view text, std::int32_t dword) {
    switch (valueKind) {
        case kValueText:
        case kValueExpandText: {
            std::vector<std::uint8_t> bytes = ToUtf16LeBytes(text, true);
            return store.RegSetValueExW(key, name, valueKind == kValueText ? RegSz : RegExpandSz,
                                        bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        }
        case kValueDword: {
            const auto value = static_cast<std::uint32_t>(dword);
            const std::uint8_t bytes[4] = {
                static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
            return store.RegSetValueExW(key, name, RegDword, bytes, 4);
        }
        default:
            return ErrorInvalidParameter;
    }
}

// Opens or creates root\subKey; the handle closes with the object.
class CCreatedKey {
public:
    CCreatedKey(IRegistry& store, HKey root, std::u16string_view subKey, RegSam mask)
        : store_(store) {
        status_ = store.RegCreateKeyExW(root, subKey, u"", 0, mask, &handle_, nullptr);
    }
    ~CCreatedKey() {
        if (status_ == ErrorSuccess)
            store_.RegCloseKey(handle_);
    }
    CCreatedKey(const CCreatedKey&) = delete;
    CCreatedKey& operator=(const CCreatedKey&) = delete;

    bool IsOpen() const { return status_ == ErrorSuccess; }
    HKey Handle() const { return handle_; }

private:
    IRegistry& store_;
    HKey handle_ = HKey::None;
    LStatus status_ = ErrorInvalidHandle;
};

}  // namespace

CBackup::CBackup(const BackupEnvironment& environment, std::optional<std::u16string> description)
    : environment_(environment),
      repairUse_(description.has_value()),
      description_(description.value_or(std::u16string())) {
    if (!environment_.dataFolder.empty())
        folder_ = UndoFolderOf(environment_.dataFolder);
}

CBackup::~CBackup() {
    (void)Close();
}

void CBackup::Log(std::u16string_view line) const {
    if (environment_.log)
        environment_.log(line);
}

std::int64_t CBackup::Now() const {
    return std::chrono::duration_cast<std::chrono::seconds>(
               environment_.clock.Now().time_since_epoch())
        .count();
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
        journal_ = CBackupJournal::Create(journal, description_, Now(),
                                          environment_.appendToJournal, &why);
        if (journal_) {
            listFilePath_ = ListPathOfJournal(journal);
            archivePath_ = ArchivePathOfList(listFilePath_);
            lastChangeTime_ = Now();
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
    writer32_ = std::make_unique<CRegExport>(environment_.target);
    if (environment_.target.is64Bit)
        writer64_ = std::make_unique<CRegExport>(environment_.target);
    lastChangeTime_ = Now();
    Log(u"Allocate Mem For Export");
}

CRegExport* CBackup::ExportWriter(bool in64BitView) {
    return in64BitView && environment_.target.is64Bit ? writer64_.get() : writer32_.get();
}

void CBackup::FreeExports() {
    writer32_.reset();
    writer64_.reset();
}

RegSam CBackup::OperationMask(const COperation& operation) const {
    if (!environment_.target.is64Bit)
        return kMaskReadWrite;
    return operation.Is64BitView() ? kMaskWrite64 : kMaskWrite32;
}

// --- performing ------------------------------------------------------------------------------

bool CBackup::AddOperation(std::unique_ptr<COperation> operation) {
    Log(u"Trying to Add operation");
    // A backup of the undo list only reads its files; and once the backup could not be
    // written, no change may go without its copy.
    if (!repairUse_ || !journal_ || !failure_.empty() || !RunOperation(*operation)) {
        Log(u"Add operation FAILED");
        return false;
    }
    lastChangeTime_ = Now();
    if (operation->kind != kOpArchiveDeleteFile) {
        Log(u"operation Not added for key delete or value delete");
        return true;
    }
    operations_.push_back(std::move(operation));
    Log(u"Add operation Done");
    return true;
}

bool CBackup::RunOperation(COperation& operation) {
    Log(u"Attempting to Run Operation");
    if (environment_.target.pumpMessages)
        environment_.target.pumpMessages();
    switch (operation.kind) {
        case kOpArchiveDeleteFile:
            return RunArchiveDeleteFile(operation);
        case kOpDeleteKey:
        case kOpDeleteKeyTree:
            return RunDeleteKeyTree(operation);
        case kOpSetValue:
            return RunSetValue(operation);
        case kOpDeleteValue:
            return RunDeleteValue(operation);
        default:
            // No repair copies, moves or creates: an undo could not trust such a record.
            return false;
    }
}

bool CBackup::RunArchiveDeleteFile(COperation& operation) {
    if (!operation.HasTexts(1))
        return false;
    const std::u16string path = operation.texts[0];  // a copy: the texts grow below
    const std::string entry = EntryName(archivedFileCount_ + 1, "fil");
    operation.texts.resize(1);
    operation.texts.push_back(Utf8ToUtf16(entry));

    if (environment_.mayChangeFile && !environment_.mayChangeFile(path)) {
        Log(u"File NOT deleted: it lies outside the files a repair may change");
        return false;
    }
    std::optional<std::filesystem::path> local;
    if (environment_.localPathOf)
        local = environment_.localPathOf(path);
    std::vector<std::uint8_t> content;
    if (!local) {
        Log(u"File NOT added to ZIp: it cannot be found");
        return false;
    }
    if (FileError error = ReadWholeFile(*local, kMaxStoredFileBytes, content)) {
        Log(u"File NOT added to ZIp: " + Utf8ToUtf16(*error));
        return false;
    }
    std::int32_t record = 0;
    if (FileError error = journal_->AddStoredFile(entry, path, content, Now(), &record)) {
        Log(u"File NOT added to ZIp: " + Utf8ToUtf16(*error));
        Fail(*error);
        return false;
    }
    ++archivedFileCount_;
    Log(u"Attempting to Delete file - Added to ZIp");
    if (environment_.files.DeleteFileW(path) != ErrorSuccess) {
        Log(u"Attempting to Delete file - File NOT DELETED");
        // The copy stays in the journal; the record says that it is not to be restored.
        (void)journal_->Cancel(record, Now());
        return false;
    }
    ++deletedFileCount_;
    WriteStepTaken(WriteStep::FileDeletion);
    Log(u"Attempting to Delete file - File DELETED");
    return true;
}

bool CBackup::RunDeleteKeyTree(const COperation& operation) {
    if (!operation.HasTexts(1) || !operation.HasNumbers(1))
        return false;
    std::optional<HKey> root = RootKeyOfNumber(operation.numbers[0]);
    const std::u16string& subKey = operation.texts[0];
    // An empty path would name the whole root.
    if (!root || subKey.empty())
        return false;
    const bool view = operation.Is64BitView();
    Log(view ? u"Attempting to Backup for Set Registry Value - 64 bit"
             : u"Attempting to Backup for Set Registry Value - 32 bit");
    CRegExport* writer = ExportWriter(view);
    const bool exported = writer != nullptr && writer->ExportKey(*root, subKey, view);

    const RegSam mask = OperationMask(operation);
    RegKey key(*environment_.target.store);
    const LStatus opened = key.Open(*root, subKey, mask);
    if (opened == ErrorFileNotFound || opened == ErrorPathNotFound)
        return true;  // already gone: nothing to delete
    if (opened != ErrorSuccess)
        return false;
    key.Close();
    if (!exported) {
        Log(u"Backup FAILED - KEY NOT DELETED");
        return false;
    }
    if (DeleteKeyTree(environment_.target, *root, subKey, mask) != ErrorSuccess) {
        Log(u"KEY NOT DELETED");
        return false;
    }
    Log(u"KEY DELETED");
    return true;
}

bool CBackup::SaveUndoCopyOfValue(CRegExport& writer, HKey root, std::u16string_view subKey,
                                  std::u16string_view valueName, bool in64BitView, RegSam mask) {
    if (writer.ExportValue(root, subKey, valueName, in64BitView))
        return true;
    // A value that does not exist yet is undone by deleting it again.
    IRegistry& store = *environment_.target.store;
    RegKey key(store);
    const LStatus opened = key.Open(root, subKey, kMaskReadOnly | (mask & KeyWow64Res));
    LStatus queried = opened;
    if (opened == ErrorSuccess)
        queried = store.RegQueryValueExW(key.Handle(), valueName, nullptr, nullptr, nullptr);
    if (queried != ErrorFileNotFound && queried != ErrorPathNotFound)
        return false;
    writer.ExportValueDeletion(root, subKey, valueName);
    return true;
}

bool CBackup::RunSetValue(const COperation& operation) {
    if (!operation.HasTexts(3) || !operation.HasNumbers(2))
        return false;
    const bool view = operation.Is64BitView();
    Log(u"Attempting to Set Registry Value - 32 bit");
    Log(view ? u"Attempting to Backup for Set Registry Value - 64 bit"
             : u"Attempting to Backup for Set Registry Value - 32 bit");
    const std::int32_t valueKind = operation.numbers[0];
    std::optional<HKey> root = RootKeyOfNumber(operation.numbers[1]);
    if (!root || (valueKind == kValueDword && !operation.HasNumbers(3)))
        return false;
    const std::u16string& subKey = operation.texts[0];
    const std::u16string& valueName = operation.texts[1];
    const RegSam mask = OperationMask(operation);
    CRegExport* writer = ExportWriter(view);
    if (writer == nullptr || !SaveUndoCopyOfValue(*writer, *root, subKey, valueName, view, mask)) {
        Log(u"Backup FAILED - Value NOT Set");
        return false;
    }
    CCreatedKey key(*environment_.target.store, *root, subKey, mask);
    if (!key.IsOpen())
        return false;
    Log(u"Key Created");
    const std::int32_t dword = valueKind == kValueDword ? operation.numbers[2] : 0;
    if (WriteRecordValue(*environment_.target.store, key.Handle(), valueName, valueKind,
                         operation.texts[2], dword) != ErrorSuccess) {
        return false;
    }
    Log(u"Value Set ok!");
    return true;
}

bool CBackup::RunDeleteValue(const COperation& operation) {
    if (!operation.HasTexts(2) || !operation.HasNumbers(1))
        return false;
    const bool view = operation.Is64BitView();
    Log(u"Attempting to Delete Value");
    Log(view ? u"Attempting to backup Value to be deleted - 64 bit"
             : u"Attempting to backup Value to be deleted - 32 bit");
    std::optional<HKey> root = RootKeyOfNumber(operation.numbers[0]);
    if (!root)
        return false;
    const std::u16string& subKey = operation.texts[0];
    const std::u16string& valueName = operation.texts[1];
    CRegExport* writer = ExportWriter(view);
    // A value that cannot be exported is missing or unreadable: either way it stays.
    if (writer == nullptr || !writer->ExportValue(*root, subKey, valueName, view)) {
        Log(u"Value Deleted failed!");
        return false;
    }
    RegKey key(*environment_.target.store);
    if (key.Open(*root, subKey, OperationMask(operation)) != ErrorSuccess)
        return false;
    if (environment_.target.store->RegDeleteValueW(key.Handle(), valueName) != ErrorSuccess) {
        Log(u"Value Deleted failed!");
        return false;
    }
    Log(u"Value Deleted ok!");
    return true;
}

// --- the operations of the problem repairs ---------------------------------------------------

bool CBackup::ArchiveDeleteFile(std::u16string_view path) {
    auto operation = std::make_unique<COperation>();
    operation->kind = kOpArchiveDeleteFile;
    operation->texts = {std::u16string(path)};
    return AddOperation(std::move(operation));
}

bool CBackup::DeleteKey(std::int32_t root, std::u16string_view subKey, bool tree,
                        bool in64BitView) {
    auto operation = std::make_unique<COperation>();
    operation->kind = tree ? kOpDeleteKeyTree : kOpDeleteKey;
    operation->texts = {std::u16string(subKey)};
    operation->numbers = {root};
    operation->viewFlag = in64BitView ? 1 : 0;
    return AddOperation(std::move(operation));
}

bool CBackup::DeleteValue(std::int32_t root, std::u16string_view subKey,
                          std::u16string_view valueName, bool in64BitView) {
    auto operation = std::make_unique<COperation>();
    operation->kind = kOpDeleteValue;
    operation->texts = {std::u16string(subKey), std::u16string(valueName)};
    operation->numbers = {root};
    operation->viewFlag = in64BitView ? 1 : 0;
    return AddOperation(std::move(operation));
}

bool CBackup::SetTextValue(std::int32_t root, std::u16string_view subKey,
                           std::u16string_view valueName, std::u16string_view text,
                           bool in64BitView) {
    auto operation = std::make_unique<COperation>();
    operation->kind = kOpSetValue;
    operation->texts = {std::u16string(subKey), std::u16string(valueName), std::u16string(text)};
    operation->numbers = {kValueText, root};
    operation->viewFlag = in64BitView ? 1 : 0;
    return AddOperation(std::move(operation));
}

// --- the export texts and the end of the run ------------------------------------------------

bool CBackup::ArchiveExports() {
    if (!journal_) {
        Log(u"ZIP NOT written: the backup has no journal");
        return false;
    }
    bool allStored = true;
    const int passes = environment_.target.is64Bit ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        Log(u"Exporting Reg File");
        const CRegExport* writer = pass == 0 ? writer32_.get() : writer64_.get();
        if (writer == nullptr) {
            Log(u"ZIP NOT written: there is no export text");
            Fail("there is no export text");
            allStored = false;
            continue;
        }
        const std::string entry = EntryName(exportCount_ + 1, "reg");
        Log(u"Attempting TO ZIP Exported File");
        if (FileError error = journal_->AddExport(entry, pass == 1, writer->FileBytes(), Now())) {
            Log(u"ZIP NOT written: " + Utf8ToUtf16(*error));
            Fail(*error);
            allStored = false;
            continue;
        }
        Log(u"ZIP File OK!");
        auto record = std::make_unique<COperation>();
        record->kind = kOpDeleteKeyTree;
        record->numbers = {1};
        record->texts = {u"waste", Utf8ToUtf16(entry)};
        record->viewFlag = pass == 1 ? 1 : 0;
        operations_.push_back(std::move(record));
        ++exportCount_;
    }
    lastChangeTime_ = Now();
    return allStored;
}

bool CBackup::LoadList() {
    if (listFilePath_.empty())
        return false;
    archivePath_ = ArchivePathOfList(listFilePath_);
    std::vector<std::uint8_t> bytes;
    if (FileError error = ReadWholeFile(listFilePath_, kMaxListFileBytes, bytes)) {
        Log(u"List file NOT read: " + Utf8ToUtf16(*error));
        return false;
    }
    DecodedUndoList list = DecodeUndoList(bytes);
    if (list.headerRead) {
        description_ = list.header.description;
        archivedFileCount_ = list.header.archivedFileCount;
        exportCount_ = list.header.exportCount;
        lastChangeTime_ = list.header.lastChangeTime;
    }
    for (std::unique_ptr<COperation>& record : list.records)
        operations_.push_back(std::move(record));
    if (!list.error.empty()) {
        Log(u"List file damaged: " + listFilePath_.u16string() + u": " + Utf8ToUtf16(list.error));
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
    Log(u"Attempting to save partial backup");
    const std::filesystem::path journal = journal_->Path();
    journal_.reset();  // lets go of the file before it is completed and removed
    if (FileError error =
            CompleteFromJournal(journal, environment_.zip, environment_.replaceFile)) {
        Log(u"List file NOT written: " + Utf8ToUtf16(*error));
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
    Log(u"Archiveing partial backup Done!");
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
    Log(u"Partial backup discarded");
}

// --- undo ------------------------------------------------------------------------------------

bool CBackup::UndoAll() {
    if (environment_.target.pumpMessages)
        environment_.target.pumpMessages();
    const auto undoFailed = [this] {
        if (environment_.showMessage && environment_.text)
            environment_.showMessage(environment_.text(u"IDS_STR_UNDO_FAILED"));
        return false;
    };
    if (std::string why = CheckBeforeUndo(); !why.empty()) {
        Log(u"Undo refused: " + Utf8ToUtf16(why));
        Fail(why);
        undoRefused_ = true;
        return undoFailed();
    }
    for (std::size_t i = operations_.size(); i-- > 0;) {
        if (!UndoOperation(*operations_[i]))
            return undoFailed();
    }
    return true;
}

std::string CBackup::CheckBeforeUndo() {
    bool hasExports = false;
    for (const std::unique_ptr<COperation>& operation : operations_)
        hasExports = hasExports || operation->kind == kOpDeleteKeyTree;
    if (!OpenArchiveForReading()) {
        if (hasExports && environment_.showMessage && environment_.text)
            environment_.showMessage(environment_.text(u"IDS_UNZIP_ERR"));
        return failure_.empty() ? "the archive " + archivePath_.string() + " cannot be read"
                                : failure_;
    }
    const auto inArchive = [this](const std::u16string& name) {
        return archiveReader_->Holds(Utf16ToUtf8(name));
    };
    for (std::size_t i = 0; i < operations_.size(); ++i) {
        const COperation& operation = *operations_[i];
        const std::string where = "record " + std::to_string(i + 1);
        if (operation.kind == kOpArchiveDeleteFile && operation.HasTexts(2)) {
            if (!inArchive(operation.texts[1]))
                return where + ": the archive holds no entry " + Utf16ToUtf8(operation.texts[1]);
            if (environment_.mayChangeFile && !environment_.mayChangeFile(operation.texts[0])) {
                return where + ": " + Utf16ToUtf8(operation.texts[0]) +
                       " lies outside the files an undo may write";
            }
        } else if (operation.kind == kOpDeleteKeyTree && operation.HasTexts(2) &&
                   operation.texts[0] == u"waste") {
            if (!inArchive(operation.texts[1]))
                return where + ": the archive holds no entry " + Utf16ToUtf8(operation.texts[1]);
            if (std::string why = CheckExportEntry(Utf16ToUtf8(operation.texts[1])); !why.empty())
                return where + ": " + why;
        } else {
            return where + " is of a kind that no repair or import writes (" +
                   std::to_string(operation.kind) + ")";
        }
    }
    return {};
}

std::string CBackup::CheckExportEntry(const std::string& entryName) {
    std::vector<std::uint8_t> content;
    if (ZipError error = archiveReader_->ReadEntry(entryName, kMaxExportBytes, content))
        return *error;
    RegImportParse parsed = ParseRegFile(content);
    if (parsed.error) {
        return entryName + ", line " + std::to_string(parsed.error->line) + ": " +
               parsed.error->message;
    }
    if (std::optional<RegImportError> wrong =
            CheckRegOperations(environment_.target, parsed.operations)) {
        return entryName + ", line " + std::to_string(wrong->line) + ": " + wrong->message;
    }
    return {};
}

bool CBackup::UndoOperation(const COperation& operation) {
    if (operation.kind == kOpArchiveDeleteFile)
        return RestoreFile(operation);
    return ImportEntry(Utf16ToUtf8(operation.texts[1]), operation.Is64BitView());
}

bool CBackup::OpenArchiveForReading() {
    if (archiveReader_)
        return true;
    if (archivePath_.empty())
        return false;
    ZipError error;
    if (FileError readError = ReadWholeFile(archivePath_, kMaxArchiveBytes, archive_))
        error = readError;
    else
        error = environment_.zip.OpenArchive(archive_, archiveReader_);
    if (error) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(*error));
        Fail(*error);
        return false;
    }
    return true;
}

bool CBackup::CreateFolderOf(std::u16string_view path) {
    IFileSystem& files = environment_.files;
    const std::u16string_view folder = FolderPart(path);
    if (folder.empty())
        return false;
    for (std::size_t end = folder.find(u'\\');; end = folder.find(u'\\', end + 1)) {
        const std::u16string_view level = folder.substr(0, end);
        // The drive ("C:") and the empty start of a network path are not created.
        if (!level.empty() && level.back() != u':' &&
            files.GetFileAttributesW(level) == InvalidFileAttributes) {
            files.CreateDirectoryW(level);
        }
        if (end == std::u16string_view::npos)
            break;
    }
    const std::uint32_t attributes = files.GetFileAttributesW(folder);
    return attributes != InvalidFileAttributes && (attributes & FileAttributeDirectory) != 0;
}

bool CBackup::RestoreFile(const COperation& operation) {
    const std::u16string& path = operation.texts[0];
    std::vector<std::uint8_t> content;
    if (ZipError error = archiveReader_->ReadEntry(Utf16ToUtf8(operation.texts[1]),
                                                   kMaxStoredFileBytes, content)) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(*error));
        Fail(*error);
        return false;
    }
    if (!CreateFolderOf(path) || !environment_.localPathOf) {
        Fail("cannot make the folder of " + Utf16ToUtf8(path));
        return false;
    }
    std::optional<std::filesystem::path> local = environment_.localPathOf(path);
    if (!local) {
        std::optional<std::filesystem::path> folder = environment_.localPathOf(FolderPart(path));
        if (!folder) {
            Fail("cannot find the folder of " + Utf16ToUtf8(path));
            return false;
        }
        local = *folder / std::filesystem::path(std::u16string(FileNamePart(path)));
    }
    if (FileError error = environment_.replaceFile(*local, content)) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(*error));
        Fail(*error);
        return false;
    }
    return true;
}

bool CBackup::ImportEntry(const std::string& entryName, bool in64BitView) {
    std::vector<std::uint8_t> content;
    if (ZipError error = archiveReader_->ReadEntry(entryName, kMaxExportBytes, content)) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(*error));
        Fail(*error);
        return false;
    }
    // The text was checked before anything was undone.
    RegImportParse parsed = ParseRegFile(content);
    // Each block holds what one change found before it changed anything. Applied newest
    // first, a value that two changes touched ends as the first one found it: in file order
    // the second change's copy would win and the undo would stop half-way back.
    std::reverse(parsed.operations.begin(), parsed.operations.end());
    if (std::optional<std::string> failure =
            ApplyRegOperations(environment_.target, in64BitView, parsed.operations)) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(entryName) + u", " + Utf8ToUtf16(*failure));
        Fail(entryName + ", " + *failure);
        return false;
    }
    return true;
}

// --- a repair run's partial backup -----------------------------------------------------------

std::unique_ptr<CBackup> BeginPartialBackup(const BackupEnvironment& environment,
                                            std::u16string_view appTitle) {
    if (environment.log)
        environment.log(u"Initializing Backup");
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
