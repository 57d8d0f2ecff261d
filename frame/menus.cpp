#include "frame/menus.h"

#include <cwctype>
#include <deque>
#include <string>

#include "base/platform.h"
#include "base/text_utils.h"
#include "base/win_handles.h"
#include "base/win_state.h"
#include "frame/frame_state.h"
#include "frame/key_table.h"

namespace {

struct MenuItemRecord {
    std::wstring text;
    const wchar_t* modifier = L"";
    const wchar_t* key = L"";
};

HMENU g_holder = nullptr;
HMENU g_popups[MenuPosCount] = {};
HMENU g_toolSubmenus[2] = {};
std::deque<MenuItemRecord> g_records;  // stable addresses for the items' data

HFONT g_menuFont = nullptr;
COLORREF g_menuText = 0, g_grayText = 0, g_menuBack = 0;
HBRUSH g_selBrush = nullptr, g_checkBrush = nullptr, g_barBrush = nullptr;
HPEN g_selPen = nullptr, g_checkPen = nullptr;

void appendOwnerDrawn(HMENU menu, UINT id, MenuItemRecord record, HMENU submenu) {
    g_records.push_back(std::move(record));
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_FTYPE | MIIM_ID | MIIM_DATA | (submenu ? MIIM_SUBMENU : 0u);
    mii.fType = MFT_OWNERDRAW;
    mii.wID = id;
    mii.hSubMenu = submenu;
    mii.dwItemData = reinterpret_cast<ULONG_PTR>(&g_records.back());
    InsertMenuItemW(menu, GetMenuItemCount(menu), TRUE, &mii);
}

// The item's shortcut labels from the live accelerator table (none for a command without one).
void takeShortcut(MenuItemRecord& record, CommandId id) {
    const int index = commandIndex(id);
    if (index < 0) return;
    const ACCEL& entry = liveAccelerators().entries[index];
    record.modifier = shortcutModifierLabel(entry);
    record.key = shortcutKeyLabel(entry);
}

void appendCommand(HMENU menu, CommandId id, HMENU submenu = nullptr) {
    MenuItemRecord r;
    r.text = commandMenuText(id);
    takeShortcut(r, id);
    appendOwnerDrawn(menu, id, std::move(r), submenu);
}

void appendSeparator(HMENU menu) { AppendMenuW(menu, MF_SEPARATOR, 0, nullptr); }

void fillToolSubmenu(HMENU menu) {
    while (GetMenuItemCount(menu) > 0) DeleteMenu(menu, 0, MF_BYPOSITION);
    for (int i = 0; i < kToolCount; ++i) {
        if (!g_settings.toolPaths[i][0]) continue;
        std::wstring name(g_settings.toolNames[i]);
        if (name.size() > 27) name.resize(27);
        name += L"(&";
        name += wchar_t(L'1' + i);
        name += L")";
        const CommandId id = CommandId(cmd::Tool1 + i);
        MenuItemRecord r;
        r.text = name;
        takeShortcut(r, id);
        appendOwnerDrawn(menu, id, std::move(r), nullptr);
    }
}

int positionOf(HMENU menu) {
    for (int i = 0; i < MenuPosCount; ++i)
        if (g_popups[i] && g_popups[i] == menu) return i;
    return -1;
}

}  // namespace

