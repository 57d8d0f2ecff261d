#include "dialogs/options_dialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cwchar>
#include <new>
#include <vector>

#include "base/app_state.h"
#include "base/platform.h"
#include "base/settings.h"
#include "base/visual_style.h"
#include "base/win_handles.h"
#include "dialogs/cache_dialog.h"
#include "frame/key_dialog.h"
#include "frame/key_table.h"
#include "frame/menus.h"
#include "frame/wallpaper.h"
#include "image/plugin_host.h"
#include "thumbs/pane_access.h"

namespace {

// Dialog 1000
constexpr int kTab = 1010, kApply = 1020;
// Page 1100
constexpr int kPageSettings = 1100, kDoubleClick = 1160, kSwatch = 1170, kPickColour = 1180;
constexpr int kUseCache = 1150, kCacheOptimise = 1154, kMaintenance = 1181, kKeys = 1185, kWallpaper = 1184;
constexpr int kExpandDesktop = 1153, kSendTo = 1152, kNoRecycleConfirm = 1190, kSubClose = 1151;
constexpr int kViewerPath = 1182, kPickViewer = 1183;
// Page 1300
constexpr int kPageTools = 1300, kToolEdit = 1320, kToolRegister = 1330, kToolClear = 1340;
// Page 1400
constexpr int kPagePlugins = 1400, kPluginFolder = 1420, kPickPluginFolder = 1430, kClearPluginFolder = 1431;
constexpr int kPluginList = 1440;

constexpr int kPageCount = 3;
constexpr int kPageIds[kPageCount] = {kPageSettings, kPageTools, kPagePlugins};
constexpr const wchar_t* kTabTexts[kPageCount] = {L"設定", L"ツール登録", L"プラグイン"};

constexpr wchar_t kSwatchClass[] = L"Pravel_ocol_class";
constexpr wchar_t kUnregistered[] = L"<未登録>";
constexpr wchar_t kPathTitle[] = L"パス設定";

constexpr const wchar_t* kDoubleClickActions[] = {
    L"Dorna 起動",  L"編集/保存",   L"全画面表示",  L"関連付け実行", L"登録ツール1", L"登録ツール2",
    L"登録ツール3", L"登録ツール4", L"登録ツール5", L"登録ツール6",  L"登録ツール7", L"登録ツール8"};
constexpr int kDoubleClickActionCount = int(sizeof kDoubleClickActions / sizeof kDoubleClickActions[0]);

// The working copy: made when the dialog initialises, freed when it is destroyed.
struct OptionsWork {
    HWND dialog = nullptr;
    HWND pages[kPageCount] = {};
    int shownPage = 0;
    BYTE colour[3] = {};  // red, green, blue
    wchar_t pluginFolder[kPathCapacity] = {};
    wchar_t toolPaths[kToolCount][kPathCapacity] = {};
    wchar_t programPath[kPathCapacity] = {};
    wchar_t programName[kPathCapacity] = {};
    bool sendToExisted = false;
    AcceleratorTable keys{};
    bool keysChanged = false;
    WNDPROC oldListProc = nullptr;
    bool modeless = false;
};

OptionsWork* g_work = nullptr;

void copyPath(wchar_t* to, const wchar_t* from) { lstrcpynW(to, from ? from : L"", kPathCapacity); }

std::wstring programFilesFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE)) return L"";
    return folder;
}

// The pickers change the current directory; every picker runs inside one of these.
class CurrentDirectoryScope {
public:
    CurrentDirectoryScope() { saved_ = GetCurrentDirectoryW(MAX_PATH, folder_) - 1 < MAX_PATH - 1; }
    ~CurrentDirectoryScope() {
        if (saved_) SetCurrentDirectoryW(folder_);
    }
    CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
    CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

private:
    wchar_t folder_[MAX_PATH] = {};
    bool saved_ = false;
};

