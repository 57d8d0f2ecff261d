// The information dialogs and the wallpaper command, driven for real: a live pane thread lists
// generated files, items are selected with the mouse, and the dialogs are read and answered
// from a timer running inside their own modal loops.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "../core/meta_test_files.h"
#include "dialogs/info_dialogs.h"
#include "frame/wallpaper.h"
#include "frame/wallpaper_work.h"
#include "image/exif_format.h"
#include "image/image_comment.h"
#include "image/jpeg_codec.h"
#include "test_pane_support.h"

using namespace panetest;

namespace {

// ---------------------------------------------------------------- driving modal dialogs

struct Probe {
    std::vector<std::wstring> captions;  // every dialog or message box seen, in order
    std::function<void(HWND, const std::wstring&)> answer;  // must close the window
    std::set<HWND> handled;
};
Probe* g_probe = nullptr;

BOOL CALLBACK findVisibleDialog(HWND window, LPARAM out) {
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (std::wstring(cls) == L"#32770" && IsWindowVisible(window) && !g_probe->handled.count(window)) {
        *reinterpret_cast<HWND*>(out) = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring textOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

void CALLBACK probeTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_probe) return;
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findVisibleDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) return;
    g_probe->handled.insert(dialog);
    const std::wstring caption = textOf(dialog);
    g_probe->captions.push_back(caption);
    if (caption == L"Error") {  // a message box: keep its text, then OK
        g_probe->captions.push_back(textOf(GetDlgItem(dialog, 0xFFFF)));
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        return;
    }
    if (g_probe->answer) g_probe->answer(dialog, caption);
    else PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

// Runs open() (which shows modal windows or returns at once) and answers what appears.
std::vector<std::wstring> drive(const std::function<void()>& open,
                                const std::function<void(HWND, const std::wstring&)>& answer = {}) {
    Probe probe;
    probe.answer = answer;
    g_probe = &probe;
    const UINT_PTR timer = SetTimer(nullptr, 0, 40, probeTimer);
    open();
    KillTimer(nullptr, timer);
    g_probe = nullptr;
    return probe.captions;
}

struct Row {
    std::wstring label, value;
    bool operator==(const Row&) const = default;
};
std::vector<Row> rowsOf(HWND list) {
    std::vector<Row> rows;
    const int n = int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        Row row;
        for (int sub = 0; sub < 2; ++sub) {
            wchar_t text[1100] = {};
            LVITEMW item{};
            item.iSubItem = sub;
            item.pszText = text;
            item.cchTextMax = 1100;
            SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            (sub ? row.value : row.label) = text;
        }
        rows.push_back(row);
    }
    return rows;
}
int columnWidth(HWND list, int column) { return int(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0)); }

// ---------------------------------------------------------------- files

// A real w x h JPEG from the program's encoder, with extra segments right after SOI.
std::string realJpeg(int w, int h, const std::string& segments = "") {
    const int stride = (w * 3 + 3) & ~3;
    std::vector<uint8_t> pixels(size_t(stride) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) pixels[size_t(y) * stride + x] = uint8_t(x * 7 + y * 3);
    DepthConversion conversion;
    conversion.width = w;
    conversion.height = h;
    std::vector<uint8_t> out(size_t(w) * h * 3 + 65536);
    uint32_t capacity = uint32_t(out.size());
    EXPECT_TRUE(encodeJpegThumbnail(out.data(), &capacity, pixels.data(), conversion));
    const std::string stream(reinterpret_cast<const char*>(out.data()), capacity);
    return stream.substr(0, 2) + segments + stream.substr(2);
}

std::wstring clipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return L"(closed)";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

class InfoDialogs : public PaneFixture {
protected:
    std::wstring folder;

