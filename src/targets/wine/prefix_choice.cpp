#include "targets/wine/prefix_choice.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "targets/wine/wine_prefix_registry.h"

namespace quillary {
namespace {

std::optional<std::filesystem::path> Variable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::filesystem::path(value);
}

}  // namespace

PrefixSearch PrefixSearchOfProcess(std::optional<std::filesystem::path> argument) {
    return {std::move(argument), Variable("WINEPREFIX"), Variable("HOME")};
}

std::optional<PrefixChoice> PrefixCandidate(const PrefixSearch& search) {
    if (search.argument)
        return PrefixChoice{*search.argument, PrefixOrigin::Argument};
    if (search.winePrefix)
        return PrefixChoice{*search.winePrefix, PrefixOrigin::WinePrefixVariable};
    if (search.home) {
        // ~/.wine is Wine's own default; a home without one names no prefix.
        std::filesystem::path homeWine = *search.home / ".wine";
        std::error_code code;
        if (std::filesystem::exists(homeWine, code))
            return PrefixChoice{homeWine, PrefixOrigin::HomeWine};
    }
    return std::nullopt;
}

std::optional<PrefixChoice> ChoosePrefix(const PrefixSearch& search, std::string* error) {
    std::optional<PrefixChoice> candidate = PrefixCandidate(search);
    if (!candidate) {
        *error = "no Wine prefix was named: no prefix argument, no $WINEPREFIX and no ~/.wine";
        return std::nullopt;
    }
    std::string why;
    if (IsWinePrefix(candidate->folder, &why))
        return candidate;
    const char* namedBy = "the demo prefix";
    switch (candidate->origin) {
        case PrefixOrigin::Argument:
            namedBy = "--prefix";
            break;
        case PrefixOrigin::WinePrefixVariable:
            namedBy = "WINEPREFIX";
            break;
        case PrefixOrigin::HomeWine:
            namedBy = "Wine's default, ~/.wine";
            break;
        case PrefixOrigin::Demo:
            break;
    }
    *error = why + " (named by " + namedBy + ")";
    return std::nullopt;
}

bool MayWritePrefix(const std::filesystem::path& prefix) {
    if (::access(prefix.c_str(), W_OK | X_OK) != 0)
        return false;
    for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
        std::filesystem::path file = prefix / name;
        if (::access(file.c_str(), F_OK) == 0 && ::access(file.c_str(), W_OK) != 0)
            return false;
    }
    return true;
}

}  // namespace quillary
