#include "targets/linux/id_list_path.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillary {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One item: its size, its type, then the body.
Bytes Item(std::uint8_t type, const Bytes& body) {
    std::size_t size = body.size() + 3;
    Bytes item = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8), type};
    item.insert(item.end(), body.begin(), body.end());
    return item;
}

Bytes Root(bool myComputer = true) {
    Bytes body = {0x50};
    Bytes clsid = myComputer ? Bytes{0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                                     0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D}
                             // Control Panel {21EC2020-3AEA-1069-A2DD-08002B30309D}
                             : Bytes{0x20, 0x20, 0xEC, 0x21, 0xEA, 0x3A, 0x69, 0x10,
                                     0xA2, 0xDD, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
    body.insert(body.end(), clsid.begin(), clsid.end());
    return Item(0x1F, body);
}

Bytes Drive(std::string_view name = "C:\\") {
    Bytes body(name.begin(), name.end());
    body.resize(22, 0);
    return Item(0x2F, body);
}

void AppendUtf16(Bytes& bytes, std::u16string_view text) {
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
}

// A file entry with an ANSI short name and, when version is not 0, an extension block of
// that version holding the long name (version 0xFFFF: Wine's block, without a signature).
Bytes FileEntry(std::string_view shortName, std::u16string_view longName = u"",
                std::uint16_t version = 9) {
    Bytes body = {0, 0, 0, 0, 0, 0x21, 0x58, 0x00, 0x80, 0x20, 0x00};
    body.insert(body.end(), shortName.begin(), shortName.end());
    body.push_back(0);
    if (version != 0) {
        if ((body.size() + 3) % 2 != 0)
            body.push_back(0);
        bool wine = version == 0xFFFF;
        std::size_t nameOffset = wine ? 20 : version >= 9 ? 46 : version == 8 ? 42 : 20;
        Bytes block(nameOffset, 0);
        if (!wine) {
            block[2] = static_cast<std::uint8_t>(version);
            block[4] = 0x04;
            block[6] = 0xEF;
            block[7] = 0xBE;
        }
        AppendUtf16(block, longName);
        block.push_back(0);
        block.push_back(0);
        block[0] = static_cast<std::uint8_t>(block.size());
        block[1] = static_cast<std::uint8_t>(block.size() >> 8);
        body.insert(body.end(), block.begin(), block.end());
    }
    return Item(0x32, body);
}

Bytes List(std::initializer_list<Bytes> items) {
    Bytes list;
    for (const Bytes& item : items)
        list.insert(list.end(), item.begin(), item.end());
    list.push_back(0);
    list.push_back(0);
    return list;
}

TEST(IdListPathTest, PathsOfMyComputerItems) {
    Bytes unicodeEntry = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0};
    AppendUtf16(unicodeEntry, u"Ünïcode");
    struct {
        const char* why;
        Bytes list;
        std::u16string_view path;
    } cases[] = {
        {"long names of this decade's shell",
         List({Root(), Drive(), FileEntry("PROGRA~1", u"Program Files"),
               FileEntry("LARKSP~1.EXE", u"Larkspur App.exe")}),
         u"C:\\Program Files\\Larkspur App.exe"},
        {"long names of older versions",
         List({Root(), Drive(), FileEntry("DOCUME~1", u"Documents and Settings", 3),
               FileEntry("NOTES~1.TXT", u"notes file.txt", 8)}),
         u"C:\\Documents and Settings\\notes file.txt"},
        {"Wine's extension block",
         List({Root(), Drive(), FileEntry("NAVE~1.TXT", u"naïve.txt", 0xFFFF)}), u"C:\\naïve.txt"},
        {"short names only", List({Root(), Drive(), FileEntry("PROGRA~1", u"", 0)}),
         u"C:\\PROGRA~1"},
        {"a name stored in UTF-16", List({Root(), Drive(), Item(0x36, unicodeEntry)}),
         u"C:\\Ünïcode"},
        {"a drive letter in lower case", List({Root(), Drive("d:\\"), FileEntry("A", u"a.txt")}),
         u"D:\\a.txt"},
        {"the drive itself", List({Root(), Drive()}), u"C:\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(PathFromIdList(c.list), std::optional<std::u16string>(c.path));
    }
}

TEST(IdListPathTest, DamagedListsAndOtherShellItemsNameNoPath) {
    Bytes good = List({Root(), Drive(), FileEntry("A.TXT", u"a.txt")});
    Bytes noTerminator(good.begin(), good.end() - 2);
    Bytes sizePastEnd = good;
    sizePastEnd[0] = 0xFF;
    Bytes tinyItem = List({Root(), Drive(), Item(0x32, {})});
    Bytes deep = {};
    {
        Bytes items = Root();
        Bytes drive = Drive();
        items.insert(items.end(), drive.begin(), drive.end());
        for (int level = 0; level < 200; ++level) {
            Bytes entry = FileEntry("D", u"d");
            items.insert(items.end(), entry.begin(), entry.end());
        }
        items.push_back(0);
        items.push_back(0);
        deep = items;
    }
    std::u16string longName(250, u'n');
    struct {
        const char* why;
        Bytes list;
    } cases[] = {
        {"empty", {}},
        {"no terminating zero size", noTerminator},
        {"an item larger than the list", sizePastEnd},
        {"an item too small for its fields", tinyItem},
        {"only the root", List({Root()})},
        {"a control panel item", List({Root(false), Drive()})},
        {"a drive without its backslash", List({Root(), Drive("C:"), FileEntry("A", u"a")})},
        {"not a drive after the root", List({Root(), FileEntry("A", u"a")})},
        {"a name climbing out", List({Root(), Drive(), FileEntry("..", u"..")})},
        {"a name with a separator", List({Root(), Drive(), FileEntry("A", u"a\\..\\b")})},
        {"an empty long name over no short name", List({Root(), Drive(), FileEntry("", u"")})},
        {"a short name in an unknown code page",
         List({Root(), Drive(), FileEntry("\xC9T\xC9", u"", 0)})},
        {"more items than any real path", deep},
        {"a path longer than the shell returns",
         List({Root(), Drive(), FileEntry("A", longName), FileEntry("B", longName),
               FileEntry("C", longName), FileEntry("D", longName), FileEntry("E", longName)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(PathFromIdList(c.list), std::nullopt);
    }
}

TEST(IdListPathTest, EveryTruncationIsRefusedOrReadWithinBounds) {
    Bytes good = List(
        {Root(), Drive(), FileEntry("PROGRA~1", u"Program Files"), FileEntry("A.EXE", u"a.exe")});
    for (std::size_t length = 0; length < good.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ(PathFromIdList(std::span(good).first(length)), std::nullopt);
    }
}

}  // namespace
}  // namespace quillary
