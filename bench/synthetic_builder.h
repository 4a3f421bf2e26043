#pragma once

// What the synthetic prefixes are built from: a reproducible random generator, words for
// vendors, products and classes, and a builder of keys and values with random but
// reproducible names, data and times. The same seed always gives the same sequence.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_encoding.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "targets/memory/registry_tree.h"

namespace quillary {

// splitmix64: a small generator whose sequence is the same with every compiler and library,
// unlike the distributions of <random>.
class CRandom {
public:
    explicit CRandom(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(Next() % bound); }
    std::size_t Between(std::size_t low, std::size_t high) { return low + Below(high - low + 1); }
    bool Percent(unsigned percent) { return Below(100) < percent; }
    std::u16string_view Pick(std::span<const std::u16string_view> words) {
        return words[Below(words.size())];
    }

private:
    std::uint64_t state_;
};

// Vendor and product words, some with the characters that need escapes in the files.
inline constexpr std::u16string_view kVendors[] = {
    u"Contoso",       u"Fabrikam",         u"Northwind",    u"Adatum",
    u"Litware",       u"Proseware",        u"Tailspin",     u"Wingtip",
    u"Woodgrove",     u"Lucerne",          u"Coho Winery",  u"Blue Yonder",
    u"Trey Research", u"Alpine Ski House", u"Grüne Wiese",  u"Société Générale de Logiciels",
    u"日本ソフト",    u"Ωmega Labs",       u"Café Systems", u"Łódź Soft"};
inline constexpr std::u16string_view kProducts[] = {
    u"Viewer", u"Editor",    u"Player",   u"Sync",    u"Backup",  u"Studio",  u"Manager",
    u"Agent",  u"Update",    u"Helper",   u"Toolkit", u"Runtime", u"Driver",  u"Codec",
    u"Shell",  u"Launcher",  u"Server",   u"Client",  u"Monitor", u"Scanner", u"Reader",
    u"Writer", u"Converter", u"Designer", u"Notes",   u"Mail",    u"Maps",    u"Photos"};
inline constexpr std::u16string_view kNouns[] = {
    u"Document", u"Picture",   u"Control", u"Property", u"Filter",   u"Handler",  u"Provider",
    u"Factory",  u"Object",    u"Stream",  u"Storage",  u"Renderer", u"Source",   u"Sink",
    u"Moniker",  u"Extension", u"Overlay", u"Column",   u"Preview",  u"Thumbnail"};
inline constexpr std::u16string_view kThreadingModels[] = {u"Apartment", u"Both", u"Free",
                                                           u"Neutral"};
inline constexpr std::u16string_view kVerbs[] = {u"open", u"edit",    u"print",
                                                 u"play", u"preview", u"runas"};

inline constexpr std::int64_t kEarliestUnixSeconds = 1672531200;  // 2023-01-01
inline constexpr std::int64_t kTimeSpanSeconds = 3 * 365 * 86400;

std::u16string Concat(std::initializer_list<std::u16string_view> parts);
std::u16string Number(std::uint64_t number);

// Sorted as the Wine store sorts subkeys, without names that differ only in case. Children
// are then added at the end of their parent's list, which keeps building linear.
std::vector<std::u16string> SortedUnique(std::vector<std::u16string> names);

// Builds keys and values with random but reproducible names, data and times.
class CSyntheticBuilder {
public:
    CSyntheticBuilder(std::uint64_t seed, double scale) : random_(seed), scale_(scale) {}

    CRandom& Random() { return random_; }

    // How many items a section has at this scale, given how many it has at scale 1.
    std::size_t Count(double atScaleOne) const {
        return std::max<std::size_t>(1,
                                     static_cast<std::size_t>(std::llround(atScaleOne * scale_)));
    }