void buildMenus() {
    if (g_holder) destroyMenus();
    g_holder = CreateMenu();
    for (auto& p : g_popups) p = CreatePopupMenu();
    for (int i = 0; i < MenuPosCount; ++i) AppendMenuW(g_holder, MF_POPUP, reinterpret_cast<UINT_PTR>(g_popups[i]), L"");

    HMENU m = g_popups[MenuPosFile];
    appendCommand(m, cmd::FileInfo);
    appendCommand(m, cmd::Comment);
    appendCommand(m, cmd::TextData);
    appendSeparator(m);
    appendCommand(m, cmd::Properties);
    appendSeparator(m);
    appendCommand(m, cmd::Delete);
    appendCommand(m, cmd::Rename);
    appendCommand(m, cmd::SelectAll);
    appendSeparator(m);
    appendCommand(m, cmd::Wallpaper);
    appendSeparator(m);
    appendCommand(m, cmd::Exit);

    m = g_popups[MenuPosView];
    HMENU thumbs = CreatePopupMenu();
    appendCommand(thumbs, cmd::Pane1);
    appendCommand(thumbs, cmd::Pane2);
    appendCommand(thumbs, cmd::BothPanes);
    appendCommand(m, cmd::AutoTree);
    appendSeparator(m);
    appendCommand(m, cmd::ThumbSubmenu, thumbs);
    appendCommand(m, cmd::TextArea);
    appendCommand(m, cmd::InfoSettings);
    appendSeparator(m);
    appendCommand(m, cmd::Refresh);
    appendCommand(m, cmd::StopClear);
    appendSeparator(m);
    appendCommand(m, cmd::Hidden);

    m = g_popups[MenuPosTools];
    g_toolSubmenus[0] = CreatePopupMenu();
    fillToolSubmenu(g_toolSubmenus[0]);
    appendCommand(m, cmd::ViewerOpen);
    appendCommand(m, cmd::ViewerEdit);
    appendCommand(m, cmd::ViewerFull);
    appendCommand(m, cmd::SlideShow);
    appendSeparator(m);
    appendCommand(m, cmd::Associated);
    appendCommand(m, cmd::ToolsSubmenu, g_toolSubmenus[0]);
    appendSeparator(m);
    appendCommand(m, cmd::Options);
    appendCommand(m, cmd::ViewerOptions);

    m = g_popups[MenuPosHelp];
    appendCommand(m, cmd::Help);
    appendCommand(m, cmd::ViewerHelp);
    appendCommand(m, cmd::About);

    m = g_popups[MenuPosColumns];
    for (CommandId id : {cmd::Columns2, cmd::Columns3, cmd::Columns4, cmd::Columns6, cmd::Columns8, cmd::Columns12,
                         cmd::Columns20})
        appendCommand(m, id);

    m = g_popups[MenuPosThumbContext];
    g_toolSubmenus[1] = CreatePopupMenu();
    fillToolSubmenu(g_toolSubmenus[1]);
    appendCommand(m, cmd::ViewerOpen);
    appendCommand(m, cmd::ViewerEdit);
    appendCommand(m, cmd::ViewerFull);
    appendSeparator(m);
    appendCommand(m, cmd::Associated);
    appendCommand(m, cmd::ToolsSubmenu, g_toolSubmenus[1]);
    appendSeparator(m);
    appendCommand(m, cmd::FileInfo);
    appendCommand(m, cmd::Comment);
    appendCommand(m, cmd::TextData);
    appendSeparator(m);
    appendCommand(m, cmd::Delete);
    appendCommand(m, cmd::Rename);
    appendCommand(m, cmd::SelectAll);

    m = g_popups[MenuPosTreeContext];
    appendCommand(m, cmd::TreeShowIn1);
    appendCommand(m, cmd::TreeShowIn2);
    appendSeparator(m);
    appendCommand(m, cmd::TreeRegister);
    appendCommand(m, cmd::TreeUnregister);
    appendSeparator(m);
    appendCommand(m, cmd::TreeNewFolder);
    appendCommand(m, cmd::TreeRenameFolder);
    appendCommand(m, cmd::TreeDeleteFolder);
    appendSeparator(m);
    appendCommand(m, cmd::Hidden);
    appendSeparator(m);
    appendCommand(m, cmd::TreeExplorer);
}

void destroyMenus() {
    if (g_holder) DestroyMenu(g_holder);  // takes every popup and submenu with it
    g_holder = nullptr;
    for (auto& p : g_popups) p = nullptr;
    g_toolSubmenus[0] = g_toolSubmenus[1] = nullptr;
    g_records.clear();
}

void rebuildMenus() {
    if (g_holder) buildMenus();
}

void rebuildToolSubmenus() {
    for (HMENU m : g_toolSubmenus)
        if (m) fillToolSubmenu(m);
}

HMENU popupMenu(int position) { return position >= 0 && position < MenuPosCount ? g_popups[position] : nullptr; }
HMENU holderMenu() { return g_holder; }

// ---------------------------------------------------------------- drawing

void refreshMenuMetrics() {
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof ncm;
    HFONT font = nullptr;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) font = CreateFontIndirectW(&ncm.lfMenuFont);
    if (font) {
        if (g_menuFont) DeleteObject(g_menuFont);
        g_menuFont = font;
    }
    g_menuText = GetSysColor(COLOR_MENUTEXT);
    g_grayText = GetSysColor(COLOR_GRAYTEXT);
    g_menuBack = GetSysColor(COLOR_MENU);
}

