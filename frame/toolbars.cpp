#include "frame/toolbars.h"

#include "base/thread_messages.h"
#include "base/visual_style.h"
#include "base/win_handles.h"
#include "base/win_state.h"
#include "frame/command_table.h"
#include "frame/frame_state.h"
#include "frame/menus.h"

int g_pendingThumbWidth = 148;
int g_pendingThumbHeight = 111;

namespace {

constexpr int kBarHeight = 24;
constexpr int kToolbarBitmap = 120;
HFONT g_fallbackFont = nullptr;
HIMAGELIST g_images = nullptr;
WNDPROC g_commandBarProc = nullptr;
HWND g_tooltip = nullptr;
int g_hotItem = -1;
int g_pendingReopen = -1;  // menu-bar button whose menu opens when the current one has closed
int g_barWidths[2] = {0, 0};

struct ButtonDef {
    int image;  // -1 for a separator
    CommandId id;
    BYTE style;
};
const ButtonDef kCommandButtons[] = {
    {0, cmd::AutoTree, BTNS_CHECK},
    {-1, cmd::Separator, BTNS_SEP},
    {1, cmd::Pane1, BTNS_CHECKGROUP},
    {2, cmd::Pane2, BTNS_CHECKGROUP},
    {3, cmd::BothPanes, BTNS_CHECKGROUP},
    {-1, cmd::Separator, BTNS_SEP},
    {4, cmd::TextArea, BTNS_CHECK},
    {5, cmd::InfoSettings, BTNS_BUTTON},
    {-1, cmd::Separator, BTNS_SEP},
    {6, cmd::StopClear, BTNS_BUTTON},
    {7, cmd::Refresh, BTNS_BUTTON},
    {-1, cmd::Separator, BTNS_SEP},
    {8, cmd::ColumnButton, BTNS_BUTTON},
};

// Tooltips of the controls right of the buttons (the buttons' own come from the command table).
constexpr wchar_t kSizeFieldTooltip[] = L"サムネイルサイズ";
constexpr wchar_t kFilterTooltip[] = L"フィルタ";

void noTheme(HWND w) { removeVisualStyle(w); }

LRESULT CALLBACK commandBarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, OPAQUE);
        SetBkColor(dc, kBarColour);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(barBrush());
    }
    case WM_COMMAND: {
        // The size fields and the filter list report here; their work is the frame's.
        HWND from = reinterpret_cast<HWND>(lParam);
        if (from && (from == g_frame.fieldW || from == g_frame.fieldH || from == g_frame.filter))
            return SendMessageW(g_frame.frame, WM_COMMAND, wParam, lParam);
        break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (g_frame.frame) SetFocus(g_frame.frame);
        break;
    default: break;
    }
    return CallWindowProcW(g_commandBarProc, hwnd, msg, wParam, lParam);
}

HWND createBar(HWND parent, int id, DWORD extraStyle) {
    HWND bar = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                               WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | TBSTYLE_FLAT |
                                   TBSTYLE_TOOLTIPS | TBSTYLE_TRANSPARENT | CCS_NORESIZE | CCS_NODIVIDER |
                                   CCS_NOPARENTALIGN | extraStyle,
                               0, 0, 0, 0, parent, reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr),
                               nullptr);
    SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    noTheme(bar);
    SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(frameUiFont()), FALSE);
    return bar;
}

