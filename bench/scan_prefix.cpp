#include "scan_prefix.h"

#include <stdlib.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "core/text_encoding.h"
#include "demo_baseline.h"
#include "demo_prefix.h"
#include "shell_link_writer.h"
#include "synthetic_builder.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

constexpr std::u16string_view kUserPrograms =
    u"C:\\users\\demo\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
constexpr std::u16string_view kCommonPrograms =
    u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
constexpr std::u16string_view kUserDesktop = u"C:\\users\\demo\\Desktop";
constexpr std::u16string_view kPublicDesktop = u"C:\\users\\Public\\Desktop";
constexpr std::u16string_view kSystem32 = u"C:\\windows\\system32\\";
constexpr std::u16string_view kSysWow64 = u"C:\\windows\\syswow64\\";
constexpr std::u16string_view kCurrentVersion = u"Microsoft\\Windows\\CurrentVersion";
// The proxy of every automation interface; the registry of every prefix has its class.
constexpr std::u16string_view kAutomationProxy = u"{00020424-0000-0000-C000-000000000046}";
constexpr std::u16string_view kAutomationProxyLibrary = u"oleaut32.dll";

constexpr std::u16string_view kFontsFolder = u"C:\\windows\\Fonts\\";
constexpr std::u16string_view kMediaFolder = u"C:\\windows\\media\\";
constexpr std::u16string_view kHelpFolder = u"C:\\windows\\help";
constexpr std::u16string_view kDocumentsFolder = u"C:\\users\\demo\\Documents\\";
constexpr std::u16string_view kDocumentExtensions[] = {u"txt", u"docx", u"pdf", u"png", u"xlsx",
                                                       u"rtf", u"jpg",  u"mp3", u"zip", u"csv"};
// The sound events of the system and of Explorer, as the sound scheme lists them.
constexpr std::u16string_view kSystemEvents[] = {u".Default",
                                                 u"AppGPFault",
                                                 u"CCSelect",
                                                 u"Close",
                                                 u"CriticalBatteryAlarm",
                                                 u"DeviceConnect",
                                                 u"DeviceDisconnect",
                                                 u"DeviceFail",
                                                 u"FaxBeep",
                                                 u"LowBatteryAlarm",
                                                 u"MailBeep",
                                                 u"Maximize",
                                                 u"MenuCommand",
                                                 u"MenuPopup",
                                                 u"Minimize",
                                                 u"Notification.Default",
                                                 u"Open",
                                                 u"PrintComplete",
                                                 u"RestoreDown",
                                                 u"RestoreUp",
                                                 u"ShowBand",
                                                 u"SystemAsterisk",
                                                 u"SystemExclamation",
                                                 u"SystemExit",
                                                 u"SystemHand",
                                                 u"SystemNotification",
                                                 u"SystemQuestion",
                                                 u"WindowsLogoff",
                                                 u"WindowsLogon",
                                                 u"WindowsUAC"};
constexpr std::u16string_view kExplorerEvents[] = {
    u"ActivatingDocument", u"BlockedPopup", u"EmptyRecycleBin", u"FeedDiscovered",
    u"MoveMenuItem",       u"Navigating",   u"SecurityBand"};
constexpr std::u16string_view kProductEvents[] = {u"Start", u"Stop",  u"Alert",
                                                  u"Done",  u"Error", u"NewItem"};
// Names of settings as programs name them; a key's values draw from these and numbered ones.
constexpr std::u16string_view kSettingNames[] = {
    u"InstallDir", u"DataPath",   u"LastFolder", u"Theme",    u"Language",
    u"WindowPos",  u"AutoUpdate", u"Server",     u"HomePage", u"LogFile",
    u"TempDir",    u"Skin",       u"LastOpened", u"Template", u"PluginDir",
    u"Version",    u"UserName",   u"Toolbar",    u"FontName", u"CachePath"};
constexpr std::u16string_view kSettingKeys[] = {
    u"Settings", u"Options",  u"Preferences", u"Window", u"Toolbars", u"Plugins",
    u"Paths",    u"Profiles", u"Network",     u"Layout", u"Export",   u"Import",
    u"Print",    u"View",     u"Editor",      u"Updates"};
constexpr std::u16string_view kWords[] = {u"alpha",   u"compact", u"default", u"blue",
                                          u"classic", u"enabled", u"normal",  u"large",
                                          u"english", u"auto",    u"none",    u"standard"};
// The two lists in which the shell counts the programs and shortcuts a user starts.
constexpr std::u16string_view kUserAssistKeys[] = {u"{CEBFF5CD-ACE2-4F4F-9178-9926F41749EA}",
                                                   u"{F4E57C4B-2036-45F0-A9AB-443BCFE33D9F}"};

// Percentages of what is broken: products whose folder is gone, single files missing from a
// product that is still there, and references from one registration to another that lead
// nowhere.
constexpr unsigned kRemovedProductPercent = 3;
constexpr unsigned kMissingFilePercent = 2;
constexpr unsigned kDanglingReferencePercent = 2;

// Every shortcut and placeholder file carries this time: 2025-06-01 00:00:00 UTC.
constexpr std::int64_t kFileUnixSeconds = 1748736000;

// The last component of a Windows path.
std::u16string_view FileName(std::u16string_view path) {
    return path.substr(path.rfind(u'\\') + 1);
}

// An installed program: its folder on drive C: and the files there that its registrations
// and shortcuts name.
struct Product {
    std::u16string vendor;
    std::u16string name;  // unique: a product word and a number
    std::u16string folder;
    std::u16string progIdPrefix;
    bool is32Bit = false;
    bool removed = false;
    std::u16string exe;
    std::u16string uninstaller;
    std::u16string icon;                    // empty when the product has none
    std::vector<std::u16string> libraries;  // its DLLs and controls
    std::vector<std::u16string> typeLibraries;
    std::u16string typeLibraryFile;  // a .tlb file, when the product has type libraries
    std::vector<std::u16string> applicationIds;
    std::u16string helpFile;  // a .hlp or .chm file, when the product has one
    std::u16string font;      // a font file of its own, when the product has one
    bool runsForMachine = false;
    bool runsForUser = false;
    bool hasUserSettings = false;
};

struct Shortcut {
    std::u16string path;
    std::u16string target;
};

// Everything the registry and drive C: must agree on, decided before either is written.
class CScanPrefixPlan {
public:
    CScanPrefixPlan(const ScanPrefixShape& shape) : builder_(shape.seed, shape.scale) {
        AddSystemLibraries();
        AddSharedFiles();
        const std::size_t count = builder_.Count(600);
        for (std::size_t i = 0; i < count; ++i) {
            AddProduct(i);
        }
    }

