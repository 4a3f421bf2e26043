#pragma once

// Everything one run of the program shares: the registry being cleaned, the program's own
// registry, the platform's answers, the clock, and one section per subsystem (language, log,
// settings, text tables, exclusion lists, partial backups). Start-up builds one; a test builds
// a fresh one.

#include <filesystem>
#include <string>
#include <vector>

#include "core/registry_access.h"
#include "core/settings.h"
#include "engine/builtin_rules.h"
#include "engine/category.h"
#include "engine/exclusion_lists.h"
#include "engine/file_reference.h"
#include "engine/saved_results.h"
#include "engine/scan_driver.h"
#include "engine/text_tables.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/file_system.h"
#include "platform/platform_queries.h"
#include "platform/registry.h"
#include "platform/system_protection.h"
#include "repair/backup.h"
#include "services/language_locale.h"
#include "services/language_pack.h"
#include "services/log.h"
#include "tweaks/registry_tweaks.h"

namespace quillary {

// What the partial backups need of the target beyond the context's own sections; the codec
// must outlive the context.
struct RepairEnvironment {
    const IZipCodec& zip;
    // Where a target's path lies on this machine, when it exists.
    std::function<std::optional<std::filesystem::path>(std::u16string_view)> localPathOf;
    // Whether a repair or an undo may delete or write the file at a target's path.
    std::function<bool(std::u16string_view)> mayChangeFile;
    // A message box with an OK button.
    std::function<void(std::u16string_view)> showMessage;
};

// What the context is built from; the references must outlive it.
struct AppEnvironment {
    IRegistry& targetStore;
    IFileSystem& targetFiles;
    ISystemProtection& protection;
    IRegistry& configStore;
    IPlatformQueries& platform;
    const IClock& clock;
    // The program's own files (saved results, exclusion lists, language files, backups) are
    // read and written through it.
    IFileIo& fileIo;
    // The running program; the language files lie beside it.
    std::filesystem::path executablePath;
    // Makes the scanner of a category index (0-13): the program's set of scanners.
    std::function<std::unique_ptr<CCategory>(int index, ScanEnvironment&)> makeCategory;
    // The scan page's pauses; the window program turns them on.
    bool pacing = false;
    // Sets the process locale; tests pass one that only records.
    SetLocaleFunction setLocale = SetProcessLocale;
    // Reads the target's shortcut files; without one the shortcut scanners do not run.
    IShellLinkReader* shellLinks = nullptr;
    // Without one the context has no partial backups, and nothing can be repaired or undone.
    std::optional<RepairEnvironment> repair = std::nullopt;
    // The registry tweaks the target's system reads (see RegistryTarget); none in a Wine prefix.
    std::uint32_t honouredTweaks = 0;
};

class CAppContext {
public:
    explicit CAppContext(AppEnvironment environment);
    CAppContext(const CAppContext&) = delete;
    CAppContext& operator=(const CAppContext&) = delete;

    // Start-up's loading, in its order: the language's locale, the text tables, the
    // settings, the exclusion lists, the saved results of the last scan. Returns what the
    // user should be told (damaged files).
    std::vector<std::string> Load();
    // Saves the problems of the last scan as the results file; the error when it could not be
    // written. Without a data folder nothing is kept.
    FileError SaveCurrentResults();
    // Exit's saving of the exclusion lists; returns the files that were not written.
    std::vector<std::string> SaveExclusions();
    // Exit: ends a running scan, saves the results and both exclusion lists. A second
    // instance writes nothing. Returns the files that were not written.
    std::vector<std::string> Exit(bool secondInstance);

    const RegistryTarget& Target() const { return target_; }
    IRegistry& ConfigStore() { return environment_.configStore; }
    IPlatformQueries& Platform() { return environment_.platform; }
    const IClock& Clock() const { return environment_.clock; }
    const std::filesystem::path& DataFolder() const { return dataFolder_; }

    CLanguagePack& Language() { return language_; }
    CLog& Log() { return log_; }
    CSettings& Settings() { return settings_; }
    const CTextTables& TextTables() const { return textTables_; }
    CExclusionLists& Exclusions() { return exclusions_; }
    CScanDriver& Scans() { return *driver_; }
    ScanEnvironment& ScanServices() { return *scanEnvironment_; }
    // The partial backups' environment. Asking a context built without a repair environment
    // is a programming error (std::logic_error).
    const BackupEnvironment& Backups() const;
    // The registry tweaks' ticks, which live as long as the process.
    CRegistryTweaks& Tweaks() { return tweaks_; }
    // The saved results as start-up found them: the total the file stated and the problems
    // still present.
    const LoadedResults& SavedResults() const { return savedResults_; }

private:
    AppEnvironment environment_;
    RegistryTarget target_;
    std::filesystem::path dataFolder_;
    CLog log_;
    CLanguagePack language_;
    CSettings settings_;
    CTextTables textTables_;
    CExclusionLists exclusions_;
    CBuiltinRules rules_;
    CFileReferenceResolver references_;
    std::unique_ptr<ScanEnvironment> scanEnvironment_;
    std::unique_ptr<CScanDriver> driver_;
    std::unique_ptr<BackupEnvironment> backups_;
    LoadedResults savedResults_;
    CRegistryTweaks tweaks_;
};

}  // namespace quillary
