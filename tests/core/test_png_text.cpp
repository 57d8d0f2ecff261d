// Reading the tEXt chunks of PNG files built in memory.
#include <gtest/gtest.h>

#include <string>

#include "image/png_text.h"
#include "meta_test_files.h"

using namespace metatest;

namespace {

bool read(const std::string& file, PngTextList& list, int32_t* code = nullptr) {
    return readPngTextsFromMemory(bytes(file), file.size(), list, code);
}

std::string badCrc(std::string c) {
    c[c.size() - 1] ^= 1;
    return c;
}

}  // namespace

TEST(PngText, ListsQualifyingChunksInOrderWithoutEsc) {
    const std::string file = png(text("Title", "Sunset") + badCrc(text("Author", "x")) + chunk("tEXt", "A") +
                                 chunk("tEXt", std::string("\0abc", 4)) + text("Co\x1Bmment", "line\x1B one") +
                                 chunk("zTXt", std::string("Z\0\0x", 4)) + text("Empty", ""));
    PngTextList list;
    int32_t code = -1;
    ASSERT_TRUE(read(file, list, &code));
    EXPECT_EQ(code, 0);
    ASSERT_EQ(list.count(), 3);
    EXPECT_STREQ(list.entries[0].keyword, "Title");
    EXPECT_STREQ(list.entries[0].text, "Sunset");
    EXPECT_STREQ(list.entries[1].keyword, "Comment");
    EXPECT_STREQ(list.entries[1].text, "line one");
    EXPECT_STREQ(list.entries[2].keyword, "Empty");
    EXPECT_STREQ(list.entries[2].text, "");
}

TEST(PngText, EntryKeywordAndTextLimits) {
    std::string many;
    for (int i = 0; i < 20; ++i) many += text("K" + std::to_string(i), "v");
    PngTextList list;
    ASSERT_TRUE(read(png(many), list));
    EXPECT_EQ(list.count(), 16);
    EXPECT_STREQ(list.entries[15].keyword, "K15");

    // A 79-byte keyword is kept; one of 80 bytes has no 0 within reach and is ignored.
    const std::string k79(79, 'k'), k80(80, 'k');
    ASSERT_TRUE(read(png(text(k80, "lost") + text(k79, "kept")), list));
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(std::string(list.entries[0].keyword), k79);
    EXPECT_STREQ(list.entries[0].text, "kept");

    // Only the first 1103 data bytes are looked at; the text slot holds at most 1024.
    ASSERT_TRUE(read(png(text("a", std::string(2000, 't')) + text(k79, std::string(2000, 'u'))), list));
    EXPECT_EQ(std::string(list.entries[0].text).size(), 1024u);
    EXPECT_EQ(std::string(list.entries[1].text).size(), 1103u - 80u);
    // ESC bytes do not use up the 1024 bytes of the slot.
    ASSERT_TRUE(read(png(text("a", std::string(50, '\x1B') + std::string(1040, 'e'))), list));
    EXPECT_EQ(std::string(list.entries[0].text), std::string(1024, 'e'));
}

TEST(PngText, DamagedFiles) {
    PngTextList list;
    int32_t code = 0;
    // No text chunk at all: nothing to show, but no read error either.
    EXPECT_FALSE(read(png(""), list, &code));
    EXPECT_EQ(code, 0);

    // Cut inside a chunk after one text entry: the entry is still shown, the error noted.
    std::string file = png(text("Title", "kept") + text("Other", "never seen"));
    std::string cut = file.substr(0, file.find("Other") + 2);
    EXPECT_TRUE(read(cut, list, &code));
    EXPECT_EQ(code, 4);
    EXPECT_EQ(list.count(), 1);

    // A length with the top bit set, or a file ending before IEND, is a read error.
    std::string top = png(be32(0x80000001u) + "tEXtA");
    EXPECT_FALSE(read(top, list, &code));
    EXPECT_EQ(code, 4);
    EXPECT_FALSE(read(file.substr(0, 40), list, &code));
    EXPECT_EQ(code, 4);

    for (size_t n = 0; n <= file.size(); ++n) {
        std::vector<uint8_t> copy(file.begin(), file.begin() + n);
        readPngTextsFromMemory(copy.data(), copy.size(), list);
    }
}
