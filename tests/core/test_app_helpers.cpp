// The application core's small rules: message table, "%d" numbers, date text, folder
// containment, window title, platform level, selection lists, settings rules, the hand-over
// block and the settings loader over a source of stored values.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "base/messages.h"
#include "base/settings.h"
#include "base/text_utils.h"
#include "thumbs/selection_lists.h"

namespace {

TEST(MessageTable, FixedTextsAndFallback) {
    EXPECT_STREQ(messageText(MsgMemoryFailed), L"メモリ確保に失敗しました。");
    EXPECT_STREQ(messageText(MsgRunFailed), L"ファイル実行に失敗しました。");
    EXPECT_STREQ(messageText(MsgCacheAccessFailed), L"キャッシュファイルアクセスに失敗しました。");
    EXPECT_STREQ(messageText(MsgFolderCreateFailed), L"フォルダ作成に失敗しました。");
    EXPECT_STREQ(messageText(9), messageText(6));
    EXPECT_STREQ(messageText(-1), L"Error");
    EXPECT_STREQ(messageText(MsgThumbnailMemory), L"メモリが足りないため表示できないファイルがあります。");
    EXPECT_STREQ(messageText(15), L"Error");
    EXPECT_STREQ(messageText(INT_MIN), L"Error");
    for (int id = 0; id < kMessageCount; ++id) EXPECT_STRNE(messageText(id), L"Error") << id;
}

TEST(FormatNumber, SignedDecimalWithinBuffer) {
    wchar_t out[kNumberBufferSize];
    EXPECT_EQ(formatNumber(0, out), 1);
    EXPECT_STREQ(out, L"0");
    formatNumber(10000002, out);
    EXPECT_STREQ(out, L"10000002");
    formatNumber(-5, out);
    EXPECT_STREQ(out, L"-5");
    EXPECT_EQ(formatNumber(INT32_MIN, out), 11);
    EXPECT_STREQ(out, L"-2147483648");
    formatNumber(INT32_MAX, out);
    EXPECT_STREQ(out, L"2147483647");
}

TEST(DateText, FieldsArePaddedExceptTheYear) {
    wchar_t out[64];
    formatDateText(CivilTime{2009, 1, 2, 3, 4, 5}, out, 64);
    EXPECT_STREQ(out, L"2009/01/02 03:04:05");
    formatDateText(CivilTime{800, 1, 2, 3, 4, 5}, out, 64);
    EXPECT_STREQ(out, L"800/01/02 03:04:05");
    formatDateText(CivilTime{2009, 12, 31, 23, 59, 10}, out, 64);
    EXPECT_STREQ(out, L"2009/12/31 23:59:10");
}

TEST(DateText, FileTimeGoesThroughLocalTime) {
    // 2009-03-07 08:05:09 UTC; whatever the zone, the local fields format as the rule says.
    FileTime t = FileTime::fromValue(128808075090000000ULL);
    CivilTime local;
    ASSERT_TRUE(fileTimeToLocalCivil(t, local));
    wchar_t expected[64];
    formatDateText(local, expected, 64);
    wchar_t out[64];
    ASSERT_TRUE(formatFileDate(t, out, 64));
    EXPECT_STREQ(out, expected);
    EXPECT_EQ(std::wcslen(out), 19u);
    EXPECT_EQ(local.minute, 5);  // zones differ by whole hours or half hours, not 5 minutes
    EXPECT_EQ(local.second, 9);
}

TEST(FolderContains, EqualInsideAndTheBackslashRule) {
    EXPECT_EQ(folderContains(L"C:\\A", L"C:\\A"), 0);
    EXPECT_EQ(folderContains(L"C:\\A", L"C:\\A\\B"), 1);
    EXPECT_EQ(folderContains(L"C:\\A", L"C:\\AB\\x"), -1);
    EXPECT_EQ(folderContains(L"C:\\A", L"C:\\AB"), -1);
    EXPECT_EQ(folderContains(L"C:\\A", L"c:\\a\\B"), 1);  // without case, as the file system
    EXPECT_EQ(folderContains(L"c:\\photos", L"C:\\Photos"), 0);
    EXPECT_EQ(folderContains(L"C:\\A\\", L"C:\\A"), 0);  // a closing backslash names the same folder
    EXPECT_EQ(folderContains(L"C:\\A", L"C:\\AB\\C:\\A\\x"), 1);  // anywhere, not only at the start
    EXPECT_EQ(folderContains(L"C:\\", L"C:\\x"), 1);   // a drive root given with its backslash
    EXPECT_EQ(folderContains(L"", L"C:\\x"), -1);
}

TEST(SamePath, CaseFoldsLettersOnlyAndClosingBackslashes) {
    EXPECT_TRUE(samePath(L"C:\\Photos\\Été", L"c:\\PHOTOS\\éTÉ"));
    EXPECT_TRUE(samePath(L"C:\\ＡБΣ", L"c:\\ａбσ"));  // full-width Latin, Cyrillic, Greek
    EXPECT_TRUE(samePath(L"C:\\a\\\\", L"C:\\A"));
    EXPECT_TRUE(samePath(L"C:\\", L"c:\\"));
    EXPECT_FALSE(samePath(L"C:\\", L"C:"));  // the root keeps its backslash
    EXPECT_FALSE(samePath(L"C:\\写真", L"C:\\写眞"));
    EXPECT_FALSE(samePath(L"C:\\a÷", L"C:\\a×"));  // signs are no letters
    EXPECT_FALSE(samePath(L"C:\\ab", L"C:\\a"));
    EXPECT_FALSE(samePath(nullptr, L"C:\\"));
}

TEST(WindowTitle, PaneNumberAndFolderOrProgramName) {
    wchar_t out[300];
    formatWindowTitle(1, L"", out, 300);
    EXPECT_STREQ(out, L"-1- Pravel");
    formatWindowTitle(2, L"C:\\写真", out, 300);
    EXPECT_STREQ(out, L"-2- C:\\写真");
    formatWindowTitle(1, nullptr, out, 300);
    EXPECT_STREQ(out, L"-1- Pravel");
    std::wstring longFolder(259, L'x');
    formatWindowTitle(1, longFolder.c_str(), out, 100);
    EXPECT_EQ(std::wcslen(out), 99u);
}

TEST(PlatformLevel, RefusesFiveZeroAndFiveTwo) {
    EXPECT_EQ(platformLevelFor(5, 0), 0);
    EXPECT_EQ(platformLevelFor(5, 1), 1);
    EXPECT_EQ(platformLevelFor(5, 2), 0);
    EXPECT_EQ(platformLevelFor(4, 10), 0);
    EXPECT_EQ(platformLevelFor(6, 0), 2);
    EXPECT_EQ(platformLevelFor(6, 1), 2);  // what Wine reports
    EXPECT_EQ(platformLevelFor(6, 3), 2);
    EXPECT_EQ(platformLevelFor(10, 0), 3);
}

std::vector<ThumbnailItem> itemsNamed(std::initializer_list<const wchar_t*> names) {
    std::vector<ThumbnailItem> items(names.size());
    size_t i = 0;
    for (const wchar_t* n : names) std::wcscpy(items[i++].name, n);
    return items;
}

TEST(SelectionLists, FirstSelected) {
    auto items = itemsNamed({L"a.jpg", L"b.png", L"c.bmp"});
    EXPECT_EQ(firstSelectedItem(items.data(), 3), -1);
    EXPECT_EQ(firstSelectedItem(nullptr, 3), -1);
    items[1].selected = SelectionMark::Selected;
    items[2].selected = SelectionMark::Selected;
    EXPECT_EQ(firstSelectedItem(items.data(), 3), 1);
    items[1].selected = SelectionMark::EmptiedWhileRemoving;  // a slot emptied during removal is not a selection
    EXPECT_EQ(firstSelectedItem(items.data(), 3), 2);
}

TEST(SelectionLists, QuotedListOfThree) {
    auto items = itemsNamed({L"a.jpg", L"b c.png", L"d.bmp", L"e.gif"});
    items[0].selected = items[1].selected = items[3].selected = SelectionMark::Selected;
    std::wstring list = selectionQuotedList(L"C:\\pics", items.data(), 4);
    EXPECT_EQ(list, L"\"C:\\pics\\a.jpg\" \"C:\\pics\\b c.png\" \"C:\\pics\\e.gif\"");
    EXPECT_EQ(std::count(list.begin(), list.end(), L'"'), 6);
    // A folder that already ends with its backslash (a drive root) gets no second one.
    EXPECT_EQ(selectionQuotedList(L"D:\\", items.data(), 1), L"\"D:\\a.jpg\"");
    EXPECT_EQ(selectionQuotedList(L"D:\\", nullptr, 4), L"");
}

TEST(SelectionLists, ZeroListEndsInTwoZerosEvenForOneItem) {
    auto items = itemsNamed({L"a.jpg", L"b.png"});
    items[1].selected = SelectionMark::Selected;
    std::wstring one = selectionZeroList(L"C:\\p", items.data(), 2);
    EXPECT_EQ(one, std::wstring(L"C:\\p\\b.png\0\0", 12));
    items[0].selected = SelectionMark::Selected;
    std::wstring two = selectionZeroList(L"C:\\p", items.data(), 2);
    EXPECT_EQ(two, std::wstring(L"C:\\p\\a.jpg\0C:\\p\\b.png\0\0", 23));
    // The shell reads up to the double zero: count the entries that way.
    int entries = 0;
    for (const wchar_t* p = two.c_str(); *p; p += std::wcslen(p) + 1) ++entries;
    EXPECT_EQ(entries, 2);
}

TEST(SettingsRules, ClampsAndTextArea) {
    EXPECT_EQ(clampThumbSize(10), 32);
    EXPECT_EQ(clampThumbSize(-7), 32);
    EXPECT_EQ(clampThumbSize(32), 32);
    EXPECT_EQ(clampThumbSize(800), 800);
    EXPECT_EQ(clampThumbSize(5000), 800);

    AppSettings s;
    EXPECT_EQ(textAreaHeightFor(s), 28);  // defaults: name and size
    s.infoName = s.infoSize = s.infoDate = s.infoDepth = 0;
    EXPECT_EQ(textAreaHeightFor(s), 14);
    s.infoName = s.infoDate = s.infoDepth = 1;
    EXPECT_EQ(textAreaHeightFor(s), 42);
    s.infoSize = 1;
    EXPECT_EQ(textAreaHeightFor(s), 56);
    s.textArea = 0;
    EXPECT_EQ(textAreaHeightFor(s), 0);

    AppSettings split;
    EXPECT_EQ(initialActivePane(split), 0);
    split.thumbSplit = SplitMode::Pane2;
    EXPECT_EQ(initialActivePane(split), 1);
    split.thumbSplit = SplitMode::Both;
    EXPECT_EQ(initialActivePane(split), 0);
}

// The block a second instance sends: UTF-16LE units, bounded by the path buffer.
std::vector<uint8_t> utf16Block(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(uint8_t(c));
        bytes.push_back(uint8_t(c >> 8));
    }
    return bytes;
}