    const std::vector<Product>& Products() const { return products_; }
    const std::vector<std::u16string>& SystemLibraries() const { return systemLibraries_; }
    // Windows path and whether it is written.
    const std::map<std::u16string, bool>& Files() const { return files_; }
    const std::vector<Shortcut>& Shortcuts() const { return shortcuts_; }
    // Font files by name alone (they live in the fonts folder), help files in the system's
    // help folder, sounds in the media folder, and the user's documents by full path.
    const std::vector<std::u16string>& Fonts() const { return fonts_; }
    const std::vector<std::u16string>& SystemHelpFiles() const { return systemHelpFiles_; }
    const std::vector<std::u16string>& Sounds() const { return sounds_; }
    const std::vector<std::u16string>& Documents() const { return documents_; }

private:
    // A file in folder named by the generator, written unless it is one of the few missing.
    std::u16string SharedFile(std::u16string_view folder, std::u16string name) {
        const bool missing = builder_.Random().Percent(kMissingFilePercent);
        files_.emplace(Concat({folder, name}), !missing);
        return name;
    }

    void AddSharedFiles() {
        CRandom& random = builder_.Random();
        for (std::size_t i = 0, count = builder_.Count(400); i < count; ++i) {
            fonts_.push_back(
                SharedFile(kFontsFolder,
                           builder_.Identifier(4, 10) + (random.Percent(80) ? u".ttf" : u".fon")));
        }
        for (std::size_t i = 0, count = builder_.Count(60); i < count; ++i) {
            systemHelpFiles_.push_back(
                SharedFile(Concat({kHelpFolder, u"\\"}),
                           builder_.Identifier(4, 8) + (random.Percent(50) ? u".hlp" : u".chm")));
        }
        for (std::size_t i = 0, count = builder_.Count(80); i < count; ++i) {
            sounds_.push_back(SharedFile(kMediaFolder, builder_.Identifier(4, 10) + u".wav"));
        }
        for (std::size_t i = 0, count = builder_.Count(3000); i < count; ++i) {
            const std::u16string name = Concat(
                {builder_.Noun(), u" ", Number(i + 1), u".", random.Pick(kDocumentExtensions)});
            documents_.push_back(Concat({kDocumentsFolder, SharedFile(kDocumentsFolder, name)}));
        }
    }

    void AddSystemLibraries() {
        std::vector<std::u16string> names = {std::u16string(kAutomationProxyLibrary)};
        const std::size_t count = builder_.Count(1500);
        for (std::size_t i = 0; i < count; ++i) {
            names.push_back(builder_.Identifier(4, 10) + u".dll");
        }
        systemLibraries_ = SortedUnique(std::move(names));
        // Wine installs each system library in both system folders.
        for (const std::u16string& name : systemLibraries_) {
            files_[std::u16string(kSystem32) + name] = true;
            files_[std::u16string(kSysWow64) + name] = true;
        }
    }

    // A file of the product, written unless the product is gone or the file is one of the
    // few that went missing.
    std::u16string ProductFile(const Product& product, std::u16string_view name) {
        std::u16string path = Concat({product.folder, u"\\", name});
        const bool missing = product.removed || builder_.Random().Percent(kMissingFilePercent);
        files_.emplace(path, !missing);
        return path;
    }

    void AddProduct(std::size_t index) {
        CRandom& random = builder_.Random();
        Product product;
        product.vendor = builder_.Vendor();
        product.name = Concat({builder_.Product(), u" ", Number(index + 1)});
        product.is32Bit = random.Percent(40);
        product.removed = random.Percent(kRemovedProductPercent);
        product.folder =
            Concat({product.is32Bit ? u"C:\\Program Files (x86)\\" : u"C:\\Program Files\\",
                    product.vendor, u"\\", product.name});
        product.progIdPrefix = Concat({builder_.Identifier(3, 6), Number(index + 1)});
        product.exe = ProductFile(product, builder_.Identifier(4, 9) + u".exe");
        product.uninstaller = ProductFile(product, u"uninst.exe");
        if (random.Percent(50)) {
            product.icon = ProductFile(product, builder_.Identifier(4, 9) + u".ico");
        }
        std::vector<std::u16string> libraries;
        const std::size_t libraryCount = random.Between(2, 12);
        for (std::size_t i = 0; i < libraryCount; ++i) {
            libraries.push_back(builder_.Identifier(4, 10) +
                                (random.Percent(15) ? u".ocx" : u".dll"));
        }
        for (const std::u16string& name : SortedUnique(std::move(libraries))) {
            product.libraries.push_back(ProductFile(product, name));
        }
        const std::size_t typeLibraries = random.Between(0, 3);
        for (std::size_t i = 0; i < typeLibraries; ++i) {
            product.typeLibraries.push_back(builder_.Guid());
        }
        if (typeLibraries > 0) {
            product.typeLibraryFile = ProductFile(product, builder_.Identifier(4, 9) + u".tlb");
        }
        if (random.Percent(25)) {
            product.helpFile = ProductFile(
                product, builder_.Identifier(4, 9) + (random.Percent(50) ? u".hlp" : u".chm"));
        }
        if (random.Percent(5)) {
            product.font = ProductFile(product, builder_.Identifier(4, 9) + u".ttf");
        }
        const std::size_t applicationIds = random.Between(0, 3);
        for (std::size_t i = 0; i < applicationIds; ++i) {
            product.applicationIds.push_back(builder_.Guid());
        }
        product.runsForMachine = random.Percent(12);
        product.runsForUser = random.Percent(5);
        product.hasUserSettings = random.Percent(30);
        AddShortcuts(product);
        products_.push_back(std::move(product));
    }

    // A start menu entry for every product, an uninstall entry, desktop and startup
    // shortcuts for some. A removed product's shortcuts stay behind.
    void AddShortcuts(const Product& product) {
        CRandom& random = builder_.Random();
        const bool forEveryone = random.Percent(70);
        const std::u16string menu =
            Concat({forEveryone ? kCommonPrograms : kUserPrograms, u"\\", product.vendor});
        shortcuts_.push_back({Concat({menu, u"\\", product.name, u".lnk"}), product.exe});
        if (random.Percent(40)) {
            shortcuts_.push_back(
                {Concat({menu, u"\\Uninstall ", product.name, u".lnk"}), product.uninstaller});
        }
        if (random.Percent(30)) {
            shortcuts_.push_back({Concat({forEveryone ? kPublicDesktop : kUserDesktop, u"\\",
                                          product.name, u".lnk"}),
                                  product.exe});
        }
        if (random.Percent(5)) {
            shortcuts_.push_back(
                {Concat({kUserPrograms, u"\\StartUp\\", product.name, u".lnk"}), product.exe});
        }
    }

    CSyntheticBuilder builder_;
    std::vector<Product> products_;
    std::vector<std::u16string> systemLibraries_;
    std::map<std::u16string, bool> files_;
    std::vector<Shortcut> shortcuts_;
    std::vector<std::u16string> fonts_;
    std::vector<std::u16string> systemHelpFiles_;
    std::vector<std::u16string> sounds_;
    std::vector<std::u16string> documents_;
};