    void SetUp() override {
        PaneFixture::SetUp();
        folder = tempFolder(L"info");
        removeFolder(folder);
        folder = tempFolder(L"info");
    }
    void TearDown() override {
        g_paneBusy[1] = PaneIdle;
        PaneFixture::TearDown();
        removeFolder(folder);
    }
    std::wstring at(const wchar_t* name) { return folder + L"\\" + name; }
    void put(const wchar_t* name, const std::string& bytes) { ASSERT_TRUE(writeBytes(at(name), bytes)); }
    void select(int item, WPARAM keys = MK_LBUTTON) {
        mouse(item, WM_LBUTTONDOWN, keys);
        mouse(item, WM_LBUTTONUP, 0);
    }
    // The rows of dialog 1600 for the selected item ({} when none opened).
    std::vector<Row> fileInfoRows(int* labelWidth = nullptr, int* valueWidth = nullptr) {
        std::vector<Row> rows;
        drive([] { showFileInfoDialog(g_mainWindow); },
              [&](HWND dialog, const std::wstring&) {
                  HWND list = GetDlgItem(dialog, infodlg::FileInfoList);
                  rows = rowsOf(list);
                  if (labelWidth) *labelWidth = columnWidth(list, 0);
                  if (valueWidth) *valueWidth = columnWidth(list, 1);
                  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
              });
        return rows;
    }
};

TEST_F(InfoDialogs, FileFactsRowsByFormat) {
    using namespace metatest;
    std::string big = bmpBytes(4, 3, 1);
    big.resize(2048000, '\0');  // trailing bytes after the pixels count in the file size only
    put(L"a_big.bmp", big);
    put(L"b_empty.bmp", "");
    // Sizes no listed image can have: nothing, and the largest, which must not wrap around.
    EXPECT_EQ(fileSizeText(0), L"0 KB (0 byte)");
    EXPECT_EQ(fileSizeText(1025), L"2 KB (1,025 byte)");
    EXPECT_EQ(fileSizeText(0xFFFFFFFFu), L"4,194,304 KB (4,294,967,295 byte)");
    put(L"c_photo.jpg", realJpeg(16, 8, exifApp1(TiffWriter(true).build({asciiTag(0x010F, "Maker")},
                                                                          {shortTag(0x8827, 200)}))));
    put(L"d_plain.png", png(""));
    const std::string gif = readBytes(std::wstring(L"" PRAVEL_TESTDATA L"/giflib/pic/porsche.gif"));
    ASSERT_FALSE(gif.empty());
    put(L"e_anim.gif", gif);
    load(folder);
    ASSERT_EQ(pane.itemCount, 4);  // an empty file is no image: the pane does not list it

    select(0);
    int labelWidth = 0, valueWidth = 0;
    std::vector<Row> rows = fileInfoRows(&labelWidth, &valueWidth);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0], (Row{L"ファイル名", L"a_big.bmp"}));
    EXPECT_EQ(rows[1], (Row{L"ファイル形式", L"BMP"}));
    EXPECT_EQ(rows[2], (Row{L"ビット深度", L"24 bit"}));
    EXPECT_EQ(rows[3], (Row{L"イメージ幅", L"4 pixel"}));
    EXPECT_EQ(rows[4], (Row{L"イメージ高さ", L"3 pixel"}));
    EXPECT_EQ(rows[5], (Row{L"ファイルサイズ", L"2,000 KB (2,048,000 byte)"}));
    EXPECT_EQ(rows[6].label, L"更新日時");
    ASSERT_EQ(rows[6].value.size(), 19u);  // yyyy/mm/dd hh:mm:ss
    EXPECT_EQ(rows[6].value.substr(4, 1) + rows[6].value.substr(7, 1) + rows[6].value.substr(10, 1) +
                  rows[6].value.substr(13, 1) + rows[6].value.substr(16, 1),
              L"// ::");
    EXPECT_GE(labelWidth, 74);  // at least as designed, wider only when a label needs it
    EXPECT_EQ(valueWidth, 187);

    select(1);
    rows = fileInfoRows();
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[7], (Row{L"文字情報", L"無"}));
    EXPECT_EQ(rows[8], (Row{L"Exif 情報", L"有"}));

    select(2);
    rows = fileInfoRows();
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[7], (Row{L"文字情報", L"無"}));
    // No text chunks: the text-data command opens nothing.
    EXPECT_TRUE(drive([] { showTextDataDialog(g_mainWindow); }).empty());

    select(3);
    rows = fileInfoRows();
    EXPECT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[1].value, L"GIF");

    // Two selected: none of the three opens anything.
    select(1, MK_LBUTTON | MK_CONTROL);
    ASSERT_EQ(selectedItems().size(), 2u);
    EXPECT_TRUE(drive([] {
                    showFileInfoDialog(g_mainWindow);
                    showCommentDialog(g_mainWindow);
                    showTextDataDialog(g_mainWindow);
                }).empty());
}

