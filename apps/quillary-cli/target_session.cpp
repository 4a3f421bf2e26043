#include "target_session.h"

#include <cstdint>
#include <cstdio>
#include <system_error>

#include "categories/category_factory.h"
#include "core/text.h"
#include "targets/linux/config_store.h"

namespace quillary::cli {

std::u16string TargetIdOf(const std::filesystem::path& prefix) {
    std::error_code code;
    std::filesystem::path full = std::filesystem::weakly_canonical(prefix, code);
    if (code)
        full = std::filesystem::absolute(prefix, code);
    std::string name = full.filename().string();
    std::string safe;
    for (char ch : name) {
        bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                     (ch >= '0' && ch <= '9') || ch == '-' || ch == '_';
        safe += plain ? ch : '_';
    }
    // FNV-1a of the full path.
    std::uint32_t hash = 2166136261u;
    for (unsigned char ch : full.string()) {
        hash ^= ch;
        hash *= 16777619u;
    }
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", hash);
    return Utf8ToUtf16("wine-" + safe + "-" + digits);
}

std::unique_ptr<CTargetSession> CTargetSession::Open(const PrefixChoice& choice,
                                                     const std::filesystem::path& executablePath,
                                                     std::string* error) {
    std::unique_ptr<CTargetSession> session(new CTargetSession(choice));
    session->registry_ = CWinePrefixRegistry::Open(choice.folder, error);
    if (!session->registry_)
        return nullptr;
    session->configStore_ = OpenConfigStore(DefaultConfigFolder(), error);
    if (!session->configStore_)
        return nullptr;
    session->files_ =
        OpenPrefixFileSystem(choice.folder, *session->registry_, session->registry_->Is64Bit());
    session->protection_ = std::make_unique<CWineSystemProtection>(*session->files_);
    session->platform_ = std::make_unique<CTargetPlatformQueries>(
        *session->registry_, *session->configStore_, TargetIdOf(choice.folder), DefaultDataHome());
    session->shellLinks_ = std::make_unique<CLnkShellLinkReader>(*session->files_);
    session->context_ = std::make_unique<CAppContext>(
        AppEnvironment{*session->registry_, *session->files_, *session->protection_,
                       *session->configStore_, *session->platform_, session->clock_, executablePath,
                       MakeCategory, false, SetProcessLocale, session->shellLinks_.get()});
    return session;
}

}  // namespace quillary::cli
