// The classes of the CLSID tree: their servers, their application identifier, ProgID, type
// library, icon, context-menu handlers and toolbox bitmap.

#include <array>

#include "categories/activex.h"
#include "categories/value_reading.h"

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

bool IsLocalServer(std::u16string_view kind) {
    return kind == u"LocalServer32" || kind == u"LocalServer";
}

}  // namespace

int CActiveX::ScanClasses(const Pass& pass) {
    CClassesKey classes(*environment_.target.store, pass.view, u"CLSID");
    for (const std::u16string& clsid : TreeNames(classes)) {
        PumpMessages();
        CClassesKey classKey(classes, clsid);
        classKey.KnowSubkeys();
        if (ScanClass(pass, classKey, clsid) == kScanStopped)
            return kScanStopped;
        StepProgress();
    }
    return kScanDone;
}

int CActiveX::ScanClass(const Pass& pass, CClassesKey& classKey, const std::u16string& clsid) {
    ShowStatus(std::u16string(pass.viewPrefix) + u"CLSID: " + clsid);
    const std::u16string className = classKey.ReadText();

    for (std::u16string_view kind : kServerKinds) {
        if (IsStopRequested())
            return kScanStopped;
        CheckServerKind(pass, classKey, clsid, className, kind);
    }
    CheckApplicationId(pass, classKey, className);
    CheckProgId(pass, classKey, clsid, className);
    CheckClassTypeLibrary(pass, classKey, className);
    CheckDefaultIcon(pass, classKey, clsid, className);
    CheckContextMenuHandlers(pass, classKey, className);
    CheckToolboxBitmap(pass, classKey, clsid, className);
    return kScanDone;
}