TEST_F(InfoDialogs, CommentEditSaveAndLimits) {
    using namespace metatest;
    const std::string original = realJpeg(16, 8, app0() + com("old note"));
    put(L"a.jpg", original);
    put(L"b.jpg", realJpeg(8, 8, com("bad \x81\x7f\xff\xfe bytes")));
    put(L"c.png", png(""));
    load(folder);
    ASSERT_EQ(pane.itemCount, 3);
    select(0);
    ASSERT_EQ(pane.items[0].facts.commentCount, 1);

    // Saving: the comment is read back from the file, everything else is byte-identical.
    std::wstring shown;
    std::vector<std::wstring> seen = drive([] { showCommentDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        HWND edit = GetDlgItem(dialog, infodlg::CommentEdit);
        shown = textOf(edit);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, infodlg::CommentSave)));
        SetWindowTextW(edit, L"first\r\nsecond");
        PostMessageW(dialog, WM_COMMAND, infodlg::CommentSave, 0);
    });
    EXPECT_EQ(seen, std::vector<std::wstring>({L"コメント表示/編集"}));
    EXPECT_EQ(shown, L"old note");
    const std::string saved = readBytes(at(L"a.jpg"));
    EXPECT_EQ(readComment(at(L"a.jpg").c_str(), FormatJpeg), "first\r\nsecond");
    CommentPlan plan;
    ASSERT_TRUE(planCommentRewrite(reinterpret_cast<const uint8_t*>(original.data()), original.size(), FormatJpeg, plan));
    EXPECT_EQ(saved, original.substr(0, plan.rangeStart) + com("first\nsecond") + original.substr(plan.rangeEnd));
    EXPECT_EQ(pane.items[0].facts.commentCount, 1);  // replaced, not added

    // 20,000 characters: 10,000 reach the file.
    drive([] { showCommentDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        SetWindowTextW(GetDlgItem(dialog, infodlg::CommentEdit), std::wstring(20000, L'x').c_str());
        PostMessageW(dialog, WM_COMMAND, infodlg::CommentSave, 0);
    });
    const std::string longer = readBytes(at(L"a.jpg"));
    const size_t comAt = longer.find("\xFF\xFE");
    ASSERT_NE(comAt, std::string::npos);
    EXPECT_EQ((uint8_t(longer[comAt + 2]) << 8) | uint8_t(longer[comAt + 3]), 10002);

    // Removing the comment takes it off the item's count.
    drive([] { showCommentDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        SetWindowTextW(GetDlgItem(dialog, infodlg::CommentEdit), L"");
        PostMessageW(dialog, WM_COMMAND, infodlg::CommentSave, 0);
    });
    EXPECT_EQ(readBytes(at(L"a.jpg")), original.substr(0, plan.rangeStart) + original.substr(plan.rangeEnd));
    EXPECT_EQ(pane.items[0].facts.commentCount, 0);

    // Busy rules: the other pane loading this folder disables saving, another folder does not;
    // a refused save leaves the file alone.
    lstrcpynW(g_panes[1].folder, (folder + L"\\").c_str(), kPathCapacity);
    g_panes[1].index = 1;
    publishPane(g_panes[1]);  // pane 2 has no thread here: the test publishes what it would
    g_paneBusy[1] = PaneLoading;
    const std::string before = readBytes(at(L"a.jpg"));
    drive([] { showCommentDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, infodlg::CommentSave)));
        SetWindowTextW(GetDlgItem(dialog, infodlg::CommentEdit), L"refused");
        PostMessageW(dialog, WM_COMMAND, infodlg::CommentSave, 0);
    });
    EXPECT_EQ(readBytes(at(L"a.jpg")), before);
    lstrcpynW(g_panes[1].folder, L"C:\\elsewhere", kPathCapacity);
    publishPane(g_panes[1]);
    drive([] { showCommentDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, infodlg::CommentSave)));
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    g_paneBusy[1] = PaneIdle;

    // Bytes the code page cannot map: the dialog shows something and cancelling writes nothing.
    select(1);
    const std::string odd = readBytes(at(L"b.jpg"));
    drive([] { showCommentDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        EXPECT_EQ(textOf(GetDlgItem(dialog, infodlg::CommentEdit)).substr(0, 4), L"bad ");
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(readBytes(at(L"b.jpg")), odd);

    // A PNG without text takes a comment chunk: both of its counts grow, so that the text
    // view opens on it at once and lists the new chunk.
    select(2);
    ASSERT_EQ(pane.items[2].facts.metaCount, 0);
    drive([] { showCommentDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        SetWindowTextW(GetDlgItem(dialog, infodlg::CommentEdit), L"note");
        PostMessageW(dialog, WM_COMMAND, infodlg::CommentSave, 0);
    });
    EXPECT_EQ(pane.items[2].facts.commentCount, 1);
    EXPECT_EQ(pane.items[2].facts.metaCount, 1);
    std::vector<Row> rows;
    EXPECT_EQ(drive([] { showTextDataDialog(g_mainWindow); },
                    [&](HWND dialog, const std::wstring&) {
                        rows = rowsOf(GetDlgItem(dialog, infodlg::PngTextList));
                        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
                    }),
              std::vector<std::wstring>({L"PNG テキストデータ"}));
    EXPECT_EQ(rows, std::vector<Row>({Row{L"Comment", L"note"}}));

    // The file vanished after it was selected: the read-failure message and no dialog.
    select(1);
    DeleteFileW(at(L"b.jpg").c_str());
    EXPECT_EQ(drive([] { showCommentDialog(g_mainWindow); }),
              std::vector<std::wstring>({L"Error", L"データ読み取りに失敗しました。"}));
}

// Comments live in the system code page: a text it cannot hold is refused with the dialog
// left open and the file untouched; an unchanged text writes nothing; a real save shows the
// file's new size and date in the cell's facts.
TEST_F(InfoDialogs, CommentsTheCodePageCannotHoldAreRefusedUnchangedTextWritesNothing) {
    using namespace metatest;
    std::printf("ANSI code page %u\n", GetACP());
    if (GetACP() == CP_UTF8) GTEST_SKIP() << "a UTF-8 code page holds every character";
    const std::string original = realJpeg(16, 8, app0() + com("old note"));
    put(L"a.jpg", original);
    // Back-dated, so that a rewrite shows in the date even within the file system's resolution.
    FileTime old{};
    ASSERT_TRUE(getLastWriteTime(at(L"a.jpg").c_str(), old));
    old = FileTime::fromValue(old.value() - 36000000000ull);
    ASSERT_TRUE(setLastWriteTime(at(L"a.jpg").c_str(), old));
    load(folder);
    ASSERT_EQ(pane.itemCount, 1);
    select(0);

    // U+1F600 is in no single- or double-byte code page; the snowman in neither 1252 nor 932.
    const std::wstring lossy = L"日本語のコメント \U0001F600 \u2603";
    bool stayedOpen = false;
    std::wstring kept;
    std::vector<std::wstring> seen = drive([] { showCommentDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        HWND edit = GetDlgItem(dialog, infodlg::CommentEdit);
        SetWindowTextW(edit, lossy.c_str());
        // Sent, not posted: the refusal's message box runs (and is answered) inside this call.
        SendMessageW(dialog, WM_COMMAND, infodlg::CommentSave, 0);
        stayedOpen = IsWindow(dialog) && IsWindowVisible(dialog);
        kept = textOf(edit);
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_TRUE(stayedOpen) << "the dialog stays open with the text";
    EXPECT_EQ(kept, lossy);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1], L"Error");
    EXPECT_EQ(seen[2], std::wstring(kCommentUnmappableText).substr(0, 511));
    EXPECT_EQ(readBytes(at(L"a.jpg")), original) << "byte-identical";

    // Unchanged: neither the bytes nor the date move.
    drive([] { showCommentDialog(g_mainWindow); },
          [&](HWND dialog, const std::wstring&) { PostMessageW(dialog, WM_COMMAND, infodlg::CommentSave, 0); });
    FileTime now{};
    ASSERT_TRUE(getLastWriteTime(at(L"a.jpg").c_str(), now));
    EXPECT_EQ(now.value(), old.value());
    EXPECT_EQ(readBytes(at(L"a.jpg")), original);

    // A longer comment: the cell's facts take the file's new size and date at once.
    drive([] { showCommentDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        SetWindowTextW(GetDlgItem(dialog, infodlg::CommentEdit), std::wstring(300, L'n').c_str());
        PostMessageW(dialog, WM_COMMAND, infodlg::CommentSave, 0);
    });
    const std::string saved = readBytes(at(L"a.jpg"));
    ASSERT_EQ(saved.size(), original.size() + 300 - 8);
    ASSERT_TRUE(getLastWriteTime(at(L"a.jpg").c_str(), now));
    EXPECT_GT(now.value(), old.value());
    EXPECT_EQ(pane.items[0].facts.fileSize, uint32_t(saved.size()));
    EXPECT_EQ(pane.items[0].facts.lastWriteTime.value(), now.value());
}

TEST_F(InfoDialogs, PngTextAndExifViews) {
    using namespace metatest;
    std::string chunks;
    for (int i = 0; i < 40; ++i) chunks += text("Key" + std::to_string(i), "value " + std::to_string(i));
    put(L"a_texts.png", png(chunks));
    // Absurd rationals: zero denominators everywhere, a huge exposure numerator.
    const std::string tiff = TiffWriter(false).build(
        {asciiTag(0x010F, "Maker"), asciiTag(0x0110, "Model 1")},
        {rationalTag(0x829A, 0xFFFFFFFF, 0), rationalTag(0x829D, 28, 0), srationalTag(0x9204, -1, 0),
         rationalTag(0x9205, 3, 0), rationalTag(0x920A, 50, 0), shortTag(0x9209, 1), shortTag(0x8827, 100),
         asciiTag(0x9003, std::string("2020:01:02 03:04:05\0", 20))});
    put(L"b_exif.jpg", realJpeg(16, 16, exifApp1(tiff)));
    put(L"c_gone.png", png(text("Comment", "x")));
    load(folder);
    ASSERT_EQ(pane.itemCount, 3);

    select(0);
    std::vector<Row> rows;
    int widths[2] = {};
    EXPECT_EQ(drive([] { showTextDataDialog(g_mainWindow); },
                    [&](HWND dialog, const std::wstring&) {
                        HWND list = GetDlgItem(dialog, infodlg::PngTextList);
                        rows = rowsOf(list);
                        widths[0] = columnWidth(list, 0);
                        widths[1] = columnWidth(list, 1);
                        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
                    }),
              std::vector<std::wstring>({L"PNG テキストデータ"}));
    ASSERT_EQ(rows.size(), 16u);
    EXPECT_EQ(rows[0], (Row{L"Key0", L"value 0"}));
    EXPECT_EQ(rows[15], (Row{L"Key15", L"value 15"}));
    EXPECT_GE(widths[0], 74);
    EXPECT_EQ(widths[1], 197);

    select(1);
    OpenClipboard(nullptr);
    EmptyClipboard();
    CloseClipboard();
    EXPECT_EQ(drive([] { showTextDataDialog(g_mainWindow); },
                    [&](HWND dialog, const std::wstring&) {
                        rows = rowsOf(GetDlgItem(dialog, infodlg::ExifList));
                        SendMessageW(dialog, WM_COMMAND, infodlg::ExifCopy, 0);
                        EXPECT_TRUE(IsWindow(dialog));  // copying leaves the dialog open
                        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
                    }),
              std::vector<std::wstring>({L"Exif 撮影データ"}));
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows[0], (Row{L"メーカー", L"Maker"}));
    EXPECT_EQ(rows[2], (Row{L"シャッター", L""}));
    EXPECT_EQ(rows[3], (Row{L"絞り値", L""}));
    EXPECT_EQ(rows[8], (Row{L"フラッシュ", L"ON"}));
    EXPECT_EQ(rows[10], (Row{L"開放Ｆ値", L""}));
    EXPECT_EQ(rows[11], (Row{L"撮影日時", L"2020:01:02 03:04:05"}));
    std::wstring expected;
    for (const Row& r : rows) expected += r.label + L":" + r.value + L"\n";
    EXPECT_EQ(clipboardText(), expected);

    select(2);
    DeleteFileW(at(L"c_gone.png").c_str());
    EXPECT_EQ(drive([] { showTextDataDialog(g_mainWindow); }),
              std::vector<std::wstring>({L"Error", L"データ読み取りに失敗しました。"}));
}

