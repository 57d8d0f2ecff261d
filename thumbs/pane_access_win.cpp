// The main thread's view of the panes. For now these read and write the pane records
// directly, as the menus always have; every caller already goes through this file, so the
// pane thread can take over answering them without touching the callers.
#include "thumbs/pane_access.h"

#include <cwchar>

#include "base/thread_messages.h"
#include "base/win_state.h"
#include "thumbs/pane.h"

namespace {

bool validPane(int index) { return index == 0 || index == 1; }

void post(int index, unsigned code, LPARAM arg) {
    if (HWND window = g_paneWindows[index]) PostMessageW(window, kCrossThreadMessage, code, arg);
}

PaneItemCopy copyOf(const ThumbnailItem& item, int index) {
    PaneItemCopy copy;
    copy.index = index;
    copy.item = item;
    copy.item.imageWindow = nullptr;
    copy.item.textWindow = nullptr;
    copy.item.pixels = nullptr;
    return copy;
}

}  // namespace

bool queryPaneSnapshot(int index, PaneSnapshot& out) {
    out = PaneSnapshot{};
    if (!validPane(index)) return false;
    const ThumbnailPane& pane = g_panes[index];
    const ThumbnailItem* items = pane.items;
    const int count = pane.itemCount;
    out.hasItems = items != nullptr;
    out.total = items ? count : 0;
    out.selected = items ? pane.selectedCount : 0;
    std::wcsncpy(out.folder, pane.folder, kPathCapacity - 1);
    if (items && out.selected == 1) {
        for (int i = 0; i < count && i < kMaxPaneItems; ++i) {
            if (items[i].selected == 1) {
                out.selectedFormat = items[i].format;
                out.selectedHasText = items[i].metaCount > 0;
                break;
            }
        }
    }
    return true;
}

bool queryPaneSelection(int index, PaneSelection& out) {
    out = PaneSelection{};
    if (!validPane(index)) return false;
    const ThumbnailPane& pane = g_panes[index];
    out.folder = pane.folder;
    const ThumbnailItem* items = pane.items;
    if (!items) return true;
    out.hasItems = true;
    out.total = pane.itemCount;
    if (out.total > 0) out.firstItemName = items[0].name;
    for (int i = 0; i < out.total && i < kMaxPaneItems; ++i)
        if (items[i].selected == 1) out.selected.push_back(copyOf(items[i], i));
    return true;
}

std::wstring paneFolder(int index) { return validPane(index) ? std::wstring(g_panes[index].folder) : std::wstring(); }

HWND paneBaseWindow(int index) { return validPane(index) ? g_panes[index].baseWindow : nullptr; }

void paneOpenFolder(int index, const wchar_t* folder) {
    if (!validPane(index) || !folder || std::wcslen(folder) >= size_t(kPathCapacity)) return;
    std::wmemcpy(g_panes[index].folder, folder, std::wcslen(folder) + 1);
    paneRefresh(index, true);
}

void paneRefresh(int index, bool reset) {
    if (!validPane(index)) return;
    if (reset) g_panes[index].firstVisible = 0;
    post(index, CodeClear, reset ? 1 : 0);
    post(index, CodeLoadFolder, reset ? 1 : 0);
}

void paneRemoveSelected(int index) {
    if (validPane(index)) post(index, CodeRemoveSelected, 0);
}

bool paneRenameItems(int index, const wchar_t* oldName, const wchar_t* newName) {
    if (!validPane(index) || !oldName || !newName || std::wcslen(newName) >= 260) return false;
    ThumbnailPane& pane = g_panes[index];
    if (!pane.items) return true;
    for (int i = 0; i < pane.itemCount && i < kMaxPaneItems; ++i) {
        if (std::wcscmp(pane.items[i].name, oldName) == 0) {
            std::wmemcpy(pane.items[i].name, newName, std::wcslen(newName) + 1);
            paneRepaintItem(index, i);
        }
    }
    return true;
}

void paneRepaintItem(int index, int item) {
    if (!validPane(index)) return;
    post(index, CodeRepaint, 0);
    (void)item;
}

void paneAddItemCounts(int index, int item, const wchar_t* name, int commentDelta, int metaDelta) {
    if (!validPane(index) || !name) return;
    ThumbnailPane& pane = g_panes[index];
    if (!pane.items || item < 0 || item >= pane.itemCount || item >= kMaxPaneItems) return;
    ThumbnailItem& target = pane.items[item];
    if (std::wcscmp(target.name, name) != 0) return;
    auto add = [](int32_t& count, int delta) { count = count + delta < 0 ? 0 : count + delta; };
    add(target.commentCount, commentDelta);
    add(target.metaCount, metaDelta);
}
