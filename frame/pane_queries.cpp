// What the frame reads from the thumbnail panes' shared state. The pane threads own these
// fields; like the busy flags they are read here without a lock, so every read is guarded
// against a missing array and an index beyond the count.
#include "frame/pending_commands.h"

#include "thumbs/pane.h"

bool queryPaneSnapshot(int index, PaneSnapshot& out) {
    out = PaneSnapshot{};
    if (index < 0 || index > 1) return false;
    const ThumbnailPane& pane = g_panes[index];
    const ThumbnailItem* items = pane.items;
    const int count = pane.itemCount;
    out.hasItems = items != nullptr;
    out.total = items ? count : 0;
    out.selected = items ? pane.selectedCount : 0;
    out.folder = pane.folder;
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

HWND paneBaseWindow(int index) { return index == 0 || index == 1 ? g_panes[index].baseWindow : nullptr; }

void resetPanePosition(int index) {
    if (index == 0 || index == 1) g_panes[index].firstVisible = 0;
}
