// The main thread's view of the panes. Each pane's thread owns its records; what the main
// thread may know comes from a snapshot the pane publishes after every change, and what it
// asks for goes to the pane as a message: posted requests, or a query sent to the pane's
// outer window and answered on the pane's own thread.
#include "thumbs/pane_access.h"

#include <atomic>
#include <cwchar>
#include <new>

#include "base/messages.h"
#include "base/platform_threads.h"
#include "base/thread_messages.h"
#include "base/win_state.h"
#include "thumbs/pane.h"

namespace {

std::atomic<DWORD> g_queryWaitMs{5000};

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

// Main thread only. What the pane is asked to do next (load, repaint) follows the settings
// as they are now, so the pane's copy of them is brought up to date first.
void post(int index, unsigned code, LPARAM arg) {
    publishPaneSettings(g_settings);
    if (HWND window = paneOuterWindow(index)) PostMessageW(window, kCrossThreadMessage, code, arg);
}

// Everything a question to a pane carries, and the room for its answer. The asker and the
// pane each hold a reference and whoever lets go last frees the block: a pane that answers
// after the asker stopped waiting writes into live storage, never into a finished frame. The
// question's texts are copies for the same reason.
struct PaneQuery {
    std::atomic<int> references{2};
    std::atomic<bool> answered{false};
    std::wstring folder;  // the folder the pane showed when asked (rename, counts)
    std::wstring oldName, newName;
    int item = -1;
    int commentDelta = 0, metaDelta = 0;
    uint32_t fileSize = 0;      // the rewritten file's new facts (counts)
    FileTime lastWriteTime{};
    PaneSelection selection;  // the answer to PaneQuerySelection
};

std::atomic<int> g_queriesAlive{0};

PaneQuery* newQuery() {
    auto* query = new (std::nothrow) PaneQuery;
    if (query) ++g_queriesAlive;
    return query;
}

void release(PaneQuery* query) {
    if (query->references.fetch_sub(1) != 1) return;
    delete query;
    --g_queriesAlive;
}

enum class Asked { Answered, NoPane, NoAnswer };

// Sends the question and waits at most the query wait. The block outlives the wait: a message
// that timed out is still delivered, and the pane drops its reference when it has answered.
// Only a question with no window to go to gives the pane's reference back here; one that is
// dropped unread (still queued when the wait ended, or lost with an ending thread) leaves its
// block behind, which is memory, never a fault.
Asked ask(int index, unsigned kind, PaneQuery* query) {
    HWND window = paneOuterWindow(index);
    if (!window) {
        release(query);  // never sent
        release(query);
        return Asked::NoPane;
    }
    DWORD_PTR answer = 0;
    const bool returned = SendMessageTimeoutW(window, kPaneQueryMessage, kind, reinterpret_cast<LPARAM>(query),
                                              SMTO_NORMAL, g_queryWaitMs.load(), &answer) != 0;
    return returned && answer == 1 && query->answered.load() ? Asked::Answered : Asked::NoAnswer;
}

// A question that went unanswered is told to the user: the command that asked does nothing.
// The box is the main window's (code 150), after the command that asked has returned.
void reportUnanswered() {
    if (g_mainWindow) PostMessageW(g_mainWindow, kCrossThreadMessage, CodeShowMessage, MsgRunFailed);
}

PaneItemCopy copyOf(const ThumbnailItem& item, int index) {
    PaneItemCopy copy;
    copy.index = index;
    copy.item = item;
    copy.item.imageWindow = nullptr;
    copy.item.textWindow = nullptr;
    copy.item.pixels = nullptr;
    copy.item.stream = nullptr;
    copy.item.streamSize = 0;
    return copy;
}

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

namespace {

bool showsFolder(const ThumbnailPane& pane, const std::wstring& folder) { return folder == pane.folder; }

void answer(ThumbnailPane& pane, WPARAM kind, PaneQuery& query) {
    if (kind == PaneQuerySelection) {
        PaneSelection& out = query.selection;
        out = PaneSelection{};
        out.folder = pane.folder;
        if (!pane.items) return;
        out.hasItems = true;
        out.total = pane.itemCount;
        if (out.total > 0) out.firstItemName = pane.items[0].name;
        for (int i = 0; i < out.total && i < kMaxPaneItems; ++i)
            if (pane.items[i].isSelected()) out.selected.push_back(copyOf(pane.items[i], i));
        return;
    }
    // A change that comes after the pane moved to another folder no longer names its files.
    if (!pane.items || !showsFolder(pane, query.folder)) return;
    if (kind == PaneQueryRename) {
        for (int i = 0; i < pane.itemCount && i < kMaxPaneItems; ++i) {
            if (query.oldName == pane.items[i].name) {
                std::wmemcpy(pane.items[i].name, query.newName.c_str(), query.newName.size() + 1);
                repaintItem(pane, i);
            }
        }
        return;
    }
    if (kind == PaneQueryAddCounts) {
        const int i = query.item;
        if (i < 0 || i >= pane.itemCount || i >= kMaxPaneItems) return;
        ThumbnailItem& target = pane.items[i];
        if (query.oldName != target.name) return;
        auto add = [](int32_t& count, int delta) { count = count + delta < 0 ? 0 : count + delta; };
        add(target.facts.commentCount, query.commentDelta);
        add(target.facts.metaCount, query.metaDelta);
        target.facts.fileSize = query.fileSize;
        target.facts.lastWriteTime = query.lastWriteTime;
        repaintItem(pane, i);
        publishPane(pane);
    }
}

}  // namespace

LRESULT answerPaneQuery(ThumbnailPane& pane, WPARAM kind, LPARAM record) {
    auto* query = reinterpret_cast<PaneQuery*>(record);
    if (!query) return 0;
    const bool known = kind == PaneQuerySelection || kind == PaneQueryRename || kind == PaneQueryAddCounts;
    if (known) answer(pane, kind, *query);
    query->answered.store(known);
    release(query);
    return known ? 1 : 0;
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
    PaneQuery* query = newQuery();
    if (!query) return false;
    const Asked asked = ask(index, PaneQuerySelection, query);
    if (asked == Asked::Answered) out = std::move(query->selection);
    if (asked == Asked::NoAnswer) reportUnanswered();
    if (asked != Asked::NoPane) release(query);
    return asked == Asked::Answered;
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

namespace {

// Rename and counts change the pane's items; the pane carries them out when it reaches the
// question even after the asker stopped waiting, as long as it still shows the same folder.
bool askChange(int index, unsigned kind, PaneQuery* query) {
    query->folder = paneFolder(index);
    const Asked asked = ask(index, kind, query);
    if (asked != Asked::NoPane) release(query);
    return asked == Asked::Answered;
}

}  // namespace

bool paneRenameItems(int index, const wchar_t* oldName, const wchar_t* newName) {
    if (!validPane(index) || !oldName || !newName || std::wcslen(newName) >= 260) return false;
    PaneQuery* query = newQuery();
    if (!query) return false;
    query->oldName = oldName;
    query->newName = newName;
    return askChange(index, PaneQueryRename, query);
}

void paneRepaintItem(int index, int item) {
    if (!validPane(index)) return;
    post(index, CodeRepaint, 0);
    (void)item;
}

void paneRepaint(int index) {
    if (validPane(index)) post(index, CodeRepaint, 0);
}

bool paneItemRewritten(int index, int item, const wchar_t* name, int commentDelta, int metaDelta, uint32_t fileSize,
                       const FileTime& lastWriteTime) {
    if (!validPane(index) || !name) return false;
    PaneQuery* query = newQuery();
    if (!query) return false;
    query->item = item;
    query->oldName = name;
    query->commentDelta = commentDelta;
    query->metaDelta = metaDelta;
    query->fileSize = fileSize;
    query->lastWriteTime = lastWriteTime;
    return askChange(index, PaneQueryAddCounts, query);
}

void setPaneQueryWait(uint32_t milliseconds) { g_queryWaitMs.store(milliseconds); }

int paneQueriesAlive() { return g_queriesAlive.load(); }