// GetOpenFileNameW with the options dialog's fixed flags; true with the chosen path.
bool pickFile(HWND owner, const wchar_t* filter, DWORD filterIndex, const std::wstring& initialFolder,
              wchar_t (&path)[kPathCapacity]) {
    CurrentDirectoryScope keep;
    wchar_t chosen[kPathCapacity] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = filterIndex;
    ofn.lpstrFile = chosen;
    ofn.nMaxFile = kPathCapacity;
    ofn.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
    ofn.lpstrTitle = kPathTitle;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&ofn) || !chosen[0]) return false;
    copyPath(path, chosen);
    return true;
}

// ---------------------------------------------------------------- colour swatch

LRESULT CALLBACK swatchProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        const PaintScope paint(hwnd);
        RECT client;
        GetClientRect(hwnd, &client);
        const COLORREF colour = g_work ? RGB(g_work->colour[0], g_work->colour[1], g_work->colour[2]) : RGB(255, 255, 255);
        const OwnedBrush brush(CreateSolidBrush(colour));
        FillRect(paint.dc(), &client, brush.get());
        return 0;
    }
    default: return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void registerSwatchClass() {
    WNDCLASSW wc{};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = swatchProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kSwatchClass;
    RegisterClassW(&wc);
}

void unregisterSwatchClass() { UnregisterClassW(kSwatchClass, GetModuleHandleW(nullptr)); }

void pickColour(OptionsWork& w) {
    HWND page = w.pages[0];
    CHOOSECOLORW cc{};
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = page;
    cc.rgbResult = RGB(w.colour[0], w.colour[1], w.colour[2]);
    static_assert(sizeof(COLORREF) == sizeof g_settings.customColours[0], "custom colours are COLORREFs");
    cc.lpCustColors = reinterpret_cast<COLORREF*>(g_settings.customColours);
    cc.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (!ChooseColorW(&cc)) return;
    w.colour[0] = GetRValue(cc.rgbResult);
    w.colour[1] = GetGValue(cc.rgbResult);
    w.colour[2] = GetBValue(cc.rgbResult);
    InvalidateRect(GetDlgItem(page, kSwatch), nullptr, FALSE);
}

// ---------------------------------------------------------------- page "設定"

