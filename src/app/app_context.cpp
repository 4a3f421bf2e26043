#include "app/app_context.h"

#include "core/text.h"

namespace quillary {

CAppContext::CAppContext(AppEnvironment environment)
    : environment_(std::move(environment)),
      target_{&environment_.targetStore, environment_.platform.Is64BitWindows(), {}},
      dataFolder_(environment_.platform.DataFolder()),
      log_(dataFolder_, environment_.clock),
      language_(ResolveLanguageFile(environment_.executablePath,
                                    environment_.platform.CurrentLanguageIndex()),
                [this](std::u16string_view text) { log_.WriteLogLine(text); }),
      settings_(environment_.configStore, environment_.platform) {}

std::vector<std::string> CAppContext::Load() {
    ApplyLanguageLocale(environment_.platform.CurrentLanguageIndex(), environment_.setLocale,
                        [this](std::u16string_view text) { log_.WriteLogLine(text); });
    textTables_ = CTextTables(
        [this](std::u16string_view identifier) { return language_.LookupText(identifier); });
    settings_.LoadSettings();
    std::vector<std::string> problems = exclusions_.LoadExclusions(dataFolder_);
    for (const std::string& problem : problems) {
        log_.WriteLogLine(Utf8ToUtf16(problem));
    }
    return problems;
}

std::vector<std::string> CAppContext::SaveExclusions() {
    return exclusions_.SaveExclusions(dataFolder_);
}

}  // namespace quillary
