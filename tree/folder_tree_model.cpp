#include "tree/folder_tree_model.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/private_heap.h"
#include "base/text_utils.h"
#include "base/win_handles.h"

FolderTreeModel g_treeModel;

namespace {

constexpr DWORD kShellQuery = SFGAO_HASSUBFOLDER | SFGAO_FOLDER | SFGAO_SHARE;

// Bytes of an item ID list without its terminating zero size.
size_t idListBytes(LPCITEMIDLIST list) {
    size_t total = 0;
    if (!list) return 0;
    const BYTE* p = reinterpret_cast<const BYTE*>(list);
    for (;;) {
        USHORT cb;
        std::memcpy(&cb, p + total, sizeof cb);
        if (cb == 0) return total;
        total += cb;
    }
}

// parent + child in one zero-filled block (the two extra bytes are the terminator).
LPITEMIDLIST joinIdLists(LPCITEMIDLIST parent, LPCITEMIDLIST child) {
    const size_t a = idListBytes(parent), b = idListBytes(child);
    auto* block = static_cast<BYTE*>(privateHeapAlloc(a + b + 2));
    if (!block) return nullptr;
    if (a) std::memcpy(block, parent, a);
    if (b) std::memcpy(block + a, child, b);
    return reinterpret_cast<LPITEMIDLIST>(block);
}

FolderNode* newNode() { return static_cast<FolderNode*>(privateHeapAlloc(sizeof(FolderNode))); }

bool copyPath(wchar_t* out, const wchar_t* in) { return copyText(out, kPathCapacity, in); }

// path + "\" + name (no doubled backslash after a drive root); false when it does not fit.
bool joinPath(wchar_t* out, const wchar_t* folder, const wchar_t* name) {
    const size_t a = std::wcslen(folder), b = std::wcslen(name);
    const bool slash = a > 0 && folder[a - 1] != L'\\';
    if (a + (slash ? 1 : 0) + b >= size_t(kPathCapacity)) return false;
    std::wmemcpy(out, folder, a);
    size_t at = a;
    if (slash) out[at++] = L'\\';
    std::wmemcpy(out + at, name, b + 1);
    return true;
}

// A directory entry that the registered branch shows as a folder.
bool passesFolderFilter(const WIN32_FIND_DATAW& fd) {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) return false;
    if (fd.dwFileAttributes & DWORD(g_settings.hiddenMask)) return false;
    return fd.cFileName[0] != L'.';
}

// The listing pattern "path\*"; false when it does not fit.
bool listPattern(wchar_t* out, const wchar_t* path) { return joinPath(out, path, L"*"); }

bool hasChildFolder(const wchar_t* path) {
    wchar_t pattern[kPathCapacity];
    if (!listPattern(pattern, path)) return false;
    WIN32_FIND_DATAW fd;
    FindHandle h(FindFirstFileW(pattern, &fd));
    if (!h) return false;
    bool found = false;
    do {
        if (passesFolderFilter(fd)) found = true;
    } while (!found && FindNextFileW(h.get(), &fd));
    return found;
}

// The shell's icons of a plain folder, asked once: asking per folder costs milliseconds each
// (the shell opens the folder to look for a customisation), which a folder with thousands of
// subfolders cannot afford. Only read-only or system folders can carry a customisation.
struct GenericFolderIcons {
    bool ready = false;
    int closed = 0, open = 0;
};
GenericFolderIcons g_folderIcons;

const GenericFolderIcons& folderIcons() {
    if (!g_folderIcons.ready) {
        SHFILEINFOW sfi{};
        const UINT flags = SHGFI_USEFILEATTRIBUTES | SHGFI_SYSICONINDEX | SHGFI_SMALLICON;
        if (SHGetFileInfoW(L"folder", FILE_ATTRIBUTE_DIRECTORY, &sfi, sizeof sfi, flags)) g_folderIcons.closed = sfi.iIcon;
        if (SHGetFileInfoW(L"folder", FILE_ATTRIBUTE_DIRECTORY, &sfi, sizeof sfi, flags | SHGFI_OPENICON))
            g_folderIcons.open = sfi.iIcon;
        g_folderIcons.ready = true;
    }
    return g_folderIcons;
}

bool isPlainFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
}

