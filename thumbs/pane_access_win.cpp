// The main thread's view of the panes. Each pane's thread owns its records; what the main
// thread may know comes from a snapshot the pane publishes after every change, and what it
// asks for goes to the pane as a message: posted requests, or a query sent to the pane's
// outer window and answered on the pane's own thread.
#include "thumbs/pane_access.h"

#include <cwchar>
#include <new>

#include "base/platform_threads.h"
#include "base/thread_messages.h"
#include "base/win_state.h"
#include "thumbs/pane.h"

namespace {

constexpr DWORD kQueryWaitMs = 5000;

bool validPane(int index) { return index == 0 || index == 1; }

// The last snapshot each pane published, with its windows.
struct Published {
    PaneSnapshot snapshot;
    HWND outer = nullptr;
    HWND base = nullptr;
};

class PublishedPanes {
public:
    void put(int index, const Published& value) {
        WorkerLockScope hold(lock_);
        panes_[index] = value;
    }
    Published get(int index) {
        WorkerLockScope hold(lock_);
        return panes_[index];
    }

private:
    WorkerLock lock_;
    Published panes_[2];
};

PublishedPanes& published() {
    static PublishedPanes panes;
    return panes;
}

}  // namespace

HWND paneOuterWindow(int index) { return validPane(index) ? published().get(index).outer : nullptr; }

namespace {

void post(int index, unsigned code, LPARAM arg) {
    if (HWND window = paneOuterWindow(index)) PostMessageW(window, kCrossThreadMessage, code, arg);
}

bool ask(int index, PaneQueryKind kind, void* record) {
    HWND window = paneOuterWindow(index);
    if (!window) return false;
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, kPaneQueryMessage, kind, reinterpret_cast<LPARAM>(record),
                             SMTO_NORMAL | SMTO_ABORTIFHUNG, kQueryWaitMs, &answer))
        return false;
    return answer == 1;
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

struct RenameRequest {
    const wchar_t* oldName;
    const wchar_t* newName;
};

struct CountsRequest {
    int item;
    const wchar_t* name;
    int commentDelta;
    int metaDelta;
    uint32_t fileSize;
    FileTime lastWriteTime;
};

}  // namespace

// ---------------------------------------------------------------- the pane's side

void publishPane(const ThumbnailPane& pane) {
    if (!validPane(pane.index)) return;
    Published p;
    p.outer = pane.outerWindow;
    p.base = pane.baseWindow;
    PaneSnapshot& s = p.snapshot;
    s.hasItems = pane.items != nullptr;
    s.total = pane.items ? pane.itemCount : 0;
    s.selected = pane.items ? pane.selectedCount : 0;
    std::wcsncpy(s.folder, pane.folder, kPathCapacity - 1);
    if (pane.items && s.selected == 1) {
        for (int i = 0; i < pane.itemCount && i < kMaxPaneItems; ++i) {
            if (pane.items[i].isSelected()) {
                s.selectedFormat = pane.items[i].facts.format;
                s.selectedHasText = pane.items[i].facts.metaCount > 0;
                break;
            }
        }
    }
    published().put(pane.index, p);
}

LRESULT answerPaneQuery(ThumbnailPane& pane, WPARAM kind, LPARAM record) {
    if (!record) return 0;
    if (kind == PaneQuerySelection) {
        PaneSelection& out = *reinterpret_cast<PaneSelection*>(record);
        out = PaneSelection{};
        out.folder = pane.folder;
        if (!pane.items) return 1;
        out.hasItems = true;
        out.total = pane.itemCount;
        if (out.total > 0) out.firstItemName = pane.items[0].name;
        for (int i = 0; i < out.total && i < kMaxPaneItems; ++i)
            if (pane.items[i].isSelected()) out.selected.push_back(copyOf(pane.items[i], i));
        return 1;
    }
    if (kind == PaneQueryRename) {
        const RenameRequest& request = *reinterpret_cast<const RenameRequest*>(record);
        if (!pane.items) return 1;
        const size_t length = std::wcslen(request.newName);
        for (int i = 0; i < pane.itemCount && i < kMaxPaneItems; ++i) {
            if (std::wcscmp(pane.items[i].name, request.oldName) == 0) {
                std::wmemcpy(pane.items[i].name, request.newName, length + 1);
                repaintItem(pane, i);
            }
        }
        return 1;
    }
    if (kind == PaneQueryAddCounts) {
        const CountsRequest& request = *reinterpret_cast<const CountsRequest*>(record);
        const int i = request.item;
        if (!pane.items || i < 0 || i >= pane.itemCount || i >= kMaxPaneItems) return 1;
        ThumbnailItem& target = pane.items[i];
        if (std::wcscmp(target.name, request.name) != 0) return 1;
        auto add = [](int32_t& count, int delta) { count = count + delta < 0 ? 0 : count + delta; };
        add(target.facts.commentCount, request.commentDelta);
        add(target.facts.metaCount, request.metaDelta);
        target.facts.fileSize = request.fileSize;
        target.facts.lastWriteTime = request.lastWriteTime;
        repaintItem(pane, i);
        publishPane(pane);
        return 1;
    }
    return 0;
}

