#include "repair/backup.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "core/text.h"
#include "repair/local_time_text.h"
#include "repair/reg_import.h"
#include "repair/undo_folder.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

// The largest file a repair deletes that the archive takes; a larger one is left in place.
constexpr std::size_t kMaxStoredFileBytes = 512u * 1024 * 1024;
constexpr std::size_t kMaxArchiveBytes = std::size_t{4} * 1024 * 1024 * 1024;
constexpr std::size_t kMaxListFileBytes = 256u * 1024 * 1024;
constexpr std::size_t kMaxExportBytes = 1024u * 1024 * 1024;

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

// Writes a value of one of the record value kinds: text (with its terminating NUL), DWORD,
// binary, expandable text. Binary is refused unless allowed (only an undo writes it).
LStatus WriteRecordValue(IRegistry& store, HKey key, std::u16string_view name,
                         std::int32_t valueKind, std::u16string_view text, std::int32_t dword,
                         std::span<const std::uint8_t> data, bool allowBinary) {
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
        case kValueBinary:
            if (allowBinary) {
                return store.RegSetValueExW(key, name, RegBinary, data.data(),
                                            static_cast<std::uint32_t>(data.size()));
            }
            return ErrorInvalidParameter;
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
    if (environment_.dataFolder.empty())
        return;  // no data folder: nothing can be stored, and every change is refused
    folder_ = UndoFolderOf(environment_.dataFolder);
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
}

CBackup::~CBackup() {
    (void)Close();
}

void CBackup::Log(std::u16string_view line) const {
    if (environment_.log)
        environment_.log(line);
}

void CBackup::Touch() {
    lastChangeTime_ = std::chrono::duration_cast<std::chrono::seconds>(
                          environment_.clock.Now().time_since_epoch())
                          .count();
}

void CBackup::BeginExports() {
    writer32_ = std::make_unique<CRegExport>(environment_.target);
    if (environment_.target.is64Bit)
        writer64_ = std::make_unique<CRegExport>(environment_.target);
    Touch();
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
    // A backup of the undo list only reads its files; changing anything through it could
    // overwrite its archive.
    if (!repairUse_ || !RunOperation(*operation)) {
        Log(u"Add operation FAILED");
        return false;
    }
    const std::int32_t kind = operation->kind;
    if (kind == kOpDeleteKey || kind == kOpDeleteKeyTree || kind == kOpSetValue ||
        kind == kOpDeleteValue) {
        Log(u"operation Not added for key delete or value delete");
        return true;
    }
    operations_.push_back(std::move(operation));
    Touch();
    Log(u"Add operation Done");
    return true;
}

