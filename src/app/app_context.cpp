#include "app/app_context.h"

#include <stdexcept>

#include "core/text_encoding.h"

namespace quillary {

CAppContext::CAppContext(AppEnvironment environment)
    : environment_(std::move(environment)),
      target_{&environment_.targetStore,
              environment_.platform.Is64BitWindows(),
              {},
              false,
              environment_.honouredTweaks},
      dataFolder_(environment_.platform.DataFolder()),
      log_(dataFolder_, environment_.clock),
      language_(environment_.fileIo,
                ResolveLanguageFile(environment_.executablePath,
                                    environment_.platform.CurrentLanguageIndex()),
                [this](std::u16string_view text) { log_.WriteLogLine(text); }),
      settings_(environment_.configStore, environment_.platform),
      exclusions_(environment_.fileIo),
      rules_(environment_.targetFiles, environment_.protection, environment_.platform,
             settings_.Values()),
      references_(environment_.targetFiles, target_, rules_, settings_.Values()),
      tweaks_(target_, settings_) {
    scanEnvironment_ = std::make_unique<ScanEnvironment>(ScanEnvironment{
        target_, environment_.targetFiles, environment_.platform, settings_.Values(), rules_,
        references_, exclusions_,
        [this](std::u16string_view identifier) { return language_.LookupText(identifier); },
        [this](std::u16string_view text) { log_.WriteLogLine(text); }, environment_.shellLinks});
    driver_ = std::make_unique<CScanDriver>(
        [this](int index) -> std::unique_ptr<CCategory> {
            if (!environment_.makeCategory)
                return nullptr;
            return environment_.makeCategory(index, *scanEnvironment_);
        },
        ScanDriverOptions{
            environment_.pacing,
            [this](std::u16string_view identifier) { return language_.LookupText(identifier); },
            target_.pumpMessages,
            [this] {
                environment_.targetFiles.ClearCache();
                references_.ForgetVerdicts();
            }});
    if (const std::optional<RepairEnvironment>& repair = environment_.repair) {
        backups_ = std::make_unique<BackupEnvironment>(BackupEnvironment{
            target_, environment_.targetFiles, environment_.fileIo, repair->localPathOf,
            repair->zip, environment_.clock, settings_.Values(), dataFolder_,
            [this](std::u16string_view identifier) { return language_.LookupText(identifier); },
            [this](std::u16string_view line) { log_.WriteLogLine(line); }, repair->showMessage,
            repair->mayChangeFile});
    }
}

const BackupEnvironment& CAppContext::Backups() const {
    if (!backups_)
        throw std::logic_error("the context was built without a repair environment");
    return *backups_;
}

std::vector<std::string> CAppContext::Load() {
    ApplyLanguageLocale(environment_.platform.CurrentLanguageIndex(), environment_.setLocale,
                        [this](std::u16string_view text) { log_.WriteLogLine(text); });
    textTables_ = CTextTables(
        [this](std::u16string_view identifier) { return language_.LookupText(identifier); });
    settings_.LoadSettings();
    std::vector<std::string> problems = exclusions_.LoadExclusions(dataFolder_);
    if (!dataFolder_.empty())
        savedResults_ = LoadResults(environment_.fileIo, *driver_, dataFolder_, target_);
    if (!savedResults_.error.empty())
        problems.push_back(savedResults_.error);
    for (const std::string& problem : problems) {
        log_.WriteLogLine(Utf8ToUtf16(problem));
    }
    return problems;
}

std::vector<std::string> CAppContext::Exit(bool secondInstance) {
    if (secondInstance)
        return {};
    driver_->StopScan();
    std::vector<std::string> failures;
    if (dataFolder_.empty())
        return failures;  // no data folder: nothing can be kept
    if (FileError error = SaveCurrentResults())
        failures.push_back(*error);
    for (std::string& failure : SaveExclusions())
        failures.push_back(std::move(failure));
    for (const std::string& failure : failures)
        log_.WriteLogLine(Utf8ToUtf16(failure));
    return failures;
}

FileError CAppContext::SaveCurrentResults() {
    if (dataFolder_.empty())
        return std::nullopt;
    return SaveResults(environment_.fileIo, *driver_, dataFolder_);
}

std::vector<std::string> CAppContext::SaveExclusions() {
    return exclusions_.SaveExclusions(dataFolder_);
}

}  // namespace quillary