bool strRetText(STRRET& str, LPCITEMIDLIST child, wchar_t* out) {
    out[0] = L'\0';
    return SUCCEEDED(StrRetToBufW(&str, child, out, kPathCapacity)) && out[0];
}

// The node's own folder, bound when it is first listed (binding every child at insertion
// would cost more than listing a large folder).
IShellFolder* shellFolderOf(FolderNode* node) {
    if (!node->folder && node->absolute && g_treeModel.desktopFolder) {
        if (idListBytes(node->absolute) == 0) {
            node->folder = g_treeModel.desktopFolder;
            node->folder->AddRef();
        } else if (FAILED(g_treeModel.desktopFolder->BindToObject(node->absolute, nullptr, IID_IShellFolder,
                                                                  reinterpret_cast<void**>(&node->folder)))) {
            node->folder = nullptr;
        }
    }
    return node->folder;
}

HTREEITEM insertItem(HTREEITEM parent, HTREEITEM after, const wchar_t* text, int image, int selectedImage,
                     int children, UINT overlayState, FolderNode* node) {
    TVINSERTSTRUCTW ins{};
    ins.hParent = parent;
    ins.hInsertAfter = after;
    ins.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_PARAM;
    ins.item.pszText = const_cast<wchar_t*>(text);
    ins.item.iImage = image;
    ins.item.iSelectedImage = selectedImage;
    ins.item.cChildren = children;
    ins.item.lParam = reinterpret_cast<LPARAM>(node);
    if (overlayState) {
        ins.item.mask |= TVIF_STATE;
        ins.item.state = overlayState;
        ins.item.stateMask = TVIS_OVERLAYMASK;
    }
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(g_treeModel.tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

void releaseShellNode(FolderNode* node) {
    if (node->folder) node->folder->Release();
    if (node->relative) CoTaskMemFree(node->relative);
    privateHeapFree(node->absolute);
    privateHeapFree(node);
}

// Text and icons of a path (display name, small icon, small open icon).
void pathLook(const wchar_t* path, wchar_t* text, int* image, int* selectedImage) {
    SHFILEINFOW sfi{};
    text[0] = L'\0';
    *image = *selectedImage = 0;
    if (SHGetFileInfoW(path, 0, &sfi, sizeof sfi, SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON)) {
        copyPath(text, sfi.szDisplayName);
        *image = sfi.iIcon;
    }
    if (SHGetFileInfoW(path, 0, &sfi, sizeof sfi, SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_OPENICON))
        *selectedImage = sfi.iIcon;
    if (!text[0]) copyPath(text, PathFindFileNameW(path));
}

int CALLBACK compareShellChildren(LPARAM a, LPARAM b, LPARAM parentFolder) {
    auto* folder = reinterpret_cast<IShellFolder*>(parentFolder);
    auto* na = reinterpret_cast<FolderNode*>(a);
    auto* nb = reinterpret_cast<FolderNode*>(b);
    if (!na || !nb || !folder) return 0;
    const HRESULT hr = folder->CompareIDs(0, na->relative, nb->relative);
    return short(HRESULT_CODE(hr));
}

bool itemHasChild(HTREEITEM item) { return TreeView_GetChild(g_treeModel.tree, item) != nullptr; }

void populateRegisteredRoot(HTREEITEM root) {
    RegisteredFolderList& list = g_settings.folders;
    bool inserted = false;
    for (int slot = 0; slot < kRegisteredFolderMax && list.paths[slot][0];) {
        if (!isDirectory(list.paths[slot])) {
            registeredListRemoveAt(list, slot);  // the next entry moved into this slot
            continue;
        }
        if (treeInsertPathChild(list.paths[slot], root, RoleRegistered)) inserted = true;
        ++slot;
    }
    if (!inserted) treeResetChildren(root, 0);
}

struct PendingPathChild {
    std::wstring name;
    std::wstring path;
    DWORD attributes;
};

void populatePathNode(HTREEITEM item, const FolderNode* node) {
    wchar_t pattern[kPathCapacity];
    std::vector<PendingPathChild> found;
    if (listPattern(pattern, node->path)) {
        WIN32_FIND_DATAW fd;
        FindHandle h(FindFirstFileW(pattern, &fd));
        if (h) {
            do {
                wchar_t child[kPathCapacity];
                if (passesFolderFilter(fd) && joinPath(child, node->path, fd.cFileName))
                    found.push_back({fd.cFileName, child, fd.dwFileAttributes});
            } while (FindNextFileW(h.get(), &fd));
        }
    }
    // Sorted here as the control sorts (case-insensitive by text), then appended: inserting
    // thousands of siblings one by one in sorted position would cost a walk each.
    std::sort(found.begin(), found.end(), [](const PendingPathChild& a, const PendingPathChild& b) {
        return lstrcmpiW(a.name.c_str(), b.name.c_str()) < 0;
    });
    bool inserted = false;
    SendMessageW(g_treeModel.tree, WM_SETREDRAW, FALSE, 0);
    for (const PendingPathChild& c : found) {
        FolderNode* child = newNode();
        if (!child) continue;
        child->kind = NodePath;
        child->role = RoleSubfolder;
        child->path = child->pathBuffer;
        copyPath(child->pathBuffer, c.path.c_str());
        wchar_t text[kPathCapacity];
        int image = 0, selected = 0, children = I_CHILDRENCALLBACK;  // asked when shown
        if (isPlainFolder(c.attributes)) {
            copyPath(text, c.name.c_str());
            image = folderIcons().closed;
            selected = folderIcons().open;
        } else {
            pathLook(child->path, text, &image, &selected);
            children = hasChildFolder(child->path) ? 1 : 0;
        }
        if (insertItem(item, TVI_LAST, text, image, selected, children, 0, child)) {
            inserted = true;
        } else {
            privateHeapFree(child);
        }
    }
    SendMessageW(g_treeModel.tree, WM_SETREDRAW, TRUE, 0);
    if (!inserted) treeResetChildren(item, 0);
}

// A shell child of `parentFolder` (absolute list `parentList`, null for the Desktop itself);
// takes ownership of `child` only when an item was inserted.
// `parentPath`: the parent's file-system folder when it has one; its children are then
// looked at through the parent's names and their attributes, without a shell query each.
HTREEITEM insertShellChild(IShellFolder* parentFolder, LPCITEMIDLIST parentList, HTREEITEM parentItem,
                           LPITEMIDLIST child, const wchar_t* parentPath) {
    if (!parentFolder || !child) return nullptr;
    const bool isDesktop = parentList == nullptr;
    SFGAOF attributes = kShellQuery | SFGAO_FILESYSTEM;
    if (isDesktop) {
        attributes = SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
    } else {
        LPCITEMIDLIST one = child;
        if (FAILED(parentFolder->GetAttributesOf(1, &one, &attributes))) return nullptr;
    }
    if (!(attributes & SFGAO_FOLDER)) return nullptr;

    // The child's path and attributes: from the parent's folder and the child's own name
    // when the parent is a file-system folder, else from the shell.
    wchar_t path[MAX_PATH] = {};
    bool hasPath = false;
    DWORD fileAttributes = INVALID_FILE_ATTRIBUTES;
    STRRET str{};
    wchar_t name[kPathCapacity];
    if (parentPath && (attributes & SFGAO_FILESYSTEM) &&
        SUCCEEDED(parentFolder->GetDisplayNameOf(child, SHGDN_INFOLDER | SHGDN_FORPARSING, &str)) &&
        strRetText(str, child, name) && !std::wcschr(name, L'\\')) {
        hasPath = joinPath(path, parentPath, name);
    }

    FolderNode* node = newNode();
    if (!node) return nullptr;
    node->kind = NodeShell;
    node->absolute = joinIdLists(parentList, child);
    if (!node->absolute) {
        privateHeapFree(node);
        return nullptr;
    }
    if (isDesktop) {
        node->folder = parentFolder;
        parentFolder->AddRef();
    }
    if (!hasPath) hasPath = SHGetPathFromIDListW(node->absolute, path) != FALSE;
    if (hasPath) fileAttributes = GetFileAttributesW(path);
    if (hasPath && !PathIsRootW(path) && fileAttributes != INVALID_FILE_ATTRIBUTES &&
        (fileAttributes & DWORD(g_settings.hiddenMask))) {
        releaseShellNode(node);  // the caller still owns `child`
        return nullptr;
    }

    wchar_t text[kPathCapacity] = {};
    int image = 0, selected = 0;
    if (parentPath && hasPath && isPlainFolder(fileAttributes) &&
        SUCCEEDED(parentFolder->GetDisplayNameOf(child, SHGDN_INFOLDER, &str)) && strRetText(str, child, text)) {
        image = folderIcons().closed;
        selected = folderIcons().open;
    } else {
        SHFILEINFOW sfi{};
        const auto pidl = reinterpret_cast<LPCWSTR>(node->absolute);
        if (SHGetFileInfoW(pidl, 0, &sfi, sizeof sfi, SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX |
                                                          SHGFI_SMALLICON)) {
            copyPath(text, sfi.szDisplayName);
            image = sfi.iIcon;
        }
        if (SHGetFileInfoW(pidl, 0, &sfi, sizeof sfi, SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON |
                                                          SHGFI_OPENICON))
            selected = sfi.iIcon;
    }
    const UINT overlay = (attributes & SFGAO_SHARE) ? INDEXTOOVERLAYMASK(1) : 0;
    node->relative = child;
    HTREEITEM item = insertItem(parentItem, TVI_LAST, text, image, selected,
                                (attributes & SFGAO_HASSUBFOLDER) ? 1 : 0, overlay, node);
    if (!item) {
        node->relative = nullptr;  // stays the caller's
        releaseShellNode(node);
    }
    return item;
}

void populateShellNode(HTREEITEM item, FolderNode* node) {
    IEnumIDList* enumerator = nullptr;
    bool inserted = false;
    IShellFolder* folder = shellFolderOf(node);
    wchar_t parentPath[MAX_PATH] = {};
    if (!node->absolute || idListBytes(node->absolute) == 0 || !SHGetPathFromIDListW(node->absolute, parentPath))
        parentPath[0] = L'\0';
    if (folder && folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_INCLUDEHIDDEN, &enumerator) == S_OK &&
        enumerator) {
        SendMessageW(g_treeModel.tree, WM_SETREDRAW, FALSE, 0);
        LPITEMIDLIST child = nullptr;
        ULONG fetched = 0;
        while (enumerator->Next(1, &child, &fetched) == S_OK && fetched == 1) {
            if (!child) continue;
            if (insertShellChild(folder, node->absolute, item, child, parentPath[0] ? parentPath : nullptr)) {
                inserted = true;
            } else {
                CoTaskMemFree(child);
            }
            child = nullptr;
        }
        enumerator->Release();
        if (inserted) {
            TVSORTCB sort{};
            sort.hParent = item;
            sort.lpfnCompare = compareShellChildren;
            sort.lParam = reinterpret_cast<LPARAM>(node->folder);
            SendMessageW(g_treeModel.tree, TVM_SORTCHILDRENCB, 0, reinterpret_cast<LPARAM>(&sort));
        }
        SendMessageW(g_treeModel.tree, WM_SETREDRAW, TRUE, 0);
    }
    if (!inserted) treeResetChildren(item, 0);
}

}  // namespace

