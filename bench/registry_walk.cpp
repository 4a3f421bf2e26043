#include "registry_walk.h"

#include <algorithm>

#include "core/text_case.h"
#include "core/text_encoding.h"

namespace quillary {
namespace {

// Windows nests keys at most 512 deep; deeper is a link cycle.
constexpr int kMaxDepth = 512;
constexpr std::size_t kMaxPath = 260;

class CRegistryWalker {
public:
    CRegistryWalker(IRegistry& registry, RegSam view, const ValueVisitor& visit)
        : registry_(registry),
          view_(view),
          visit_(visit),
          name_(256),
          valueName_(16384),
          data_(4096) {}

    // Walks key and everything below it, except a child named skipChild.
    void Walk(HKey key, int depth, std::u16string_view skipChild = {}) {
        ++counts_.keys;
        ReadValues(key);
        if (depth >= kMaxDepth) {
            return;
        }
        std::vector<std::u16string> children;
        for (std::uint32_t index = 0;; ++index) {
            auto length = static_cast<std::uint32_t>(name_.size());
            const LStatus status =
                registry_.RegEnumKeyExW(key, index, name_.data(), &length, nullptr);
            if (status != ErrorSuccess) {
                break;
            }
            children.emplace_back(name_.data(), length);
        }
        for (const std::u16string& child : children) {
            if (EqualsNoCase(child, u"Wow6432Node") ||
                (!skipChild.empty() && EqualsNoCase(child, skipChild))) {
                continue;
            }
            HKey opened = HKey::None;
            if (registry_.RegOpenKeyExW(key, child, 0, KeyRead | view_, &opened) == ErrorSuccess) {
                Walk(opened, depth + 1);
                registry_.RegCloseKey(opened);
            }
        }
    }

    const RegistryWalkCounts& Counts() const { return counts_; }

private:
    void ReadValues(HKey key) {
        for (std::uint32_t index = 0;;) {
            auto nameLength = static_cast<std::uint32_t>(valueName_.size());
            auto size = static_cast<std::uint32_t>(data_.size());
            RegType type = RegNone;
            const LStatus status = registry_.RegEnumValueW(key, index, valueName_.data(),
                                                           &nameLength, &type, data_.data(), &size);
            if (status == ErrorMoreData) {
                data_.resize(size);
                continue;
            }
            if (status != ErrorSuccess) {
                break;
            }
            ++counts_.values;
            counts_.dataBytes += size;
            if (visit_) {
                visit_(type, std::span<const std::uint8_t>(data_.data(), size));
            }
            ++index;
        }
    }

    IRegistry& registry_;
    RegSam view_;
    const ValueVisitor& visit_;
    std::vector<char16_t> name_;
    std::vector<char16_t> valueName_;
    std::vector<std::uint8_t> data_;
    RegistryWalkCounts counts_;
};

bool IsDriveLetter(char16_t ch) {
    return (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z');
}

void CollectPaths(std::u16string_view text, std::vector<std::u16string>& paths) {
    for (std::size_t at = text.find(u":\\"); at != std::u16string_view::npos;
         at = text.find(u":\\", at + 2)) {
        if (at == 0 || !IsDriveLetter(text[at - 1]) || (at >= 2 && IsDriveLetter(text[at - 2]))) {
            continue;
        }
        std::u16string_view path = text.substr(at - 1);
        path = path.substr(0, path.find_first_of(u"\",;"));
        for (std::u16string_view switchStart : {u" /", u" -"}) {
            path = path.substr(0, path.find(switchStart));
        }
        while (!path.empty() && path.back() == u' ') {
            path.remove_suffix(1);
        }
        if (path.size() > 3 && path.size() < kMaxPath) {
            paths.emplace_back(path);
        }
    }
}

}  // namespace

RegistryWalkCounts WalkRegistry(IRegistry& registry, RegSam view,
                                std::u16string_view currentUserSid, const ValueVisitor& visit) {
    CRegistryWalker walker(registry, view, visit);
    walker.Walk(HKeyLocalMachine, 0);
    walker.Walk(HKeyCurrentUser, 0);
    walker.Walk(HKeyUsers, 0, currentUserSid);
    return walker.Counts();
}

std::vector<std::u16string> PathsInValue(IFileSystem& files, RegType type,
                                         std::span<const std::uint8_t> data) {
    std::vector<std::u16string> paths;
    if (type != RegSz && type != RegExpandSz && type != RegMultiSz) {
        return paths;
    }
    const std::u16string text = FromUtf16LeBytes(data);
    std::u16string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(u'\0'), rest.size());
        std::u16string_view one = rest.substr(0, end);
        if (one.find(u'%') != std::u16string_view::npos) {
            CollectPaths(files.ExpandEnvironmentStringsW(one), paths);
        } else {
            CollectPaths(one, paths);
        }
        if (type != RegMultiSz) {
            break;
        }
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return paths;
}

}  // namespace quillary