bool CBackup::RunOperation(COperation& operation) {
    Log(u"Attempting to Run Operation");
    if (environment_.target.pumpMessages)
        environment_.target.pumpMessages();
    IFileSystem& files = environment_.files;
    switch (operation.kind) {
        case kOpCopyFile:
            return operation.HasTexts(2) && operation.HasNumbers(1) &&
                   files.CopyFileW(operation.texts[0], operation.texts[1],
                                   operation.numbers[0] == 0) == ErrorSuccess;
        case kOpMoveFile:
            return operation.HasTexts(2) &&
                   files.MoveFileW(operation.texts[0], operation.texts[1]) == ErrorSuccess;
        case kOpArchiveDeleteFile:
            return RunArchiveDeleteFile(operation);
        case kOpCreateKey:
            return RunCreateKey(operation);
        case kOpDeleteKey:
        case kOpDeleteKeyTree:
            return RunDeleteKeyTree(operation);
        case kOpCreateKeyAndValue:
            return RunCreateKeyAndValue(operation);
        case kOpSetValue:
            return RunSetValue(operation);
        case kOpDeleteValue:
            return RunDeleteValue(operation);
        default:
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

    bool added = false;
    std::optional<std::filesystem::path> local;
    if (environment_.localPathOf)
        local = environment_.localPathOf(path);
    std::vector<std::uint8_t> content;
    if (!local) {
        Log(u"File NOT added to ZIp: it cannot be found");
    } else if (FileError error = ReadWholeFile(*local, kMaxStoredFileBytes, content)) {
        Log(u"File NOT added to ZIp: " + Utf8ToUtf16(*error));
    } else {
        added = StoreInArchive(entry, content);
    }
    Log(u"Attempting to Delete file - Added to ZIp");
    if (!added)
        return false;
    ++archivedFileCount_;
    if (environment_.files.DeleteFileW(path) != ErrorSuccess) {
        Log(u"Attempting to Delete file - File NOT DELETED");
        return false;
    }
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
                         operation.texts[2], dword, {}, false) != ErrorSuccess) {
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

bool CBackup::RunCreateKey(const COperation& operation) {
    if (!operation.HasTexts(1) || !operation.HasNumbers(1))
        return false;
    Log(u"Attempting to create key");
    std::optional<HKey> root = RootKeyOfNumber(operation.numbers[0]);
    if (!root)
        return false;
    CCreatedKey key(*environment_.target.store, *root, operation.texts[0],
                    OperationMask(operation));
    if (!key.IsOpen())
        return false;
    Log(u"create key OK!");
    return true;
}

bool CBackup::RunCreateKeyAndValue(const COperation& operation) {
    if (!operation.HasTexts(3) || !operation.HasNumbers(3))
        return false;
    Log(u"Attempting to Create key and create Value");
    std::optional<HKey> root = RootKeyOfNumber(operation.numbers[1]);
    if (!root)
        return false;
    CCreatedKey key(*environment_.target.store, *root, operation.texts[0],
                    OperationMask(operation));
    if (!key.IsOpen())
        return false;
    if (WriteRecordValue(*environment_.target.store, key.Handle(), operation.texts[1],
                         operation.numbers[0], operation.texts[2], operation.numbers[2], {},
                         false) != ErrorSuccess) {
        Log(u"Create key and create Value FAILED");
        return false;
    }
    Log(u"Create key and create Value done");
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

// --- the archive and the list file -----------------------------------------------------------

void CBackup::ChooseArchivePath() {
    if (archivePath_.empty() && !folder_.empty()) {
        archivePath_ = UndoBasePath(folder_, NextUndoNumber(folder_));
        archivePath_ += ".rxb";
    }
}

bool CBackup::StoreInArchive(const std::string& entryName, std::span<const std::uint8_t> content) {
    if (archiveState_ == ArchiveState::Closed) {
        // A new archive replaces any file of its name once its first entry is written.
        ChooseArchivePath();
        archive_.clear();
        archiveState_ = ArchiveState::Writing;
    }
    if (archivePath_.empty()) {
        Log(u"ZIP NOT written: there is no data folder");
        return false;
    }
    std::vector<std::uint8_t> updated = archive_;
    if (ZipError error =
            environment_.zip.AddEntry(updated, entryName, content, environment_.clock.Now())) {
        Log(u"ZIP NOT written: " + Utf8ToUtf16(*error));
        return false;
    }
    if (FileError error = environment_.replaceFile(archivePath_, updated)) {
        Log(u"ZIP NOT written: " + Utf8ToUtf16(*error));
        return false;
    }
    archive_ = std::move(updated);
    return true;
}

bool CBackup::ArchiveExports() {
    if (folder_.empty()) {
        Log(u"ZIP NOT written: there is no data folder");
        return false;
    }
    bool allStored = true;
    const int passes = environment_.target.is64Bit ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        auto record = std::make_unique<COperation>();
        record->kind = kOpDeleteKeyTree;
        record->numbers = {1};
        record->texts = {u"waste"};
        record->viewFlag = pass == 1 ? 1 : 0;
        Log(u"Exporting Reg File");

        const std::filesystem::path temporary = folder_ / "temp__reg.reg";
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        FileError saved = "there is no export text";
        if (pass == 0) {
            Log(u"Attempting Exporting for 32 bit reg file");
            if (writer32_)
                saved = writer32_->SaveToFile(temporary);
        } else if (writer64_) {
            Log(u"Attempting Exporting for 64 bit reg file");
            saved = writer64_->SaveToFile(temporary);
        }
        const std::string entry = EntryName(exportCount_ + 1, "reg");
        record->texts.push_back(Utf8ToUtf16(entry));
        Log(u"Attempting TO ZIP Exported File");

        std::vector<std::uint8_t> text;
        if (!saved)
            saved = ReadWholeFile(temporary, kMaxExportBytes, text);
        if (saved) {
            Log(u"ZIP NOT written: " + Utf8ToUtf16(*saved));
            allStored = false;
            continue;
        }
        if (!StoreInArchive(entry, text)) {
            // The changes are made: their only copy must not be lost with the archive.
            std::filesystem::path kept = archivePath_;
            kept.replace_extension();
            kept += pass == 0 ? "-32bit.reg" : "-64bit.reg";
            std::filesystem::rename(temporary, kept, ignored);
            Log(u"Export kept as " + kept.u16string());
            allStored = false;
            continue;
        }
        Log(u"ZIP File OK!");
        std::filesystem::remove(temporary, ignored);
        operations_.push_back(std::move(record));
        Log(u"Temp File Deleted, operation added");
        ++exportCount_;
    }
    Touch();
    return allStored;
}

bool CBackup::SaveList() {
    Log(u"Attempting to save partial backup");
    const std::u16string restorePoint =
        FormatLocalTime("%a. %B %d, %Y. %I:%M %p ", environment_.clock.Now()) +
        (environment_.text ? environment_.text(u"IDS_STR_PARTIAL_BACKUP") : std::u16string());
    ChooseArchivePath();
    if (listFilePath_.empty() && !archivePath_.empty())
        listFilePath_ = ListPathOfArchive(archivePath_);
    Log(u"Archiveing partial backup started");
    if (listFilePath_.empty()) {
        Log(u"List file NOT written: there is no data folder");
        return false;
    }
    const std::vector<std::uint8_t> bytes = EncodeUndoList(
        {description_, archivedFileCount_, exportCount_, lastChangeTime_}, operations_);
    if (FileError error = environment_.replaceFile(listFilePath_, bytes)) {
        Log(u"List file NOT written: " + Utf8ToUtf16(*error));
        return false;
    }
    // Only a list that was written is a point the user can go back to.
    environment_.settings.StrLatestRestorePoint = restorePoint;
    Log(u"Archiveing partial backup Done!");
    return true;
}

bool CBackup::LoadList() {
    if (listFilePath_.empty())
        return false;
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
    // The archive on disk is already whole: it was rewritten with every entry.
    archive_.clear();
    archiveState_ = ArchiveState::Closed;
    return operations_.empty() || SaveList();
}

// --- undo ------------------------------------------------------------------------------------

bool CBackup::UndoAll() {
    if (environment_.target.pumpMessages)
        environment_.target.pumpMessages();
    for (std::size_t i = operations_.size(); i-- > 0;) {
        if (!UndoOperation(*operations_[i])) {
            if (environment_.showMessage && environment_.text)
                environment_.showMessage(environment_.text(u"IDS_STR_UNDO_FAILED"));
            return false;
        }
    }
    if (archiveState_ == ArchiveState::Reading) {
        archive_.clear();
        archiveState_ = ArchiveState::Closed;
    }
    return true;
}

bool CBackup::UndoOperation(const COperation& operation) {
    IRegistry& store = *environment_.target.store;
    IFileSystem& files = environment_.files;
    const RegSam mask = OperationMask(operation);
    switch (operation.kind) {
        case kOpCopyFile:
            return operation.HasTexts(2) && files.DeleteFileW(operation.texts[1]) == ErrorSuccess;
        case kOpMoveFile:
            return operation.HasTexts(2) && CreateFolderOf(operation.texts[0]) &&
                   files.MoveFileW(operation.texts[1], operation.texts[0]) == ErrorSuccess;
        case kOpArchiveDeleteFile:
        case kOpDeleteKey:
        case kOpDeleteKeyTree:
        case kOpSetValue:
            return UndoFromArchive(operation);
        case kOpCreateKey: {
            if (!operation.HasTexts(1) || !operation.HasNumbers(1))
                return false;
            std::optional<HKey> root = RootKeyOfNumber(operation.numbers[0]);
            RegKey key(store);
            return root && !operation.texts[0].empty() &&
                   key.Open(*root, operation.texts[0], mask) == ErrorSuccess &&
                   key.DeleteSelf() == ErrorSuccess;
        }
        case kOpCreateKeyAndValue: {
            if (!operation.HasTexts(2) || !operation.HasNumbers(2))
                return false;
            std::optional<HKey> root = RootKeyOfNumber(operation.numbers[1]);
            RegKey key(store);
            return root && key.Open(*root, operation.texts[0], mask) == ErrorSuccess &&
                   store.RegDeleteValueW(key.Handle(), operation.texts[1]) == ErrorSuccess;
        }
        case kOpDeleteValue:
            return UndoDeleteValue(operation);
        default:
            return false;
    }
}

bool CBackup::UndoDeleteValue(const COperation& operation) {
    if (!operation.HasTexts(2) || !operation.HasNumbers(2))
        return false;
    const std::int32_t valueKind = operation.numbers[1];
    const bool isText = valueKind == kValueText || valueKind == kValueExpandText;
    if ((isText && !operation.HasTexts(3)) ||
        (valueKind == kValueDword && !operation.HasNumbers(3)))
        return false;
    std::optional<HKey> root = RootKeyOfNumber(operation.numbers[0]);
    if (!root)
        return false;
    CCreatedKey key(*environment_.target.store, *root, operation.texts[0],
                    OperationMask(operation));
    return key.IsOpen() &&
           WriteRecordValue(*environment_.target.store, key.Handle(), operation.texts[1], valueKind,
                            isText ? operation.texts[2] : std::u16string(),
                            valueKind == kValueDword ? operation.numbers[2] : 0, operation.data,
                            true) == ErrorSuccess;
}

bool CBackup::OpenArchiveForReading() {
    // While it is being written the archive in memory is the one on disk.
    if (archiveState_ != ArchiveState::Closed)
        return true;
    if (listFilePath_.empty())
        return false;
    if (archivePath_.empty())
        archivePath_ = ArchivePathOfList(listFilePath_);
    std::vector<std::string> names;
    ZipError error;
    if (FileError readError = ReadWholeFile(archivePath_, kMaxArchiveBytes, archive_))
        error = readError;
    else
        error = environment_.zip.ListEntries(archive_, names);
    if (error) {
        archive_.clear();
        Log(u"Undo FAILED: " + Utf8ToUtf16(*error));
        return false;
    }
    archiveState_ = ArchiveState::Reading;
    return true;
}

bool CBackup::UndoFromArchive(const COperation& operation) {
    const bool isFile = operation.kind == kOpArchiveDeleteFile;
    std::size_t entryText = 1;
    if (operation.kind == kOpSetValue) {
        if (!operation.HasNumbers(1))
            return false;
        const std::int32_t valueKind = operation.numbers[0];
        if (valueKind == kValueText || valueKind == kValueExpandText)
            entryText = 3;
        else if (valueKind == kValueDword)
            entryText = 2;
        else
            return false;
    }
    if (!operation.HasTexts(entryText + 1))
        return false;
    if (!OpenArchiveForReading()) {
        if (!isFile && environment_.showMessage && environment_.text)
            environment_.showMessage(environment_.text(u"IDS_UNZIP_ERR"));
        return false;
    }
    const std::string entry = Utf16ToUtf8(operation.texts[entryText]);
    if (isFile)
        return RestoreFile(operation);
    return ImportEntry(entry, operation.Is64BitView());
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
    if (ZipError error = environment_.zip.ReadEntry(archive_, Utf16ToUtf8(operation.texts[1]),
                                                    kMaxStoredFileBytes, content)) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(*error));
        return false;
    }
    if (!CreateFolderOf(path) || !environment_.localPathOf)
        return false;
    std::optional<std::filesystem::path> local = environment_.localPathOf(path);
    if (!local) {
        std::optional<std::filesystem::path> folder = environment_.localPathOf(FolderPart(path));
        if (!folder)
            return false;
        local = *folder / std::filesystem::path(std::u16string(FileNamePart(path)));
    }
    if (FileError error = environment_.replaceFile(*local, content)) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(*error));
        return false;
    }
    return true;
}

bool CBackup::ImportEntry(const std::string& entryName, bool in64BitView) {
    std::vector<std::uint8_t> content;
    if (ZipError error =
            environment_.zip.ReadEntry(archive_, entryName, kMaxExportBytes, content)) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(*error));
        return false;
    }
    RegImportParse parsed = ParseRegFile(content);
    if (parsed.error) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(entryName) + u", line " +
            Utf8ToUtf16(std::to_string(parsed.error->line)) + u": " +
            Utf8ToUtf16(parsed.error->message));
        return false;
    }
    // Each block holds what one change found before it changed anything. Applied newest
    // first, a value that two changes touched ends as the first one found it: in file order
    // the second change's copy would win and the undo would stop half-way back.
    std::reverse(parsed.operations.begin(), parsed.operations.end());
    if (std::optional<std::string> failure =
            ApplyRegOperations(environment_.target, in64BitView, parsed.operations)) {
        Log(u"Undo FAILED: " + Utf8ToUtf16(entryName) + u", " + Utf8ToUtf16(*failure));
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
