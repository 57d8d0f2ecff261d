// The cache maintenance dialog over caches written by a real pane (and over damaged ones),
// and the selection colour of the options dialog reaching a real pane.
#include "test_pane_support.h"
#include "test_options_support.h"

#include <commctrl.h>

#include "dialogs/cache_dialog.h"
#include "dialogs/options_dialog.h"

using namespace panetest;
using namespace optionstest;

namespace {

constexpr int kList = 1530, kTickAll = 1520, kTickNone = 1521, kDelete = 1522;

bool ticked(HWND list, int row) {
    return ((UINT(SendMessageW(list, LVM_GETITEMSTATE, WPARAM(row), LVIS_STATEIMAGEMASK)) & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

void tick(HWND list, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(2);
    SendMessageW(list, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}

FILETIME writeTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

}  // namespace

class CacheDialog : public PaneFixture {
protected:
    HWND dlg = nullptr;
    std::vector<std::wstring> folders;

    void SetUp() override {
        PaneFixture::SetUp();
        shownMessages().clear();
        g_cacheDialogMessage = &recordMessage;
    }
    void TearDown() override {
        if (dlg && IsWindow(dlg)) DestroyWindow(dlg);
        for (const std::wstring& f : folders) removeFolder(f);
        PaneFixture::TearDown();
    }
    std::wstring dataFile(uint32_t number) { return cacheFolder + std::to_wstring(number) + L".dat"; }
    std::wstring indexFile() { return cacheFolder + L"index.dat"; }
    // n folders of three images each, listed by the pane so that each gets its data file.
    void cacheFolders(int n) {
        for (int i = 0; i < n; ++i) {
            folders.push_back(tempFolder(L"cached" + std::to_wstring(i)));
            makeImages(folders.back(), 3, 60 + i, 45);
            load(folders.back());
            ASSERT_EQ(pane.itemCount, 3);
        }
    }
    HWND openDialog() {
        dlg = createCacheDialog(g_mainWindow);
        pump();
        return dlg;
    }
    HWND list() { return GetDlgItem(dlg, kList); }
    int rows() { return int(SendMessageW(list(), LVM_GETITEMCOUNT, 0, 0)); }
};

TEST_F(CacheDialog, NeverUsedCacheShowsMessage10) {
    ASSERT_FALSE(exists(indexFile()));
    EXPECT_EQ(openDialog(), nullptr);
    EXPECT_EQ(shownMessages(), std::vector<int>{10});
}

TEST_F(CacheDialog, DeletingRowsOneAndThreeKeepsTheOthersInOrderWithTheirNumbers) {
    cacheFolders(5);
    ASSERT_NE(openDialog(), nullptr);
    ASSERT_EQ(rows(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(cellText(list(), i, 0), std::to_wstring(10000000 + i));
        EXPECT_EQ(cellText(list(), i, 1), folders[i]);
        EXPECT_EQ(cellText(list(), i, 2), L"148x111");
        EXPECT_EQ(cellText(list(), i, 3), L"3");
        const size_t size = readBytes(dataFile(10000000 + i)).size();
        EXPECT_EQ(cellText(list(), i, 4), std::to_wstring((size + 1023) / 1024));
    }
    // "ON" then "OFF" leaves nothing ticked, and deleting then changes nothing.
    const std::string indexBefore = readBytes(indexFile());
    click(dlg, kTickAll);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(ticked(list(), i));
    click(dlg, kTickNone);
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(ticked(list(), i));
    click(dlg, kDelete);
    EXPECT_EQ(readBytes(indexFile()), indexBefore);
    EXPECT_EQ(rows(), 5);

    const FILETIME kept0 = writeTime(dataFile(10000000));
    const std::string kept0Bytes = readBytes(dataFile(10000000));
    tick(list(), 1);
    tick(list(), 3);
    click(dlg, kDelete);
    EXPECT_TRUE(shownMessages().empty());
    const std::vector<IndexEntry> index = readIndex(indexFile());
    ASSERT_EQ(index.size(), 3u);
    EXPECT_EQ(readBytes(indexFile()).size(), kCacheHeaderSize + 3 * kIndexRecordSize);
    const int keptRows[] = {0, 2, 4};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(index[k].folder, folders[keptRows[k]]);
        EXPECT_EQ(index[k].number, uint32_t(10000000 + keptRows[k]));
        EXPECT_EQ(cellText(list(), k, 0), std::to_wstring(10000000 + keptRows[k]));
    }
    EXPECT_EQ(rows(), 3);
    EXPECT_FALSE(exists(dataFile(10000001)));
    EXPECT_FALSE(exists(dataFile(10000003)));
    EXPECT_TRUE(exists(dataFile(10000004)));
    click(dlg, IDOK);
    pump();
    EXPECT_FALSE(IsWindow(dlg));

    // The folders still cached load from the cache: their data file is not rewritten.
    Sleep(20);
    load(folders[0]);
    ASSERT_EQ(pane.itemCount, 3);
    const FILETIME reloaded = writeTime(dataFile(10000000));
    EXPECT_EQ(CompareFileTime(&kept0, &reloaded), 0);
    EXPECT_EQ(readBytes(dataFile(10000000)), kept0Bytes);
    // A deleted one is decoded and registered again under the lowest free number.
    load(folders[1]);
    const std::vector<IndexEntry> after = readIndex(indexFile());
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[3].folder, folders[1]);
    EXPECT_EQ(after[3].number, 10000001u);
}

TEST_F(CacheDialog, MissingDataFileShowsNoCountAndItsRecordStillLeaves) {
    cacheFolders(3);
    DeleteFileW(dataFile(10000001).c_str());
    // A data file with a bad mark and one whose count is too large show no count either.
    writeBytes(dataFile(10000002), dataBytes(3, 4000, 0x00C80001));
    ASSERT_NE(openDialog(), nullptr);
    ASSERT_EQ(rows(), 3);
    EXPECT_EQ(cellText(list(), 0, 3), L"3");
    for (int row : {1, 2}) {
        EXPECT_EQ(cellText(list(), row, 3), L"");
        EXPECT_EQ(cellText(list(), row, 4), L"");
    }
    tick(list(), 1);
    click(dlg, kDelete);
    EXPECT_EQ(shownMessages(), std::vector<int>{6});
    const std::vector<IndexEntry> index = readIndex(indexFile());
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].number, 10000000u);
    EXPECT_EQ(index[1].number, 10000002u);
    EXPECT_EQ(rows(), 2);
}

// An index that cannot be replaced (its file aside cannot be written): message 10, and the
// index, every data file and the list stay as they were. Once it can, the delete goes through.
TEST_F(CacheDialog, AnIndexThatCannotBeReplacedLeavesEveryFile) {
    cacheFolders(3);
    ASSERT_NE(openDialog(), nullptr);
    const std::string indexBefore = readBytes(indexFile());
    const std::wstring aside = indexFile() + L".new";
    ASSERT_TRUE(CreateDirectoryW(aside.c_str(), nullptr));
    tick(list(), 0);
    click(dlg, kDelete);
    RemoveDirectoryW(aside.c_str());
    EXPECT_EQ(shownMessages(), std::vector<int>{10});
    EXPECT_EQ(readBytes(indexFile()), indexBefore);
    ASSERT_EQ(rows(), 3);
    EXPECT_TRUE(exists(dataFile(10000000)));
    EXPECT_EQ(cellText(list(), 0, 3), L"3");

    shownMessages().clear();
    tick(list(), 0);
    click(dlg, kDelete);
    EXPECT_TRUE(shownMessages().empty());
    ASSERT_EQ(readIndex(indexFile()).size(), 2u);
    EXPECT_FALSE(exists(dataFile(10000000)));
    EXPECT_EQ(rows(), 2);
}

// A pane load that registers a folder while the dialog is open keeps its record and its data
// file through a delete of a listed row; the list then shows it too.
TEST_F(CacheDialog, AFolderCachedWhileTheDialogIsOpenSurvivesADelete) {
    cacheFolders(2);
    ASSERT_NE(openDialog(), nullptr);
    ASSERT_EQ(rows(), 2);
    folders.push_back(tempFolder(L"cached_meanwhile"));
    makeImages(folders.back(), 3, 70, 45);
    load(folders.back());
    tick(list(), 0);
    click(dlg, kDelete);
    EXPECT_TRUE(shownMessages().empty());
    const std::vector<IndexEntry> index = readIndex(indexFile());
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].folder, folders[1]);
    EXPECT_EQ(index[1].folder, folders[2]);
    EXPECT_TRUE(exists(dataFile(index[1].number)));
    EXPECT_FALSE(exists(dataFile(10000000)));
    ASSERT_EQ(rows(), 2);
    EXPECT_EQ(cellText(list(), 1, 1), folders[2]);
}