TEST(HandOver, BlockNeedsATerminatorInItsFirst260Units) {
    wchar_t path[kPathCapacity];
    std::vector<uint8_t> block = utf16Block(u"D:\\\u5199\u771F\\a.jpg");
    block.insert(block.end(), {0, 0});
    ASSERT_TRUE(handedOverPath(block.data(), block.size(), path));
    EXPECT_STREQ(path, L"D:\\\u5199\u771F\\a.jpg");  // little-endian units on every build
    block.push_back(0x41);                             // a stray odd byte after the terminator
    EXPECT_TRUE(handedOverPath(block.data(), block.size(), path));

    std::vector<uint8_t> longest = utf16Block(std::u16string(259, u'x') + u'\0');
    ASSERT_TRUE(handedOverPath(longest.data(), longest.size(), path));
    EXPECT_EQ(std::wcslen(path), 259u);
    // The terminator as unit 261 lies outside the buffer: refused, not cut to another path.
    std::vector<uint8_t> tooLong = utf16Block(std::u16string(260, u'x') + u'\0');
    EXPECT_FALSE(handedOverPath(tooLong.data(), tooLong.size(), path));
    EXPECT_STREQ(path, L"");
    std::vector<uint8_t> open = utf16Block(u"C:\\pictures");
    EXPECT_FALSE(handedOverPath(open.data(), open.size(), path));
    const uint8_t half[1] = {0};
    EXPECT_FALSE(handedOverPath(half, 1, path));
    EXPECT_FALSE(handedOverPath(nullptr, 8, path));
}