// The letters of text rotated by 13 places, as the shell stores the names of what it counts.
std::u16string Rot13(std::u16string_view text) {
    std::u16string rotated(text);
    for (char16_t& ch : rotated) {
        if (ch >= u'a' && ch <= u'z') {
            ch = static_cast<char16_t>(u'a' + (ch - u'a' + 13) % 26);
        } else if (ch >= u'A' && ch <= u'Z') {
            ch = static_cast<char16_t>(u'A' + (ch - u'A' + 13) % 26);
        }
    }
    return rotated;
}

// The value names of a most-recently-used list: a, b, c, ... and its MRUList, newest first.
void WriteMruList(CRegistryNode& key, CRandom& random, const std::vector<std::u16string>& items) {
    std::u16string order;
    for (std::size_t i = 0; i < items.size() && i < 26; ++i) {
        const std::u16string letter(1, static_cast<char16_t>(u'a' + i));
        CSyntheticBuilder::String(key, letter, items[i]);
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(random.Below(order.size() + 1)),
                     letter[0]);
    }
    CSyntheticBuilder::String(key, u"MRUList", order);
}

// The settings programs keep for themselves, which only a deep scan reads: trees of keys
// with many values of every kind, paths among them (most to files that are there).
class CSettingsWriter {
public:
    CSettingsWriter(CSyntheticBuilder& builder, const CScanPrefixPlan& plan)
        : builder_(builder), plan_(plan) {}

    // A tree of keys below root for product, averaging about 30 keys of 19 values.
    void Tree(CRegistryNode& root, const Product& product) {
        CRandom& random = builder_.Random();
        Values(root, product);
        const std::size_t keys = random.Between(4, 56);
        for (std::size_t i = 0; i < keys; ++i) {
            std::u16string path(random.Pick(kSettingKeys));
            if (random.Percent(50)) {
                path += random.Percent(50) ? u"\\" + builder_.Identifier(4, 10)
                                           : Concat({u"\\Profile ", Number(random.Below(8))});
            }
            Values(builder_.Key(root, path), product);
        }
        if (random.Percent(25)) {
            RecentFiles(builder_.Key(root, u"Recent File List"), u"File");
        }
        if (random.Percent(15)) {
            std::vector<std::u16string> items;
            for (std::size_t i = 0, count = random.Between(3, 15); i < count; ++i) {
                items.push_back(Document());
            }
            WriteMruList(builder_.Key(root, u"MRU"), random, items);
        }
    }

    // File1, File2, ... naming the user's documents.
    void RecentFiles(CRegistryNode& key, std::u16string_view prefix) {
        for (std::size_t i = 0, count = builder_.Random().Between(2, 9); i < count; ++i) {
            CSyntheticBuilder::String(key, Concat({prefix, Number(i + 1)}), Document());
        }
    }

    const std::u16string& Document() {
        const auto& documents = plan_.Documents();
        return documents[builder_.Random().Below(documents.size())];
    }

private:
    void Values(CRegistryNode& key, const Product& product) {
        CRandom& random = builder_.Random();
        const std::size_t count = random.Between(6, 32);
        const std::size_t first = random.Below(std::size(kSettingNames));
        for (std::size_t i = 0; i < count; ++i) {
            const std::u16string name =
                i < std::size(kSettingNames)
                    ? std::u16string(kSettingNames[(first + i) % std::size(kSettingNames)])
                    : Concat({u"Item", Number(i)});
            Value(key, name, product);
        }
    }

    const std::u16string& ProductFile(const Product& product) {
        CRandom& random = builder_.Random();
        if (random.Percent(30)) {
            return product.exe;
        }
        return product.libraries[random.Below(product.libraries.size())];
    }

    // One value of a kind drawn by its share among real programs' settings.
    void Value(CRegistryNode& key, const std::u16string& name, const Product& product) {
        CRandom& random = builder_.Random();
        const std::size_t kind = random.Below(100);
        if (kind < 14) {
            CSyntheticBuilder::String(key, name, ProductFile(product));
        } else if (kind < 20) {
            CSyntheticBuilder::String(key, name, Document());
        } else if (kind < 24) {
            CSyntheticBuilder::String(key, name, product.folder);
        } else if (kind < 26) {
            // Now and then a file the program wrote once and has since deleted.
            CSyntheticBuilder::String(
                key, name,
                random.Percent(10)
                    ? Concat({product.folder, u"\\", builder_.Identifier(4, 8), u".log"})
                    : product.folder + u"\\");
        } else if (kind < 32) {
            CSyntheticBuilder::String(
                key, name,
                Concat({u"https://www.", builder_.Identifier(5, 10), u".example/",
                        builder_.Identifier(3, 8), random.Percent(50) ? u"/update.xml" : u""}));
        } else if (kind < 44) {
            CSyntheticBuilder::String(key, name, Number(random.Below(100000)));
        } else if (kind < 48) {
            CSyntheticBuilder::String(key, name, builder_.Guid());
        } else if (kind < 54) {
            CSyntheticBuilder::String(key, name, FileName(ProductFile(product)));
        } else if (kind < 64) {
            CSyntheticBuilder::String(
                key, name,
                random.Percent(70) ? std::u16string(random.Pick(kWords))
                                   : Concat({random.Pick(kWords), u" ", random.Pick(kWords)}));
        } else if (kind < 68) {
            CSyntheticBuilder::String(key, name, ExpandableReference(product), RegExpandSz);
        } else if (kind < 84) {
            CSyntheticBuilder::Dword(key, name, static_cast<std::uint32_t>(random.Below(70000)));
        } else if (kind < 90) {
            builder_.RandomBytes(key, name, RegBinary, random.Between(4, 48));
        } else {
            CSyntheticBuilder::String(
                key, name,
                Concat({Number(random.Between(0, 1920)), u",", Number(random.Between(0, 1080)),
                        u",", Number(random.Between(200, 1920)), u",",
                        Number(random.Between(200, 1080))}));
        }
    }

    // A path through an environment variable, as REG_EXPAND_SZ values hold them.
    std::u16string ExpandableReference(const Product& product) {
        constexpr std::u16string_view kProgramFiles = u"C:\\Program Files\\";
        const std::u16string& file = ProductFile(product);
        if (file.starts_with(kProgramFiles)) {
            return u"%ProgramFiles%\\" + file.substr(kProgramFiles.size());
        }
        const auto& libraries = plan_.SystemLibraries();
        return u"%SystemRoot%\\system32\\" + libraries[builder_.Random().Below(libraries.size())];
    }

    CSyntheticBuilder& builder_;
    const CScanPrefixPlan& plan_;
};

// Writes the registry entries of the plan into the machine's branch.
class CMachineWriter {
public:
    CMachineWriter(CRegistryNode& machine, const CScanPrefixPlan& plan,
                   const ScanPrefixShape& shape)
        : builder_(shape.seed + 1, shape.scale),
          plan_(plan),
          machine_(machine),
          classes_(builder_.Key(machine, u"Software\\Classes")),
          classes32_(builder_.Key(classes_, u"Wow6432Node")),
          settings_(builder_, plan_) {}