// ---------------------------------------------------------------- the list

bool registeredListRemoveAt(RegisteredFolderList& list, int slot) {
    if (slot < 0 || slot >= kRegisteredFolderMax || !list.paths[slot][0]) return false;
    int last = slot;
    while (last + 1 < kRegisteredFolderMax && list.paths[last + 1][0]) ++last;
    for (int i = slot; i < last; ++i) std::wmemcpy(list.paths[i], list.paths[i + 1], kPathCapacity);
    std::wmemset(list.paths[last], 0, kPathCapacity);
    return true;
}

int registeredListFind(const RegisteredFolderList& list, const wchar_t* path) {
    for (int i = 0; i < kRegisteredFolderMax && list.paths[i][0]; ++i)
        if (samePath(list.paths[i], path)) return i;
    return -1;
}

int registeredListRename(RegisteredFolderList& list, const wchar_t* oldPath, const wchar_t* newPath) {
    size_t oldLength = std::wcslen(oldPath);
    while (oldLength > 0 && oldPath[oldLength - 1] == L'\\') --oldLength;  // a closing backslash is no part of the name
    if (oldLength == 0) return 0;
    int renamed = 0;
    for (int i = 0; i < kRegisteredFolderMax && list.paths[i][0]; ++i) {
        wchar_t* entry = list.paths[i];
        std::wstring moved;
        if (samePath(entry, oldPath)) {
            moved = newPath;
        } else if (std::wcslen(entry) > oldLength && entry[oldLength] == L'\\') {
            // An entry inside the renamed folder keeps its place below the new name.
            const std::wstring head(entry, oldLength);
            if (!samePath(head.c_str(), std::wstring(oldPath, oldLength).c_str())) continue;
            moved = std::wstring(newPath) + (entry + oldLength);
        } else {
            continue;
        }
        // A name too long for the list's buffer stays as it was and leaves the list at its next
        // listing, as any vanished folder does.
        if (moved.size() >= size_t(kPathCapacity)) continue;
        std::wmemcpy(entry, moved.c_str(), moved.size() + 1);
        ++renamed;
    }
    return renamed;
}