TEST(HandOver, FilePathIsCutToItsFolderKeepingADriveRoot) {
    wchar_t a[] = L"C:\\photos\\2026\\a.jpg", b[] = L"C:\\a.jpg", c[] = L"\\\\server\\share\\b.png", d[] = L"a.jpg";
    EXPECT_TRUE(cutToContainingFolder(a));
    EXPECT_STREQ(a, L"C:\\photos\\2026");
    EXPECT_TRUE(cutToContainingFolder(b));
    EXPECT_STREQ(b, L"C:\\");
    EXPECT_TRUE(cutToContainingFolder(c));
    EXPECT_STREQ(c, L"\\\\server\\share");
    EXPECT_FALSE(cutToContainingFolder(d));
    EXPECT_STREQ(d, L"a.jpg");
}

// Stored values by "section/key"; remembers every key the loader asked for.
class MapSource final : public SettingsSource {
public:
    std::map<std::wstring, std::wstring> values;
    std::vector<std::wstring> asked;

    int32_t number(const wchar_t* section, const wchar_t* key, int32_t fallback) override {
        const std::wstring* v = find(section, key);
        return v ? int32_t(std::wcstol(v->c_str(), nullptr, 10)) : fallback;
    }
    size_t text(const wchar_t* section, const wchar_t* key, wchar_t* out, size_t capacity) override {
        const std::wstring* v = find(section, key);
        const size_t n = v ? std::min(v->size(), capacity - 1) : 0;
        if (n) std::wmemcpy(out, v->data(), n);
        out[n] = L'\0';
        return n;
    }

private:
    const std::wstring* find(const wchar_t* section, const wchar_t* key) {
        asked.push_back(std::wstring(section) + L"/" + key);
        auto it = values.find(asked.back());
        return it == values.end() ? nullptr : &it->second;
    }
};