TEST_F(CacheDialog, TickingAllRemovesEveryFile) {
    cacheFolders(3);
    ASSERT_NE(openDialog(), nullptr);
    click(dlg, kTickAll);
    click(dlg, kDelete);
    EXPECT_TRUE(shownMessages().empty());
    EXPECT_EQ(rows(), 0);
    EXPECT_FALSE(exists(indexFile()));
    for (uint32_t n = 10000000; n < 10000003; ++n) EXPECT_FALSE(exists(dataFile(n)));
    // Nothing left to list now.
    click(dlg, IDOK);
    EXPECT_EQ(openDialog(), nullptr);
    EXPECT_EQ(shownMessages(), std::vector<int>{10});
}

TEST_F(CacheDialog, DamagedIndexes) {
    CreateDirectoryW(cacheFolder.c_str(), nullptr);
    const std::vector<IndexEntry> three = {{L"C:\\a", 10000000}, {L"C:\\b", 10000001}, {L"C:\\c", 10000002}};
    for (const IndexEntry& e : three) writeBytes(dataFile(e.number), dataBytes(2, 3000));

    // More than 1,000,000 records, a wrong mark, a header cut short: message 10, nothing touched.
    const std::string tooMany = indexBytes(three, 1000001);
    std::string wrongMark = indexBytes(three);
    wrongMark[0] = 1;
    for (const std::string& bytes : {tooMany, wrongMark, std::string("\0\0\xC8\0\3", 5)}) {
        shownMessages().clear();
        writeBytes(indexFile(), bytes);
        EXPECT_EQ(openDialog(), nullptr);
        EXPECT_EQ(shownMessages(), std::vector<int>{10});
        EXPECT_EQ(readBytes(indexFile()), bytes);
    }

    // A count above the records present: the complete records are listed; a deletion writes
    // an index that holds exactly the kept ones.
    shownMessages().clear();
    writeBytes(indexFile(), indexBytes(three, 3, 100));
    ASSERT_NE(openDialog(), nullptr);
    ASSERT_EQ(rows(), 2);
    EXPECT_EQ(cellText(list(), 1, 1), L"C:\\b");
    tick(list(), 0);
    click(dlg, kDelete);
    EXPECT_TRUE(shownMessages().empty());
    const std::vector<IndexEntry> index = readIndex(indexFile());
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(index[0].folder, L"C:\\b");
    EXPECT_EQ(readBytes(indexFile()).size(), kCacheHeaderSize + kIndexRecordSize);
    EXPECT_FALSE(exists(dataFile(10000000)));
    EXPECT_TRUE(exists(dataFile(10000002)));  // its record was cut off, so it was never listed
}