// ---------------------------------------------------------------- wallpaper

class Wallpaper : public InfoDialogs {
protected:
    std::wstring saved[3];
    bool had[3] = {};
    static constexpr const wchar_t* kNames[3] = {L"TileWallpaper", L"WallpaperStyle", L"Wallpaper"};

    static std::wstring get(const wchar_t* name, DWORD* type = nullptr, DWORD* size = nullptr) {
        wchar_t buffer[300] = {};
        DWORD bytes = sizeof buffer - 2, t = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", name, RRF_RT_ANY, &t, buffer, &bytes) !=
            ERROR_SUCCESS)
            return L"(missing)";
        if (type) *type = t;
        if (size) *size = bytes;
        return buffer;
    }
    static void set(const wchar_t* name, const wchar_t* value) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        if (value)
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           DWORD((wcslen(value) + 1) * sizeof(wchar_t)));
        else
            RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
    void SetUp() override {
        InfoDialogs::SetUp();
        for (int i = 0; i < 3; ++i) {
            saved[i] = get(kNames[i]);
            had[i] = saved[i] != L"(missing)";
        }
        DeleteFileW(wallpaperFilePath().c_str());
    }
    void TearDown() override {
        for (int i = 0; i < 3; ++i) set(kNames[i], had[i] ? saved[i].c_str() : nullptr);
        DeleteFileW(wallpaperFilePath().c_str());
        RemoveDirectoryW(wallpaperFilePath().c_str());
        InfoDialogs::TearDown();
    }
    static BitmapInfoHeader bmpHeader(const std::string& file) {
        BitmapInfoHeader h;
        if (file.size() >= 54) std::memcpy(&h, file.data() + 14, 40);
        return h;
    }
    static int tempFiles() {
        wchar_t dir[MAX_PATH];
        GetTempPathW(MAX_PATH, dir);
        WIN32_FIND_DATAW fd;
        int n = 0;
        HANDLE h = FindFirstFileW((std::wstring(dir) + L"tmp*.tmp").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do ++n;
            while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        return n;
    }
};