    void Write() {
        AddSystemRegistrations();
        AddFonts();
        AddHelpFiles();
        for (const Product& product : plan_.Products()) {
            AddProduct(product);
            const std::u16string software =
                product.is32Bit ? u"Software\\Wow6432Node\\" : u"Software\\";
            settings_.Tree(
                builder_.Key(machine_, Concat({software, product.vendor, u"\\", product.name})),
                product);
        }
    }

private:
    CRandom& Random() { return builder_.Random(); }

    CRegistryNode& ClassRoot(bool is32Bit) { return is32Bit ? classes32_ : classes_; }

    // A library of the system, named as registrations name them: mostly a full path, some
    // with %SystemRoot%, a few by their name alone (found on the search path).
    std::pair<std::u16string, RegType> SystemLibraryReference() {
        const auto& libraries = plan_.SystemLibraries();
        const std::u16string& name = libraries[Random().Below(libraries.size())];
        const std::size_t form = Random().Below(10);
        if (form < 6) {
            return {std::u16string(kSystem32) + name, RegSz};
        }
        if (form < 9) {
            return {u"%SystemRoot%\\system32\\" + name, RegExpandSz};
        }
        return {name, RegSz};
    }

    // A product file as a registration names it: the full path, or for some the program
    // folder through its environment variable.
    std::pair<std::u16string, RegType> ProductReference(const Product& product,
                                                        const std::u16string& path) {
        constexpr std::u16string_view kProgramFiles = u"C:\\Program Files\\";
        if (!product.is32Bit && path.starts_with(kProgramFiles) && Random().Percent(20)) {
            return {u"%ProgramFiles%\\" + path.substr(kProgramFiles.size()), RegExpandSz};
        }
        return {path, RegSz};
    }

    // The installed fonts: most by their name alone (they are in the fonts folder), a few
    // by the full path of a program's own font.
    void AddFonts() {
        CRegistryNode& fonts =
            builder_.Key(machine_, u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts");
        for (const std::u16string& file : plan_.Fonts()) {
            const std::u16string stem = file.substr(0, file.rfind(u'.'));
            const bool trueType = file.ends_with(u".ttf");
            CSyntheticBuilder::String(fonts,
                                      Concat({stem, trueType ? u" (TrueType)" : u" 8,10,12"}),
                                      Random().Percent(10) ? Concat({kFontsFolder, file}) : file);
        }
        for (const Product& product : plan_.Products()) {
            if (!product.font.empty()) {
                CSyntheticBuilder::String(fonts, Concat({product.name, u" (TrueType)"}),
                                          product.font);
            }
        }
    }

    // The help files: the value's name is the file, its data the folder holding it.
    void AddHelpFiles() {
        CRegistryNode& help = builder_.Key(machine_, u"Software\\Microsoft\\Windows\\Help");
        CRegistryNode& htmlHelp =
            builder_.Key(machine_, u"Software\\Microsoft\\Windows\\HTML Help");
        const auto add = [&](std::u16string_view file, std::u16string_view folder) {
            CSyntheticBuilder::String(file.ends_with(u".chm") ? htmlHelp : help, file, folder);
        };
        for (const std::u16string& file : plan_.SystemHelpFiles()) {
            add(file, kHelpFolder);
        }
        for (const Product& product : plan_.Products()) {
            if (!product.helpFile.empty()) {
                add(FileName(product.helpFile), product.folder);
            }
        }
    }

    void AddSystemRegistrations() {
        for (const bool is32Bit : {false, true}) {
            CRegistryNode& cls =
                builder_.Key(ClassRoot(is32Bit), Concat({u"CLSID\\", kAutomationProxy}));
            CSyntheticBuilder::String(cls, u"", u"PSFactoryBuffer");
            CRegistryNode& server = builder_.Key(cls, u"InprocServer32");
            CSyntheticBuilder::String(server, u"", Concat({kSystem32, kAutomationProxyLibrary}));
            CSyntheticBuilder::String(server, u"ThreadingModel", u"Both");
            const std::size_t classes = builder_.Count(is32Bit ? 3000 : 6000);
            for (std::size_t i = 0; i < classes; ++i) {
                const auto [path, type] = SystemLibraryReference();
                CRegistryNode& system =
                    builder_.Key(ClassRoot(is32Bit), u"CLSID\\" + builder_.Guid());
                CSyntheticBuilder::String(system, u"", builder_.Noun() + u" Class");
                CRegistryNode& inproc = builder_.Key(system, u"InprocServer32");
                CSyntheticBuilder::String(inproc, u"", path, type);
                CSyntheticBuilder::String(inproc, u"ThreadingModel",
                                          Random().Pick(kThreadingModels));
            }
            const std::size_t interfaces = builder_.Count(is32Bit ? 2000 : 4000);
            for (std::size_t i = 0; i < interfaces; ++i) {
                CRegistryNode& iface =
                    builder_.Key(ClassRoot(is32Bit), u"Interface\\" + builder_.Guid());
                CSyntheticBuilder::String(iface, u"", u"I" + builder_.Noun());
                CSyntheticBuilder::String(builder_.Key(iface, u"ProxyStubClsid32"), u"",
                                          kAutomationProxy);
                CSyntheticBuilder::String(builder_.Key(iface, u"NumMethods"), u"",
                                          Number(Random().Between(3, 40)));
            }
        }
        const std::size_t libraries = builder_.Count(800);
        for (std::size_t i = 0; i < libraries; ++i) {
            const auto [path, type] = SystemLibraryReference();
            CRegistryNode& version =
                builder_.Key(classes_, Concat({u"TypeLib\\", builder_.Guid(), u"\\1.0"}));
            CSyntheticBuilder::String(version, u"", builder_.Noun() + u" Type Library");
            CSyntheticBuilder::String(builder_.Key(version, u"0\\win32"), u"", path, type);
            CSyntheticBuilder::String(builder_.Key(version, u"FLAGS"), u"", u"0");
        }
    }

    void AddProduct(const Product& product) {
        AddTypeLibraries(product);
        AddApplicationIds(product);
        const std::vector<std::u16string> classIds = AddClasses(product);
        AddInterfaces(product, classIds);
        AddFileTypes(product, classIds);
        AddInstallRecords(product, classIds);
    }

    void AddTypeLibraries(const Product& product) {
        for (std::size_t i = 0; i < product.typeLibraries.size(); ++i) {
            const std::u16string version = Concat({Number(Random().Between(1, 9)), u".0"});
            CRegistryNode& key = builder_.Key(
                classes_, Concat({u"TypeLib\\", product.typeLibraries[i], u"\\", version}));
            CSyntheticBuilder::String(key, u"",
                                      Concat({product.name, u" ", Number(i + 1), u" Library"}));
            // The library lives in its own file or as a resource of one of the DLLs.
            const std::u16string& file =
                Random().Percent(50) ? product.libraries[Random().Below(product.libraries.size())]
                                     : product.typeLibraryFile;
            const auto [path, type] = ProductReference(product, file);
            CSyntheticBuilder::String(
                builder_.Key(key, product.is32Bit ? u"0\\win32" : u"0\\win64"), u"", path, type);
            CSyntheticBuilder::String(builder_.Key(key, u"FLAGS"), u"", u"0");
            if (Random().Percent(40)) {
                CSyntheticBuilder::String(builder_.Key(key, u"HELPDIR"), u"", product.folder);
            }
        }
    }

    void AddApplicationIds(const Product& product) {
        for (const std::u16string& id : product.applicationIds) {
            CRegistryNode& key = builder_.Key(classes_, u"AppID\\" + id);
            CSyntheticBuilder::String(key, u"", product.name);
            if (Random().Percent(60)) {
                const std::u16string exe(FileName(product.exe));
                CSyntheticBuilder::String(builder_.Key(classes_, u"AppID\\" + exe), u"AppID", id);
            }
        }
    }

    // A few percent of references name a registration that does not exist.
    std::u16string Referenced(const std::vector<std::u16string>& ids) {
        if (ids.empty() || Random().Percent(kDanglingReferencePercent)) {
            return builder_.Guid();
        }
        return ids[Random().Below(ids.size())];
    }

    std::vector<std::u16string> AddClasses(const Product& product) {
        std::vector<std::u16string> ids;
        const std::size_t count = Random().Between(5, 120);
        for (std::size_t i = 0; i < count; ++i) {
            ids.push_back(builder_.Guid());
        }
        CRegistryNode& root = ClassRoot(product.is32Bit);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            CRegistryNode& cls = builder_.Key(root, u"CLSID\\" + ids[i]);
            const std::u16string noun = builder_.Noun();
            const std::u16string className = Concat({product.vendor, u" ", noun, u" Class"});
            if (!Random().Percent(5)) {
                CSyntheticBuilder::String(cls, u"", className);
            }
            if (Random().Percent(85)) {
                CRegistryNode& server = builder_.Key(cls, u"InprocServer32");
                const auto [path, type] = ProductReference(
                    product, product.libraries[Random().Below(product.libraries.size())]);
                CSyntheticBuilder::String(server, u"", path, type);
                CSyntheticBuilder::String(server, u"ThreadingModel",
                                          Random().Pick(kThreadingModels));
            } else {
                CRegistryNode& server = builder_.Key(cls, u"LocalServer32");
                CSyntheticBuilder::String(server, u"",
                                          Random().Percent(50)
                                              ? Concat({u"\"", product.exe, u"\" /automation"})
                                              : product.exe);
            }
            if (Random().Percent(15)) {
                CSyntheticBuilder::String(cls, u"AppID", Referenced(product.applicationIds));
            }
            if (!product.typeLibraries.empty() && Random().Percent(25)) {
                CSyntheticBuilder::String(builder_.Key(cls, u"TypeLib"), u"",
                                          Referenced(product.typeLibraries));
            }
            if (Random().Percent(15)) {
                const std::u16string& file = product.icon.empty() ? product.exe : product.icon;
                CSyntheticBuilder::String(builder_.Key(cls, u"DefaultIcon"), u"",
                                          Concat({file, u",", Number(Random().Below(4))}));
            }
            if (Random().Percent(4)) {
                CSyntheticBuilder::String(builder_.Key(cls, u"ToolboxBitmap32"), u"",
                                          Concat({product.libraries.front(), u", 1"}));
            }
            if (Random().Percent(10)) {
                builder_.Key(cls, u"Implemented Categories\\" + builder_.Guid());
            }
            if (Random().Percent(2)) {
                builder_.Key(cls, u"ShellEx\\ContextMenuHandlers\\" + Referenced(ids));
            }
            if (Random().Percent(45)) {
                const std::u16string independent =
                    Concat({product.progIdPrefix, u".", noun, Number(i + 1)});
                const std::u16string progId = independent + u".1";
                CSyntheticBuilder::String(builder_.Key(cls, u"ProgID"), u"", progId);
                CSyntheticBuilder::String(builder_.Key(cls, u"VersionIndependentProgID"), u"",
                                          independent);
                CRegistryNode& versioned = builder_.Key(root, progId);
                CSyntheticBuilder::String(versioned, u"", className);
                CSyntheticBuilder::String(builder_.Key(versioned, u"CLSID"), u"", ids[i]);
                CRegistryNode& current = builder_.Key(root, independent);
                CSyntheticBuilder::String(current, u"", className);
                CSyntheticBuilder::String(builder_.Key(current, u"CLSID"), u"", ids[i]);
                CSyntheticBuilder::String(builder_.Key(current, u"CurVer"), u"", progId);
            }
        }
        return ids;
    }

