#include "targets/linux/lnk_strings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "core/text_encoding.h"

namespace quillary {
namespace {

using StringField = std::optional<std::u16string> ShellLinkStrings::*;

const struct {
    const char* name;
    StringField field;
} kFields[] = {
    {"localBasePath", &ShellLinkStrings::localBasePath},
    {"netName", &ShellLinkStrings::netName},
    {"commonPathSuffix", &ShellLinkStrings::commonPathSuffix},
    {"name", &ShellLinkStrings::name},
    {"relativePath", &ShellLinkStrings::relativePath},
    {"workingDir", &ShellLinkStrings::workingDir},
    {"arguments", &ShellLinkStrings::arguments},
    {"iconLocation", &ShellLinkStrings::iconLocation},
    {"environmentTarget", &ShellLinkStrings::environmentTarget},
};

std::string Describe(const std::optional<std::u16string>& text) {
    return text ? "\"" + Utf16ToUtf8(*text) + "\"" : "nullopt";
}

void ExpectSameStrings(const ShellLinkStrings& found, const ShellLinkStrings& expected) {
    for (const auto& [name, field] : kFields) {
        EXPECT_EQ(found.*field, expected.*field)
            << name << ": " << Describe(found.*field) << ", expected " << Describe(expected.*field);
    }
}

// Every string a shortcut can hold in UTF-16, each with a lone surrogate (high or low) before
// a unit that must stay.
ShellLinkStrings StringsWithLoneSurrogates() {
    ShellLinkStrings strings;
    strings.localBasePath = u"C:\\x_\xD800.exe";
    strings.netName =
        u"\\\\server\\sh\xDBFF"
        u"are";
    strings.commonPathSuffix = u"dir\xDC00\\file";
    strings.name = u"na\xD800me";
    strings.relativePath = u".\\x_\xD800.exe";
    strings.workingDir = u"C:\\w\xDFFF";
    strings.arguments = u"/a\xD800 /b";
    strings.iconLocation = u"C:\\x_\xD800.exe,0";
    strings.environmentTarget = u"%SystemDrive%\\x_\xD800.exe";
    return strings;
}

// Where the parts of a written shortcut lie.
struct WrittenShortcut {
    std::vector<std::uint8_t> bytes;
    std::size_t linkInfo = 0;
    std::size_t networkLink = 0;
    std::size_t stringData = 0;
    std::size_t environmentBlock = 0;
};

void PutU16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    PutU16(bytes, static_cast<std::uint16_t>(value));
    PutU16(bytes, static_cast<std::uint16_t>(value >> 16));
}

void PutUtf16(std::vector<std::uint8_t>& bytes, std::u16string_view text) {
    for (char16_t unit : text)
        PutU16(bytes, unit);
}

// Stores value in little-endian order over size bytes from at.
void Overwrite(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size,
               std::uint32_t value) {
    for (std::size_t index = 0; index < size; ++index)
        bytes.at(at + index) = static_cast<std::uint8_t>(value >> (8 * index));
}

// A shortcut with an empty ID list, link information with the longer header (a local base
// path and a network link whose name follows an empty ANSI one at an odd offset), the five
// strings of the string data and an environment variables block.
WrittenShortcut WriteShortcut(const ShellLinkStrings& strings) {
    WrittenShortcut shortcut;
    std::vector<std::uint8_t>& out = shortcut.bytes;
    PutU32(out, 0x4C);
    out.resize(0x14);   // the class identifier is not looked at
    PutU32(out, 0xFF);  // an ID list, link information, all five strings, in UTF-16
    out.resize(0x4C);
    PutU16(out, 2);  // the ID list: its size, then the terminating empty item
    PutU16(out, 0);

    shortcut.linkInfo = out.size();
    const auto linkInfoOffset = [&] {
        return static_cast<std::uint32_t>(out.size() - shortcut.linkInfo);
    };
    PutU32(out, 0);     // size, set below
    PutU32(out, 0x24);  // header size
    PutU32(out, 0x03);  // a local base path and a network link
    PutU32(out, 0);     // no volume ID
    PutU32(out, 0);     // no ANSI base path
    PutU32(out, 0x24);  // the network link follows the header
    PutU32(out, 0);     // no ANSI suffix
    PutU32(out, 0);     // UTF-16 base path, set below
    PutU32(out, 0);     // UTF-16 suffix, set below

    shortcut.networkLink = out.size();
    PutU32(out, 0);     // size, set below
    PutU32(out, 0);     // flags
    PutU32(out, 0x1C);  // the empty ANSI name
    PutU32(out, 0);     // no device
    PutU32(out, 0);     // provider
    PutU32(out, 0x1D);  // the UTF-16 name
    PutU32(out, 0);     // no UTF-16 device
    out.push_back(0);
    PutUtf16(out, *strings.netName + u'\0');
    Overwrite(out, shortcut.networkLink, 4,
              static_cast<std::uint32_t>(out.size() - shortcut.networkLink));
    Overwrite(out, shortcut.linkInfo + 0x1C, 4, linkInfoOffset());
    PutUtf16(out, *strings.localBasePath + u'\0');
    Overwrite(out, shortcut.linkInfo + 0x20, 4, linkInfoOffset());
    PutUtf16(out, *strings.commonPathSuffix + u'\0');
    Overwrite(out, shortcut.linkInfo, 4, linkInfoOffset());

    shortcut.stringData = out.size();
    for (StringField field :
         {&ShellLinkStrings::name, &ShellLinkStrings::relativePath, &ShellLinkStrings::workingDir,
          &ShellLinkStrings::arguments, &ShellLinkStrings::iconLocation}) {
        PutU16(out, static_cast<std::uint16_t>((strings.*field)->size()));
        PutUtf16(out, *(strings.*field));
    }

    shortcut.environmentBlock = out.size();
    PutU32(out, 0x314);
    PutU32(out, 0xA0000001);
    out.resize(out.size() + 260);  // the ANSI target is not looked at
    std::u16string target = *strings.environmentTarget;
    target.resize(260);
    PutUtf16(out, target);
    PutU32(out, 0);  // the terminal block
    return shortcut;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

TEST(LnkStringsTest, EveryUtf16StringKeepsItsUnits) {
    const ShellLinkStrings strings = StringsWithLoneSurrogates();
    ExpectSameStrings(ReadShellLinkStrings(WriteShortcut(strings).bytes), strings);
}

TEST(LnkStringsTest, OnlyStringsHeldInUtf16AreRead) {
    const std::filesystem::path fixtures = "tests/fixtures/shortcuts";
    {
        SCOPED_TRACE("written by the demo prefix's writer");
        ShellLinkStrings expected;
        expected.localBasePath = u"C:\\x_\xD800.exe";
        expected.commonPathSuffix = u"";
        expected.workingDir = u"C:\\";
        ExpectSameStrings(ReadShellLinkStrings(ReadBytes(fixtures / "TargetLoneSurrogate.lnk")),
                          expected);
    }
    {
        // Wine keeps the link information's paths in the ANSI code page only.
        SCOPED_TRACE("written by Wine");
        ShellLinkStrings expected;
        expected.arguments = u"/quiet";
        ExpectSameStrings(ReadShellLinkStrings(ReadBytes(fixtures / "TargetWithArguments.lnk")),
                          expected);
    }
}

TEST(LnkStringsTest, DamagedPartLosesItsStringsAndNothingBefore) {
    const ShellLinkStrings intact = StringsWithLoneSurrogates();
    const WrittenShortcut shortcut = WriteShortcut(intact);
    const std::vector<StringField> linkInfoAndAfter = {
        &ShellLinkStrings::localBasePath,    &ShellLinkStrings::netName,
        &ShellLinkStrings::commonPathSuffix, &ShellLinkStrings::name,
        &ShellLinkStrings::relativePath,     &ShellLinkStrings::workingDir,
        &ShellLinkStrings::arguments,        &ShellLinkStrings::iconLocation,
        &ShellLinkStrings::environmentTarget};
    const std::size_t linkInfo = shortcut.linkInfo;
    const std::size_t networkLink = shortcut.networkLink;
    const std::size_t iconCount = shortcut.environmentBlock - 2 - 2 * intact.iconLocation->size();
    const std::size_t environment = shortcut.environmentBlock;
    struct {
        const char* what;
        std::size_t at;
        std::size_t size;
        std::uint32_t value;
        std::vector<StringField> lost;
    } cases[] = {
        // The header and the parts everything else follows.
        {"header size", 0, 4, 0x4D, linkInfoAndAfter},
        {"ID list size past the end", 0x4C, 2, 0xFFFF, linkInfoAndAfter},
        {"link information size past the end", linkInfo, 4, 0xFFFFFFFF, linkInfoAndAfter},
        {"link information size below its own field", linkInfo, 4, 3, linkInfoAndAfter},
        // Offsets inside the link information.
        {"header without UTF-16 offsets",
         linkInfo + 0x04,
         4,
         0x1C,
         {&ShellLinkStrings::localBasePath, &ShellLinkStrings::netName,
          &ShellLinkStrings::commonPathSuffix}},
        {"base path offset inside the header",
         linkInfo + 0x1C,
         4,
         0x10,
         {&ShellLinkStrings::localBasePath}},
        {"base path offset past the end",
         linkInfo + 0x1C,
         4,
         0xFFFFFFFF,
         {&ShellLinkStrings::localBasePath}},
        {"suffix offset at the last byte of the link information",
         linkInfo + 0x20,
         4,
         static_cast<std::uint32_t>(shortcut.stringData - linkInfo - 1),
         {&ShellLinkStrings::commonPathSuffix}},
        {"network link offset past the end",
         linkInfo + 0x14,
         4,
         0x7FFFFFFF,
         {&ShellLinkStrings::netName}},
        {"network link larger than the link information",
         networkLink,
         4,
         0x10000,
         {&ShellLinkStrings::netName}},
        {"network link with the short header",
         networkLink + 0x08,
         4,
         0x14,
         {&ShellLinkStrings::netName}},
        {"net name offset past the network link",
         networkLink + 0x14,
         4,
         0x1000,
         {&ShellLinkStrings::netName}},
        // Counts past the end.
        {"name count past the end",
         shortcut.stringData,
         2,
         0xFFFF,
         {&ShellLinkStrings::name, &ShellLinkStrings::relativePath, &ShellLinkStrings::workingDir,
          &ShellLinkStrings::arguments, &ShellLinkStrings::iconLocation,
          &ShellLinkStrings::environmentTarget}},
        {"icon location count past the end",
         iconCount,
         2,
         static_cast<std::uint32_t>((shortcut.bytes.size() - iconCount) / 2),
         {&ShellLinkStrings::iconLocation, &ShellLinkStrings::environmentTarget}},
        // The extra data.
        {"environment block size past the end",
         environment,
         4,
         0x10000,
         {&ShellLinkStrings::environmentTarget}},
        {"environment block shorter than its fields",
         environment,
         4,
         0x313,
         {&ShellLinkStrings::environmentTarget}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> damaged = shortcut.bytes;
        Overwrite(damaged, c.at, c.size, c.value);
        ShellLinkStrings expected = intact;
        for (StringField field : c.lost)
            expected.*field = std::nullopt;
        ExpectSameStrings(ReadShellLinkStrings(damaged), expected);
    }

    SCOPED_TRACE("environment target without terminator");
    std::vector<std::uint8_t> damaged = shortcut.bytes;
    for (std::size_t at = environment + 0x10C; at < environment + 0x314; at += 2)
        Overwrite(damaged, at, 2, u'x');
    ShellLinkStrings expected = intact;
    expected.environmentTarget = std::nullopt;
    ExpectSameStrings(ReadShellLinkStrings(damaged), expected);
}

TEST(LnkStringsTest, CutOrOverwrittenCopiesGiveNoOtherString) {
    const ShellLinkStrings intact = StringsWithLoneSurrogates();
    const std::vector<std::uint8_t> bytes = WriteShortcut(intact).bytes;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        SCOPED_TRACE("cut to " + std::to_string(length));
        const ShellLinkStrings found =
            ReadShellLinkStrings(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + length));
        for (const auto& [name, field] : kFields) {
            EXPECT_TRUE(!(found.*field) || found.*field == intact.*field)
                << name << ": " << Describe(found.*field);
        }
    }
    // Any byte set to 0xFF may change a string or the place of the next; only the reading is
    // checked here (the sanitizers watch every access).
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        std::vector<std::uint8_t> damaged = bytes;
        damaged[at] = 0xFF;
        ReadShellLinkStrings(damaged);
    }
}

}  // namespace
}  // namespace quillary
