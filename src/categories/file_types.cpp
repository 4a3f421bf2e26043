#include "categories/file_types.h"

#include "categories/pump_messages.h"
#include "categories/value_reading.h"
#include "core/text_case.h"

namespace quillary {
namespace {

constexpr std::u16string_view kClassesRoot = u"HKEY_CLASSES_ROOT\\";

// Found by the empty-key search.
constexpr std::int32_t kEmptyKeySearchEntry = 1;
constexpr std::int32_t kMissingProgramIdentifier = 15;
constexpr std::int32_t kEmptyKey = 16;
constexpr std::int32_t kMissingIconFile = 17;
constexpr std::int32_t kEmptyIcon = 18;
constexpr std::int32_t kUnregisteredClass = 19;
constexpr std::int32_t kUnreadableHandler = 20;
constexpr std::int32_t kBrokenCommand = 21;
constexpr std::int32_t kVerbWithoutCommand = 22;

// A verb's label: "open" reads "Open".
std::u16string Capitalized(std::u16string_view verb) {
    std::u16string label(verb);
    if (!label.empty())
        label.front() = ToUpperChar(label.front());
    return label;
}

std::u16string ClassKeyText(std::u16string_view clsid) {
    return std::u16string(kClassesRoot) + u"CLSID\\" + std::u16string(clsid);
}

// A command that starts the file it is given ("%1") names no program that can be gone.
bool StartsTheFileItself(std::u16string_view program) {
    return program.starts_with(u"%1");
}

// The walk of a 32-bit system, which has a single view.
constexpr CFileTypes::Pass kNativePass{
    .view = 0,
    .is32BitEntry = false,
    .is64BitView = false,
    .looksInBothViews = false,
    .examinesEmptyParts = true,
    .leavesOutTwins = false,
};

constexpr CFileTypes::Pass k64BitPass{
    .view = KeyWow64_64Key,
    .is32BitEntry = false,
    .is64BitView = true,
    .looksInBothViews = true,
    .examinesEmptyParts = false,
    .leavesOutTwins = false,
};

// Where the system shares its classes between the views, this pass meets the 64-bit pass's
// keys again.
constexpr CFileTypes::Pass k32BitPass{
    .view = KeyWow64_32Key,
    .is32BitEntry = true,
    .is64BitView = false,
    .looksInBothViews = true,
    .examinesEmptyParts = false,
    .leavesOutTwins = true,
};

// An extension's problems are labelled as a file type: ".txt" reads ".TXT file (*.txt)".
std::u16string FileTypeLabel(std::u16string_view extension) {
    return ToUpper(extension) + u" file (*" + std::u16string(extension) + u")";
}

}  // namespace

int CFileTypes::Scan() {
    const int result = ScanInViewPasses([this](ViewPass pass) {
        return RunPass(pass == ViewPass::View64   ? k64BitPass
                       : pass == ViewPass::View32 ? k32BitPass
                                                  : kNativePass);
    });
    classesRootNames_.clear();
    return result;
}

int CFileTypes::CountItems() {
    // The walk that follows a count lists the same keys.
    classesRootNames_.clear();
    if (!environment_.target.is64Bit)
        return static_cast<int>(ClassesRootNames(0).size());
    return static_cast<int>(ClassesRootNames(KeyWow64_64Key).size() +
                            ClassesRootNames(KeyWow64_32Key).size());
}

const std::vector<std::u16string>& CFileTypes::ClassesRootNames(RegSam view) {
    const auto known = classesRootNames_.find(view);
    if (known != classesRootNames_.end())
        return known->second;
    std::vector<std::u16string>& names = classesRootNames_[view];
    const CClassesKey classesRoot(*environment_.target.store, view, u"");
    if (classesRoot.IsOpen())
        ListSubkeyNames(environment_.target, classesRoot.Handle(), names);
    return names;
}

int CFileTypes::RunPass(const Pass& pass) {
    IRegistry& store = *environment_.target.store;
    ownClasses_.emplace(store, pass.view, u"CLSID");
    if (pass.looksInBothViews) {
        const RegSam otherView = pass.view == KeyWow64_32Key ? KeyWow64_64Key : KeyWow64_32Key;
        otherClasses_.emplace(store, otherView, u"CLSID");
    }

    int result = kScanDone;
    const CClassesKey classesRoot(store, pass.view, u"");
    for (const std::u16string& name : ClassesRootNames(pass.view)) {
        PumpMessages(environment_.target);
        if (IsStopRequested()) {
            result = kScanStopped;
            break;
        }
        Owner owner{name, CClassesKey(classesRoot, name), {}};
        owner.defaultValue = owner.key.ReadText();
        if (owner.IsExtension())
            ScanExtension(pass, owner);
        else
            ScanIdentifier(pass, owner);
        StepProgress();
    }
    ownClasses_.reset();
    otherClasses_.reset();
    return result;
}

void CFileTypes::ScanExtension(const Pass& pass, const Owner& owner) {
    ShowStatus(u"File Type: " + owner.name);
    if (owner.key.IsOpen()) {
        const std::u16string& programIdentifier = owner.defaultValue;
        if (!programIdentifier.empty()) {
            // An extension that still carries a content type is used without its program
            // identifier (downloads, MIME lookups), and the repair would delete the content
            // type with the key: Wine itself registers .dll and .xsl so.
            if (!ClassesKeyExists(pass, programIdentifier) && !HasContentType(owner)) {
                Report(pass, kMissingProgramIdentifier, owner.name, programIdentifier,
                       {FileTypeLabel(owner.name), owner.name,
                        std::u16string(kClassesRoot) + programIdentifier});
            }
        } else if (HoldsNothing(owner.key.Handle(), false)) {
            // Nothing more to look at in an empty extension.
            if (!environment_.settings.SetChkSkipEmptyKeys)
                Report(pass, kEmptyKey, owner.name, u"", {FileTypeLabel(owner.name)});
            return;
        }
    }
    CheckClass(pass, owner, false);
    CheckVerbs(pass, owner);
    CheckIcon(pass, owner);
    CheckContextMenuHandlers(pass, owner);
}

bool CFileTypes::HasContentType(const Owner& owner) {
    return environment_.target.store->RegQueryValueExW(owner.key.Handle(), u"Content Type", nullptr,
                                                       nullptr, nullptr) == ErrorSuccess;
}

void CFileTypes::ScanIdentifier(const Pass& pass, const Owner& owner) {
    PumpMessages(environment_.target);
    ShowStatus(u"File Type: " + owner.name);
    if (owner.key.IsOpen() && owner.defaultValue.empty() &&
        HoldsNothing(owner.key.Handle(), true)) {
        // An identifier without subkeys has nothing more to look at.
        if (!environment_.settings.SetChkSkipEmptyKeys)
            Report(pass, kEmptyKey, owner.name, u"", {ToUpper(owner.name)});
        return;
    }
    CheckClass(pass, owner, true);
    CheckVerbs(pass, owner);
    CheckIcon(pass, owner);
    CheckContextMenuHandlers(pass, owner);
}

// --- what a file type names: its class, its verbs, its icon, its context-menu handlers ---

void CFileTypes::CheckClass(const Pass& pass, const Owner& owner, bool reportsEmptyAlways) {
    RegKey key(*environment_.target.store);
    if (owner.key.OpenSubkey(key, u"CLSID") != ErrorSuccess)
        return;
    const std::u16string clsid = ReadKeyText(key, u"");
    const std::u16string classPath = owner.name + u"\\CLSID";
    if (IsBracedLooking(clsid)) {
        if (!ClassIsRegistered(clsid)) {
            Report(pass, kUnregisteredClass, classPath, clsid,
                   {owner.DisplayName(), ClassKeyText(clsid)});
        }
        return;
    }
    if (!clsid.empty() || !pass.examinesEmptyParts)
        return;
    if (!reportsEmptyAlways && environment_.settings.SetChkSkipEmptyKeys)
        return;
    if (HoldsNothing(key.Handle(), true))
        Report(pass, kEmptyKey, classPath, u"", {ToUpper(owner.name)});
}

void CFileTypes::CheckVerbs(const Pass& pass, const Owner& owner) {
    const CClassesKey shell(owner.key, u"shell");
    if (!shell.IsOpen())
        return;
    std::vector<std::u16string> verbs;
    if (ListSubkeyNames(environment_.target, shell.Handle(), verbs)) {
        for (const std::u16string& verb : verbs)
            CheckVerb(pass, owner, shell, verb);
        return;
    }
    if (!owner.IsExtension()) {
        // A program identifier whose shell key offers no verb at all.
        if (pass.examinesEmptyParts) {
            Report(pass, kVerbWithoutCommand, shell.Path(), u"",
                   {owner.defaultValue.empty() ? shell.Path() : owner.defaultValue, u"shell",
                    u"shell1"});
        }
        return;
    }
    // The empty-key search of a shared key reports it in the 64-bit pass already.
    if (pass.leavesOutTwins &&
        Has64BitTwin(kEmptyKeySearchEntry, std::u16string(kClassesRoot) + shell.Path(), u"", u"")) {
        return;
    }
    const CClassesKey::Place place = owner.key.PlaceOf(u"shell");
    SearchEmptyKeysBelow(place.parent, place.name, HKeyClassesRoot, shell.Path(), pass.is64BitView,
                         {}, true);
}

void CFileTypes::CheckVerb(const Pass& pass, const Owner& owner, const CClassesKey& shell,
                           const std::u16string& verb) {
    IRegistry& store = *environment_.target.store;
    const std::u16string verbPath = shell.Path() + u"\\" + verb;
    RegKey command(store);
    const LStatus status = shell.OpenSubkey(command, verb + u"\\command");
    // A command we may not read is somebody's command all the same.
    if (status == ErrorAccessDenied)
        return;
    if (status == ErrorSuccess) {
        // Since Vista a class named by DelegateExecute carries out the verb.
        if (environment_.platform.WindowsMajorVersion() > 5 &&
            !ReadKeyText(command, u"DelegateExecute").empty()) {
            return;
        }
        const std::u16string commandLine = ReadKeyText(command, u"");
        if (!commandLine.empty()) {
            const std::u16string program = environment_.references.ExtractValuePath(commandLine);
            if (StartsTheFileItself(program) || !FileIsMissing(program))
                return;
        }
        Report(pass, kBrokenCommand, verbPath + u"\\command", commandLine,
               {owner.DisplayName(), Capitalized(verb)});
        return;
    }

    if (environment_.settings.SetChkSkipEmptyKeys)
        return;
    RegKey verbKey(store);
    if (shell.OpenSubkey(verbKey, verb) != ErrorSuccess)
        return;
    std::vector<std::u16string> subkeys;
    if (ListSubkeyNames(environment_.target, verbKey.Handle(), subkeys))
        return;
    // A verb that only shows a menu text taken from a program is kept while the program is.
    std::u16string menuText;
    if (QueryShortText(verbKey, u"MUIVerb", menuText) && !menuText.empty() &&
        !FileIsMissing(menuText)) {
        return;
    }
    Report(pass, kVerbWithoutCommand, verbPath, u"",
           {owner.DisplayName(), Capitalized(verb), u"Command"});
}

void CFileTypes::CheckIcon(const Pass& pass, const Owner& owner) {
    RegKey key(*environment_.target.store);
    if (owner.key.OpenSubkey(key, u"DefaultIcon") != ErrorSuccess)
        return;
    PumpMessages(environment_.target);
    const std::u16string icon = ReadKeyText(key, u"");
    const std::u16string iconPath = owner.name + u"\\DefaultIcon";
    if (icon.empty()) {
        Report(pass, kEmptyIcon, iconPath, u"", {owner.DisplayName()});
        return;
    }
    const std::u16string file = environment_.references.ExtractValuePath(icon);
    // The file itself ("%1") is its own icon.
    if (file != u"%1" && FileIsMissing(file))
        Report(pass, kMissingIconFile, iconPath, icon, {owner.DisplayName()});
}

void CFileTypes::CheckContextMenuHandlers(const Pass& pass, const Owner& owner) {
    const CClassesKey handlers(owner.key, u"ShellEx\\ContextMenuHandlers");
    if (!handlers.IsOpen())
        return;
    std::vector<std::u16string> names;
    ListSubkeyNames(environment_.target, handlers.Handle(), names);
    for (const std::u16string& name : names) {
        PumpMessages(environment_.target);
        // A handler named after its class is the class's own registration.
        if (name.starts_with(u'{'))
            continue;
        const std::u16string handlerPath = handlers.Path() + u"\\" + name;
        RegKey handler(*environment_.target.store);
        if (handlers.OpenSubkey(handler, name) != ErrorSuccess) {
            Report(pass, kUnreadableHandler, handlerPath, u"", {owner.DisplayName()});
            continue;
        }
        const std::u16string clsid = ReadKeyText(handler, u"");
        if (IsBracedLooking(clsid) && !ClassIsRegistered(clsid)) {
            Report(pass, kUnregisteredClass, handlerPath, clsid,
                   {owner.DisplayName(), ClassKeyText(clsid)});
        }
    }
}

// --- helpers -------------------------------------------------------------------------------

bool CFileTypes::ClassesKeyExists(const Pass& pass, std::u16string_view name) {
    RegKey key(*environment_.target.store);
    const LStatus status = key.Open(HKeyClassesRoot, name, kMaskReadOnly | pass.view);
    // A key we may not open is somebody's key all the same.
    return status == ErrorSuccess || status == ErrorAccessDenied;
}

bool CFileTypes::ClassIsRegistered(std::u16string_view clsid) {
    const auto opensIn = [&](const std::optional<CClassesKey>& classes) {
        if (!classes)
            return false;
        RegKey key(*environment_.target.store);
        const LStatus status = classes->OpenSubkey(key, clsid);
        return status == ErrorSuccess || status == ErrorAccessDenied;
    };
    return opensIn(ownClasses_) || opensIn(otherClasses_);
}

bool CFileTypes::HoldsNothing(HKey key, bool ignoresBlankFirstValue) {
    std::vector<std::u16string> names;
    if (ListSubkeyNames(environment_.target, key, names))
        return false;
    IRegistry& store = *environment_.target.store;
    return (ignoresBlankFirstValue ? ListValueNamesNoBlankFirst(store, key, names)
                                   : ListValueNames(store, key, names)) == 0;
}

bool CFileTypes::FileIsMissing(std::u16string_view text) {
    FileReferenceOptions options;
    options.builtinFileExclusions = true;
    options.safetyList = true;
    return !environment_.references.FileReferenceIsValid(SystemDirectory(), text, options);
}

void CFileTypes::Report(const Pass& pass, std::int32_t entryType, std::u16string_view keyPath,
                        std::u16string_view valueData,
                        std::initializer_list<std::u16string_view> detailLines) {
    const std::u16string key = std::u16string(kClassesRoot) + std::u16string(keyPath);
    if (pass.leavesOutTwins && Has64BitTwin(entryType, key, u"", valueData))
        return;
    AddProblemWithDetails(pass.is32BitEntry, entryType, key, u"", valueData, detailLines);
}

}  // namespace quillary