int barRight(HWND bar) {
    const int n = int(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
    RECT rc{};
    if (n > 0) SendMessageW(bar, TB_GETITEMRECT, WPARAM(n - 1), reinterpret_cast<LPARAM>(&rc));
    return rc.right;
}

void addTooltipFor(HWND control, const wchar_t* text) {
    if (!g_tooltip) return;
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = g_frame.frame;
    ti.uId = reinterpret_cast<UINT_PTR>(control);
    ti.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(g_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

HWND makeChild(const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int x, int y, int w, int h,
               HWND parent, int id) {
    HWND c = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(frameUiFont()), FALSE);
    return c;
}

void createMenuBar(HWND frame) {
    HWND bar = createBar(g_frame.rebar, ctl::MenuBar, TBSTYLE_LIST);
    g_frame.menuBar = bar;
    SendMessageW(bar, TB_SETPARENT, reinterpret_cast<WPARAM>(frame), 0);
    SendMessageW(bar, TB_SETIMAGELIST, 0, 0);
    SendMessageW(bar, TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
    TBBUTTON buttons[4] = {};
    for (int i = 0; i < 4; ++i) {
        buttons[i].iBitmap = I_IMAGENONE;
        buttons[i].idCommand = kMenuBarIds[i];
        buttons[i].fsState = TBSTATE_ENABLED;
        buttons[i].fsStyle = BTNS_DROPDOWN | BTNS_SHOWTEXT | BTNS_AUTOSIZE;
        buttons[i].iString = reinterpret_cast<INT_PTR>(commandMenuText(kMenuBarIds[i]));
    }
    SendMessageW(bar, TB_ADDBUTTONSW, 4, reinterpret_cast<LPARAM>(buttons));
    // Each button as wide as its text in the user-interface font.
    const WindowDC barDC(bar);
    const HDC dc = barDC.get();
    const SelectedObject font(dc, frameUiFont());
    for (int i = 0; i < 4; ++i) {
        RECT rc{0, 0, 0, 0};
        DrawTextW(dc, commandMenuText(kMenuBarIds[i]), -1, &rc, DT_SINGLELINE | DT_CALCRECT);
        TBBUTTONINFOW bi{};
        bi.cbSize = sizeof bi;
        bi.dwMask = TBIF_SIZE;
        bi.cx = WORD(rc.right - rc.left + 12);
        SendMessageW(bar, TB_SETBUTTONINFOW, kMenuBarIds[i], reinterpret_cast<LPARAM>(&bi));
    }
    g_barWidths[0] = barRight(bar);
    SetWindowPos(bar, nullptr, 0, 0, g_barWidths[0], kBarHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void createCommandBar(HWND frame) {
    HWND bar = createBar(g_frame.rebar, ctl::CommandBar, 0);
    g_frame.commandBar = bar;
    SendMessageW(bar, TB_SETPARENT, reinterpret_cast<WPARAM>(frame), 0);
    SendMessageW(bar, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 16));
    // Magenta marks the transparent pixels of the images.
    if (!g_images) {
        g_images = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 11, 0);
        const OwnedBitmap bmp(static_cast<HBITMAP>(LoadImageW(
            GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kToolbarBitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        if (bmp) ImageList_AddMasked(g_images, bmp.get(), RGB(255, 0, 255));
    }
    SendMessageW(bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(g_images));
    TBBUTTON buttons[sizeof kCommandButtons / sizeof kCommandButtons[0]] = {};
    int n = 0;
    for (const ButtonDef& d : kCommandButtons) {
        TBBUTTON& b = buttons[n++];
        b.iBitmap = d.image < 0 ? 6 : d.image;
        b.idCommand = d.id;
        b.fsState = d.image < 0 ? 0 : TBSTATE_ENABLED;
        b.fsStyle = d.style;
    }
    SendMessageW(bar, TB_ADDBUTTONSW, WPARAM(n), reinterpret_cast<LPARAM>(buttons));
    SendMessageW(bar, TB_AUTOSIZE, 0, 0);

    g_tooltip = reinterpret_cast<HWND>(SendMessageW(bar, TB_GETTOOLTIPS, 0, 0));
    if (g_tooltip) {
        noTheme(g_tooltip);
        SendMessageW(g_tooltip, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(300, 0));
        SendMessageW(g_tooltip, TTM_SETTIPBKCOLOR, RGB(255, 255, 255), 0);
    }
    g_commandBarProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&commandBarProc)));

    int x = barRight(bar) + 6;
    const int fieldH = 20, y = (kBarHeight - fieldH) / 2;
    auto sizeField = [&](int labelId, const wchar_t* label, int fieldId, int spinId, HWND& labelOut, HWND& fieldOut,
                         HWND& spinOut, int value) {
        labelOut = makeChild(L"STATIC", label, SS_CENTER | SS_CENTERIMAGE, 0, x, y, 14, fieldH, bar, labelId);
        x += 16;
        fieldOut = makeChild(L"EDIT", nullptr, ES_NUMBER | ES_RIGHT | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, x, y, 52,
                             fieldH, bar, fieldId);
        SendMessageW(fieldOut, EM_LIMITTEXT, 3, 0);
        spinOut = makeChild(UPDOWN_CLASSW, nullptr,
                            UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0, 0, 0, 0, 0, bar,
                            spinId);
        SendMessageW(spinOut, UDM_SETBUDDY, reinterpret_cast<WPARAM>(fieldOut), 0);
        SendMessageW(spinOut, UDM_SETRANGE32, 32, 800);
        SendMessageW(spinOut, UDM_SETPOS32, 0, value);
        x += 52 + 4;
    };
    sizeField(ctl::LabelW, L"W", ctl::FieldW, ctl::SpinW, g_frame.labelW, g_frame.fieldW, g_frame.spinW,
              g_settings.thumbWidth);
    sizeField(ctl::LabelH, L"H", ctl::FieldH, ctl::SpinH, g_frame.labelH, g_frame.fieldH, g_frame.spinH,
              g_settings.thumbHeight);
    x += 4;
    g_frame.filter = makeChild(L"COMBOBOX", nullptr, CBS_DROPDOWNLIST | WS_VSCROLL, 0, x, 1, 68, 200, bar, ctl::Filter);
    for (const wchar_t* name : kFilterNames)
        SendMessageW(g_frame.filter, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    int filter = g_fileFilter.load();
    SendMessageW(g_frame.filter, CB_SETCURSEL, WPARAM(filter >= 0 && filter < 6 ? filter : 0), 0);
    x += 68 + 2;

    addTooltipFor(g_frame.fieldW, kSizeFieldTooltip);
    addTooltipFor(g_frame.fieldH, kSizeFieldTooltip);
    addTooltipFor(g_frame.filter, kFilterTooltip);
    g_barWidths[1] = x;
    SetWindowPos(bar, nullptr, 0, 0, x, kBarHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void insertBand(HWND child, int id, int width) {
    REBARBANDINFOW rb{};
    rb.cbSize = sizeof rb;
    rb.fMask = RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE | RBBIM_ID | RBBIM_HEADERSIZE;
    rb.fStyle = RBBS_NOGRIPPER | RBBS_CHILDEDGE;
    rb.hwndChild = child;
    rb.cxMinChild = UINT(width);
    rb.cyMinChild = kBarHeight;
    rb.cx = UINT(width + 14);
    rb.wID = UINT(id);
    rb.cxHeader = 3;
    SendMessageW(g_frame.rebar, RB_INSERTBANDW, WPARAM(-1), reinterpret_cast<LPARAM>(&rb));
}

void drawRound(HDC dc, const RECT& rc, HBRUSH brush, HPEN pen) {
    const SelectedObject b(dc, brush), p(dc, pen);
    RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, 5, 5);
}

LRESULT customDrawBar(NMTBCUSTOMDRAW* cd) {
    switch (cd->nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
        HDC dc = cd->nmcd.hdc;
        const RECT& rc = cd->nmcd.rc;
        const UINT state = cd->nmcd.uItemState;
        const bool isMenuBar = cd->nmcd.hdr.hwndFrom == g_frame.menuBar;
        const bool hot = (state & (CDIS_HOT | CDIS_SELECTED)) != 0 ||
                         (isMenuBar && g_menuOpen.load() == int(cd->nmcd.dwItemSpec));
        if (hot) drawRound(dc, rc, selectionBrush(), selectionPen());
        else if (state & CDIS_CHECKED) drawRound(dc, rc, checkBrush(), checkPen());
        if (isMenuBar) {
            int index = -1;
            for (int i = 0; i < 4; ++i)
                if (kMenuBarIds[i] == CommandId(cd->nmcd.dwItemSpec)) index = i;
            if (index >= 0) {
                const SelectedObject font(dc, frameUiFont());
                SetBkMode(dc, TRANSPARENT);
                SetTextColor(dc, GetSysColor(COLOR_MENUTEXT));
                RECT trc = rc;
                DrawTextW(dc, commandMenuText(kMenuBarIds[index]), -1, &trc, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
            }
            return CDRF_SKIPDEFAULT;
        }
        return TBCDRF_NOEDGES | TBCDRF_NOOFFSET | TBCDRF_NOBACKGROUND | TBCDRF_NOETCHEDEFFECT;
    }
    default: return CDRF_DODEFAULT;
    }
}

int buttonIndexAtScreen(POINT pt) {
    if (!g_frame.menuBar) return -1;
    ScreenToClient(g_frame.menuBar, &pt);
    RECT client;
    GetClientRect(g_frame.menuBar, &client);
    if (!PtInRect(&client, pt)) return -1;
    for (int i = 0; i < 4; ++i) {
        RECT rc{};
        SendMessageW(g_frame.menuBar, TB_GETITEMRECT, WPARAM(i), reinterpret_cast<LPARAM>(&rc));
        if (PtInRect(&rc, pt)) return i;
    }
    return -1;
}

HWND treeControl() {
    return g_frame.treePane ? FindWindowExW(g_frame.treePane, nullptr, WC_TREEVIEWW, nullptr) : nullptr;
}

}  // namespace

HFONT frameUiFont() {
    if (g_uiFont) return g_uiFont;
    if (!g_fallbackFont)
        g_fallbackFont = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS UI Gothic");
    return g_fallbackFont;
}

void createToolBars(HWND frame) {
    g_frame.frame = frame;
    g_pendingThumbWidth = g_settings.thumbWidth;
    g_pendingThumbHeight = g_settings.thumbHeight;
    g_frame.rebar = CreateWindowExW(WS_EX_TOOLWINDOW, REBARCLASSNAMEW, nullptr,
                                    WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT |
                                        RBS_BANDBORDERS | CCS_NODIVIDER | CCS_TOP,
                                    0, 0, 0, 0, frame, reinterpret_cast<HMENU>(INT_PTR(ctl::Rebar)),
                                    GetModuleHandleW(nullptr), nullptr);
    noTheme(g_frame.rebar);
    SendMessageW(g_frame.rebar, WM_SETFONT, reinterpret_cast<WPARAM>(frameUiFont()), FALSE);
    REBARINFO ri{};
    ri.cbSize = sizeof ri;
    SendMessageW(g_frame.rebar, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&ri));
    SendMessageW(g_frame.rebar, RB_SETBKCOLOR, 0, kBarColour);

    createMenuBar(frame);
    createCommandBar(frame);
    insertBand(g_frame.menuBar, ctl::MenuBar, g_barWidths[0]);
    insertBand(g_frame.commandBar, ctl::CommandBar, g_barWidths[1]);
    // The rebar adopts the bars; their notifications still go to the frame.
    SendMessageW(g_frame.menuBar, TB_SETPARENT, reinterpret_cast<WPARAM>(frame), 0);
    SendMessageW(g_frame.commandBar, TB_SETPARENT, reinterpret_cast<WPARAM>(frame), 0);
    refreshToolBarChecks();
}

void refreshToolBarChecks() {
    HWND bar = g_frame.commandBar;
    if (!bar) return;
    CommandStateSnapshot state;
    takeViewSettings(g_settings, state);
    for (const ButtonDef& d : kCommandButtons) {
        if (d.style != BTNS_CHECK && d.style != BTNS_CHECKGROUP) continue;
        const CommandInfo* row = commandInfo(d.id);
        if (!row) continue;
        const bool on = commandState(row->rule, state).checked;
        SendMessageW(bar, TB_CHECKBUTTON, d.id, MAKELPARAM(on ? TRUE : FALSE, 0));
    }
}

void destroyToolBarResources() {
    if (g_images) ImageList_Destroy(g_images);
    g_images = nullptr;
}

int rebarHeight() {
    if (!g_frame.rebar) return 0;
    RECT rc;
    GetWindowRect(g_frame.rebar, &rc);
    return rc.bottom - rc.top;
}

void layoutRebar(int frameClientWidth) {
    if (!g_frame.rebar) return;
    SetWindowPos(g_frame.rebar, nullptr, 0, 0, frameClientWidth, rebarHeight(), SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(g_frame.rebar, WM_SIZE, 0, 0);
    if (SendMessageW(g_frame.rebar, RB_GETROWCOUNT, 0, 0) == 1) SendMessageW(g_frame.rebar, RB_MAXIMIZEBAND, 1, 0);
}

bool handleToolBarNotify(const NMHDR* hdr, LRESULT* result) {
    if (!hdr) return false;
    if (hdr->code == NM_CUSTOMDRAW && (hdr->hwndFrom == g_frame.menuBar || hdr->hwndFrom == g_frame.commandBar)) {
        *result = customDrawBar(reinterpret_cast<NMTBCUSTOMDRAW*>(const_cast<NMHDR*>(hdr)));
        return true;
    }
    if (hdr->code == TBN_DROPDOWN && hdr->hwndFrom == g_frame.menuBar) {
        const auto* tb = reinterpret_cast<const NMTOOLBARW*>(hdr);
        for (int i = 0; i < 4; ++i)
            if (kMenuBarIds[i] == tb->iItem) PostMessageW(g_frame.frame, kCrossThreadMessage, CodeMenuFile + i, i);
        *result = TBDDRET_DEFAULT;
        return true;
    }
    if (hdr->code == TTN_GETDISPINFOW) {
        auto* di = reinterpret_cast<NMTTDISPINFOW*>(const_cast<NMHDR*>(hdr));
        if (!(di->uFlags & TTF_IDISHWND) && hdr->idFrom <= 0xFFFF) {
            if (const wchar_t* text = commandTooltip(CommandId(hdr->idFrom))) {
                di->lpszText = const_cast<wchar_t*>(text);
                di->hinst = nullptr;
                *result = 0;
                return true;
            }
        }
        return false;
    }
    if (hdr->code == RBN_HEIGHTCHANGE && hdr->hwndFrom == g_frame.rebar) {
        RECT rc;
        GetClientRect(g_frame.frame, &rc);
        const int top = rebarHeight();
        if (g_frame.client)
            SetWindowPos(g_frame.client, nullptr, 0, top, rc.right, rc.bottom - top, SWP_NOZORDER | SWP_NOACTIVATE);
        *result = 0;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- size fields and filter

void onSizeFieldCommand(int id, int code) {
    HWND field = id == ctl::FieldW ? g_frame.fieldW : g_frame.fieldH;
    int& pending = id == ctl::FieldW ? g_pendingThumbWidth : g_pendingThumbHeight;
    if (!field) return;
    if (code == EN_CHANGE) {
        wchar_t text[16] = {};
        GetWindowTextW(field, text, 16);
        const int value = _wtoi(text);
        if (value != pending) pending = clampThumbSize(value);
    } else if (code == EN_KILLFOCUS) {
        SetDlgItemInt(GetParent(field), id, UINT(pending), TRUE);
    }
}

void setSizeFields(int w, int h) {
    if (g_frame.fieldW) SetWindowTextW(g_frame.fieldW, std::to_wstring(w).c_str());
    if (g_frame.fieldH) SetWindowTextW(g_frame.fieldH, std::to_wstring(h).c_str());
    // The change notifications store the pending values; set them directly as well for a bar
    // that does not exist yet.
    g_pendingThumbWidth = clampThumbSize(w);
    g_pendingThumbHeight = clampThumbSize(h);
}

void selectFilterEntry(int index) {
    if (g_frame.filter) SendMessageW(g_frame.filter, CB_SETCURSEL, WPARAM(index), 0);
}

int filterListSelection() {
    return g_frame.filter ? int(SendMessageW(g_frame.filter, CB_GETCURSEL, 0, 0)) : -1;
}

// ---------------------------------------------------------------- menu bar

int menuBarHotItem() { return g_hotItem; }

void setMenuBarHotItem(int index) {
    g_hotItem = index;
    if (g_frame.menuBar) SendMessageW(g_frame.menuBar, TB_SETHOTITEM, WPARAM(index), 0);
}

void leaveMenuBarMode() {
    g_menuBarMode.store(0);
    setMenuBarHotItem(-1);
}

void openMenuBarMenu(int index) {
    while (index >= 0 && index < 4 && g_frame.menuBar) {
        leaveMenuBarMode();
        RECT rc{};
        SendMessageW(g_frame.menuBar, TB_GETITEMRECT, WPARAM(index), reinterpret_cast<LPARAM>(&rc));
        MapWindowPoints(g_frame.menuBar, nullptr, reinterpret_cast<POINT*>(&rc), 2);
        SendMessageW(g_frame.menuBar, TB_PRESSBUTTON, kMenuBarIds[index], MAKELPARAM(TRUE, 0));
        TPMPARAMS tpm{};
        tpm.cbSize = sizeof tpm;
        tpm.rcExclude = rc;
        g_pendingReopen = -1;
        {
            const OpenMenuScope open(kMenuBarIds[index]);
            TrackPopupMenuEx(popupMenu(index), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_VERTICAL | TPM_LEFTBUTTON, rc.left,
                             rc.bottom, g_frame.frame, &tpm);
        }
        SendMessageW(g_frame.menuBar, TB_PRESSBUTTON, kMenuBarIds[index], MAKELPARAM(FALSE, 0));
        index = g_pendingReopen;
        g_pendingReopen = -1;
    }
}

void openContextMenu(int position, int x, int y) {
    HMENU menu = popupMenu(position);
    if (!menu || !g_frame.frame) return;
    SetForegroundWindow(g_frame.frame);
    const OpenMenuScope open(position == MenuPosTreeContext ? kMenuOpenTreeContext : kMenuOpenThumbContext);
    TrackPopupMenuEx(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, x, y, g_frame.frame, nullptr);
}

void openColumnMenu() {
    if (!g_frame.commandBar) return;
    RECT rc{};
    const int index = int(SendMessageW(g_frame.commandBar, TB_COMMANDTOINDEX, cmd::ColumnButton, 0));
    SendMessageW(g_frame.commandBar, TB_GETITEMRECT, WPARAM(index), reinterpret_cast<LPARAM>(&rc));
    MapWindowPoints(g_frame.commandBar, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    TPMPARAMS tpm{};
    tpm.cbSize = sizeof tpm;
    tpm.rcExclude = rc;
    const OpenMenuScope open(cmd::ColumnButton);
    TrackPopupMenuEx(popupMenu(MenuPosColumns), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_VERTICAL | TPM_LEFTBUTTON,
                     rc.left, rc.bottom, g_frame.frame, &tpm);
}

void onMenuBarCode(unsigned code, LPARAM arg) {
    switch (code) {
    case CodeMenuOpenHot: openMenuBarMenu(g_hotItem >= 0 ? g_hotItem : 0); break;
    case CodeMenuHotLeft: setMenuBarHotItem(g_hotItem < 0 ? 3 : (g_hotItem + 3) % 4); break;
    case CodeMenuHotRight: setMenuBarHotItem(g_hotItem < 0 ? 0 : (g_hotItem + 1) % 4); break;
    case CodeMenuFile:
    case CodeMenuView:
    case CodeMenuTools:
    case CodeMenuHelp: {
        const int index = int(code - CodeMenuFile);
        setMenuBarHotItem(index);
        openMenuBarMenu(index);
        break;
    }
    case CodeMenuReopen:
        if (g_menuOpen.load() == 0 && g_pendingReopen >= 0) {
            const int index = g_pendingReopen;
            g_pendingReopen = -1;
            openMenuBarMenu(index);
        }
        break;
    default: break;
    }
    (void)arg;
}

LRESULT CALLBACK mainKeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HC_ACTION || g_modalFlag.load() || g_menuOpen.load() != 0 || !g_frame.frame)
        return CallNextHookEx(nullptr, code, wParam, lParam);
    const bool released = (lParam & 0x80000000) != 0;
    const bool repeat = (lParam & 0x40000000) != 0;
    const bool modeOn = g_menuBarMode.load() != 0;
    auto post = [](unsigned c, LPARAM a) { PostMessageW(g_frame.frame, kCrossThreadMessage, c, a); };
    if (wParam == VK_MENU) {
        if (!released && !repeat) {
            if (!modeOn) {
                g_menuBarMode.store(1);
                return 1;
            }
            leaveMenuBarMode();
        } else if (released && modeOn) {
            setMenuBarHotItem(0);
            return 1;  // the system's own menu mode must not start on this release
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    if (!modeOn) return CallNextHookEx(nullptr, code, wParam, lParam);
    if (wParam == VK_ESCAPE) {
        leaveMenuBarMode();
        return 1;
    }
    if (released) return CallNextHookEx(nullptr, code, wParam, lParam);
    switch (wParam) {
    case VK_RETURN:
    case VK_UP:
    case VK_DOWN: post(CodeMenuOpenHot, 0); return 1;
    case VK_LEFT: post(CodeMenuHotLeft, 0); return 1;
    case VK_RIGHT: post(CodeMenuHotRight, 0); return 1;
    case 'F': post(CodeMenuFile, 0); return 1;
    case 'V': post(CodeMenuView, 1); return 1;
    case 'T': post(CodeMenuTools, 2); return 1;
    case 'H': post(CodeMenuHelp, 3); return 1;
    default: break;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK mainMouseHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HC_ACTION || g_modalFlag.load()) return CallNextHookEx(nullptr, code, wParam, lParam);
    const auto* mh = reinterpret_cast<const MOUSEHOOKSTRUCT*>(lParam);
    switch (wParam) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
        if (g_menuBarMode.load()) {
            leaveMenuBarMode();
        }
        break;
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE: {
        if (!g_mainWindowActive.load() || !mh) break;
        const int open = g_menuOpen.load();
        if (open == 0) {
            HWND tree = treeControl();
            if (tree && WindowFromPoint(mh->pt) == tree && GetFocus() != tree) SetFocus(tree);
        } else if (open >= cmd::MenuFile && open <= cmd::MenuHelp) {
            const int over = buttonIndexAtScreen(mh->pt);
            if (over >= 0 && kMenuBarIds[over] != open) {
                g_pendingReopen = over;
                EndMenu();
                PostMessageW(g_frame.frame, kCrossThreadMessage, CodeMenuReopen, 0);
                return 1;
            }
        }
        break;
    }
    default: break;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
