#include "categories/shortcuts.h"

#include "categories/file_info_array.h"
#include "categories/pump_messages.h"
#include "categories/start_entries.h"
#include "core/shell_path.h"
#include "core/text_case.h"

namespace quillary {

CShortcuts::CShortcuts(ScanEnvironment& environment, IShellLinkReader& links)
    : CCategory(environment), links_(links) {}

void CShortcuts::PrepareFolders() {
    struct Lookup {
        std::u16string* field;
        int csidl;
    };
    const std::array<Lookup, 5> lookups = {{{&desktop_, CsidlDesktop},
                                            {&localAppData_, CsidlLocalAppData},
                                            {&appData_, CsidlAppData},
                                            {&recent_, CsidlRecent},
                                            {&commonDesktop_, CsidlCommonDesktopDirectory}}};
    std::array<std::u16string, 5> looked;
    for (std::size_t index = 0; index < lookups.size(); ++index) {
        std::u16string& field = *lookups[index].field;
        field.clear();
        if (std::optional<std::u16string> path =
                environment_.files.GetSpecialFolderPath(lookups[index].csidl)) {
            field = *path;
            if (!field.empty() && field.back() != u'\\')
                field += u'\\';
        }
        field = ToLower(field);
        looked[index] = field;
    }
    // A folder that holds another is left out: the other is searched, and the shortcuts of
    // the outer folder outside it belong to other categories (the Start menu's programs).
    const std::array<std::u16string*, 5> fields = {&desktop_, &commonDesktop_, &appData_,
                                                   &localAppData_, &recent_};
    for (const std::u16string& text : looked) {
        for (std::u16string* field : fields) {
            if (text.starts_with(*field) && text != *field)
                field->clear();
        }
    }
    // Two lookups that give the same folder (a desktop redirected to the all-users one) would
    // report every shortcut in it twice; the folder is searched once.
    for (std::size_t index = 0; index < fields.size(); ++index) {
        for (std::size_t earlier = 0; earlier < index; ++earlier) {
            if (!fields[index]->empty() && *fields[index] == *fields[earlier])
                fields[index]->clear();
        }
    }
}

bool CShortcuts::IsJudgedTarget(IFileSystem& files, std::u16string_view target) {
    // The scheme and the installer's folder are matched without regard to case: Windows
    // writes "C:\Windows\Installer\{...}", and a missed match would report a shortcut that
    // the installer repairs on its own.
    if (target.empty())
        return false;
    if (StartsWithNoCase(target, u"hcp:"))
        return false;
    if (PathIsNetworkPathW(files, target))
        return false;
    if (target.front() == u'{' && target.back() == u'}')
        return false;
    return FindNoCase(target, u"installer\\{") == std::u16string_view::npos;
}

int CShortcuts::Scan() {
    PrepareFolders();
    CFileInfoArray found(environment_.files);
    int total = 0;
    for (const std::u16string* folder :
         {&localAppData_, &appData_, &recent_, &desktop_, &commonDesktop_}) {
        if (!folder->empty())
            total += found.AddFolderFiles(*folder, u"*.lnk");
    }
    progressTotal_ = total;
    progressCount_ = 0;

    const FileReferenceOptions options = StartEntryReferenceOptions();
    for (const CFileInfo& file : found.Files()) {
        if (IsStopRequested())
            return kScanStopped;
        PumpMessages(environment_.target);
        if (file.path.size() > kMaxShortcutPath)
            continue;
        std::u16string target = links_.GetPath(file.path);
        ShowStatus(u"Shortcut: " + file.path);
        if (!target.empty() && IsJudgedTarget(environment_.files, target) &&
            !environment_.references.FileReferenceIsValid(SystemDirectory(), target, options) &&
            !environment_.references.IsDirectory(target)) {
            int index = AddProblem(false, kEntryType, u"", u"", u"", u"");
            AddDetailLine(index, ShortcutLabel(file.path));
            AddDetailLine(index, file.path);
            AddDetailLine(index, target);
        }
        StepProgress();
    }
    FinishProgress();
    SortProblems();
    return IsStopRequested() ? kScanStopped : kScanDone;
}

}  // namespace quillary
