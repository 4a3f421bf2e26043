#include "repair/operation_runner.h"

#include <cstdio>
#include <vector>

#include "core/bytes.h"
#include "core/text_encoding.h"
#include "platform/write_faults.h"
#include "repair/undo_list_file.h"

namespace quillary {
namespace {

// Masks of the operations: read-write, and on a 64-bit system the entry's view.
constexpr RegSam kMaskWrite64 = 0x2011F;
constexpr RegSam kMaskWrite32 = 0x2021F;

std::string FileEntryName(std::int32_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "%.8d.fil", static_cast<int>(number));
    return name;
}

// Writes a value of the kinds a set-value record writes: text (with its terminating NUL),
// DWORD, expandable text. Binary values are never set from a record.
LStatus WriteRecordValue(IRegistry& store, HKey key, const RecordValue& value) {
    switch (value.kind) {
        case RecordValueKind::Text:
        case RecordValueKind::ExpandText: {
            std::vector<std::uint8_t> bytes = ToUtf16LeBytes(value.text, true);
            return store.RegSetValueExW(key, value.name,
                                        value.kind == RecordValueKind::Text ? RegSz : RegExpandSz,
                                        bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        }
        case RecordValueKind::Dword: {
            const std::vector<std::uint8_t> bytes = LittleEndianBytes(value.dword, 4);
            return store.RegSetValueExW(key, value.name, RegDword, bytes.data(), 4);
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

void COperationRunner::BeginExports() {
    writer32_ = std::make_unique<CRegExport>(environment_.target);
    if (environment_.target.is64Bit)
        writer64_ = std::make_unique<CRegExport>(environment_.target);
    environment_.Log(u"Allocate Mem For Export");
}

CRegExport* COperationRunner::ExportWriter(RegistryView view) {
    return IsSixtyFourBit(view) && environment_.target.is64Bit ? writer64_.get() : writer32_.get();
}

void COperationRunner::FreeExports() {
    writer32_.reset();
    writer64_.reset();
}

RegSam COperationRunner::MaskOf(RegistryView view) const {
    if (!environment_.target.is64Bit)
        return kMaskReadWrite;
    return IsSixtyFourBit(view) ? kMaskWrite64 : kMaskWrite32;
}

bool COperationRunner::Run(COperation& operation, CBackupJournal& journal,
                           std::string* journalFailure) {
    environment_.Log(u"Attempting to Run Operation");
    if (environment_.target.pumpMessages)
        environment_.target.pumpMessages();
    if (auto* file = std::get_if<ArchiveDeleteFileRecord>(&operation))
        return ArchiveDeleteFile(*file, journal, journalFailure);
    if (const auto* key = std::get_if<DeleteKeyRecord>(&operation))
        return DeleteKeyTree(*key);
    if (const auto* set = std::get_if<SetValueRecord>(&operation))
        return SetValue(*set);
    if (const auto* deletion = std::get_if<DeleteValueRecord>(&operation))
        return DeleteValue(*deletion);
    // No repair copies, moves or creates, and an export text's record is the backup's own:
    // an undo could not trust such a record.
    return false;
}

bool COperationRunner::ArchiveDeleteFile(ArchiveDeleteFileRecord& record, CBackupJournal& journal,
                                         std::string* journalFailure) {
    const std::string entry = FileEntryName(storedFileCount_ + 1);
    record.entryName = Utf8ToUtf16(entry);
    const std::u16string& path = record.path;

    if (environment_.mayChangeFile && !environment_.mayChangeFile(path)) {
        environment_.Log(u"File NOT deleted: it lies outside the files a repair may change");
        return false;
    }
    std::optional<std::filesystem::path> local;
    if (environment_.localPathOf)
        local = environment_.localPathOf(path);
    if (!local) {
        environment_.Log(u"File NOT added to ZIp: it cannot be found");
        return false;
    }
    std::vector<std::uint8_t> content;
    if (FileError error =
            environment_.fileIo.ReadWholeFile(*local, kMaxArchivedFileBytes, content)) {
        environment_.Log(u"File NOT added to ZIp: " + Utf8ToUtf16(*error));
        return false;
    }
    std::int32_t stored = 0;
    if (FileError error =
            journal.AddStoredFile(entry, path, content, environment_.Now(), &stored)) {
        environment_.Log(u"File NOT added to ZIp: " + Utf8ToUtf16(*error));
        *journalFailure = *error;
        return false;
    }
    ++storedFileCount_;
    environment_.Log(u"Attempting to Delete file - Added to ZIp");
    if (environment_.files.DeleteFileW(path) != ErrorSuccess) {
        environment_.Log(u"Attempting to Delete file - File NOT DELETED");
        // The copy stays in the journal; the record says that it is not to be restored.
        (void)journal.Cancel(stored, environment_.Now());
        return false;
    }
    ++deletedFileCount_;
    WriteStepTaken(WriteStep::FileDeletion);
    environment_.Log(u"Attempting to Delete file - File DELETED");
    return true;
}

bool COperationRunner::DeleteKeyTree(const DeleteKeyRecord& record) {
    // An empty path would name the whole root.
    if (!IsRecordRoot(record.root) || record.subKey.empty())
        return false;
    const bool in64BitView = IsSixtyFourBit(record.view);
    environment_.Log(in64BitView ? u"Attempting to Backup for Set Registry Value - 64 bit"
                                 : u"Attempting to Backup for Set Registry Value - 32 bit");
    CRegExport* writer = ExportWriter(record.view);
    const bool exported =
        writer != nullptr && writer->ExportKey(record.root, record.subKey, in64BitView);

    const RegSam mask = MaskOf(record.view);
    RegKey key(*environment_.target.store);
    const LStatus opened = key.Open(record.root, record.subKey, mask);
    if (opened == ErrorFileNotFound || opened == ErrorPathNotFound)
        return true;  // already gone: nothing to delete
    if (opened != ErrorSuccess)
        return false;
    key.Close();
    if (!exported) {
        environment_.Log(u"Backup FAILED - KEY NOT DELETED");
        return false;
    }
    if (quillary::DeleteKeyTree(environment_.target, record.root, record.subKey, mask) !=
        ErrorSuccess) {
        environment_.Log(u"KEY NOT DELETED");
        return false;
    }
    environment_.Log(u"KEY DELETED");
    return true;
}

bool COperationRunner::SaveUndoCopyOfValue(CRegExport& writer, HKey root,
                                           std::u16string_view subKey,
                                           std::u16string_view valueName, RegistryView view) {
    if (writer.ExportValue(root, subKey, valueName, IsSixtyFourBit(view)))
        return true;
    // A value that does not exist yet is undone by deleting it again, and a key that does not
    // exist yet by deleting the first key that setting the value creates.
    IRegistry& store = *environment_.target.store;
    RegKey key(store);
    const LStatus opened = key.Open(root, subKey, kMaskReadOnly | (MaskOf(view) & KeyWow64Res));
    if (opened == ErrorFileNotFound || opened == ErrorPathNotFound) {
        writer.ExportKeyDeletion(root, FirstMissingKey(store, root, subKey, MaskOf(view)));
        return true;
    }
    LStatus queried = opened;
    if (opened == ErrorSuccess)
        queried = store.RegQueryValueExW(key.Handle(), valueName, nullptr, nullptr, nullptr);
    if (queried != ErrorFileNotFound && queried != ErrorPathNotFound)
        return false;
    writer.ExportValueDeletion(root, subKey, valueName);
    return true;
}

bool COperationRunner::SetValue(const SetValueRecord& record) {
    environment_.Log(u"Attempting to Set Registry Value - 32 bit");
    environment_.Log(IsSixtyFourBit(record.view)
                         ? u"Attempting to Backup for Set Registry Value - 64 bit"
                         : u"Attempting to Backup for Set Registry Value - 32 bit");
    if (!IsRecordRoot(record.root))
        return false;
    CRegExport* writer = ExportWriter(record.view);
    if (writer == nullptr ||
        !SaveUndoCopyOfValue(*writer, record.root, record.subKey, record.value.name, record.view)) {
        environment_.Log(u"Backup FAILED - Value NOT Set");
        return false;
    }
    CCreatedKey key(*environment_.target.store, record.root, record.subKey, MaskOf(record.view));
    if (!key.IsOpen())
        return false;
    environment_.Log(u"Key Created");
    if (WriteRecordValue(*environment_.target.store, key.Handle(), record.value) != ErrorSuccess)
        return false;
    environment_.Log(u"Value Set ok!");
    return true;
}

bool COperationRunner::DeleteValue(const DeleteValueRecord& record) {
    const bool in64BitView = IsSixtyFourBit(record.view);
    environment_.Log(u"Attempting to Delete Value");
    environment_.Log(in64BitView ? u"Attempting to backup Value to be deleted - 64 bit"
                                 : u"Attempting to backup Value to be deleted - 32 bit");
    if (!IsRecordRoot(record.root))
        return false;
    CRegExport* writer = ExportWriter(record.view);
    // A value that cannot be exported is missing or unreadable: either way it stays.
    if (writer == nullptr ||
        !writer->ExportValue(record.root, record.subKey, record.valueName, in64BitView)) {
        environment_.Log(u"Value Deleted failed!");
        return false;
    }
    RegKey key(*environment_.target.store);
    if (key.Open(record.root, record.subKey, MaskOf(record.view)) != ErrorSuccess)
        return false;
    if (environment_.target.store->RegDeleteValueW(key.Handle(), record.valueName) !=
        ErrorSuccess) {
        environment_.Log(u"Value Deleted failed!");
        return false;
    }
    environment_.Log(u"Value Deleted ok!");
    return true;
}

}  // namespace quillary
