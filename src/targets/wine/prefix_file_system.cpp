#include "targets/wine/prefix_file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "targets/wine/wine_prefix_registry.h"

namespace quillary {
namespace {

namespace fs = std::filesystem;

constexpr std::u16string_view kCurrentVersion = u"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr std::u16string_view kWindowsNtCurrentVersion =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion";

struct StringValue {
    std::u16string name;
    std::u16string text;
    bool expandable = false;
};

// The string values of a key in enumeration order; other types are left out.
std::vector<StringValue> ReadStringValues(IRegistry& registry, HKey root,
                                          std::u16string_view path) {
    std::vector<StringValue> values;
    HKey key = HKey::None;
    if (registry.RegOpenKeyExW(root, path, 0, KeyRead | KeyWow64_64Key, &key) != ErrorSuccess) {
        return values;
    }
    std::vector<char16_t> name(16384);
    std::vector<std::uint8_t> data(64 * 1024);
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t nameLength = static_cast<std::uint32_t>(name.size());
        std::uint32_t dataSize = static_cast<std::uint32_t>(data.size());
        RegType type = RegNone;
        LStatus status = registry.RegEnumValueW(key, index, name.data(), &nameLength, &type,
                                                data.data(), &dataSize);
        if (status == ErrorMoreData) {
            data.resize(dataSize);
            --index;
            continue;
        }
        if (status != ErrorSuccess)
            break;
        if (type != RegSz && type != RegExpandSz)
            continue;
        std::u16string text = FromUtf16LeBytes(std::span(data.data(), dataSize));
        text.resize(std::min(text.size(), text.find(u'\0')));
        values.push_back(
            {std::u16string(name.data(), nameLength), std::move(text), type == RegExpandSz});
    }
    registry.RegCloseKey(key);
    return values;
}

// The text of one value among a key's values, read once for all the lookups in that key.
std::optional<std::u16string> FindValue(const std::vector<StringValue>& values,
                                        std::u16string_view valueName) {
    for (const StringValue& value : values) {
        if (EqualsNoCase(value.name, valueName))
            return value.text;
    }
    return std::nullopt;
}

std::optional<std::u16string> ReadString(IRegistry& registry, HKey root, std::u16string_view path,
                                         std::u16string_view valueName) {
    return FindValue(ReadStringValues(registry, root, path), valueName);
}

// Plain strings first, then the expandable ones, which may refer to the plain ones.
void AddVariables(CWindowsEnvironment& environment, const std::vector<StringValue>& values,
                  bool appendPath) {
    for (bool expandable : {false, true}) {
        for (const StringValue& value : values) {
            if (value.expandable != expandable)
                continue;
            std::u16string text = expandable ? environment.Expand(value.text) : value.text;
            std::optional<std::u16string> path = environment.Get(u"PATH");
            if (appendPath && EqualsNoCase(value.name, u"PATH") && path) {
                text = *path + u";" + text;
            }
            environment.Set(value.name, text);
        }
    }
}

void SetFrom(CWindowsEnvironment& environment, std::u16string_view name,
             const std::optional<std::u16string>& text) {
    if (text)
        environment.Set(name, environment.Expand(*text));
}

std::u16string WindowsDirectoryOf(IRegistry& registry) {
    return ReadString(registry, HKeyLocalMachine, kWindowsNtCurrentVersion, u"SystemRoot")
        .value_or(u"C:\\windows");
}

// Which named folder of the Shell Folders keys each CSIDL stands for.
struct ShellFolder {
    int csidl;
    HKey root;
    std::u16string_view valueName;
};

constexpr ShellFolder kShellFolders[] = {
    {0x00, HKeyCurrentUser, u"Desktop"},
    {0x02, HKeyCurrentUser, u"Programs"},
    {0x05, HKeyCurrentUser, u"Personal"},
    {0x06, HKeyCurrentUser, u"Favorites"},
    {0x07, HKeyCurrentUser, u"StartUp"},
    {0x08, HKeyCurrentUser, u"Recent"},
    {0x09, HKeyCurrentUser, u"SendTo"},
    {0x0b, HKeyCurrentUser, u"Start Menu"},
    {0x0d, HKeyCurrentUser, u"My Music"},
    {0x0e, HKeyCurrentUser, u"My Videos"},
    {0x10, HKeyCurrentUser, u"Desktop"},
    {0x13, HKeyCurrentUser, u"NetHood"},
    {0x14, HKeyCurrentUser, u"Fonts"},
    {0x15, HKeyCurrentUser, u"Templates"},
    {0x16, HKeyLocalMachine, u"Common Start Menu"},
    {0x17, HKeyLocalMachine, u"Common Programs"},
    {0x18, HKeyLocalMachine, u"Common StartUp"},
    {0x19, HKeyLocalMachine, u"Common Desktop"},
    {0x1a, HKeyCurrentUser, u"AppData"},
    {0x1b, HKeyCurrentUser, u"PrintHood"},
    {0x1c, HKeyCurrentUser, u"Local AppData"},
    {0x1f, HKeyLocalMachine, u"Common Favorites"},
    {0x20, HKeyCurrentUser, u"Cache"},
    {0x21, HKeyCurrentUser, u"Cookies"},
    {0x22, HKeyCurrentUser, u"History"},
    {0x23, HKeyLocalMachine, u"Common AppData"},
    {0x27, HKeyCurrentUser, u"My Pictures"},
    {0x2d, HKeyLocalMachine, u"Common Templates"},
    {0x2e, HKeyLocalMachine, u"Common Documents"},
    {0x2f, HKeyLocalMachine, u"Common Administrative Tools"},
    {0x30, HKeyCurrentUser, u"Administrative Tools"},
    {0x35, HKeyLocalMachine, u"CommonMusic"},
    {0x36, HKeyLocalMachine, u"CommonPictures"},
    {0x37, HKeyLocalMachine, u"CommonVideo"},
};

// "User Shell Folders" (expandable, what Windows itself reads) wins over "Shell Folders"
// (the absolute copy kept for old programs). CSIDL_NETWORK is virtual and has no path.
std::map<int, std::u16string> ReadSpecialFolders(IRegistry& registry,
                                                 const CWindowsEnvironment& environment,
                                                 const MappedFileSystemSetup& setup) {
    constexpr std::u16string_view kExplorer =
        u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
    const auto read = [&](HKey root, std::u16string_view name) {
        return ReadStringValues(registry, root, std::u16string(kExplorer) + std::u16string(name));
    };
    const std::vector<StringValue> userShellFolders[] = {
        read(HKeyCurrentUser, u"User Shell Folders"),
        read(HKeyLocalMachine, u"User Shell Folders")};
    const std::vector<StringValue> shellFolders[] = {read(HKeyCurrentUser, u"Shell Folders"),
                                                     read(HKeyLocalMachine, u"Shell Folders")};
    std::map<int, std::u16string> folders;
    for (const ShellFolder& folder : kShellFolders) {
        const std::size_t side = folder.root == HKeyCurrentUser ? 0 : 1;
        std::optional<std::u16string> path = FindValue(userShellFolders[side], folder.valueName);
        if (!path || path->empty())
            path = FindValue(shellFolders[side], folder.valueName);
        if (path && !path->empty())
            folders[folder.csidl] = environment.Expand(*path);
    }

    std::u16string system = setup.windowsDirectory + u"\\system32";
    folders[CsidlWindows] = setup.windowsDirectory;
    folders[CsidlSystem] = system;
    folders[CsidlSystemX86] = setup.is64Bit ? setup.windowsDirectory + u"\\syswow64" : system;
    const std::pair<int, std::u16string_view> variables[] = {
        {CsidlProgramFiles, u"ProgramFiles"},
        {CsidlProgramFilesX86, setup.is64Bit ? u"ProgramFiles(x86)" : u"ProgramFiles"},
        {CsidlProgramFilesCommon, u"CommonProgramFiles"},
        {CsidlProgramFilesCommonX86,
         setup.is64Bit ? u"CommonProgramFiles(x86)" : u"CommonProgramFiles"},
        {CsidlProfile, u"USERPROFILE"},
    };
    for (const auto& [csidl, variable] : variables) {
        if (std::optional<std::u16string> path = environment.Get(variable))
            folders[csidl] = *path;
    }
    return folders;
}

std::uint32_t DriveTypeNamed(std::u16string_view name) {
    if (EqualsNoCase(name, u"cdrom"))
        return DriveCdRom;
    if (EqualsNoCase(name, u"floppy"))
        return DriveRemovable;
    if (EqualsNoCase(name, u"network"))
        return DriveRemote;
    if (EqualsNoCase(name, u"ramdisk"))
        return DriveRamDisk;
    if (EqualsNoCase(name, u"hd"))
        return DriveFixed;
    return DriveUnknown;
}

// The type a raw device link ("d::" → /dev/sr0) implies, or DRIVE_UNKNOWN.
std::uint32_t DriveTypeOfDevice(const fs::path& rawDevice) {
    std::error_code error;
    fs::path target = fs::read_symlink(rawDevice, error);
    if (error)
        return DriveUnknown;
    std::string name = target.filename().string();
    for (const char* prefix : {"sr", "scd", "cdrom", "dvd"}) {
        if (name.starts_with(prefix))
            return DriveCdRom;
    }
    if (name.starts_with("fd"))
        return DriveRemovable;
    return DriveUnknown;
}

bool IsDirectory(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A prefix's fonts folder starts empty, yet its registry names the fonts that come with Wine by
// bare file name ("Courier"="coure.fon"): Wine's font loader looks for them in the fonts folder
// of its installation as well. Here a file of that folder exists in the prefix's fonts folder
// too, unless the prefix has its own file of that name. Listings of the fonts folder are left
// as they are.
class CPrefixFileSystem final : public CMappedFileSystem {
public:
    CPrefixFileSystem(MappedFileSystemSetup setup, fs::path wineFonts)
        : CMappedFileSystem(std::move(setup)), wineFonts_(std::move(wineFonts)) {}

    void ClearCache() override {
        CMappedFileSystem::ClearCache();
        std::lock_guard lock(fontsMutex_);
        fontFiles_.reset();
    }

    std::uint32_t GetFileAttributesW(std::u16string_view path, LStatus* error) override {
        LStatus status = ErrorSuccess;
        std::uint32_t attributes = CMappedFileSystem::GetFileAttributesW(path, &status);
        if (attributes == InvalidFileAttributes && status == ErrorFileNotFound) {
            if (std::optional<std::uint32_t> font = WineFontAttributes(path)) {
                attributes = *font;
                status = ErrorSuccess;
            }
        }
        if (error)
            *error = status;
        return attributes;
    }

private:
    // The attributes of the installation's font that path names when path is a file of the
    // prefix's fonts folder.
    std::optional<std::uint32_t> WineFontAttributes(std::u16string_view path) {
        const std::size_t slash = path.find_last_of(u"\\/");
        if (wineFonts_.empty() || slash == std::u16string_view::npos || slash + 1 == path.size())
            return std::nullopt;
        const std::optional<std::u16string> fontsFolder = GetSpecialFolderPath(CsidlFonts);
        if (!fontsFolder)
            return std::nullopt;
        const std::optional<fs::path> folder = UnixPathOf(path.substr(0, slash));
        if (!folder || folder != UnixPathOf(*fontsFolder))
            return std::nullopt;
        const std::optional<fs::path> font = FindWineFont(path.substr(slash + 1));
        struct stat info {};
        if (!font || ::stat(font->c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return std::nullopt;
        std::uint32_t attributes = FileAttributeArchive;
        if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            attributes |= FileAttributeReadonly;
        return attributes;
    }

    // The installation's font file of that name, matched without regard to case.
    std::optional<fs::path> FindWineFont(std::u16string_view name) {
        std::lock_guard lock(fontsMutex_);
        if (!fontFiles_) {
            fontFiles_.emplace();
            std::error_code error;
            for (fs::directory_iterator it(wineFonts_, error), end; !error && it != end;
                 it.increment(error)) {
                fontFiles_->try_emplace(
                    ToUpperInvariant(Utf8ToUtf16(it->path().filename().string())), it->path());
            }
        }
        const auto found = fontFiles_->find(ToUpperInvariant(name));
        if (found == fontFiles_->end())
            return std::nullopt;
        return found->second;
    }

    const fs::path wineFonts_;
    std::mutex fontsMutex_;
    // The installation's font files by upper-cased name, read on first use after a ClearCache.
    std::optional<std::map<std::u16string, fs::path>> fontFiles_;
};

}  // namespace

fs::path FindWineLoader() {
    if (const char* loader = std::getenv("WINELOADER"); loader && *loader)
        return loader;
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    std::string_view folders = path;
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty())
            continue;
        fs::path candidate = fs::path(folder) / "wine";
        if (::access(candidate.c_str(), X_OK) == 0 && !IsDirectory(candidate))
            return candidate;
    }
    return {};
}

fs::path WineFontFolderOf(const fs::path& loader) {
    if (loader.empty())
        return {};
    std::error_code error;
    const fs::path real = fs::canonical(loader, error);
    if (error)
        return {};
    for (fs::path folder = real.parent_path();; folder = folder.parent_path()) {
        fs::path fonts = folder / "share" / "wine" / "fonts";
        if (IsDirectory(fonts))
            return fonts;
        if (folder == folder.parent_path())
            return {};
    }
}

void ReadDosDevices(const fs::path& prefix, IRegistry& registry, MappedFileSystemSetup& setup) {
    fs::path folder = prefix / "dosdevices";
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());

