#include "categories/sounds.h"

#include <vector>

#include "categories/pump_messages.h"
#include "categories/value_reading.h"

namespace quillary {
namespace {

// The schemes of an event in the order they are tested, with their names as users see them.
struct Scheme {
    std::u16string_view keyName;
    std::u16string_view label;
};
constexpr Scheme kSchemes[] = {
    {u".Current", u"Current"},
    {u".Default", u"Windows Default"},
    {u".None", u"No Sounds"},
};

// A Windows folder this long does not fit the buffer it is read into.
constexpr std::size_t kLongestWindowsFolder = 259;

// first and second with exactly one backslash between them; either alone when the other is
// empty.
std::u16string JoinPath(std::u16string_view first, std::u16string_view second) {
    if (first.empty() || second.empty())
        return std::u16string(first) + std::u16string(second);
    if (second.front() == u'\\')
        second.remove_prefix(1);
    std::u16string joined(first);
    if (!joined.ends_with(u'\\'))
        joined += u'\\';
    return joined + std::u16string(second);
}

}  // namespace

int CSounds::CountItems() {
    RegKey apps(*environment_.target.store);
    if (apps.Open(HKeyCurrentUser, kAppsKey, kMaskReadOnly) != ErrorSuccess)
        return 0;
    std::vector<std::u16string> names;
    ListSubkeyNames(environment_.target, apps.Handle(), names);
    return static_cast<int>(names.size());
}

int CSounds::Scan() {
    const int total = CountItems();
    if (total >= 0)
        progressTotal_ = total;
    progressCount_ = 0;

    RegKey apps(*environment_.target.store);
    std::vector<std::u16string> applications;
    if (apps.Open(HKeyCurrentUser, kAppsKey, kMaskReadOnly) == ErrorSuccess)
        ListSubkeyNames(environment_.target, apps.Handle(), applications);
    for (const std::u16string& application : applications) {
        PumpMessages(environment_.target);
        if (IsStopRequested())
            return kScanStopped;
        CheckApplication(apps, application);
        StepProgress();
    }
    FinishProgress();
    SortProblems();
    return IsStopRequested() ? kScanStopped : kScanDone;
}

void CSounds::CheckApplication(RegKey& apps, const std::u16string& application) {
    RegKey key(*environment_.target.store);
    if (key.Open(apps.Handle(), application, kMaskReadOnly) != ErrorSuccess)
        return;
    std::vector<std::u16string> events;
    ListSubkeyNames(environment_.target, key.Handle(), events);
    for (const std::u16string& eventName : events) {
        RegKey event(*environment_.target.store);
        if (event.Open(key.Handle(), eventName, kMaskReadOnly) != ErrorSuccess)
            continue;
        for (const Scheme& scheme : kSchemes)
            CheckScheme(event, application, eventName, scheme.keyName, scheme.label);
    }
}

void CSounds::CheckScheme(RegKey& event, const std::u16string& application,
                          const std::u16string& eventName, std::u16string_view scheme,
                          std::u16string_view schemeLabel) {
    RegKey key(*environment_.target.store);
    if (key.Open(event.Handle(), scheme, kMaskReadOnly) != ErrorSuccess)
        return;
    // An empty sound is the usual state of a silent scheme, and a value that is not text or is
    // too long for the buffer is not judged.
    std::u16string sound;
    if (!QueryShortText(key, u"", sound) || sound.empty() || !SoundIsMissing(sound))
        return;

    const std::u16string applicationPath = std::u16string(kAppsKey) + u"\\" + application;
    const std::u16string eventLabel =
        LabelOf(std::u16string(kEventLabelsKey) + u"\\" + eventName, eventName);
    const std::u16string applicationLabel = LabelOf(applicationPath, application);
    const std::u16string keyText = u"HKEY_CURRENT_USER\\" + applicationPath + u"\\" + eventName +
                                   u"\\" + std::u16string(scheme);
    AddProblemWithDetails(
        false, kEntryType, keyText, u"", sound,
        {u"Event " + eventLabel + u" for the program " + applicationLabel, schemeLabel});
}

bool CSounds::SoundIsMissing(const std::u16string& sound) {
    std::u16string path = environment_.references.ExtractValuePath(sound);
    // A bare name is one of the sounds that come with the system, in its media folder.
    if (path.find(u'\\') == std::u16string::npos) {
        std::u16string windows = environment_.files.GetWindowsDirectoryW();
        if (windows.size() > kLongestWindowsFolder)
            windows.clear();
        path = JoinPath(JoinPath(windows, u"media"), sound);
    }
    FileReferenceOptions options;
    options.builtinFileExclusions = true;
    options.safetyList = true;
    options.forwardedC3 = true;
    return !environment_.references.FileReferenceIsValid(SystemDirectory(), path, options);
}

std::u16string CSounds::LabelOf(const std::u16string& keyPath, const std::u16string& fallback) {
    RegKey key(*environment_.target.store);
    std::u16string label;
    if (key.Open(HKeyCurrentUser, keyPath, kMaskReadOnly) != ErrorSuccess ||
        !QueryShortText(key, u"", label) || label.empty()) {
        return fallback;
    }
    return label;
}

}  // namespace quillary
