// The classes of the CLSID tree: their servers, their application identifier, ProgID, type
// library, icon, context-menu handlers and toolbox bitmap.

#include <array>

#include "categories/activex.h"
#include "core/text.h"

namespace quillary {
namespace {

constexpr std::array<std::u16string_view, 6> kServerKinds = {
    u"InprocServer32", u"InprocServer",    u"LocalServer32",
    u"LocalServer",    u"InprocHandler32", u"InprocHandler",
};

constexpr std::u16string_view kInprocServer32 = u"InprocServer32";

constexpr std::int32_t kMissingFile = 0;
constexpr std::int32_t kEmptyKey = 1;
constexpr std::int32_t kMissingApplicationId = 2;
constexpr std::int32_t kMissingTypeLibrary = 3;
constexpr std::int32_t kEmptyIcon = 4;
constexpr std::int32_t kMissingHandlerClass = 5;
constexpr std::int32_t kMissingBitmapFile = 42;

std::u16string ClassPath(std::u16string_view clsid) {
    return u"CLSID\\" + std::u16string(clsid);
}

std::u16string ClassPath(std::u16string_view clsid, std::u16string_view part) {
    return ClassPath(clsid) + u"\\" + std::u16string(part);
}

// The label of a class's problems: its name, or its identifier when it has none.
std::u16string_view ClassLabel(const std::u16string& className, const std::u16string& clsid) {
    return className.empty() ? clsid : className;
}

// A type library reference worth following looks like a braced identifier at one end.
bool IsBracedLooking(std::u16string_view text) {
    return !text.empty() && (text.front() == u'{' || text.back() == u'}');
}

bool IsLocalServer(std::u16string_view kind) {
    return kind == u"LocalServer32" || kind == u"LocalServer";
}

}  // namespace

int CActiveX::ScanClasses(const Pass& pass) {
    for (const std::u16string& clsid : ListTopKey(pass.view, u"CLSID")) {
        PumpMessages();
        if (ScanClass(pass, clsid) == kScanStopped)
            return kScanStopped;
        StepProgress();
    }
    return kScanDone;
}

int CActiveX::ScanClass(const Pass& pass, const std::u16string& clsid) {
    ShowStatus(std::u16string(pass.viewPrefix) + u"CLSID: " + clsid);
    const std::u16string classPath = ClassPath(clsid);
    const std::u16string className = ReadText(pass.view, classPath);

    for (std::u16string_view kind : kServerKinds) {
        if (IsStopRequested())
            return kScanStopped;
        CheckServerKind(pass, clsid, className, kind);
    }

    if (ClassKeyOpens(pass.view, clsid)) {
        const std::u16string applicationId = ReadText(pass.view, classPath, u"AppID");
        if (!applicationId.empty() && !ReferencedKeyExists(pass, u"AppID\\" + applicationId)) {
            Report(pass, kMissingApplicationId, classPath, u"AppID", applicationId, {className});
        }
    }
    CheckProgId(pass, clsid, className);
    CheckClassTypeLibrary(pass, clsid, className);
    CheckDefaultIcon(pass, clsid, className);
    CheckContextMenuHandlers(pass, clsid, className);
    CheckToolboxBitmap(pass, clsid, className);
    return kScanDone;
}

void CActiveX::CheckServerKind(const Pass& pass, const std::u16string& clsid,
                               const std::u16string& className, std::u16string_view kind) {
    const std::u16string serverPath = ClassPath(clsid, kind);
    RegKey key(*environment_.target.store);
    if (!OpenKey(key, pass.view, serverPath))
        return;
    const std::u16string server = ReadText(pass.view, serverPath);

    if (!server.empty()) {
        FileReferenceOptions options = StandardFileOptions();
        if (pass.testsInprocServerDirectly && kind == kInprocServer32) {
            options.directProgramFiles = true;
            options.is32BitEntry = true;
        }
        if (!FileIsMissing(server, options))
            return;
        const RegSam nameView =
            IsLocalServer(kind) && pass.localServerNameView ? pass.localServerNameView : pass.view;
        if (!ClassKeyOpens(nameView, clsid))
            return;
        const std::u16string name = ReadText(nameView, ClassPath(clsid));
        Report(pass, kMissingFile, serverPath, u"", server, {ClassLabel(name, clsid), kind});
        return;
    }

    const bool hollowInprocServer = pass.reportsHollowInprocServer && kind == kInprocServer32 &&
                                    !environment_.settings.PreferSafetyOverCount;
    if (!hollowInprocServer && !HoldsNothing(key))
        return;
    if (ReportsEmptyKey(pass.alwaysReportsEmptyServer))
        Report(pass, kEmptyKey, serverPath, u"", server, {ClassLabel(className, clsid), kind});
}

void CActiveX::CheckProgId(const Pass& pass, const std::u16string& clsid,
                           const std::u16string& className) {
    const std::u16string progIdPath = ClassPath(clsid, u"ProgID");
    RegKey key(*environment_.target.store);
    if (!OpenKey(key, pass.view, progIdPath))
        return;
    const std::u16string progId = ReadText(pass.view, progIdPath);
    if (!progId.empty() || !HoldsNothing(key))
        return;
    if (ReportsEmptyKey(pass.alwaysReportsEmptyProgId))
        Report(pass, kEmptyKey, progIdPath, u"", progId, {ClassLabel(className, clsid), u"ProgID"});
}

void CActiveX::CheckClassTypeLibrary(const Pass& pass, const std::u16string& clsid,
                                     const std::u16string& className) {
    const std::u16string libraryPath = ClassPath(clsid, u"TypeLib");
    RegKey key(*environment_.target.store);
    if (!OpenKey(key, pass.view, libraryPath))
        return;
    const std::u16string library = ReadText(pass.view, libraryPath);
    if (IsBracedLooking(library) && !ReferencedKeyExists(pass, u"TypeLib\\" + library))
        Report(pass, kMissingTypeLibrary, libraryPath, u"", library, {className});
}

void CActiveX::CheckDefaultIcon(const Pass& pass, const std::u16string& clsid,
                                const std::u16string& className) {
    const std::u16string iconPath = ClassPath(clsid, u"DefaultIcon");
    RegKey key(*environment_.target.store);
    if (!OpenKey(key, pass.view, iconPath))
        return;
    const std::u16string icon = ReadText(pass.view, iconPath);
    if (icon.empty()) {
        Report(pass, kEmptyIcon, iconPath, u"", icon, {ClassLabel(className, clsid)});
        return;
    }
    if (!pass.testsIconFile || !FileIsMissing(icon, StandardFileOptions()))
        return;
    if (ClassKeyOpens(pass.view, clsid)) {
        Report(pass, kMissingFile, iconPath, u"", icon,
               {ClassLabel(className, clsid), u"DefaultIcon"});
    }
}

void CActiveX::CheckContextMenuHandlers(const Pass& pass, const std::u16string& clsid,
                                        const std::u16string& className) {
    const std::u16string handlersPath = ClassPath(clsid, u"ShellEx\\ContextMenuHandlers");
    std::vector<std::u16string> handlers;
    {
        RegKey key(*environment_.target.store);
        if (!OpenKey(key, pass.view, handlersPath))
            return;
        ListSubkeyNames(environment_.target, key.Handle(), handlers);
    }
    for (const std::u16string& handler : handlers) {
        const std::u16string handlerPath = handlersPath + u"\\" + handler;
        if (handler.starts_with(u'{')) {
            // The subkey is named after the handler's class.
            if (ReferencedKeyExists(pass, ClassPath(handler)))
                continue;
            const std::u16string classKey =
                u"HKEY_CLASSES_ROOT\\" + std::u16string(pass.viewPrefix) + ClassPath(handler);
            Report(pass, kMissingHandlerClass, handlerPath, u"", u"",
                   {className, classKey, handler}, KeyForm::ViewPrefixed);
            continue;
        }
        // A named subkey gives the handler's class in its default value.
        const std::u16string handlerClass = ReadText(pass.view, handlerPath);
        if (!handlerClass.starts_with(u'{') || ReferencedKeyExists(pass, ClassPath(handlerClass))) {
            continue;
        }
        Report(pass, kMissingHandlerClass, handlerPath, u"", u"",
               {className, u"HKEY_CLASSES_ROOT\\" + ClassPath(handlerClass), handlerClass});
    }
}

void CActiveX::CheckToolboxBitmap(const Pass& pass, const std::u16string& clsid,
                                  const std::u16string& className) {
    const std::u16string bitmapPath = ClassPath(clsid, u"ToolboxBitmap32");
    RegKey key(*environment_.target.store);
    if (!OpenKey(key, pass.view, bitmapPath))
        return;
    const std::u16string bitmap = ReadText(pass.view, bitmapPath);
    if (bitmap.empty()) {
        if (!HoldsNothing(key) || !ReportsEmptyKey(pass.alwaysReportsEmptyBitmap) ||
            !ClassKeyOpens(pass.view, clsid)) {
            return;
        }
        Report(pass, kEmptyKey, bitmapPath, u"", bitmap,
               {ClassLabel(className, clsid), u"ToolboxBitmap32"});
        return;
    }
    if (FileIsMissing(bitmap, StandardFileOptions()) && ClassKeyOpens(pass.view, clsid)) {
        Report(pass, kMissingBitmapFile, bitmapPath, u"", bitmap,
               {ClassLabel(className, clsid), u"ToolboxBitmap32"});
    }
}

bool CActiveX::ClassKeyOpens(RegSam view, const std::u16string& clsid) {
    RegKey classKey(*environment_.target.store);
    return OpenKey(classKey, view, ClassPath(clsid));
}

bool CActiveX::ReportsEmptyKey(bool alwaysInThisPass) const {
    return alwaysInThisPass || !environment_.settings.SetChkSkipEmptyKeys;
}

}  // namespace quillary
