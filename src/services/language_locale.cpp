#include "services/language_locale.h"

#include <array>
#include <clocale>

#include "core/text_case.h"
#include "core/text_encoding.h"
#include "core/text_format.h"
#include "services/language_table.h"

namespace quillary {
namespace {

struct LocaleNames {
    std::string_view tableName;
    std::array<const char*, 2> candidates;  // unused slots are null
};

// Portuguese without a country is Portugal's; Brazil's is the second choice.
constexpr std::array<LocaleNames, kLanguageCount> kLocaleNames{{
    {"english", {"en_US.UTF-8", nullptr}},
    {"chinese-simplified", {"zh_CN.UTF-8", nullptr}},
    {"danish", {"da_DK.UTF-8", nullptr}},
    {"dutch", {"nl_NL.UTF-8", nullptr}},
    {"french", {"fr_FR.UTF-8", nullptr}},
    {"german", {"de_DE.UTF-8", nullptr}},
    {"hebrew", {"he_IL.UTF-8", nullptr}},
    {"italian", {"it_IT.UTF-8", nullptr}},
    {"japanese", {"ja_JP.UTF-8", nullptr}},
    {"norwegian", {"nb_NO.UTF-8", nullptr}},
    {"portuguese", {"pt_PT.UTF-8", "pt_BR.UTF-8"}},
    {"russian", {"ru_RU.UTF-8", nullptr}},
    {"spanish", {"es_ES.UTF-8", nullptr}},
    {"swedish", {"sv_SE.UTF-8", nullptr}},
}};

constexpr const char* kFallbackLocale = "C.UTF-8";
constexpr const char* kClassicLocale = "C";

// The categories that follow the one the locale is chosen with, in the order they are set.
constexpr std::array<int, 5> kFollowingCategories{LC_CTYPE, LC_MONETARY, LC_NUMERIC, LC_TIME,
                                                  LC_ALL};

}  // namespace

bool SetProcessLocale(int category, const char* localeName) {
    return std::setlocale(category, localeName) != nullptr;
}

std::span<const char* const> LocaleCandidates(std::string_view tableLocaleName) {
    for (const LocaleNames& names : kLocaleNames) {
        if (names.tableName == tableLocaleName) {
            const std::size_t count = names.candidates[1] == nullptr ? 1 : 2;
            return std::span<const char* const>(names.candidates.data(), count);
        }
    }
    return {};
}

std::string ApplyLanguageLocale(int languageIndex, const SetLocaleFunction& setLocale,
                                const TextSink& log) {
    const std::span<const char* const> candidates =
        LocaleCandidates(LanguageRowAt(languageIndex).localeName);
    std::string applied;
    for (const char* candidate : candidates) {
        if (setLocale(LC_COLLATE, candidate)) {
            applied = candidate;
            break;
        }
    }
    if (applied.empty()) {
        // LC_ALL, set last, also resets LC_COLLATE when even the fallback is refused.
        applied = setLocale(LC_COLLATE, kFallbackLocale) ? kFallbackLocale : kClassicLocale;
        if (log) {
            std::u16string missing;
            for (const char* candidate : candidates) {
                missing += (missing.empty() ? u"" : u" or ") + Utf8ToUtf16(candidate);
            }
            log(Format(u"The locale %s is not installed; using %s", missing, Utf8ToUtf16(applied)));
        }
    }
    for (const int category : kFollowingCategories) {
        setLocale(category, applied.c_str());
    }
    SetCaseLocale(applied == kClassicLocale ? CaseLocale::Classic : CaseLocale::Language);
    return applied;
}

}  // namespace quillary