void CActiveX::CheckServerKind(const Pass& pass, CClassesKey& classKey, const std::u16string& clsid,
                               const std::u16string& className, std::u16string_view kind) {
    RegKey key(*environment_.target.store);
    if (classKey.OpenSubkey(key, kind) != ErrorSuccess)
        return;
    const std::u16string server = ReadKeyText(key, u"");
    const std::u16string serverPath = ClassPath(clsid, kind);

    if (!server.empty()) {
        FileReferenceOptions options = StandardFileOptions();
        if (pass.testsInprocServerDirectly && kind == kInprocServer32) {
            options.directProgramFiles = true;
            options.is32BitEntry = true;
        }
        if (!FileIsMissing(server, options))
            return;
        // The class name is read in the view the server was registered for.
        const RegSam nameView =
            IsLocalServer(kind) && pass.localServerNameView ? pass.localServerNameView : pass.view;
        std::u16string name = className;
        if (nameView != pass.view) {
            CClassesKey otherView(*environment_.target.store, nameView, classKey.Path());
            if (!otherView.IsOpen())
                return;
            name = otherView.ReadText();
        } else if (!classKey.IsOpen()) {
            return;
        }
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

void CActiveX::CheckApplicationId(const Pass& pass, CClassesKey& classKey,
                                  const std::u16string& className) {
    const std::u16string applicationId = classKey.ReadText(u"AppID");
    if (!applicationId.empty() && !ReferencedKeyExists(pass, u"AppID", applicationId)) {
        Report(pass, kMissingApplicationId, classKey.Path(), u"AppID", applicationId, {className});
    }
}

void CActiveX::CheckProgId(const Pass& pass, CClassesKey& classKey, const std::u16string& clsid,
                           const std::u16string& className) {
    RegKey key(*environment_.target.store);
    if (classKey.OpenSubkey(key, u"ProgID") != ErrorSuccess)
        return;
    const std::u16string progId = ReadKeyText(key, u"");
    if (!progId.empty() || !HoldsNothing(key))
        return;
    if (ReportsEmptyKey(pass.alwaysReportsEmptyProgId)) {
        Report(pass, kEmptyKey, ClassPath(clsid, u"ProgID"), u"", progId,
               {ClassLabel(className, clsid), u"ProgID"});
    }
}

void CActiveX::CheckClassTypeLibrary(const Pass& pass, CClassesKey& classKey,
                                     const std::u16string& className) {
    RegKey key(*environment_.target.store);
    if (classKey.OpenSubkey(key, u"TypeLib") != ErrorSuccess)
        return;
    const std::u16string library = ReadKeyText(key, u"");
    if (IsBracedLooking(library) && !ReferencedKeyExists(pass, u"TypeLib", library))
        Report(pass, kMissingTypeLibrary, classKey.Path() + u"\\TypeLib", u"", library,
               {className});
}

void CActiveX::CheckDefaultIcon(const Pass& pass, CClassesKey& classKey,
                                const std::u16string& clsid, const std::u16string& className) {
    RegKey key(*environment_.target.store);
    if (classKey.OpenSubkey(key, u"DefaultIcon") != ErrorSuccess)
        return;
    const std::u16string icon = ReadKeyText(key, u"");
    const std::u16string iconPath = ClassPath(clsid, u"DefaultIcon");
    if (icon.empty()) {
        Report(pass, kEmptyIcon, iconPath, u"", icon, {ClassLabel(className, clsid)});
        return;
    }
    if (!pass.testsIconFile || !FileIsMissing(icon, StandardFileOptions()))
        return;
    if (classKey.IsOpen()) {
        Report(pass, kMissingFile, iconPath, u"", icon,
               {ClassLabel(className, clsid), u"DefaultIcon"});
    }
}

void CActiveX::CheckContextMenuHandlers(const Pass& pass, CClassesKey& classKey,
                                        const std::u16string& className) {
    CClassesKey handlers(classKey, u"ShellEx\\ContextMenuHandlers");
    for (const std::u16string& handler : ListSubkeys(handlers)) {
        const std::u16string handlerPath = handlers.Path() + u"\\" + handler;
        if (handler.starts_with(u'{')) {
            // The subkey is named after the handler's class.
            if (ReferencedKeyExists(pass, u"CLSID", handler))
                continue;
            const std::u16string classKeyPath =
                u"HKEY_CLASSES_ROOT\\" + std::u16string(pass.viewPrefix) + ClassPath(handler);
            Report(pass, kMissingHandlerClass, handlerPath, u"", u"",
                   {className, classKeyPath, handler}, KeyForm::ViewPrefixed);
            continue;
        }
        // A named subkey gives the handler's class in its default value.
        const std::u16string handlerClass = CClassesKey(handlers, handler).ReadText();
        if (!handlerClass.starts_with(u'{') || ReferencedKeyExists(pass, u"CLSID", handlerClass)) {
            continue;
        }
        Report(pass, kMissingHandlerClass, handlerPath, u"", u"",
               {className, u"HKEY_CLASSES_ROOT\\" + ClassPath(handlerClass), handlerClass});
    }
}

void CActiveX::CheckToolboxBitmap(const Pass& pass, CClassesKey& classKey,
                                  const std::u16string& clsid, const std::u16string& className) {
    RegKey key(*environment_.target.store);
    if (classKey.OpenSubkey(key, u"ToolboxBitmap32") != ErrorSuccess)
        return;
    const std::u16string bitmap = ReadKeyText(key, u"");
    const std::u16string bitmapPath = ClassPath(clsid, u"ToolboxBitmap32");
    if (bitmap.empty()) {
        if (!HoldsNothing(key) || !ReportsEmptyKey(pass.alwaysReportsEmptyBitmap) ||
            !classKey.IsOpen()) {
            return;
        }
        Report(pass, kEmptyKey, bitmapPath, u"", bitmap,
               {ClassLabel(className, clsid), u"ToolboxBitmap32"});
        return;
    }
    if (FileIsMissing(bitmap, StandardFileOptions()) && classKey.IsOpen()) {
        Report(pass, kMissingBitmapFile, bitmapPath, u"", bitmap,
               {ClassLabel(className, clsid), u"ToolboxBitmap32"});
    }
}

bool CActiveX::ReportsEmptyKey(bool alwaysInThisPass) const {
    return alwaysInThisPass || !environment_.settings.SetChkSkipEmptyKeys;
}

}  // namespace quillary