    void AddInterfaces(const Product& product, const std::vector<std::u16string>& classIds) {
        const std::size_t count = Random().Between(0, 30);
        for (std::size_t i = 0; i < count; ++i) {
            CRegistryNode& iface =
                builder_.Key(ClassRoot(product.is32Bit), u"Interface\\" + builder_.Guid());
            CSyntheticBuilder::String(iface, u"", Concat({u"I", builder_.Noun(), Number(i + 1)}));
            const std::u16string proxy =
                Random().Percent(80) ? std::u16string(kAutomationProxy) : Referenced(classIds);
            CSyntheticBuilder::String(builder_.Key(iface, u"ProxyStubClsid32"), u"", proxy);
            CSyntheticBuilder::String(builder_.Key(iface, u"NumMethods"), u"",
                                      Number(Random().Between(3, 40)));
            if (!product.typeLibraries.empty()) {
                CRegistryNode& library = builder_.Key(iface, u"TypeLib");
                CSyntheticBuilder::String(library, u"", Referenced(product.typeLibraries));
                CSyntheticBuilder::String(library, u"Version", u"1.0");
            }
        }
    }

    // File extensions and the program identifiers they name, with an icon, verbs and some
    // with a context-menu handler, in the product's own view.
    void AddFileTypes(const Product& product, const std::vector<std::u16string>& classIds) {
        CRegistryNode& root = ClassRoot(product.is32Bit);
        const std::size_t count = Random().Between(0, 5);
        for (std::size_t i = 0; i < count; ++i) {
            const std::u16string extension = builder_.Identifier(2, 4);
            const std::u16string progId = Concat({product.progIdPrefix, u".", extension, u"file"});
            CSyntheticBuilder::String(builder_.Key(root, u"." + extension), u"", progId);
            CRegistryNode& type = builder_.Key(root, progId);
            CSyntheticBuilder::String(type, u"", Concat({product.name, u" ", extension, u" file"}));
            const std::u16string& icon = product.icon.empty() ? product.exe : product.icon;
            CSyntheticBuilder::String(builder_.Key(type, u"DefaultIcon"), u"",
                                      Concat({icon, u",", Number(Random().Below(3))}));
            CSyntheticBuilder::String(builder_.Key(type, u"shell\\open\\command"), u"",
                                      Concat({u"\"", product.exe, u"\" \"%1\""}));
            if (Random().Percent(40)) {
                CSyntheticBuilder::String(builder_.Key(type, u"shell\\edit\\command"), u"",
                                          Concat({u"\"", product.exe, u"\" /edit \"%1\""}));
            }
            if (Random().Percent(20)) {
                CSyntheticBuilder::String(builder_.Key(type, u"shell\\print\\command"), u"",
                                          Concat({u"\"", product.exe, u"\" /p \"%1\""}));
            }
            if (Random().Percent(15)) {
                CSyntheticBuilder::String(
                    builder_.Key(type, u"ShellEx\\ContextMenuHandlers\\" + product.progIdPrefix),
                    u"", Referenced(classIds));
            }
        }
    }