TEST(SettingsLoader, RangesMasksTextBuffersAndTheFolderList) {
    MapSource source;
    source.values = {{L"Mwin/ThImgW", L"10"},     {L"Mwin/ThImgH", L"5000"},  {L"Mwin/UseCache", L"2"},
                     {L"Mwin/FocusR", L"300"},    {L"Mwin/Max", L"3"},        {L"Mwin/ThSplit", L"7"},
                     {L"Mwin/InfoName", L"0"},    {L"Mwin/InfoDate", L"1"},   {L"Mwin/x", L"-5"},
                     {L"Path/SPI", std::wstring(1100, L's')}, {L"Path/AN3", std::wstring(259, L'n')},
                     {L"FolderList/0", L"."},     {L"FolderList/1", L"no such folder"},
                     {L"FolderList/2", std::wstring(260, L'.')}, {L"FolderList/3", L"."},
                     {L"FolderList/5", L"."}};
    AppSettings s;
    loadSettingsFromSource(source, true, L"first", L"prog\\", s);
    EXPECT_EQ(s.thumbWidth, 32);
    EXPECT_EQ(s.thumbHeight, 800);
    EXPECT_EQ(s.useCache, 0);
    EXPECT_EQ(s.focusRed, 44);
    EXPECT_EQ(s.maximized, 1);
    EXPECT_EQ(int(s.thumbSplit), 7);  // kept as stored; its users fall back themselves
    EXPECT_EQ(s.treeWidth, 150);      // missing keys keep their defaults
    EXPECT_EQ(s.textAreaHeight, 28);  // size and date
    // Over-long text keeps its first 259 units; one of 259 is whole.
    EXPECT_EQ(std::wcslen(s.pluginFolder), 259u);
    EXPECT_EQ(std::wcslen(s.toolNames[3]), 259u);
    EXPECT_STREQ(s.viewerPath, L"prog\\Dorna.exe");
    // Folders: the missing one and the over-long one are dropped, the rest move up, and
    // reading ends at the first empty key ("4"), so "5" is never asked for.
    EXPECT_EQ(s.folders.count(), 2);
    EXPECT_STREQ(s.folders.paths[1], L".");
    const auto askedFor = [&](const wchar_t* key) {
        return std::find(source.asked.begin(), source.asked.end(), key) != source.asked.end();
    };
    EXPECT_TRUE(askedFor(L"FolderList/4"));
    EXPECT_FALSE(askedFor(L"FolderList/5"));

    const MainPlacement placed = readMainPlacementFromSource(source, 1000, 700);
    EXPECT_EQ(placed.x, -5);
    EXPECT_EQ(placed.y, 50);
    EXPECT_EQ(placed.w, 800);

    // No settings file: the first-start folder alone, without asking for the list.
    MapSource none;
    loadSettingsFromSource(none, false, L"first", L"prog\\", s);
    EXPECT_EQ(s.folders.count(), 1);
    EXPECT_STREQ(s.folders.paths[0], L"first");
    EXPECT_EQ(s.thumbWidth, 148);
    EXPECT_EQ(std::count_if(none.asked.begin(), none.asked.end(),
                            [](const std::wstring& k) { return k.rfind(L"FolderList/", 0) == 0; }),
              0);
}


}  // namespace