// ---------------------------------------------------------------- building the tree

HTREEITEM treeInitialise(HWND tree) {
    g_treeModel.tree = tree;
    g_treeModel.desktop = g_treeModel.registeredRoot = nullptr;
    if (g_treeModel.desktopFolder) g_treeModel.desktopFolder->Release();
    g_treeModel.desktopFolder = nullptr;
    if (FAILED(SHGetDesktopFolder(&g_treeModel.desktopFolder)) || !g_treeModel.desktopFolder) return nullptr;
    LPITEMIDLIST desktopList = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &desktopList)) || !desktopList) return nullptr;
    SHFILEINFOW sfi{};
    auto images = reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(reinterpret_cast<LPCWSTR>(desktopList), 0, &sfi,
                                                              sizeof sfi,
                                                              SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON));
    if (images) SendMessageW(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
    g_treeModel.desktop = insertShellChild(g_treeModel.desktopFolder, nullptr, TVI_ROOT, desktopList, nullptr);
    if (!g_treeModel.desktop) CoTaskMemFree(desktopList);
    return g_treeModel.desktop;
}

HTREEITEM treeInsertRegisteredRoot() {
    FolderNode* node = newNode();
    if (!node) return nullptr;
    node->kind = NodePath;
    node->role = RoleRegisteredRoot;
    int image = 0;
    LPITEMIDLIST favourites = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_FAVORITES, &favourites)) && favourites) {
        SHFILEINFOW sfi{};
        if (SHGetFileInfoW(reinterpret_cast<LPCWSTR>(favourites), 0, &sfi, sizeof sfi,
                           SHGFI_PIDL | SHGFI_SYSICONINDEX | SHGFI_SMALLICON))
            image = sfi.iIcon;
        CoTaskMemFree(favourites);
    }
    g_treeModel.registeredRoot = insertItem(TVI_ROOT, TVI_LAST, L"登録フォルダ", image, image, 1, 0, node);
    if (!g_treeModel.registeredRoot) privateHeapFree(node);
    return g_treeModel.registeredRoot;
}