    const std::vector<StringValue> namedTypes =
        ReadStringValues(registry, HKeyLocalMachine, u"Software\\Wine\\Drives");
    unsigned volumes = 0;
    unsigned cdroms = 0;
    for (const std::string& name : names) {
        std::string lower = name;
        for (char& ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (lower.size() == 2 && lower[1] == ':' && lower[0] >= 'a' && lower[0] <= 'z') {
            fs::path root = folder / name;
            if (!IsDirectory(root))
                continue;
            DriveMapping drive;
            drive.letter = static_cast<char16_t>(lower[0] - 'a' + 'A');
            drive.root = root;
            std::u16string letterName = {static_cast<char16_t>(lower[0]), u':'};
            std::optional<std::u16string> named = FindValue(namedTypes, letterName);
            drive.type = named ? DriveTypeNamed(*named) : DriveUnknown;
            if (drive.type == DriveUnknown)
                drive.type = DriveTypeOfDevice(folder / (name + ":"));
            if (drive.type == DriveUnknown)
                drive.type = DriveFixed;
            drive.device =
                drive.type == DriveCdRom
                    ? u"\\Device\\CdRom" + Utf8ToUtf16(std::to_string(cdroms++))
                    : u"\\Device\\HarddiskVolume" + Utf8ToUtf16(std::to_string(++volumes));
            setup.drives.push_back(std::move(drive));
            continue;
        }
        // Serial and parallel ports: com1 is \Device\Serial0, lpt1 \Device\Parallel0.
        for (auto [port, device] :
             {std::pair{"com", u"\\Device\\Serial"}, std::pair{"lpt", u"\\Device\\Parallel"}}) {
            if (lower.size() < 4 || !lower.starts_with(port))
                continue;
            std::string digits = lower.substr(3);
            if (!std::all_of(digits.begin(), digits.end(), ::isdigit) || digits.size() > 3)
                continue;
            int number = std::stoi(digits);
            if (number < 1)
                continue;
            setup.devices.emplace_back(ToUpperInvariant(Utf8ToUtf16(lower)),
                                       device + Utf8ToUtf16(std::to_string(number - 1)));
        }
    }
}

CWindowsEnvironment ReadPrefixEnvironment(IRegistry& registry, bool is64Bit) {
    CWindowsEnvironment environment;
    std::u16string windows = WindowsDirectoryOf(registry);
    environment.Set(u"SystemRoot", windows);
    environment.Set(u"SystemDrive", windows.substr(0, 2));
    AddVariables(
        environment,
        ReadStringValues(registry, HKeyLocalMachine,
                         u"System\\CurrentControlSet\\Control\\Session Manager\\Environment"),
        false);

    const std::vector<StringValue> currentVersion =
        ReadStringValues(registry, HKeyLocalMachine, kCurrentVersion);
    SetFrom(environment, u"ProgramFiles", FindValue(currentVersion, u"ProgramFilesDir"));
    SetFrom(environment, u"CommonProgramFiles", FindValue(currentVersion, u"CommonFilesDir"));
    if (is64Bit) {
        SetFrom(environment, u"ProgramW6432", FindValue(currentVersion, u"ProgramFilesDir"));
        SetFrom(environment, u"CommonProgramW6432", FindValue(currentVersion, u"CommonFilesDir"));
        SetFrom(environment, u"ProgramFiles(x86)",
                FindValue(currentVersion, u"ProgramFilesDir (x86)"));
        SetFrom(environment, u"CommonProgramFiles(x86)",
                FindValue(currentVersion, u"CommonFilesDir (x86)"));
    }
    std::u16string profileList = std::u16string(kWindowsNtCurrentVersion) + u"\\ProfileList";
    const std::vector<StringValue> profiles =
        ReadStringValues(registry, HKeyLocalMachine, profileList);
    std::optional<std::u16string> programData = FindValue(profiles, u"ProgramData");
    SetFrom(environment, u"ProgramData", programData);
    SetFrom(environment, u"ALLUSERSPROFILE", programData);
    SetFrom(environment, u"PUBLIC", FindValue(profiles, u"Public"));
    SetFrom(environment, u"USERPROFILE",
            ReadString(registry, HKeyLocalMachine,
                       profileList + u"\\" + std::u16string(kWineUserSid), u"ProfileImagePath"));
    SetFrom(environment, u"COMPUTERNAME",
            ReadString(registry, HKeyLocalMachine,
                       u"System\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                       u"ComputerName"));

    AddVariables(environment, ReadStringValues(registry, HKeyCurrentUser, u"Environment"), true);
    AddVariables(environment, ReadStringValues(registry, HKeyCurrentUser, u"Volatile Environment"),
                 false);
    return environment;
}

std::unique_ptr<CMappedFileSystem> OpenPrefixFileSystem(const fs::path& prefix, IRegistry& registry,
                                                        bool is64Bit, const fs::path& wineLoader) {
    MappedFileSystemSetup setup;
    setup.is64Bit = is64Bit;
    setup.windowsDirectory = WindowsDirectoryOf(registry);
    ReadDosDevices(prefix, registry, setup);
    setup.environment = ReadPrefixEnvironment(registry, is64Bit);
    setup.specialFolders = ReadSpecialFolders(registry, setup.environment, setup);
    return std::make_unique<CPrefixFileSystem>(std::move(setup), WineFontFolderOf(wineLoader));
}

}  // namespace quillary
