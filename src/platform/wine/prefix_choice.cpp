#include "platform/wine/prefix_choice.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "platform/wine/wine_prefix_registry.h"

namespace quillary {
namespace {

std::optional<std::filesystem::path> Variable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::filesystem::path(value);
}

}  // namespace

PrefixSearch PrefixSearchOfProcess(std::optional<std::filesystem::path> argument,
                                   std::filesystem::path demoPrefix) {
    return {std::move(argument), Variable("WINEPREFIX"), Variable("HOME"), std::move(demoPrefix)};
}

std::optional<PrefixChoice> ChoosePrefix(const PrefixSearch& search, std::string* error) {
    const auto chosen = [&](const std::filesystem::path& folder, PrefixOrigin origin,
                            const std::string& namedBy) -> std::optional<PrefixChoice> {
        std::string why;
        if (IsWinePrefix(folder, &why))
            return PrefixChoice{folder, origin};
        *error = why + " (named by " + namedBy + ")";
        return std::nullopt;
    };
    if (search.argument)
        return chosen(*search.argument, PrefixOrigin::Argument, "--prefix");
    if (search.winePrefix) {
        return chosen(*search.winePrefix, PrefixOrigin::WinePrefixVariable, "WINEPREFIX");
    }
    if (search.home) {
        // ~/.wine is Wine's own default; a home without one falls through to the demo.
        std::filesystem::path homeWine = *search.home / ".wine";
        std::error_code code;
        if (std::filesystem::exists(homeWine, code)) {
            return chosen(homeWine, PrefixOrigin::HomeWine, "Wine's default, ~/.wine");
        }
    }
    return chosen(search.demoPrefix, PrefixOrigin::Demo, "the demo prefix");
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