    // Uninstall, App Paths, Run, shared library and approved extension entries, in the
    // product's own view; a product installed from a package also has its installer records.
    void AddInstallRecords(const Product& product, const std::vector<std::u16string>& classIds) {
        const std::u16string software =
            product.is32Bit ? u"Software\\Wow6432Node\\" : u"Software\\";
        const std::u16string currentVersion = software + std::u16string(kCurrentVersion);
        const bool fromPackage = Random().Percent(30);
        const std::u16string entryName = fromPackage || Random().Percent(40)
                                             ? builder_.Guid()
                                             : Concat({product.vendor, u" ", product.name});
        CRegistryNode& entry =
            builder_.Key(machine_, currentVersion + u"\\Uninstall\\" + entryName);
        CSyntheticBuilder::String(entry, u"DisplayName", product.name);
        CSyntheticBuilder::String(entry, u"DisplayVersion", builder_.Version());
        CSyntheticBuilder::String(entry, u"Publisher", product.vendor);
        CSyntheticBuilder::String(entry, u"InstallLocation", product.folder);
        if (fromPackage) {
            // As the package installer writes it: the installer is the uninstaller, and the
            // icon lives with the package's own records.
            CSyntheticBuilder::String(entry, u"UninstallString", u"MsiExec.exe /I" + entryName);
            CSyntheticBuilder::String(entry, u"InstallSource", product.folder + u"\\");
            CSyntheticBuilder::Dword(entry, u"WindowsInstaller", 1);
            AddPackageRecords(product);
        } else {
            CSyntheticBuilder::String(entry, u"UninstallString",
                                      Concat({u"\"", product.uninstaller, u"\" /S"}));
            CSyntheticBuilder::String(entry, u"DisplayIcon", product.exe + u",0");
        }
        CSyntheticBuilder::Dword(entry, u"EstimatedSize",
                                 static_cast<std::uint32_t>(Random().Below(2000000)));
        if (Random().Percent(20)) {
            // The cache of the software list; a few outlive their uninstall entry.
            const std::u16string cached =
                Random().Percent(kDanglingReferencePercent) ? builder_.Guid() : entryName;
            CSyntheticBuilder::Dword(
                builder_.Key(machine_, Concat({u"Software\\", kCurrentVersion,
                                               u"\\App Management\\ARPCache\\", cached})),
                u"Changed", 0);
        }
        if (Random().Percent(35)) {
            CRegistryNode& shared = builder_.Key(machine_, currentVersion + u"\\SharedDLLs");
            for (const std::u16string& library : product.libraries) {
                CSyntheticBuilder::Dword(shared, library,
                                         static_cast<std::uint32_t>(Random().Between(1, 4)));
            }
        }
        if (Random().Percent(10)) {
            CSyntheticBuilder::String(
                builder_.Key(machine_, currentVersion + u"\\Shell Extensions\\Approved"),
                Referenced(classIds), Concat({product.name, u" Shell Extension"}));
        }
        if (Random().Percent(50)) {
            CRegistryNode& appPath = builder_.Key(
                machine_, Concat({currentVersion, u"\\App Paths\\", FileName(product.exe)}));
            CSyntheticBuilder::String(appPath, u"", product.exe);
            CSyntheticBuilder::String(appPath, u"Path", product.folder);
        }
        if (product.runsForMachine) {
            CSyntheticBuilder::String(builder_.Key(machine_, currentVersion + u"\\Run"),
                                      product.name,
                                      Concat({u"\"", product.exe, u"\" /background"}));
        }
    }

    // The package installer's records of a product: its folder, and the product key with its
    // source list below HKEY_CLASSES_ROOT\Installer.
    void AddPackageRecords(const Product& product) {
        CSyntheticBuilder::String(builder_.Key(machine_, Concat({u"Software\\", kCurrentVersion,
                                                                 u"\\Installer\\Folders"})),
                                  product.folder + u"\\", u"");
        CRegistryNode& key =
            builder_.Key(classes_, u"Installer\\Products\\" + builder_.PackedGuid());
        CSyntheticBuilder::String(key, u"ProductName", product.name);
        CSyntheticBuilder::String(key, u"PackageCode", builder_.PackedGuid());
        CSyntheticBuilder::Dword(key, u"Language", 1033);
        CSyntheticBuilder::Dword(key, u"Version", static_cast<std::uint32_t>(Random().Next()));
        CSyntheticBuilder::Dword(key, u"Assignment", 1);
        CSyntheticBuilder::Dword(key, u"AdvertiseFlags", 388);
        CRegistryNode& sources = builder_.Key(key, u"SourceList");
        CSyntheticBuilder::String(sources, u"PackageName", product.name + u".msi");
        CSyntheticBuilder::String(sources, u"LastUsedSource",
                                  Concat({u"n;1;", product.folder, u"\\"}), RegExpandSz);
        CSyntheticBuilder::String(builder_.Key(sources, u"Net"), u"1", product.folder + u"\\",
                                  RegExpandSz);
        CSyntheticBuilder::String(builder_.Key(sources, u"Media"), u"1", u";");
    }

    CSyntheticBuilder builder_;
    const CScanPrefixPlan& plan_;
    CRegistryNode& machine_;
    CRegistryNode& classes_;
    CRegistryNode& classes32_;
    CSettingsWriter settings_;
};

// Writes the user's entries: Run values, the sound scheme, the shell's history lists and
// every product's settings.
class CUserWriter {
public:
    CUserWriter(CRegistryNode& user, const CScanPrefixPlan& plan, const ScanPrefixShape& shape)
        : builder_(shape.seed + 2, shape.scale),
          plan_(plan),
          user_(user),
          settings_(builder_, plan) {}

    void Write() {
        AddSounds();
        AddHistoryLists();
        for (const Product& product : plan_.Products()) {
            if (product.runsForUser) {
                CSyntheticBuilder::String(
                    builder_.Key(user_, u"Software\\" + std::u16string(kCurrentVersion) + u"\\Run"),
                    product.name, product.exe);
            }
            CRegistryNode& settings =
                builder_.Key(user_, Concat({u"Software\\", product.vendor, u"\\", product.name}));
            if (product.hasUserSettings) {
                CSyntheticBuilder::String(settings, u"InstallPath", product.folder);
                CSyntheticBuilder::Dword(settings, u"Flags",
                                         static_cast<std::uint32_t>(Random().Next()));
            }
            settings_.Tree(settings, product);
        }
    }

private:
    CRandom& Random() { return builder_.Random(); }