TEST(WallpaperPlacement, RegistryValuesAsTheSystemReadsThem) {
    using P = WallpaperPlacement;
    EXPECT_EQ(placementFromValues(L"1", L"2"), P::Tile);  // tiled whatever the style
    EXPECT_EQ(placementFromValues(L"0", L"0"), P::Centre);
    EXPECT_EQ(placementFromValues(L"0", L"2"), P::Stretch);
    EXPECT_EQ(placementFromValues(L"0", L"10"), P::Stretch);  // fill, fit, span: scaled
    EXPECT_EQ(placementFromValues(L"", L""), P::Centre);      // missing values read as 0
    EXPECT_EQ(placementFromValues(L"x", L"2"), P::Stretch);   // not a number: 0
}

TEST_F(Wallpaper, DialogRegistryAndFile) {
    put(L"a.jpg", realJpeg(40, 30));
    load(folder);
    select(0);

    // A stored tile preselects tiling; cancelling changes nothing.
    set(L"TileWallpaper", L"1");
    set(L"WallpaperStyle", L"2");
    int checked = 0;
    auto seeChecked = [&](HWND dialog) {
        checked = 0;
        for (int id = 2110; id <= 2112; ++id)
            if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) checked = id;
    };
    EXPECT_EQ(drive([] { showWallpaperDialog(g_mainWindow); },
                    [&](HWND dialog, const std::wstring&) {
                        seeChecked(dialog);
                        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                    }),
              std::vector<std::wstring>({L"壁紙に設定"}));
    EXPECT_EQ(checked, 2112);
    EXPECT_EQ(get(L"TileWallpaper"), L"1");
    EXPECT_FALSE(wallpaperFileExists());

    // Stretch: "0" and "2" as 4-byte strings, the file written and named as the wallpaper.
    drive([] { showWallpaperDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        CheckRadioButton(dialog, 2110, 2112, 2111);
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    DWORD type = 0, size = 0;
    EXPECT_EQ(get(L"TileWallpaper", &type, &size), L"0");
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(get(L"WallpaperStyle"), L"2");
    EXPECT_TRUE(wallpaperFileExists());
    EXPECT_EQ(lstrcmpiW(get(L"Wallpaper").c_str(), wallpaperFilePath().c_str()), 0) << get(L"Wallpaper");
    const BitmapInfoHeader h = bmpHeader(readBytes(wallpaperFilePath()));
    EXPECT_EQ(h.biWidth, 40);
    EXPECT_EQ(h.biHeight, 30);
    EXPECT_EQ(h.biBitCount, 24);

    // Reopened: the stored stretch is preselected.
    drive([] { showWallpaperDialog(g_mainWindow); }, [&](HWND dialog, const std::wstring&) {
        seeChecked(dialog);
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(checked, 2111);

    // The options dialog's delete.
    EXPECT_TRUE(deleteWallpaperFile(g_mainWindow, nullptr));
    EXPECT_FALSE(wallpaperFileExists());
}

TEST_F(Wallpaper, ScreenSizedDecodeDepthAndFailedCopy) {
    put(L"large.jpg", realJpeg(4000, 3000));
    const std::string gif = readBytes(std::wstring(L"" PRAVEL_TESTDATA L"/giflib/pic/porsche.gif"));
    put(L"palette.gif", gif);

    // A 1280 x 1024 screen: the half-scale decode still covers it.
    ASSERT_TRUE(makeWallpaperFile(g_mainWindow, at(L"large.jpg").c_str(), 1280, 1024, false));
    BitmapInfoHeader h = bmpHeader(readBytes(wallpaperFilePath()));
    EXPECT_EQ(h.biWidth, 2000);
    EXPECT_EQ(h.biHeight, 1500);
    EXPECT_EQ(h.biBitCount, 24);

    ASSERT_TRUE(makeWallpaperFile(g_mainWindow, at(L"palette.gif").c_str(), 1280, 1024, false));
    h = bmpHeader(readBytes(wallpaperFilePath()));
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biWidth, 320);  // other formats at full size
    EXPECT_EQ(h.biHeight, 200);

    // The settings folder refuses the file: the message, and no temporary file left over.
    DeleteFileW(wallpaperFilePath().c_str());
    ASSERT_TRUE(CreateDirectoryW(wallpaperFilePath().c_str(), nullptr));
    const int tempsBefore = tempFiles();
    bool result = true;
    EXPECT_EQ(drive([&] { result = makeWallpaperFile(g_mainWindow, at(L"palette.gif").c_str(), 1280, 1024, false); }),
              std::vector<std::wstring>({L"Error", L"ファイル作成に失敗しました。"}));
    EXPECT_FALSE(result);
    EXPECT_EQ(tempFiles(), tempsBefore);
    // A file that cannot be decoded: nothing, silently.
    put(L"bad.jpg", "\xFF\xD8 not really");
    EXPECT_TRUE(drive([&] { result = makeWallpaperFile(g_mainWindow, at(L"bad.jpg").c_str(), 1280, 1024, false); })
                    .empty());
    EXPECT_FALSE(result);
}

}  // namespace