void treeReleaseModel() {
    if (g_treeModel.desktopFolder) g_treeModel.desktopFolder->Release();
    g_treeModel = FolderTreeModel{};
}

HTREEITEM treeInsertPathChild(const wchar_t* path, HTREEITEM parentItem, int role) {
    if (!path || std::wcslen(path) >= size_t(kPathCapacity)) return nullptr;
    FolderNode* node = newNode();
    if (!node) return nullptr;
    node->kind = NodePath;
    node->role = role;
    node->path = node->pathBuffer;
    copyPath(node->pathBuffer, path);
    wchar_t text[kPathCapacity];
    int image = 0, selected = 0;
    pathLook(path, text, &image, &selected);
    HTREEITEM item = insertItem(parentItem, TVI_SORT, text, image, selected, hasChildFolder(path) ? 1 : 0, 0, node);
    if (!item) privateHeapFree(node);
    return item;
}

void treePopulate(HTREEITEM item) {
    FolderNode* node = treeNodeOf(item);
    if (!node) return;
    if (node->kind == NodeShell) {
        populateShellNode(item, node);
    } else if (node->role == RoleRegisteredRoot) {
        populateRegisteredRoot(item);
    } else {
        populatePathNode(item, node);
    }
}

int treeChildrenOnDemand(const FolderNode* node) {
    if (!node || node->kind != NodePath || !node->path) return 0;
    return hasChildFolder(node->path) ? 1 : 0;
}

