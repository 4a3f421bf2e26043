#include "synthetic_prefix.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "core/text_encoding.h"
#include "platform/clock.h"
#include "synthetic_builder.h"

namespace quillary {
namespace {

constexpr std::u16string_view kGroups[] = {
    u"Base", u"Boot Bus Extender", u"Network", u"PnP Filter", u"Video", u"Extended Base"};
// Value names that exercise every escape of the format: quotes, backslashes, control
// characters, characters above 0x7F (one of them outside the basic plane) and a hex digit
// right after one.
constexpr std::u16string_view kOddValueNames[] = {u"Path \"quoted\"",
                                                  u"C:\\Temp\\last.txt",
                                                  u"Tab\tSeparated",
                                                  u"Line\nBreak",
                                                  u"Bell\a\x01"
                                                  u"7",
                                                  u"Größe",
                                                  u"Ünïcode€",
                                                  u"名前",
                                                  u"Smile😀",
                                                  u"é1f",
                                                  u"[Brackets]",
                                                  u"Escape\x1b"};

// The separator of the strings in a multi-string value.
constexpr std::u16string_view kNul(u"\0", 1);

// HKLM\Software\Classes\CLSID and its 32-bit twin: the bulk of a real prefix.
void AddComClasses(CSyntheticBuilder& builder, CRegistryNode& classes,
                   std::u16string_view parentPath, std::size_t count) {
    std::vector<std::u16string> ids;
    for (std::size_t i = 0; i < count; ++i) {
        ids.push_back(builder.Guid());
    }
    CRandom& random = builder.Random();
    CRegistryNode& parent = builder.Key(classes, parentPath);
    for (const std::u16string& id : SortedUnique(std::move(ids))) {
        CRegistryNode& cls = builder.Key(parent, id);
        const std::u16string name = Concat({builder.Vendor(), u" ", builder.Noun()});
        CSyntheticBuilder::String(cls, u"", name + u" Class");
        if (random.Percent(20)) {
            CSyntheticBuilder::String(cls, u"AppID", builder.Guid());
        }
        const bool local = random.Percent(10);
        CRegistryNode& server = builder.Key(cls, local ? u"LocalServer32" : u"InprocServer32");
        if (random.Percent(30)) {
            CSyntheticBuilder::String(
                server, u"",
                Concat({u"%SystemRoot%\\system32\\", builder.Identifier(4, 10), u".dll"}),
                RegExpandSz);
        } else {
            CSyntheticBuilder::String(server, u"", builder.DllPath());
        }
        if (!local) {
            CSyntheticBuilder::String(server, u"ThreadingModel", random.Pick(kThreadingModels));
        }
        if (random.Percent(40)) {
            CSyntheticBuilder::String(builder.Key(cls, u"ProgID"), u"",
                                      Concat({builder.Vendor(), u".", builder.Noun(), u".1"}));
        }
        if (random.Percent(10)) {
            builder.Key(cls, Concat({u"Implemented Categories\\", builder.Guid()}));
        }
    }
}

void AddInterfaces(CSyntheticBuilder& builder, CRegistryNode& classes, std::size_t count) {
    std::vector<std::u16string> ids;
    for (std::size_t i = 0; i < count; ++i) {
        ids.push_back(builder.Guid());
    }
    CRegistryNode& parent = builder.Key(classes, u"Interface");
    for (const std::u16string& id : SortedUnique(std::move(ids))) {
        CRegistryNode& iface = builder.Key(parent, id);
        CSyntheticBuilder::String(iface, u"", Concat({u"I", builder.Noun(), builder.Product()}));
        CSyntheticBuilder::String(builder.Key(iface, u"ProxyStubClsid32"), u"",
                                  u"{00020424-0000-0000-C000-000000000046}");
        CSyntheticBuilder::String(builder.Key(iface, u"NumMethods"), u"",
                                  Number(builder.Random().Between(3, 40)));
    }
}

// File extensions and the program identifiers they name, with their shell verbs.
void AddFileTypes(CSyntheticBuilder& builder, CRegistryNode& classes, std::size_t count) {
    CRandom& random = builder.Random();
    std::vector<std::u16string> extensions;
    for (std::size_t i = 0; i < count; ++i) {
        extensions.push_back(Concat({u".", builder.Identifier(2, 5)}));
    }
    extensions = SortedUnique(std::move(extensions));
    std::vector<std::u16string> progIds;
    for (const std::u16string& extension : extensions) {
        const std::u16string progId = Concat({extension.substr(1), u"file"});
        CRegistryNode& key = builder.Key(classes, extension);
        CSyntheticBuilder::String(key, u"", progId);
        if (random.Percent(50)) {
            CSyntheticBuilder::String(key, u"Content Type",
                                      Concat({u"application/x-", extension.substr(1)}));
        }
        if (random.Percent(30)) {
            // An empty REG_NONE value, as programs register themselves in OpenWithProgids.
            builder.Key(key, u"OpenWithProgids").SetValue(progId, RegNone, {});
        }
        progIds.push_back(progId);
    }
    for (const std::u16string& progId : SortedUnique(std::move(progIds))) {
        CRegistryNode& key = builder.Key(classes, progId);
        CSyntheticBuilder::String(key, u"", Concat({builder.Vendor(), u" ", builder.Noun()}));
        if (random.Percent(20)) {
            CSyntheticBuilder::Dword(key, u"EditFlags", 0x10000);
        }
        const std::u16string program =
            Concat({builder.ProgramFolder(), u"\\", builder.Identifier(3, 8), u".exe"});
        CSyntheticBuilder::String(builder.Key(key, u"DefaultIcon"), u"",
                                  Concat({program, u",", Number(random.Below(20))}));
        const std::size_t verbs = random.Between(1, 3);
        for (std::size_t i = 0; i < verbs; ++i) {
            CRegistryNode& command =
                builder.Key(key, Concat({u"shell\\", random.Pick(kVerbs), u"\\command"}));
            CSyntheticBuilder::String(command, u"", Concat({u"\"", program, u"\" \"%1\""}));
        }
    }
}

void AddUninstallEntry(CSyntheticBuilder& builder, CRegistryNode& entry, bool installer) {
    CRandom& random = builder.Random();
    const std::u16string folder = builder.ProgramFolder();
    const std::u16string version = builder.Version();
    CSyntheticBuilder::String(entry, u"DisplayName",
                              Concat({builder.Vendor(), u" ", builder.Product(), u" ", version}));
    CSyntheticBuilder::String(entry, u"DisplayVersion", version);
    CSyntheticBuilder::String(entry, u"Publisher", builder.Vendor());
    CSyntheticBuilder::String(entry, u"InstallLocation", folder + u"\\");
    CSyntheticBuilder::String(
        entry, u"InstallSource",
        Concat({u"C:\\users\\user\\Downloads\\", builder.Identifier(5, 12), u"\\"}));
    CSyntheticBuilder::String(
        entry, u"InstallDate",
        Concat({u"202", Number(random.Between(3, 5)), u"0", Number(random.Between(1, 9)), u"1",
                Number(random.Below(10))}));
    CSyntheticBuilder::String(entry, u"DisplayIcon", folder + u"\\app.ico");
    CSyntheticBuilder::String(entry, u"HelpLink",
                              Concat({u"https://support.example.com/", builder.Identifier(4, 9)}));
    CSyntheticBuilder::String(entry, u"URLInfoAbout", u"https://www.example.com/");
    CSyntheticBuilder::Dword(entry, u"EstimatedSize",
                             static_cast<std::uint32_t>(random.Below(2000000)));
    CSyntheticBuilder::Dword(entry, u"Language", 1033);
    CSyntheticBuilder::Dword(entry, u"Version", static_cast<std::uint32_t>(random.Next()));
    CSyntheticBuilder::Dword(entry, u"VersionMajor", static_cast<std::uint32_t>(random.Below(24)));
    CSyntheticBuilder::Dword(entry, u"VersionMinor", static_cast<std::uint32_t>(random.Below(10)));
    if (installer) {
        CSyntheticBuilder::Dword(entry, u"WindowsInstaller", 1);
        CSyntheticBuilder::Dword(entry, u"NoModify", 1);
        CSyntheticBuilder::Dword(entry, u"NoRepair", static_cast<std::uint32_t>(random.Below(2)));
        CSyntheticBuilder::String(entry, u"UninstallString",
                                  Concat({u"MsiExec.exe /X", builder.Guid()}), RegExpandSz);
        CSyntheticBuilder::String(entry, u"ModifyPath", Concat({u"MsiExec.exe /I", builder.Guid()}),
                                  RegExpandSz);
    } else {
        CSyntheticBuilder::String(entry, u"UninstallString",
                                  Concat({u"\"", folder, u"\\uninst.exe\" /S"}));
    }
    if (random.Percent(5)) {
        // A description over several lines, as some installers write.
        CSyntheticBuilder::String(entry, u"Comments", u"First line\r\nSecond line\twith a tab");
    }
}

// The features of each installed product: many short values per key. The machine's classes
// list each feature with its parent; the product's record lists its components, each packed
// into 20 characters.
void AddInstallerFeatures(CSyntheticBuilder& builder, CRegistryNode& machine,
                          CRegistryNode& products, const std::vector<std::u16string>& codes) {
    static constexpr std::u16string_view kPackedAlphabet =
        u"!$%&'()*+,-.0123456789=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{}~";
    CRandom& random = builder.Random();
    CRegistryNode& classFeatures = builder.Key(machine, u"Software\\Classes\\Installer\\Features");
    for (const std::u16string& code : codes) {
        CRegistryNode& listed = builder.Key(classFeatures, code);
        CRegistryNode& installed = builder.Key(products, code + u"\\Features");
        const std::size_t count = random.Between(20, 60);
        for (std::size_t i = 0; i < count; ++i) {
            const std::u16string feature = Concat({builder.Identifier(3, 10), Number(i)});
            CSyntheticBuilder::String(listed, feature, i == 0 ? u"" : u"Complete");
            std::u16string components;
            const std::size_t packed = random.Between(1, 3);
            for (std::size_t j = 0; j < 20 * packed; ++j) {
                components += kPackedAlphabet[random.Below(kPackedAlphabet.size())];
            }
            CSyntheticBuilder::String(installed, feature, components);
        }
    }
}

// Uninstall entries, and Windows Installer's records of products and components.
void AddInstalledSoftware(CSyntheticBuilder& builder, CRegistryNode& machine, std::size_t products,
                          std::size_t components) {
    CRandom& random = builder.Random();
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < products; ++i) {
        names.push_back(random.Percent(80)
                            ? builder.Guid()
                            : Concat({builder.Vendor(), u" ", builder.Product(), u" ", Number(i)}));
    }
    CRegistryNode& uninstall =
        builder.Key(machine, u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    for (const std::u16string& name : SortedUnique(std::move(names))) {
        AddUninstallEntry(builder, builder.Key(uninstall, name), name.front() == u'{');
    }

    CRegistryNode& userData = builder.Key(
        machine, u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18");
    std::vector<std::u16string> codes;
    for (std::size_t i = 0; i < products; ++i) {
        codes.push_back(builder.PackedGuid());
    }
    codes = SortedUnique(std::move(codes));
    CRegistryNode& productsKey = builder.Key(userData, u"Products");
    for (const std::u16string& code : codes) {
        AddUninstallEntry(builder, builder.Key(productsKey, code + u"\\InstallProperties"), true);
    }
    AddInstallerFeatures(builder, machine, productsKey, codes);
    std::vector<std::u16string> componentIds;
    for (std::size_t i = 0; i < components; ++i) {
        componentIds.push_back(builder.PackedGuid());
    }
    CRegistryNode& componentsKey = builder.Key(userData, u"Components");
    for (const std::u16string& id : SortedUnique(std::move(componentIds))) {
        CRegistryNode& component = builder.Key(componentsKey, id);
        const std::size_t owners = random.Between(1, 4);
        for (std::size_t i = 0; i < owners; ++i) {
            const std::u16string& owner = codes[random.Below(codes.size())];
            if (random.Percent(10)) {
                CSyntheticBuilder::String(component, owner,
                                          Concat({u"02:\\SOFTWARE\\", builder.Vendor(), u"\\",
                                                  builder.Product(), u"\\"}));
            } else {
                CSyntheticBuilder::String(component, owner, builder.DllPath());
            }
        }
    }

    // Two keys with very many values, whose names are paths full of backslashes.
    CRegistryNode& sharedDlls =
        builder.Key(machine, u"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs");
    for (std::size_t i = 0; i < components / 4; ++i) {
        CSyntheticBuilder::Dword(sharedDlls, builder.DllPath(),
                                 static_cast<std::uint32_t>(random.Between(1, 5)));
    }
    CRegistryNode& folders =
        builder.Key(machine, u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders");
    for (std::size_t i = 0; i < products * 2; ++i) {
        CSyntheticBuilder::String(folders, builder.ProgramFolder() + u"\\", u"");
    }
}

void AddServices(CSyntheticBuilder& builder, CRegistryNode& machine, std::size_t count) {
    CRandom& random = builder.Random();
    std::vector<std::u16string> names;
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back(Concat({builder.Product(), builder.Identifier(2, 6), Number(i % 100)}));
    }
    CRegistryNode& services = builder.Key(machine, u"System\\CurrentControlSet\\Services");
    for (const std::u16string& name : SortedUnique(std::move(names))) {
        CRegistryNode& service = builder.Key(services, name);
        const bool driver = random.Percent(40);
        CSyntheticBuilder::Dword(service, u"Type", driver ? 1 : 16);
        CSyntheticBuilder::Dword(service, u"Start", static_cast<std::uint32_t>(random.Below(5)));
        CSyntheticBuilder::Dword(service, u"ErrorControl",
                                 static_cast<std::uint32_t>(random.Below(2)));
        CSyntheticBuilder::String(
            service, u"ImagePath",
            driver ? Concat({u"system32\\drivers\\", builder.Identifier(4, 8), u".sys"})
                   : Concat({u"%SystemRoot%\\system32\\", builder.Identifier(4, 8), u".exe"}),
            RegExpandSz);
        CSyntheticBuilder::String(service, u"DisplayName",
                                  Concat({builder.Vendor(), u" ", builder.Product(), u" Service"}));
        CSyntheticBuilder::String(
            service, u"Description",
            Concat({u"Keeps the ", builder.Product(), u" of ", builder.Vendor(), u" up to date."}));
        if (!driver) {
            CSyntheticBuilder::String(service, u"ObjectName", u"LocalSystem");
        }
        if (random.Percent(30)) {
            CSyntheticBuilder::String(service, u"Group", random.Pick(kGroups));
        }
        if (random.Percent(30)) {
            const std::u16string list = Concat({u"RpcSs", kNul, builder.Product(), kNul, kNul});
            service.SetValue(u"DependOnService", RegMultiSz, ToUtf16LeBytes(list, false));
        }
        if (random.Percent(25)) {
            builder.RandomBytes(service, u"FailureActions", RegBinary, 20 + 8 * random.Below(4));
        }
        if (random.Percent(50)) {
            CRegistryNode& parameters = builder.Key(service, u"Parameters");
            CSyntheticBuilder::String(parameters, u"ServiceDll", builder.DllPath(), RegExpandSz);
            CSyntheticBuilder::Dword(parameters, u"ServiceDllUnloadOnStop", 1);
            CSyntheticBuilder::Dword(parameters, u"Timeout",
                                     static_cast<std::uint32_t>(random.Below(60000)));
        }
        if (random.Percent(20)) {
            CRegistryNode& security = builder.Key(service, u"Security");
            builder.RandomBytes(security, u"Security", RegBinary, random.Between(100, 200));
        }
    }
}

// Software\<vendor>\<product>: settings with every value form, long binary blobs that wrap
// over many lines, and names that need escapes.
void AddVendorSettings(CSyntheticBuilder& builder, CRegistryNode& software, std::size_t count) {
    CRandom& random = builder.Random();
    for (std::size_t i = 0; i < count; ++i) {
        CRegistryNode& settings =
            builder.Key(software, Concat({builder.Vendor(), u"\\", builder.Product(), u"\\",
                                          Number(i % 8), u".0\\Settings"}));
        if (random.Percent(2)) {
            settings.className = u"Settings \"class\" \\";
        }
        CSyntheticBuilder::String(settings, u"InstallPath", builder.ProgramFolder());
        CSyntheticBuilder::String(settings, u"Language", u"en-US");
        CSyntheticBuilder::Dword(settings, u"Flags", static_cast<std::uint32_t>(random.Next()));
        builder.RandomBytes(settings, u"WindowPlacement", RegBinary, 44);
        builder.RandomBytes(settings, u"State", RegBinary, random.Between(100, 1500));
        builder.RandomBytes(settings, u"LastRun", RegQword, 8);
        const std::u16string recent = Concat({u"C:\\users\\user\\Documents\\a.txt", kNul,
                                              u"D:\\Projekte\\Übersicht.doc", kNul, kNul});
        settings.SetValue(u"Recent", RegMultiSz, ToUtf16LeBytes(recent, false));
        CSyntheticBuilder::String(settings, random.Pick(kOddValueNames),
                                  Concat({u"x\"y\\z ", builder.Vendor(), u" \x7f\x80"}));
        if (random.Percent(5)) {
            // Shapes Wine writes as hex although their type is a string type.
            settings.SetValue(u"Odd", RegSz, {0x41, 0x00, 0x00});
            settings.SetValue(u"Unterminated", RegMultiSz, {0x61, 0x00});
            settings.SetValue(u"Short", RegDword, {0x01, 0x02});
            settings.SetValue(u"Empty", RegBinary, {});
            settings.SetValue(u"Big", 0xffff0012, {0x01});
        }
    }
}

// Keys that are symbolic links, as a 64-bit prefix has them for the 32-bit view.
void AddLinks(CSyntheticBuilder& builder, CRegistryNode& machine) {
    static constexpr std::u16string_view kLinks[][2] = {
        {u"Software\\Classes\\Wow6432Node\\AppId",
         u"\\Registry\\Machine\\Software\\Classes\\AppId"},
        {u"Software\\Classes\\Wow6432Node\\Protocols",
         u"\\Registry\\Machine\\Software\\Classes\\Protocols"},
        {u"Software\\Classes\\Wow6432Node\\TypeLib",
         u"\\Registry\\Machine\\Software\\Classes\\TypeLib"},
        {u"Software\\Wow6432Node\\Classes", u"\\Registry\\Machine\\Software\\Classes\\Wow6432Node"},
        {u"Software\\Wow6432Node\\Microsoft\\OLE",
         u"\\Registry\\Machine\\Software\\Microsoft\\OLE"},
    };
    for (const auto& [path, target] : kLinks) {
        CRegistryNode& link = builder.Key(machine, path);
        link.isLink = true;
        link.SetValue(u"SymbolicLinkValue", RegLink, ToUtf16LeBytes(target, false));
    }
    CSyntheticBuilder::String(builder.Key(machine, u"Software\\Classes\\AppId\\explorer.exe"),
                              u"AppID", u"{CDCBCFCA-3CDC-436F-A4E2-0E02075250C2}");
    CSyntheticBuilder::Dword(builder.Key(machine, u"Software\\Microsoft\\OLE"), u"EnableDCOM",
                             0x59);
}

void AddEnvironment(CSyntheticBuilder& builder, CRegistryNode& machine) {
    CRegistryNode& environment =
        builder.Key(machine, u"System\\CurrentControlSet\\Control\\Session Manager\\Environment");
    CSyntheticBuilder::String(environment, u"ComSpec", u"%SystemRoot%\\system32\\cmd.exe",
                              RegExpandSz);
    CSyntheticBuilder::String(environment, u"PATH",
                              u"%SystemRoot%\\system32;%SystemRoot%;%SystemRoot%\\system32\\wbem",
                              RegExpandSz);
    CSyntheticBuilder::String(environment, u"PATHEXT", u".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE");
    CSyntheticBuilder::String(environment, u"TEMP", u"%SystemRoot%\\temp", RegExpandSz);
    CSyntheticBuilder::String(environment, u"windir", u"%SystemRoot%", RegExpandSz);
    CRegistryNode& version =
        builder.Key(machine, u"Software\\Microsoft\\Windows NT\\CurrentVersion");
    CSyntheticBuilder::String(version, u"SystemRoot", u"C:\\windows");
    CSyntheticBuilder::String(version, u"CurrentVersion", u"6.3");
    CSyntheticBuilder::Dword(version, u"CurrentMajorVersionNumber", 10);
}

void AddBenchKey(CRegistryNode& branch) {
    CSyntheticBuilder builder(0, 1.0);
    CRegistryNode& key = builder.Key(branch, kBenchKeyPath);
    key.lastWriteTime = ToFileTime(
        std::chrono::system_clock::time_point(std::chrono::seconds(kBenchKeyUnixSeconds)));
    CSyntheticBuilder::Dword(key, kBenchValueName, 0);
}

// The per-user settings a program and a desktop leave behind.
void AddUserSettings(CSyntheticBuilder& builder, CRegistryNode& user, std::size_t count) {
    CRandom& random = builder.Random();
    CRegistryNode& environment = builder.Key(user, u"Environment");
    CSyntheticBuilder::String(environment, u"TEMP", u"%USERPROFILE%\\AppData\\Local\\Temp",
                              RegExpandSz);
    CSyntheticBuilder::String(environment, u"TMP", u"%USERPROFILE%\\AppData\\Local\\Temp",
                              RegExpandSz);
    CRegistryNode& desktop = builder.Key(user, u"Control Panel\\Desktop");
    for (std::u16string_view name : {u"CursorBlinkRate", u"DragFullWindows", u"FontSmoothing",
                                     u"MenuShowDelay", u"ScreenSaveActive", u"WheelScrollLines"}) {
        CSyntheticBuilder::String(desktop, name, Number(random.Below(600)));
    }
    builder.RandomBytes(desktop, u"UserPreferencesMask", RegBinary, 8);
    CRegistryNode& recent =
        builder.Key(user, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RecentDocs");
    for (std::size_t i = 0; i < 50; ++i) {
        builder.RandomBytes(recent, Number(i), RegBinary, random.Between(60, 300));
    }
    CSyntheticBuilder::String(builder.Key(user, u"Software\\Wine\\Direct3D"), u"renderer", u"gl");
    AddVendorSettings(builder, builder.Key(user, u"Software"), count);
}

}  // namespace

void BuildSyntheticMachine(CRegistryNode& machine, const SyntheticPrefixShape& shape) {
    CSyntheticBuilder builder(shape.seed, shape.scale);
    CRegistryNode& classes = builder.Key(machine, u"Software\\Classes");
    AddComClasses(builder, classes, u"CLSID", builder.Count(170000));
    AddComClasses(builder, classes, u"Wow6432Node\\CLSID", builder.Count(30000));
    AddInterfaces(builder, classes, builder.Count(40000));
    AddFileTypes(builder, classes, builder.Count(12000));
    AddInstalledSoftware(builder, machine, builder.Count(12000), builder.Count(200000));
    AddServices(builder, machine, builder.Count(10000));
    AddVendorSettings(builder, builder.Key(machine, u"Software"), builder.Count(2000));
    AddLinks(builder, machine);
    AddEnvironment(builder, machine);
    AddBenchKey(machine);
}

void BuildSyntheticUser(CRegistryNode& user, const SyntheticPrefixShape& shape) {
    CSyntheticBuilder builder(shape.seed + 1, shape.scale);
    AddUserSettings(builder, user, builder.Count(500));
    AddBenchKey(user);
}

void BuildSyntheticDefaultUser(CRegistryNode& defaultUser, const SyntheticPrefixShape& shape) {
    CSyntheticBuilder builder(shape.seed + 2, shape.scale);
    AddUserSettings(builder, defaultUser, builder.Count(20));
    AddBenchKey(defaultUser);
}

FileError WriteSyntheticPrefix(IFileIo& files, const std::filesystem::path& folder,
                               const SyntheticPrefixShape& shape) {
    const std::pair<PrefixBranch, void (*)(CRegistryNode&, const SyntheticPrefixShape&)>
        kBranches[] = {{PrefixBranch::Machine, BuildSyntheticMachine},
                       {PrefixBranch::User, BuildSyntheticUser},
                       {PrefixBranch::DefaultUser, BuildSyntheticDefaultUser}};
    for (const auto& [branch, build] : kBranches) {
        if (FileError failure = WriteBranchFile(files, folder, branch,
                                                [&](CRegistryNode& node) { build(node, shape); })) {
            return failure;
        }
    }
    return std::nullopt;
}

}  // namespace quillary
