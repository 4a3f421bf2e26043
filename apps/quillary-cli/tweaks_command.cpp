#include "tweaks_command.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "core/text_encoding.h"

namespace quillary::cli {

int RunTweaksCommand(COpenTarget& target, bool json) {
    CAppContext& context = target.Context();
    CRegistryTweaks& tweaks = context.Tweaks();
    const auto text = [&context](std::u16string_view id) {
        return Utf16ToUtf8(context.Language().LookupText(id));
    };
    const int toApply = tweaks.CountTweaksToApply();
    bool anyHonoured = false;
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (int n = 0; n < kTweakCount; ++n) {
        const TweakRow& tweak = kTweaks[static_cast<std::size_t>(n)];
        const bool honoured = tweaks.IsHonoured(n);
        const bool applied = tweaks.IsTweakApplied(n);
        anyHonoured = anyHonoured || honoured;
        const std::string state = !honoured ? text(u"IDS_TWEAK_NO_EFFECT")
                                  : applied ? text(u"IDS_ALREADY_OPTIMIZED")
                                            : text(u"IDS_TWEAK_FOR_OPT");
        if (json) {
            rows.push_back({{"number", n},
                            {"name", text(tweak.nameId)},
                            {"key", "HKEY_LOCAL_MACHINE\\" + Utf16ToUtf8(tweak.subKey)},
                            {"value", Utf16ToUtf8(tweak.valueName)},
                            {"honoured", honoured},
                            {"applied", applied},
                            {"ticked", tweaks.IsTicked(n)}});
        } else {
            std::cout << (tweaks.IsTicked(n) ? "[x] " : "[ ] ") << n << "  " << text(tweak.nameId)
                      << "  (" << state << ")\n";
        }
    }
    if (json) {
        nlohmann::ordered_json document;
        document["target"] = target.Folder().string();
        document["toApply"] = toApply;
        document["tweaks"] = rows;
        std::cout << document.dump(2) << "\n";
    } else if (!anyHonoured) {
        std::cout << "\n" << text(u"IDS_TWEAKS_NOT_READ") << "\n";
    } else {
        std::cout << "\n"
                  << toApply << " to apply; a repair applies the ticked ones (repair --tweaks).\n";
    }
    return kExitDone;
}

}  // namespace quillary::cli
