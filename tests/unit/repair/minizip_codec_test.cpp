#include "repair/minizip_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace quillary {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A repair of many shortcuts stores more entries than the 16-bit count of a ZIP end record
// holds: every one of them is still found, the last one too.
TEST(MinizipCodecTest, ArchiveOfMoreThan65535EntriesReadsWhole) {
    constexpr int kEntries = 70'000;
    std::unique_ptr<IZipBuilder> builder = CMinizipCodec().NewArchive();
    for (int i = 1; i <= kEntries; ++i)
        ASSERT_FALSE(builder->Add(std::to_string(i) + ".fil", Bytes(std::to_string(i)), {}));
    std::vector<std::uint8_t> archive;
    ASSERT_FALSE(builder->Finish(archive));

    std::unique_ptr<IZipReader> reader;
    ASSERT_EQ(CMinizipCodec().OpenArchive(archive, reader), std::nullopt);
    EXPECT_EQ(reader->Names().size(), static_cast<std::size_t>(kEntries));
    std::vector<std::uint8_t> content;
    for (int i : {1, 65'535, 65'536, kEntries}) {
        SCOPED_TRACE(i);
        ASSERT_EQ(reader->ReadEntry(std::to_string(i) + ".fil", 100, content), std::nullopt);
        EXPECT_EQ(content, Bytes(std::to_string(i)));
    }
    EXPECT_FALSE(reader->Holds("70001.fil"));
}

// An entry is refused by its declared size before anything is inflated, and by what it
// inflates to when the directory understates it.
TEST(MinizipCodecTest, EntryLargerThanAllowedIsRefused) {
    std::vector<std::uint8_t> archive;
    ASSERT_FALSE(
        CMinizipCodec().AddEntry(archive, "big.reg", std::vector<std::uint8_t>(4096, 0), {}));
    std::vector<std::uint8_t> content;
    ZipError refused = CMinizipCodec().ReadEntry(archive, "big.reg", 1024, content);
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->find("larger than 1024 bytes"), std::string::npos) << *refused;
    EXPECT_TRUE(content.empty());
}

}  // namespace
}  // namespace quillary