    // A sound as the scheme names it: mostly by full path, some through %SystemRoot%, some by
    // name alone (found in the media folder), a few not at all.
    std::pair<std::u16string, RegType> SoundReference() {
        const auto& sounds = plan_.Sounds();
        const std::u16string& name = sounds[Random().Below(sounds.size())];
        const std::size_t form = Random().Below(20);
        if (form < 12) {
            return {Concat({kMediaFolder, name}), RegSz};
        }
        if (form < 16) {
            return {u"%SystemRoot%\\media\\" + name, RegExpandSz};
        }
        if (form < 19) {
            return {name, RegSz};
        }
        return {u"", RegSz};
    }

    void AddEvent(CRegistryNode& app, std::u16string_view event) {
        CRegistryNode& key = builder_.Key(app, event);
        for (std::u16string_view setting : {u".Current", u".Default"}) {
            const auto [text, type] = SoundReference();
            CSyntheticBuilder::String(builder_.Key(key, setting), u"", text, type);
        }
        if (Random().Percent(20)) {
            CSyntheticBuilder::String(builder_.Key(key, u".None"), u"", u"");
        }
        CSyntheticBuilder::String(builder_.Key(user_, Concat({u"AppEvents\\EventLabels\\", event})),
                                  u"", Concat({event, u" sound"}));
    }

    void AddSounds() {
        CRegistryNode& apps = builder_.Key(user_, u"AppEvents\\Schemes\\Apps");
        CSyntheticBuilder::String(builder_.Key(user_, u"AppEvents\\Schemes"), u"", u".Default");
        CRegistryNode& system = builder_.Key(apps, u".Default");
        for (std::u16string_view event : kSystemEvents) {
            AddEvent(system, event);
        }
        CRegistryNode& explorer = builder_.Key(apps, u"Explorer");
        for (std::u16string_view event : kExplorerEvents) {
            AddEvent(explorer, event);
        }
        for (const Product& product : plan_.Products()) {
            if (!Random().Percent(5)) {
                continue;
            }
            CRegistryNode& app = builder_.Key(apps, product.progIdPrefix);
            CSyntheticBuilder::String(app, u"", product.name);
            for (std::size_t i = 0, count = Random().Between(2, 6); i < count; ++i) {
                AddEvent(app, Concat({product.progIdPrefix, kProductEvents[i]}));
            }
        }
    }

    void AddHistoryLists() {
        const std::u16string explorer = Concat({u"Software\\", kCurrentVersion, u"\\Explorer\\"});
        // The programs each file type was opened with.
        std::vector<std::u16string> extensions(std::begin(kDocumentExtensions),
                                               std::end(kDocumentExtensions));
        for (std::size_t i = 0, count = builder_.Count(200); i < count; ++i) {
            extensions.push_back(builder_.Identifier(2, 4));
        }
        for (const std::u16string& extension : SortedUnique(std::move(extensions))) {
            CRegistryNode& type =
                builder_.Key(user_, Concat({explorer, u"FileExts\\.", extension}));
            std::vector<std::u16string> programs;
            for (std::size_t i = 0, count = Random().Between(1, 4); i < count; ++i) {
                programs.emplace_back(FileName(Program().exe));
            }
            WriteMruList(builder_.Key(type, u"OpenWithList"), Random(), programs);
            CSyntheticBuilder::String(builder_.Key(type, u"OpenWithProgids"),
                                      Program().progIdPrefix + u"." + extension, u"");
        }
        // The files the common file dialogs opened and saved, by extension and in all.
        for (std::u16string_view extension : kDocumentExtensions) {
            std::vector<std::u16string> files;
            for (const std::u16string& document : plan_.Documents()) {
                if (document.ends_with(Concat({u".", extension})) && Random().Percent(3)) {
                    files.push_back(document);
                }
            }
            WriteMruList(
                builder_.Key(user_, Concat({explorer, u"ComDlg32\\OpenSaveMRU\\", extension})),
                Random(), files);
        }
        std::vector<std::u16string> recent;
        for (std::size_t i = 0; i < 26; ++i) {
            recent.push_back(settings_.Document());
        }
        WriteMruList(builder_.Key(user_, explorer + u"ComDlg32\\OpenSaveMRU\\*"), Random(), recent);
        // What the user started, counted under names in rot13: programs by path, start menu
        // entries through the special folder they are in.
        CRegistryNode& programs = builder_.Key(
            user_, Concat({explorer, u"UserAssist\\", kUserAssistKeys[0], u"\\Count"}));
        CRegistryNode& shortcuts = builder_.Key(
            user_, Concat({explorer, u"UserAssist\\", kUserAssistKeys[1], u"\\Count"}));
        for (CRegistryNode* count : {&programs, &shortcuts}) {
            builder_.RandomBytes(*count, Rot13(u"UEME_CTLSESSION"), RegBinary, 16);
        }
        for (const Product& product : plan_.Products()) {
            if (Random().Percent(50)) {
                builder_.RandomBytes(programs, Rot13(u"UEME_RUNPATH:" + product.exe), RegBinary,
                                     16);
            }
            if (Random().Percent(40)) {
                builder_.RandomBytes(shortcuts,
                                     Rot13(Concat({u"UEME_RUNPIDL:%csidl2%\\", product.vendor,
                                                   u"\\", product.name, u".lnk"})),
                                     RegBinary, 16);
            }
        }
        // The recent files of the system's own programs.
        for (std::u16string_view applet : {u"Wordpad", u"Paint"}) {
            settings_.RecentFiles(
                builder_.Key(user_, Concat({u"Software\\", kCurrentVersion, u"\\Applets\\", applet,
                                            u"\\Recent File List"})),
                u"File");
        }
    }

    const Product& Program() {
        const auto& products = plan_.Products();
        return products[Random().Below(products.size())];
    }

    CSyntheticBuilder builder_;
    const CScanPrefixPlan& plan_;
    CRegistryNode& user_;
    CSettingsWriter settings_;
};

// The keys and links every prefix has, from the demo prefix's baseline: the writes of one
// root, whose full paths start with rootPrefix.
void WriteBaseline(CRegistryNode& branch, std::u16string_view rootPrefix) {
    CSyntheticBuilder builder(0, 1.0);
    const demo::Baseline& baseline = demo::DemoBaseline();
    for (const demo::RegWrite& write : baseline.writes) {
        if (!write.key.starts_with(rootPrefix)) {
            continue;
        }
        CRegistryNode& key = builder.Key(branch, write.key.substr(rootPrefix.size()));
        if (write.type == RegSz || write.type == RegExpandSz) {
            CSyntheticBuilder::String(key, write.name, write.text, write.type);
        } else if (write.type != RegNone) {
            key.SetValue(write.name, write.type, write.bytes);
        }
    }
    for (const demo::RegLinkWrite& link : baseline.links) {
        if (!link.key.starts_with(rootPrefix)) {
            continue;
        }
        CRegistryNode& key = builder.Key(branch, link.key.substr(rootPrefix.size()));
        key.isLink = true;
        key.SetValue(u"SymbolicLinkValue", RegLink, ToUtf16LeBytes(link.target, false));
    }
}

