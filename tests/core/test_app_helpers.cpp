// The application core's small rules: message table, "%d" numbers, date text, folder
// containment, window title, platform level, selection lists, settings rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
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
    EXPECT_STREQ(messageText(14), L"Error");
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

}  // namespace