    // The key at path below parent; missing keys on the way are created with a random time.
    CRegistryNode& Key(CRegistryNode& parent, std::u16string_view path) {
        CRegistryNode* node = &parent;
        while (!path.empty()) {
            const std::size_t cut = path.find(u'\\');
            const std::u16string_view name = path.substr(0, cut);
            CRegistryNode* child = node->FindChild(name);
            if (child == nullptr) {
                child = node->AddChild(name);
                child->lastWriteTime = RandomTime();
            }
            node = child;
            path = cut == std::u16string_view::npos ? std::u16string_view() : path.substr(cut + 1);
        }
        return *node;
    }

    static void String(CRegistryNode& key, std::u16string_view name, std::u16string_view text,
                       RegType type = RegSz) {
        key.SetValue(name, type, ToUtf16LeBytes(text, true));
    }

    static void Dword(CRegistryNode& key, std::u16string_view name, std::uint32_t number) {
        key.SetValue(
            name, RegDword,
            {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
             static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)});
    }

    void RandomBytes(CRegistryNode& key, std::u16string_view name, RegType type,
                     std::size_t count) {
        std::vector<std::uint8_t> data(count);
        for (std::uint8_t& byte : data) {
            // Mostly small numbers, as in real structures: many zeros, some full bytes.
            byte = random_.Percent(40) ? 0 : static_cast<std::uint8_t>(random_.Next());
        }
        key.SetValue(name, type, std::move(data));
    }

    FileTime RandomTime() {
        const auto seconds =
            kEarliestUnixSeconds + static_cast<std::int64_t>(random_.Below(kTimeSpanSeconds));
        return ToFileTime(std::chrono::system_clock::time_point(std::chrono::seconds(seconds))) +
               random_.Below(10000000);
    }

    std::u16string Guid() {
        static constexpr char16_t kHex[] = u"0123456789ABCDEF";
        std::u16string text = u"{";
        for (int i = 0; i < 32; ++i) {
            if (i == 8 || i == 12 || i == 16 || i == 20) {
                text += u'-';
            }
            text += kHex[random_.Below(16)];
        }
        return text + u"}";
    }

    // A GUID as Windows Installer packs it into key and value names: 32 hex digits.
    std::u16string PackedGuid() {
        static constexpr char16_t kHex[] = u"0123456789ABCDEF";
        std::u16string text;
        for (int i = 0; i < 32; ++i) {
            text += kHex[random_.Below(16)];
        }
        return text;
    }

    std::u16string Identifier(std::size_t minLength, std::size_t maxLength) {
        std::u16string text;
        const std::size_t length = random_.Between(minLength, maxLength);
        for (std::size_t i = 0; i < length; ++i) {
            text += static_cast<char16_t>(u'a' + random_.Below(26));
        }
        return text;
    }

    std::u16string Vendor() { return std::u16string(random_.Pick(kVendors)); }
    std::u16string Product() { return std::u16string(random_.Pick(kProducts)); }
    std::u16string Noun() { return std::u16string(random_.Pick(kNouns)); }

    std::u16string Version() {
        return Concat({Number(random_.Between(1, 24)), u".", Number(random_.Below(10)), u".",
                       Number(random_.Below(10000))});
    }

    std::u16string ProgramFolder() {
        return Concat({random_.Percent(30) ? u"C:\\Program Files (x86)\\" : u"C:\\Program Files\\",
                       Vendor(), u"\\", Product()});
    }

    std::u16string DllPath() {
        if (random_.Percent(50)) {
            return Concat({u"C:\\windows\\system32\\", Identifier(4, 10), u".dll"});
        }
        return Concat({ProgramFolder(), u"\\", Identifier(4, 10), u".dll"});
    }

private:
    CRandom random_;
    double scale_;
};

// The three registry files of a prefix and the branch each holds.
enum class PrefixBranch { Machine, User, DefaultUser };

// Fills a fresh branch (lower-case key order, sorted values, as the Wine store keeps them)
// with build and writes it as its file in folder, replaced atomically through files. The
// branch is freed before the next file is built.
[[nodiscard]] FileError WriteBranchFile(IFileIo& files, const std::filesystem::path& folder,
                                        PrefixBranch branch,
                                        const std::function<void(CRegistryNode&)>& build);

}  // namespace quillary