void initSettingsPage(OptionsWork& w) {
    HWND page = w.pages[0];
    for (const wchar_t* text : kDoubleClickActions)
        SendDlgItemMessageW(page, kDoubleClick, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    // A stored value outside the list selects nothing; Apply then keeps it as it is.
    SendDlgItemMessageW(page, kDoubleClick, CB_SETCURSEL, WPARAM(g_settings.doubleClickAction), 0);
    CheckDlgButton(page, kUseCache, g_settings.useCache ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, kCacheOptimise, g_settings.cacheOptimise ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, kExpandDesktop, g_settings.expandDesktop ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, kSendTo, w.sendToExisted ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, kNoRecycleConfirm, g_settings.noRecycleConfirm ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, kSubClose, g_settings.subClose ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(page, kViewerPath, g_settings.viewerPath);
    EnableWindow(GetDlgItem(page, kWallpaper), wallpaperFileExists());
}

void pickViewer(OptionsWork& w) {
    HWND page = w.pages[0];
    wchar_t path[kPathCapacity] = {};
    if (pickFile(page, L"Dorna.exe\0Dorna.exe\0DornaEx.exe\0DornaEx.exe\0", 1, programFilesFolder(), path))
        SetDlgItemTextW(page, kViewerPath, path);
}

void customiseKeys(OptionsWork& w) {
    KeyDialogSession session;
    session.table = &w.keys;
    runKeyCustomisationDialog(w.dialog, session);
    if (session.changed) w.keysChanged = true;
}

// ---------------------------------------------------------------- page "ツール登録"

void showToolName(OptionsWork& w, int row, const wchar_t* name) {
    SetDlgItemTextW(w.pages[1], kToolEdit + row, name && *name ? name : kUnregistered);
}

void initToolsPage(OptionsWork& w) {
    for (int i = 0; i < kToolCount; ++i) {
        copyPath(w.toolPaths[i], g_settings.toolPaths[i]);
        // A tool stored without its name is shown (and then kept) under its file name.
        const wchar_t* name = g_settings.toolNames[i];
        const std::wstring fallback = w.toolPaths[i][0] && !name[0] ? toolDisplayName(w.toolPaths[i]) : L"";
        showToolName(w, i, w.toolPaths[i][0] ? (name[0] ? name : fallback.c_str()) : L"");
    }
}

void registerTool(OptionsWork& w, int row) {
    std::wstring initial;
    if (w.toolPaths[row][0]) {
        wchar_t folder[kPathCapacity];
        copyPath(folder, w.toolPaths[row]);
        PathRemoveFileSpecW(folder);
        if (folder[0] && isDirectory(folder)) initial = folder;
    }
    if (initial.empty()) initial = programFilesFolder();
    wchar_t path[kPathCapacity] = {};
    if (!pickFile(w.pages[1], L"すべて (*.*)\0*.*\0プログラムファイル (*.exe)\0*.exe\0", 2, initial, path)) return;
    copyPath(w.toolPaths[row], path);
    showToolName(w, row, toolDisplayName(path).c_str());
}

void clearTool(OptionsWork& w, int row) {
    w.toolPaths[row][0] = L'\0';
    showToolName(w, row, L"");
}

// ---------------------------------------------------------------- page "プラグイン"

void setListCell(HWND list, int row, int column, const std::wstring& text) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}

struct PluginColumn {
    const wchar_t* heading;
    int width;
};
constexpr PluginColumn kPluginColumns[] = {{L"ファイル名", 80}, {L"対応拡張子", 120}, {L"対応形式", 176}};
constexpr int kPluginColumnCount = int(sizeof kPluginColumns / sizeof kPluginColumns[0]);

struct PluginRow {
    std::wstring name, patterns, descriptions;
};

void fillPluginList(OptionsWork& w) {
    HWND list = GetDlgItem(w.pages[2], kPluginList);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    std::vector<PluginRow> rows;
    // At most 100 names: the host lists no more.
    for (const std::wstring& name : listPlugins(w.pluginFolder, PluginListMode::Names)) {
        if (name.empty() || name.size() >= size_t(kPathCapacity)) continue;
        wchar_t path[kPathCapacity] = {};
        if (!PathCombineW(path, w.pluginFolder, name.c_str())) continue;
        PluginRow row;
        row.name = name;
        PluginSummary summary;
        if (pluginSummary(path, summary)) {
            row.patterns = summary.patterns;
            row.descriptions = summary.descriptions;
        }
        rows.push_back(std::move(row));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const PluginRow& a, const PluginRow& b) {
        return CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a.name.c_str(), -1,
                              b.name.c_str(), -1) == CSTR_LESS_THAN;
    });
    for (size_t i = 0; i < rows.size(); ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = int(i);
        item.pszText = const_cast<wchar_t*>(rows[i].name.c_str());
        const int row = int(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        if (row < 0) break;
        setListCell(list, row, 1, rows[i].patterns);
        setListCell(list, row, 2, rows[i].descriptions);
    }
    // The stated widths are the least; a longer name, pattern list or description widens its
    // column (the list scrolls sideways when they no longer fit together).
    for (int column = 0; column < kPluginColumnCount; ++column) {
        SendMessageW(list, LVM_SETCOLUMNWIDTH, WPARAM(column), LVSCW_AUTOSIZE);
        const int fitted = int(SendMessageW(list, LVM_GETCOLUMNWIDTH, WPARAM(column), 0));
        SendMessageW(list, LVM_SETCOLUMNWIDTH, WPARAM(column), MAKELPARAM(std::max(fitted, kPluginColumns[column].width), 0));
    }
}

void clearPluginFolder(OptionsWork& w) {
    w.pluginFolder[0] = L'\0';
    SetDlgItemTextW(w.pages[2], kPluginFolder, L"");
    SendDlgItemMessageW(w.pages[2], kPluginList, LVM_DELETEALLITEMS, 0, 0);
}