// --- drive C: ------------------------------------------------------------------------------

class CDriveWriter {
public:
    explicit CDriveWriter(fs::path prefix) : prefix_(std::move(prefix)) {}

    FileError Folder(std::u16string_view windowsPath) {
        fs::path path;
        if (FileError failure = UnixPath(windowsPath, &path)) {
            return failure;
        }
        return MakeFolder(path);
    }

    // A file created with content, or empty, without the flush of a data file: the whole
    // prefix is moved into place only once it is complete.
    FileError File(std::u16string_view windowsPath, std::span<const std::uint8_t> content) {
        fs::path path;
        if (FileError failure = UnixPath(windowsPath, &path)) {
            return failure;
        }
        if (FileError failure = MakeFolder(path.parent_path())) {
            return failure;
        }
        std::ofstream stream(path, std::ios::binary | std::ios::trunc);
        stream.write(reinterpret_cast<const char*>(content.data()),
                     static_cast<std::streamsize>(content.size()));
        stream.close();
        if (!stream) {
            return "cannot write " + path.string();
        }
        return std::nullopt;
    }

private:
    FileError UnixPath(std::u16string_view windowsPath, fs::path* path) const {
        const std::optional<fs::path> resolved = demo::PathOnDriveC(prefix_, windowsPath);
        if (!resolved) {
            return "not a path of drive C: " + Utf16ToUtf8(windowsPath);
        }
        *path = *resolved;
        return std::nullopt;
    }

    FileError MakeFolder(const fs::path& path) {
        if (made_.contains(path.string())) {
            return std::nullopt;
        }
        std::error_code error;
        fs::create_directories(path, error);
        if (error) {
            return "cannot create " + path.string() + ": " + error.message();
        }
        made_.insert(path.string());
        return std::nullopt;
    }

    fs::path prefix_;
    std::set<std::string> made_;
};

FileError WriteDriveC(const fs::path& prefix, const CScanPrefixPlan& plan, ScanPrefixFacts* facts) {
    std::error_code error;
    fs::create_directories(prefix / "drive_c", error);
    if (!error) {
        fs::create_directory(prefix / "dosdevices", error);
    }
    if (!error) {
        fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:", error);
    }
    if (error) {
        return "cannot make drive C: in " + prefix.string() + ": " + error.message();
    }
    CDriveWriter drive(prefix);
    const demo::Baseline& baseline = demo::DemoBaseline();
    for (const std::u16string& folder : baseline.folders) {
        if (FileError failure = drive.Folder(folder)) {
            return failure;
        }
    }
    for (const std::u16string& file : baseline.files) {
        if (FileError failure = drive.File(file, {})) {
            return failure;
        }
    }
    for (const auto& [path, exists] : plan.Files()) {
        if (!exists) {
            ++facts->missingFiles;
            continue;
        }
        if (FileError failure = drive.File(path, {})) {
            return failure;
        }
        ++facts->files;
    }
    const FileTime time =
        ToFileTime(std::chrono::system_clock::time_point(std::chrono::seconds(kFileUnixSeconds)));
    for (const Shortcut& shortcut : plan.Shortcuts()) {
        const std::vector<std::uint8_t> bytes =
            demo::FormatShellLink(demo::ShellLinkTarget{shortcut.target, false, time});
        if (bytes.empty()) {
            return "cannot make a shortcut to " + Utf16ToUtf8(shortcut.target);
        }
        if (FileError failure = drive.File(shortcut.path, bytes)) {
            return failure;
        }
        ++facts->files;
        ++facts->shortcuts;
    }
    return std::nullopt;
}

FileError WritePrefix(IFileIo& files, const fs::path& folder, const ScanPrefixShape& shape,
                      ScanPrefixFacts* facts) {
    const CScanPrefixPlan plan(shape);
    *facts = ScanPrefixFacts{};
    facts->products = plan.Products().size();
    for (const Product& product : plan.Products()) {
        facts->removedProducts += product.removed ? 1 : 0;
    }
    FileError failure =
        WriteBranchFile(files, folder, PrefixBranch::Machine, [&](CRegistryNode& node) {
            WriteBaseline(node, u"HKEY_LOCAL_MACHINE\\");
            CMachineWriter(node, plan, shape).Write();
        });
    if (!failure) {
        failure = WriteBranchFile(files, folder, PrefixBranch::User, [&](CRegistryNode& node) {
            WriteBaseline(node, u"HKEY_CURRENT_USER\\");
            CUserWriter(node, plan, shape).Write();
        });
    }
    if (!failure) {
        failure = WriteBranchFile(
            files, folder, PrefixBranch::DefaultUser,
            [&](CRegistryNode& node) { WriteBaseline(node, u"HKEY_USERS\\.Default\\"); });
    }
    if (!failure) {
        failure = WriteDriveC(folder, plan, facts);
    }
    if (!failure) {
        const std::string stamp =
            "seed " + std::to_string(shape.seed) + " scale " + std::to_string(shape.scale) + "\n";
        failure = files.ReplaceFileAtomically(
            folder / kScanPrefixMarker,
            {reinterpret_cast<const std::uint8_t*>(stamp.data()), stamp.size()});
    }
    return failure;
}

}  // namespace

FileError WriteScanPrefix(IFileIo& files, const fs::path& folder, const ScanPrefixShape& shape,
                          ScanPrefixFacts* facts) {
    std::error_code error;
    const bool occupied = fs::exists(folder, error) && !fs::is_empty(folder, error);
    if (occupied && !fs::exists(folder / kScanPrefixMarker, error)) {
        return folder.string() +
               " is not empty and is not a prefix this benchmark wrote; nothing was written";
    }
    const fs::path absolute = fs::absolute(folder, error).lexically_normal();
    if (error || !absolute.has_filename()) {
        return "cannot use " + folder.string() + " as the prefix folder";
    }
    fs::create_directories(absolute.parent_path(), error);
    std::string pattern =
        (absolute.parent_path() / ("." + absolute.filename().string() + ".new-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return "cannot make a folder beside " + absolute.string() + ": " +
               std::error_code(errno, std::generic_category()).message();
    }
    const fs::path staging = pattern;
    if (FileError failure = WritePrefix(files, staging, shape, facts)) {
        fs::remove_all(staging, error);
        return failure;
    }
    // The old prefix goes aside first, so that a failed move leaves one of the two in place.
    const fs::path previous = staging.string() + ".old";
    if (occupied) {
        fs::rename(absolute, previous, error);
        if (error) {
            const std::string reason = "cannot move the old prefix aside: " + error.message();
            fs::remove_all(staging, error);
            return reason;
        }
    } else {
        fs::remove(absolute, error);
    }
    fs::rename(staging, absolute, error);
    if (error) {
        return "cannot move the new prefix into place: " + error.message() + "; it is in " +
               staging.string();
    }
    if (occupied) {
        fs::remove_all(previous, error);
    }
    return std::nullopt;
}

}  // namespace quillary