void treeResetChildren(HTREEITEM item, int count) {
    TVITEMW tv{};
    tv.mask = TVIF_CHILDREN | TVIF_STATE;
    tv.hItem = item;
    tv.cChildren = count;
    tv.state = 0;
    tv.stateMask = TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    SendMessageW(g_treeModel.tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

void treeFreeNode(FolderNode* node) {
    if (!node) return;
    if (node->kind == NodeShell) {
        releaseShellNode(node);
    } else {
        privateHeapFree(node);
    }
}

// ---------------------------------------------------------------- queries

FolderNode* treeNodeOf(HTREEITEM item) {
    if (!item || !g_treeModel.tree) return nullptr;
    TVITEMW tv{};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    if (!SendMessageW(g_treeModel.tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    return reinterpret_cast<FolderNode*>(tv.lParam);
}

bool treeRawPathOfItem(HTREEITEM item, wchar_t* out) {
    out[0] = L'\0';
    const FolderNode* node = treeNodeOf(item);
    if (!node) return false;
    if (node->kind == NodeShell) {
        wchar_t buffer[MAX_PATH] = {};
        if (!node->absolute || !SHGetPathFromIDListW(node->absolute, buffer)) return false;
        return copyPath(out, buffer) && out[0];
    }
    if (node->role == RoleRegisteredRoot || !node->path) return false;
    return copyPath(out, node->path) && out[0];
}

bool treePathOfItem(HTREEITEM item, wchar_t* out) {
    if (treeRawPathOfItem(item, out) && PathIsDirectoryW(out)) return true;
    out[0] = L'\0';
    return false;
}

HTREEITEM treeFindChildByPath(const wchar_t* path, HTREEITEM parent) {
    for (HTREEITEM c = TreeView_GetChild(g_treeModel.tree, parent); c; c = TreeView_GetNextSibling(g_treeModel.tree, c)) {
        wchar_t p[kPathCapacity];
        if (treeRawPathOfItem(c, p) && samePath(p, path)) return c;
    }
    return nullptr;
}

bool treeIsAddable(HTREEITEM item) {
    const FolderNode* node = treeNodeOf(item);
    if (!node) return false;
    if (node->kind == NodePath) return node->role == RoleSubfolder;
    wchar_t path[kPathCapacity];
    return treePathOfItem(item, path);
}

bool treeIsRegistered(HTREEITEM item) {
    const FolderNode* node = treeNodeOf(item);
    return node && node->kind == NodePath && node->role == RoleRegistered;
}

// ---------------------------------------------------------------- registered folders

AddResult treeAddRegisteredFolder(const wchar_t* path, HTREEITEM* item) {
    *item = nullptr;
    if (!path || std::wcslen(path) >= size_t(kPathCapacity) || !isDirectory(path)) return AddResult::NotADirectory;
    HTREEITEM root = g_treeModel.registeredRoot;
    if (!root) return AddResult::NotADirectory;
    SendMessageW(g_treeModel.tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
    RegisteredFolderList& list = g_settings.folders;
    int slot = 0;
    for (; slot < kRegisteredFolderMax && list.paths[slot][0]; ++slot) {
        if (samePath(list.paths[slot], path)) {
            *item = treeFindChildByPath(path, root);
            return AddResult::Existing;
        }
    }
    if (slot == kRegisteredFolderMax) return AddResult::ListFull;
    copyPath(list.paths[slot], path);
    if (slot == 0) {
        treeResetChildren(root, 1);
        SendMessageW(g_treeModel.tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
        *item = treeFindChildByPath(path, root);
    } else {
        *item = treeInsertPathChild(path, root, RoleRegistered);
    }
    return AddResult::Added;
}

bool treeRemoveRegisteredFolder(HTREEITEM item) {
    const FolderNode* node = treeNodeOf(item);
    if (!node || node->kind != NodePath || node->role != RoleRegistered) return false;
    registeredListRemoveAt(g_settings.folders, registeredListFind(g_settings.folders, node->path));
    SendMessageW(g_treeModel.tree, TVM_SELECTITEM, TVGN_CARET, 0);
    SendMessageW(g_treeModel.tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item));
    if (!itemHasChild(g_treeModel.registeredRoot)) treeResetChildren(g_treeModel.registeredRoot, 0);
    return true;
}

int treeRenameRegisteredFolders(const wchar_t* oldPath, const wchar_t* newPath) {
    if (!oldPath || !newPath || std::wcslen(newPath) >= size_t(kPathCapacity)) return 0;
    return registeredListRename(g_settings.folders, oldPath, newPath);
}