void createMenuDrawingObjects() {
    if (!g_selBrush) g_selBrush = CreateSolidBrush(RGB(232, 255, 255));
    if (!g_selPen) g_selPen = CreatePen(PS_SOLID, 1, RGB(72, 144, 144));
    if (!g_checkBrush) g_checkBrush = CreateSolidBrush(RGB(255, 255, 255));
    if (!g_checkPen) g_checkPen = CreatePen(PS_SOLID, 1, RGB(192, 96, 192));
    if (!g_barBrush) g_barBrush = CreateSolidBrush(kBarColour);
    refreshMenuMetrics();
}

void deleteMenuDrawingObjects() {
    for (HGDIOBJ* o : {reinterpret_cast<HGDIOBJ*>(&g_selBrush), reinterpret_cast<HGDIOBJ*>(&g_selPen),
                       reinterpret_cast<HGDIOBJ*>(&g_checkBrush), reinterpret_cast<HGDIOBJ*>(&g_checkPen),
                       reinterpret_cast<HGDIOBJ*>(&g_barBrush), reinterpret_cast<HGDIOBJ*>(&g_menuFont)}) {
        if (*o) DeleteObject(*o);
        *o = nullptr;
    }
}

HBRUSH selectionBrush() { return g_selBrush; }
HPEN selectionPen() { return g_selPen; }
HBRUSH checkBrush() { return g_checkBrush; }
HPEN checkPen() { return g_checkPen; }
HBRUSH barBrush() { return g_barBrush; }

void menuMeasureItem(MEASUREITEMSTRUCT* mis) {
    const auto* r = reinterpret_cast<const MenuItemRecord*>(mis->itemData);
    if (!r) return;
    std::wstring joined = r->text + r->modifier + r->key;
    const WindowDC screen(nullptr);
    const HDC dc = screen.get();
    const SelectedObject font(dc, g_menuFont ? g_menuFont : GetStockObject(DEFAULT_GUI_FONT));
    RECT rc{0, 0, 0, 0};
    DrawTextW(dc, joined.c_str(), int(joined.size()), &rc, DT_SINGLELINE | DT_CALCRECT);
    // Text from 20 px, shortcut right-aligned 12 px before the edge: leave room for both and a gap
    // between them so that a long text never runs into its shortcut.
    const bool hasShortcut = *r->key != 0;
    mis->itemWidth = UINT(rc.right - rc.left + 20 + (hasShortcut ? 24 : 0));
    mis->itemHeight = UINT(rc.bottom - rc.top + 6);
}

void menuDrawItem(const DRAWITEMSTRUCT* dis) {
    const auto* r = reinterpret_cast<const MenuItemRecord*>(dis->itemData);
    if (!r) return;
    HDC dc = dis->hDC;
    RECT rc = dis->rcItem;
    const bool disabled = (dis->itemState & (ODS_DISABLED | ODS_GRAYED)) != 0;
    const bool selected = (dis->itemState & ODS_SELECTED) != 0;
    const bool checked = (dis->itemState & ODS_CHECKED) != 0;

    if (!disabled) {
        if (selected) {
            const SelectedObject b(dc, g_selBrush), p(dc, g_selPen);
            Rectangle(dc, rc.left, rc.top, rc.right, rc.bottom);
        } else {
            const OwnedBrush back(CreateSolidBrush(g_menuBack));
            FillRect(dc, &rc, back.get());
        }
    }
    if (checked) {
        const SelectedObject b(dc, g_checkBrush), p(dc, g_checkPen);
        const int x = rc.left, y = rc.top;
        Rectangle(dc, x + 4, y + 4, x + 14, y + 14);
        MoveToEx(dc, x + 5, y + 5, nullptr);
        LineTo(dc, x + 13, y + 13);
        MoveToEx(dc, x + 5, y + 12, nullptr);
        LineTo(dc, x + 13, y + 4);
    }
    const SelectedObject font(dc, g_menuFont ? g_menuFont : GetStockObject(DEFAULT_GUI_FONT));
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = SetTextColor(dc, disabled ? g_grayText : g_menuText);
    UINT prefix = (dis->itemState & ODS_NOACCEL) ? DT_HIDEPREFIX : 0;
    RECT textRc = rc;
    textRc.left += 20;
    DrawTextW(dc, r->text.c_str(), int(r->text.size()), &textRc, DT_SINGLELINE | DT_VCENTER | DT_LEFT | prefix);
    if (*r->key) {
        std::wstring shortcut = std::wstring(r->modifier) + r->key;
        RECT keyRc = rc;
        keyRc.right -= 12;
        DrawTextW(dc, shortcut.c_str(), int(shortcut.size()), &keyRc,
                  DT_SINGLELINE | DT_VCENTER | DT_RIGHT | DT_NOPREFIX);
    }
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
}