// The options dialog's selection colour: "適用" repaints the active pane at once.
TEST_F(CacheDialog, SelectionColourRepaintsTheActivePaneOnApply) {
    folders.push_back(tempFolder(L"colour"));
    makeImages(folders.back(), 2, 8, 6);
    load(folders.back());
    ASSERT_EQ(pane.itemCount, 2);
    mouse(0, WM_LBUTTONDOWN, MK_LBUTTON);
    mouse(0, WM_LBUTTONUP, 0);
    flush();
    ASSERT_EQ(selectedItems(), std::vector<int>{0});
    HWND textWindow = static_cast<HWND>(pane.items[0].textWindow);
    ASSERT_NE(textWindow, nullptr);
    auto pixel = [&] {
        HDC dc = GetDC(textWindow);
        const COLORREF c = GetPixel(dc, 2, 2);
        ReleaseDC(textWindow, dc);
        return c;
    };
    EXPECT_EQ(pixel(), RGB(255, 160, 255));

    HWND options = createOptionsDialog(g_mainWindow);
    ASSERT_NE(options, nullptr);
    ShowWindow(options, SW_SHOW);
    pump();
    HWND page = optionsPage(0);
    // Through the colour chooser itself: its red, green and blue boxes, then OK.
    ModalDriver::arm(page, [](HWND chooser) {
        SetDlgItemInt(chooser, 706, 10, FALSE);
        SetDlgItemInt(chooser, 707, 200, FALSE);
        SetDlgItemInt(chooser, 708, 30, FALSE);
        PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(chooser, IDOK)));
    });
    click(page, 1180);
    ASSERT_TRUE(ModalDriver::ran);
    EXPECT_EQ(g_settings.focusRed, 255);  // not before Apply
    click(options, 1020);
    flush();
    EXPECT_EQ(pixel(), RGB(10, 200, 30));
    click(options, IDOK);
    pump();

    const std::wstring saved = tempFolder(L"settings") + L"\\saved.ini";
    saveSettingsTo(saved.c_str(), g_settings, MainPlacement{});
    EXPECT_EQ(GetPrivateProfileIntW(L"Mwin", L"FocusR", -1, saved.c_str()), 10);
    EXPECT_EQ(GetPrivateProfileIntW(L"Mwin", L"FocusG", -1, saved.c_str()), 200);
    EXPECT_EQ(GetPrivateProfileIntW(L"Mwin", L"FocusB", -1, saved.c_str()), 30);
}