int CALLBACK browseCallback(HWND window, UINT msg, LPARAM, LPARAM data) {
    if (msg == BFFM_INITIALIZED && data) SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

void pickPluginFolder(OptionsWork& w) {
    CurrentDirectoryScope keep;
    BROWSEINFOW bi{};
    bi.hwndOwner = w.pages[2];
    bi.lpszTitle = L"プラグインフォルダ設定";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    bi.lpfn = browseCallback;
    bi.lParam = w.pluginFolder[0] ? reinterpret_cast<LPARAM>(w.pluginFolder) : 0;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&bi);
    if (!chosen) return;
    wchar_t folder[MAX_PATH] = {};
    const bool fileSystem = SHGetPathFromIDListW(chosen, folder) && folder[0];
    CoTaskMemFree(chosen);
    if (!fileSystem) return;
    copyPath(w.pluginFolder, folder);
    SetDlgItemTextW(w.pages[2], kPluginFolder, w.pluginFolder);
    fillPluginList(w);
}

// The plug-in named in the selected row shows its own settings dialog.
void configureSelectedPlugin(OptionsWork& w) {
    HWND list = GetDlgItem(w.pages[2], kPluginList);
    const int row = int(SendMessageW(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
    if (row < 0 || !w.pluginFolder[0]) return;
    wchar_t name[kPathCapacity] = {};
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = name;
    item.cchTextMax = kPathCapacity;
    SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
    wchar_t path[kPathCapacity] = {};
    if (!name[0] || !PathCombineW(path, w.pluginFolder, name)) return;
    configurePlugin(path, w.dialog);
}

LRESULT CALLBACK pluginListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC old = g_work ? g_work->oldListProc : nullptr;
    LRESULT r = old ? CallWindowProcW(old, hwnd, msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
    if (!g_work) return r;
    if (msg == WM_LBUTTONDBLCLK) {
        configureSelectedPlugin(*g_work);
    } else if ((msg == WM_VSCROLL || msg == WM_HSCROLL) && LOWORD(wParam) == SB_ENDSCROLL) {
        InvalidateRect(hwnd, nullptr, TRUE);
        UpdateWindow(hwnd);
    }
    return r;
}

void addColumn(HWND list, int index, const wchar_t* heading, int width) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.cx = width;
    col.pszText = const_cast<wchar_t*>(heading);
    SendMessageW(list, LVM_INSERTCOLUMNW, WPARAM(index), reinterpret_cast<LPARAM>(&col));
}

void initPluginPage(OptionsWork& w) {
    HWND list = GetDlgItem(w.pages[2], kPluginList);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int column = 0; column < kPluginColumnCount; ++column)
        addColumn(list, column, kPluginColumns[column].heading, kPluginColumns[column].width);
    w.oldListProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&pluginListProc)));
    if (w.pluginFolder[0]) SetDlgItemTextW(w.pages[2], kPluginFolder, w.pluginFolder);
    if (pluginFolderUsable(w.pluginFolder)) fillPluginList(w);
}

// ---------------------------------------------------------------- Send To shortcut

void applySendTo(OptionsWork& w) {
    const bool wanted = IsDlgButtonChecked(w.pages[0], kSendTo) == BST_CHECKED;
    if (wanted == w.sendToExisted) return;
    const std::wstring link = sendToShortcutPath(w.programPath);
    if (link.empty()) return;
    if (wanted) {
        if (!isFile(link.c_str())) createProgramShortcut(link.c_str(), w.programPath);
    } else if (isFile(link.c_str())) {
        DeleteFileW(link.c_str());
    }
    // What is now on disk, so that a failed attempt is made again by the next Apply.
    w.sendToExisted = isFile(link.c_str());
}

// ---------------------------------------------------------------- Apply

