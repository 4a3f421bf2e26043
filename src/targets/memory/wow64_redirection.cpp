#include "targets/memory/wow64_redirection.h"

#include <array>

#include "targets/memory/registry_tree.h"

namespace quillary {
namespace {

using Components = std::span<const std::u16string_view>;

// Keys below HKLM\Software that both views share, relative to Software.
constexpr std::array<std::u16string_view, 49> kSharedSoftwareKeys = {
    u"Classes",
    u"Clients",
    u"Policies",
    u"RegisteredApplications",
    u"Microsoft\\COM3",
    u"Microsoft\\Cryptography\\Calais\\Current",
    u"Microsoft\\Cryptography\\Calais\\Readers",
    u"Microsoft\\Cryptography\\Services",
    u"Microsoft\\CTF\\SystemShared",
    u"Microsoft\\CTF\\TIP",
    u"Microsoft\\DFS",
    u"Microsoft\\Driver Signing",
    u"Microsoft\\EnterpriseCertificates",
    u"Microsoft\\EventSystem",
    u"Microsoft\\MSMQ",
    u"Microsoft\\Non-Driver Signing",
    u"Microsoft\\Notepad\\DefaultFonts",
    u"Microsoft\\OLE",
    u"Microsoft\\RAS",
    u"Microsoft\\RPC",
    u"Microsoft\\SOFTWARE\\Microsoft\\Shared Tools\\MSInfo",
    u"Microsoft\\SystemCertificates",
    u"Microsoft\\TermServLicensing",
    u"Microsoft\\Transaction Server",
    u"Microsoft\\Windows\\CurrentVersion\\App Paths",
    u"Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
    u"Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
    u"Microsoft\\Windows\\CurrentVersion\\Group Policy",
    u"Microsoft\\Windows\\CurrentVersion\\Policies",
    u"Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
    u"Microsoft\\Windows\\CurrentVersion\\Setup",
    u"Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations",
    u"Microsoft\\Windows NT\\CurrentVersion\\Console",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontLink",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
    u"Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    u"Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
    u"Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
    u"Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    u"Microsoft\\Windows NT\\CurrentVersion\\LanguagePack",
    u"Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
    u"Microsoft\\Windows NT\\CurrentVersion\\Perflib",
    u"Microsoft\\Windows NT\\CurrentVersion\\Ports",
    u"Microsoft\\Windows NT\\CurrentVersion\\Print",
    u"Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    u"Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
};

// Subkeys of a Classes key that have separate 32-bit copies.
constexpr std::array<std::u16string_view, 5> kRedirectedClassesKeys = {
    u"CLSID", u"DirectShow", u"Interface", u"Media Type", u"MediaFoundation"};

bool PathIs(Components path, std::initializer_list<std::u16string_view> pattern) {
    if (path.size() != pattern.size()) {
        return false;
    }
    std::size_t i = 0;
    for (std::u16string_view expected : pattern) {
        if (expected != u"*" && !KeyNamesEqual(path[i], expected)) {
            return false;
        }
        ++i;
    }
    return true;
}

// True when rest begins with the components of the backslash-separated prefix.
bool RestStartsWith(Components rest, std::u16string_view prefix) {
    std::size_t index = 0;
    while (!prefix.empty()) {
        const std::size_t cut = prefix.find(u'\\');
        const std::u16string_view component = prefix.substr(0, cut);
        if (index >= rest.size() || !KeyNamesEqual(rest[index], component)) {
            return false;
        }
        ++index;
        prefix = cut == std::u16string_view::npos ? std::u16string_view() : prefix.substr(cut + 1);
    }
    return true;
}

bool IsClassesKey(Components path) {
    return PathIs(path, {u"Machine", u"Software", u"Classes"}) ||
           PathIs(path, {u"User", u"*", u"Software", u"Classes"});
}

}  // namespace

bool CWindowsWow64Policy::Redirects(Components path, Components rest,
                                    const CRegistryNode& /*node*/) const {
    if (!rest.empty() && KeyNamesEqual(rest.front(), u"Wow6432Node")) {
        return false;
    }
    if (PathIs(path, {u"Machine", u"Software"})) {
        for (std::u16string_view shared : kSharedSoftwareKeys) {
            if (RestStartsWith(rest, shared)) {
                return false;
            }
        }
        return true;
    }
    if (IsClassesKey(path) && !rest.empty()) {
        for (std::u16string_view redirected : kRedirectedClassesKeys) {
            if (KeyNamesEqual(rest.front(), redirected)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace quillary
