#pragma once

// The sounds category: the event sounds of the user's sound scheme. Below the applications key
// each subkey is an application, below it each subkey an event, and below each event the
// scheme keys ".Current", ".Default" and ".None" hold in their default value the sound that
// plays; schemes whose sound file is gone are reported.

#include <string>
#include <string_view>

#include "engine/category.h"

namespace quillary {

class CSounds final : public CCategory {
public:
    static constexpr std::int32_t kEntryType = 37;
    static constexpr std::u16string_view kAppsKey = u"AppEvents\\Schemes\\Apps";
    static constexpr std::u16string_view kEventLabelsKey = u"AppEvents\\EventLabels";

    using CCategory::CCategory;

    int Scan() override;
    // The applications of the scheme.
    int CountItems() override;

private:
    // Tests the schemes of every event of the application below the open applications key.
    void CheckApplication(RegKey& apps, const std::u16string& application);
    // Tests the scheme key of the open event key; eventName is the event's key name.
    void CheckScheme(RegKey& event, const std::u16string& application,
                     const std::u16string& eventName, std::u16string_view scheme,
                     std::u16string_view schemeLabel);
    bool SoundIsMissing(const std::u16string& sound);
    // The default value of HKEY_CURRENT_USER\keyPath, or fallback when it is empty or cannot be
    // read.
    std::u16string LabelOf(const std::u16string& keyPath, const std::u16string& fallback);
};

}  // namespace quillary