void applyOptions(OptionsWork& w) {
    HWND settingsPage = w.pages[0];
    auto checked = [&](int id) -> uint8_t { return IsDlgButtonChecked(settingsPage, id) == BST_CHECKED ? 1 : 0; };

    if (w.colour[0] != g_settings.focusRed || w.colour[1] != g_settings.focusGreen || w.colour[2] != g_settings.focusBlue) {
        g_settings.focusRed = w.colour[0];
        g_settings.focusGreen = w.colour[1];
        g_settings.focusBlue = w.colour[2];
        paneRepaint(activePane());
    }
    const LRESULT action = SendDlgItemMessageW(settingsPage, kDoubleClick, CB_GETCURSEL, 0, 0);
    if (action >= 0 && action < kDoubleClickActionCount) g_settings.doubleClickAction = int32_t(action);
    g_settings.useCache = checked(kUseCache);
    g_settings.cacheOptimise = checked(kCacheOptimise);
    g_settings.subClose = checked(kSubClose);
    g_settings.expandDesktop = checked(kExpandDesktop);
    GetDlgItemTextW(settingsPage, kViewerPath, g_settings.viewerPath, kPathCapacity);
    applySendTo(w);
    g_settings.noRecycleConfirm = checked(kNoRecycleConfirm);
    if (w.keysChanged) {
        applyAccelerators(w.keys);
        w.keysChanged = false;
    }
    for (int i = kToolCount - 1; i >= 0; --i) {
        if (w.toolPaths[i][0]) {
            copyPath(g_settings.toolPaths[i], w.toolPaths[i]);
            GetDlgItemTextW(w.pages[1], kToolEdit + i, g_settings.toolNames[i], kPathCapacity);
        } else {
            g_settings.toolPaths[i][0] = L'\0';
            g_settings.toolNames[i][0] = L'\0';
        }
    }
    rebuildToolSubmenus();
    copyPath(g_settings.pluginFolder, w.pluginFolder);
}

// ---------------------------------------------------------------- dialog and pages

void closeOptions(OptionsWork& w, bool apply) {
    if (apply) applyOptions(w);
    if (w.modeless)
        DestroyWindow(w.dialog);
    else
        EndDialog(w.dialog, apply ? IDOK : IDCANCEL);
}

// Every WM_COMMAND of the dialog and of its pages.
void onCommand(OptionsWork& w, int id, int code) {
    if (code != BN_CLICKED) return;
    if (id >= kToolRegister && id < kToolRegister + kToolCount) {
        registerTool(w, id - kToolRegister);
        return;
    }
    if (id >= kToolClear && id < kToolClear + kToolCount) {
        clearTool(w, id - kToolClear);
        return;
    }
    switch (id) {
    case IDOK: closeOptions(w, true); return;
    case IDCANCEL: closeOptions(w, false); return;
    case kApply: applyOptions(w); return;
    case kPickColour: pickColour(w); return;
    case kMaintenance: runCacheDialog(w.dialog); return;
    case kKeys: customiseKeys(w); return;
    case kWallpaper:
        if (wallpaperFileExists()) deleteWallpaperFile(w.dialog, GetDlgItem(w.pages[0], kWallpaper));
        return;
    case kPickViewer: pickViewer(w); return;
    case kPickPluginFolder: pickPluginFolder(w); return;
    case kClearPluginFolder: clearPluginFolder(w); return;
    default: return;
    }
}

INT_PTR CALLBACK pageProc(HWND page, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
        if (g_work) onCommand(*g_work, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    default: return FALSE;
    }
}

void showPage(OptionsWork& w, int index) {
    if (index < 0 || index >= kPageCount) return;
    if (index != w.shownPage) ShowWindow(w.pages[w.shownPage], SW_HIDE);
    w.shownPage = index;
    ShowWindow(w.pages[index], SW_SHOW);
}