LRESULT menuChar(wchar_t ch, HMENU menu) {
    const wchar_t want = wchar_t(std::towupper(ch));
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof mii;
        mii.fMask = MIIM_DATA | MIIM_FTYPE | MIIM_STATE;
        if (!GetMenuItemInfoW(menu, UINT(i), TRUE, &mii) || !(mii.fType & MFT_OWNERDRAW) || !mii.dwItemData) continue;
        if (mii.fState & MFS_DISABLED) continue;
        const auto* r = reinterpret_cast<const MenuItemRecord*>(mii.dwItemData);
        size_t amp = r->text.find(L'&');
        if (amp != std::wstring::npos && amp + 1 < r->text.size() && wchar_t(std::towupper(r->text[amp + 1])) == want)
            return MAKELRESULT(i, MNC_EXECUTE);
    }
    return MAKELRESULT(0, MNC_IGNORE);
}

bool menuItemTexts(HMENU menu, int position, std::wstring& text, std::wstring& shortcut) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_DATA | MIIM_FTYPE;
    if (!GetMenuItemInfoW(menu, UINT(position), TRUE, &mii) || !(mii.fType & MFT_OWNERDRAW) || !mii.dwItemData)
        return false;
    const auto* r = reinterpret_cast<const MenuItemRecord*>(mii.dwItemData);
    text = r->text;
    shortcut = *r->key ? std::wstring(r->modifier) + r->key : std::wstring();
    return true;
}

// ---------------------------------------------------------------- enabling rules

bool menuItemState(int position, CommandId id, const CommandStateSnapshot& in, CommandItemState& out) {
    const CommandInfo* row = commandInfo(id);
    if (!row || row->rule == CommandRule::None || position < 0 || position >= MenuPosCount ||
        !(row->menus & menuBit(position)))
        return false;
    out = commandState(row->rule, in);
    return true;
}

CommandStateSnapshot currentCommandState() {
    CommandStateSnapshot in;
    const int active = activePane();
    queryPaneSnapshot(active, in.active);
    PaneSnapshot other;
    queryPaneSnapshot(1 - active, other);
    in.activeBusy = g_paneBusy[active].load() != PaneIdle;
    in.otherBusy = g_paneBusy[1 - active].load() != PaneIdle;
    in.sameFolder = in.active.folder[0] && samePath(in.active.folder, other.folder);
    in.viewerExists = isFile(g_settings.viewerPath);
    std::wstring help(g_settings.viewerPath);
    size_t dot = help.find_last_of(L'.');
    size_t slash = help.find_last_of(L"\\/");
    if (!help.empty()) {
        if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) help.resize(dot);
        help += L".chm";
        in.viewerHelpExists = isFile(help.c_str());
    }
    for (int i = 0; i < kToolCount; ++i)
        if (g_settings.toolPaths[i][0]) in.anyTool = true;
    takeViewSettings(g_settings, in);
    queryTreeMenuState(in.tree);
    return in;
}

void prepareMenuWith(HMENU menu, const CommandStateSnapshot& in) {
    int position = positionOf(menu);
    if (position < 0) {
        // A submenu: the thumbnail submenu of View carries the view checks.
        for (int i = 0; i < MenuPosCount; ++i) {
            if (!g_popups[i]) continue;
            const int n = GetMenuItemCount(g_popups[i]);
            for (int k = 0; k < n; ++k)
                if (GetSubMenu(g_popups[i], k) == menu) position = i;
        }
        if (position < 0) return;
    }
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof mii;
        mii.fMask = MIIM_ID | MIIM_FTYPE;
        if (!GetMenuItemInfoW(menu, UINT(i), TRUE, &mii) || (mii.fType & MFT_SEPARATOR)) continue;
        CommandItemState st;
        if (!menuItemState(position, CommandId(mii.wID), in, st)) continue;
        EnableMenuItem(menu, UINT(i), MF_BYPOSITION | (st.enabled ? MF_ENABLED : MF_GRAYED));
        CheckMenuItem(menu, UINT(i), MF_BYPOSITION | (st.checked ? MF_CHECKED : MF_UNCHECKED));
    }
}

void prepareMenu(HMENU menu) { prepareMenuWith(menu, currentCommandState()); }