bool postPaneFolder(HWND outerWindow, const wchar_t* folder) {
    if (!outerWindow || !folder || std::wcslen(folder) >= size_t(kPathCapacity)) return false;
    auto* copy = new (std::nothrow) wchar_t[kPathCapacity];
    if (!copy) return false;
    std::wmemcpy(copy, folder, std::wcslen(folder) + 1);
    if (PostMessageW(outerWindow, kCrossThreadMessage, CodeTakeFolder, reinterpret_cast<LPARAM>(copy))) return true;
    delete[] copy;
    return false;
}

void takeHandedFolder(ThumbnailPane& pane, LPARAM copy) {
    auto* folder = reinterpret_cast<wchar_t*>(copy);
    if (!folder) return;
    std::wmemcpy(pane.folder, folder, std::wcslen(folder) + 1);
    delete[] folder;
    publishPane(pane);
}

// ---------------------------------------------------------------- the main thread's side

bool queryPaneSnapshot(int index, PaneSnapshot& out) {
    out = PaneSnapshot{};
    if (!validPane(index)) return false;
    out = published().get(index).snapshot;
    return true;
}

bool queryPaneSelection(int index, PaneSelection& out) {
    out = PaneSelection{};
    if (!validPane(index)) return false;
    PaneSelection answer;
    if (!ask(index, PaneQuerySelection, &answer)) return false;
    out = std::move(answer);
    return true;
}

std::wstring paneFolder(int index) {
    return validPane(index) ? std::wstring(published().get(index).snapshot.folder) : std::wstring();
}

HWND paneBaseWindow(int index) { return validPane(index) ? published().get(index).base : nullptr; }

void paneOpenFolder(int index, const wchar_t* folder) {
    if (!validPane(index) || !folder || std::wcslen(folder) >= size_t(kPathCapacity)) return;
    if (!postPaneFolder(paneOuterWindow(index), folder)) return;
    paneRefresh(index, true);
}

void paneRefresh(int index, bool reset) {
    if (!validPane(index)) return;
    // With reset the pane starts from the top: its load (204 with 1) forgets the old row.
    post(index, CodeClear, reset ? 1 : 0);
    post(index, CodeLoadFolder, reset ? 1 : 0);
}

void paneRemoveSelected(int index) {
    if (validPane(index)) post(index, CodeRemoveSelected, 0);
}

bool paneRenameItems(int index, const wchar_t* oldName, const wchar_t* newName) {
    if (!validPane(index) || !oldName || !newName || std::wcslen(newName) >= 260) return false;
    RenameRequest request{oldName, newName};
    return ask(index, PaneQueryRename, &request);
}

void paneRepaintItem(int index, int item) {
    if (!validPane(index)) return;
    post(index, CodeRepaint, 0);
    (void)item;
}

void paneRepaint(int index) {
    if (validPane(index)) post(index, CodeRepaint, 0);
}

void paneItemRewritten(int index, int item, const wchar_t* name, int commentDelta, int metaDelta, uint32_t fileSize,
                       const FileTime& lastWriteTime) {
    if (!validPane(index) || !name) return;
    CountsRequest request{item, name, commentDelta, metaDelta, fileSize, lastWriteTime};
    ask(index, PaneQueryAddCounts, &request);
}
