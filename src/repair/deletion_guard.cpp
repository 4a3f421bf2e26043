#include "repair/deletion_guard.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/text_case.h"

namespace quillary {
namespace {

// The container keys the scanners walk, as sub-key paths of their root (lower case,
// Wow6432Node and a leading Software\Classes removed before the comparison). Deleting one
// would take every entry below it: a parsing slip in a scanner must never come to that.
constexpr std::array<std::u16string_view, 31> kContainerKeys = {
    u"software\\classes",
    u"clsid",
    u"typelib",
    u"interface",
    u"appid",
    u"directshow",
    u"applications",
    u"installer",
    u"mime\\database\\content type",
    u"software\\microsoft",
    u"software\\microsoft\\windows",
    u"software\\microsoft\\windows\\currentversion",
    u"software\\microsoft\\windows\\currentversion\\app paths",
    u"software\\microsoft\\windows\\currentversion\\uninstall",
    u"software\\microsoft\\windows\\currentversion\\app management\\arpcache",
    u"software\\microsoft\\windows\\currentversion\\installer\\folders",
    u"software\\microsoft\\windows\\currentversion\\run",
    u"software\\microsoft\\windows\\currentversion\\runonce",
    u"software\\microsoft\\windows\\currentversion\\shareddlls",
    u"software\\microsoft\\windows\\currentversion\\explorer",
    u"software\\microsoft\\windows\\currentversion\\explorer\\fileexts",
    u"software\\microsoft\\windows\\currentversion\\explorer\\menuorder",
    u"software\\microsoft\\windows\\currentversion\\shell extensions\\approved",
    u"software\\microsoft\\windows\\currentversion\\explorer\\recentdocs",
    u"software\\microsoft\\windows\\currentversion\\explorer\\userassist",
    u"software\\microsoft\\windows nt\\currentversion",
    u"software\\microsoft\\windows nt\\currentversion\\fonts",
    u"software\\microsoft\\windows\\help",
    u"software\\microsoft\\windows\\html help",
    u"appevents\\schemes\\apps",
    u"appevents\\eventlabels",
};

// The sub-key path in the form the container list uses: lower case, Wow6432Node left out,
// a user's hive below HKEY_USERS taken as the root, and the classes' own "Software\Classes"
// prefix removed (classesBelow tells that it was there, or that the root is
// HKEY_CLASSES_ROOT).
std::u16string ComparableContainerPath(HKey root, std::u16string_view subKey, bool* classesBelow) {
    std::vector<std::u16string> parts;
    std::u16string lower = ToLower(subKey);
    std::size_t start = 0;
    while (start <= lower.size()) {
        std::size_t end = lower.find(u'\\', start);
        if (end == std::u16string::npos)
            end = lower.size();
        std::u16string part = lower.substr(start, end - start);
        if (!part.empty() && part != u"wow6432node")
            parts.push_back(std::move(part));
        start = end + 1;
    }
    if (root == HKeyUsers && !parts.empty())
        parts.erase(parts.begin());
    *classesBelow = root == HKeyClassesRoot;
    if (parts.size() > 2 && parts[0] == u"software" && parts[1] == u"classes") {
        parts.erase(parts.begin(), parts.begin() + 2);
        *classesBelow = true;
    }
    std::u16string path;
    for (const std::u16string& part : parts) {
        if (!path.empty())
            path += u'\\';
        path += part;
    }
    return path;
}

}  // namespace

bool MayDeleteKey(HKey root, std::u16string_view subKey) {
    bool classesBelow = false;
    std::u16string path = ComparableContainerPath(root, subKey, &classesBelow);
    if (path.empty())
        return false;  // a root itself
    bool container =
        std::find(kContainerKeys.begin(), kContainerKeys.end(), path) != kContainerKeys.end();
    // Below the classes a single name is an entry (a file type, a program identifier); below
    // any other root it is a top-level branch.
    bool topLevel = !classesBelow && path.find(u'\\') == std::u16string::npos;
    return !container && !topLevel;
}

}  // namespace quillary