bool initOptions(HWND dlg, bool modeless) {
    auto* w = new (std::nothrow) OptionsWork;
    if (!w) return false;
    g_work = w;
    w->dialog = dlg;
    w->modeless = modeless;
    w->colour[0] = g_settings.focusRed;
    w->colour[1] = g_settings.focusGreen;
    w->colour[2] = g_settings.focusBlue;
    copyPath(w->pluginFolder, g_settings.pluginFolder);
    const DWORD length = GetModuleFileNameW(nullptr, w->programPath, kPathCapacity);
    if (length == 0 || length >= DWORD(kPathCapacity)) w->programPath[0] = L'\0';
    copyPath(w->programName, PathFindFileNameW(w->programPath));
    const std::wstring link = sendToShortcutPath(w->programPath);
    w->sendToExisted = !link.empty() && isFile(link.c_str());
    w->keys = liveAccelerators();
    registerSwatchClass();

    HWND tab = GetDlgItem(dlg, kTab);
    for (int i = 0; i < kPageCount; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(kTabTexts[i]);
        SendMessageW(tab, TCM_INSERTITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
    }
    RECT area;
    GetWindowRect(tab, &area);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&area), 2);
    SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    for (int i = 0; i < kPageCount; ++i) {
        w->pages[i] = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPageIds[i]), dlg, pageProc, 0);
        if (!w->pages[i]) return false;
        enableTabPageTexture(w->pages[i]);
        SetWindowPos(w->pages[i], HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_NOACTIVATE);
    }
    initSettingsPage(*w);
    initToolsPage(*w);
    initPluginPage(*w);
    SendMessageW(tab, TCM_SETCURSEL, 0, 0);
    w->shownPage = 0;
    ShowWindow(w->pages[0], SW_SHOW);
    return true;
}

INT_PTR CALLBACK optionsProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        if (!initOptions(dlg, lParam != 0)) {
            if (lParam)
                DestroyWindow(dlg);
            else
                EndDialog(dlg, IDCANCEL);
        }
        return TRUE;
    case WM_COMMAND:
        if (g_work) onCommand(*g_work, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (g_work && hdr->idFrom == UINT_PTR(kTab) && hdr->code == UINT(TCN_SELCHANGE))
            showPage(*g_work, int(SendMessageW(hdr->hwndFrom, TCM_GETCURSEL, 0, 0)));
        return FALSE;
    }
    case WM_CLOSE:
        if (g_work) closeOptions(*g_work, false);
        return TRUE;
    case WM_DESTROY:
        // However the dialog ends: the plug-in list gets its own procedure back first.
        if (g_work && g_work->oldListProc) {
            SetWindowLongPtrW(GetDlgItem(g_work->pages[2], kPluginList), GWLP_WNDPROC,
                              reinterpret_cast<LONG_PTR>(g_work->oldListProc));
            g_work->oldListProc = nullptr;
        }
        return FALSE;
    case WM_NCDESTROY:
        // The pages and the swatch are gone by now, so the class can go too.
        delete g_work;
        g_work = nullptr;
        unregisterSwatchClass();
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace

std::wstring toolDisplayName(const wchar_t* path) {
    if (!path || !*path) return L"";
    wchar_t name[kPathCapacity];
    copyPath(name, PathFindFileNameW(path));
    PathRemoveExtensionW(name);
    return name;
}

std::wstring sendToShortcutPath(const wchar_t* programPath) {
    if (!programPath || !*programPath) return L"";
    wchar_t folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_SENDTO, FALSE) || !folder[0]) return L"";
    wchar_t name[MAX_PATH];
    lstrcpynW(name, PathFindFileNameW(programPath), MAX_PATH);
    if (!name[0] || !PathRenameExtensionW(name, L".lnk")) return L"";
    wchar_t link[MAX_PATH] = {};
    if (!PathCombineW(link, folder, name)) return L"";
    return link;
}

bool createProgramShortcut(const wchar_t* linkPath, const wchar_t* programPath) {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return false;
    bool ok = SUCCEEDED(link->SetPath(programPath)) && SUCCEEDED(link->SetArguments(L"")) &&
              SUCCEEDED(link->SetIconLocation(programPath, 0)) && SUCCEEDED(link->SetShowCmd(SW_SHOWNORMAL));
    if (ok) {
        IPersistFile* file = nullptr;
        ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
        if (ok) {
            ok = SUCCEEDED(file->Save(linkPath, TRUE));
            file->Release();
        }
    }
    link->Release();
    return ok;
}

HWND optionsPage(int index) { return g_work && index >= 0 && index < kPageCount ? g_work->pages[index] : nullptr; }

void showOptionsDialog(HWND owner) {
    if (anyPaneBusy() || g_work) return;
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kOptionsDialogId), owner, optionsProc, 0);
}

HWND createOptionsDialog(HWND owner) {
    if (anyPaneBusy() || g_work) return nullptr;
    return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kOptionsDialogId), owner, optionsProc, 1);
}
