// The folder tree's model: one tree-view control holds the shell namespace below the Desktop
// and the registered folders below "登録フォルダ". Children exist only below items that were
// expanded; every item's lParam points to its FolderNode. Main thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdint>

#include "base/settings.h"

enum FolderNodeKind : int32_t { NodeShell = 0, NodePath = 1 };
enum PathNodeRole : int32_t { RoleRegisteredRoot = 0, RoleRegistered = 1, RoleSubfolder = 2 };

struct FolderNode {
    int32_t kind;            // FolderNodeKind
    IShellFolder* folder;    // shell node: its own folder (the Desktop: the desktop folder), bound
                             // when the node is first listed
    LPITEMIDLIST relative;   // shell node: the child list as the parent's enumerator gave it
    int32_t role;            // path node: PathNodeRole
    LPITEMIDLIST absolute;   // shell node: parent's absolute list + relative (private heap)
    wchar_t* path;           // path node of role 1 or 2: points at pathBuffer
    wchar_t pathBuffer[kPathCapacity];
};

struct FolderTreeModel {
    HWND tree = nullptr;
    HTREEITEM desktop = nullptr;
    HTREEITEM registeredRoot = nullptr;
    IShellFolder* desktopFolder = nullptr;
};
extern FolderTreeModel g_treeModel;

// Gives the tree the system image list and inserts the Desktop item; returns it.
HTREEITEM treeInitialise(HWND tree);
// Inserts "登録フォルダ" after the Desktop item; returns it.
HTREEITEM treeInsertRegisteredRoot();
// Releases what the model holds besides the nodes (the desktop folder).
void treeReleaseModel();

// A path child (role 1 or 2), inserted sorted by name.
HTREEITEM treeInsertPathChild(const wchar_t* path, HTREEITEM parentItem, int role);
// Fills the children of an item about to expand.
void treePopulate(HTREEITEM item);
// The children count of a subfolder item inserted with the count left for the control to ask
// (TVN_GETDISPINFO), so that listing a folder does not open each of its subfolders.
int treeChildrenOnDemand(const FolderNode* node);
// Sets the children count (0 or 1) and clears the expanded and expanded-once states.
void treeResetChildren(HTREEITEM item, int count);
// TVN_DELETEITEM: releases everything the node owns.
void treeFreeNode(FolderNode* node);

FolderNode* treeNodeOf(HTREEITEM item);
// The item's folder; true only for an existing directory (out is emptied otherwise).
bool treePathOfItem(HTREEITEM item, wchar_t* out);
// The same without the directory test (false when the item has no file-system path).
bool treeRawPathOfItem(HTREEITEM item, wchar_t* out);
// The first direct child of `parent` whose path is exactly `path`.
HTREEITEM treeFindChildByPath(const wchar_t* path, HTREEITEM parent);

// A shell node with an existing directory path, or a subfolder below a registered folder.
bool treeIsAddable(HTREEITEM item);
bool treeIsRegistered(HTREEITEM item);

enum class AddResult { Added, Existing, NotADirectory, ListFull };
// Registers `path`; the item that stands for it under "登録フォルダ" in *item (null unless
// Added or Existing). A full list refuses the folder rather than showing an entry that
// would be lost at exit.
AddResult treeAddRegisteredFolder(const wchar_t* path, HTREEITEM* item);
// Removes a registered folder item (role 1) from the list and the tree.
bool treeRemoveRegisteredFolder(HTREEITEM item);
// A folder renamed on disk: every list entry that is oldPath or lies inside it follows to
// newPath (whether or not its item is in the tree); returns how many changed.
int treeRenameRegisteredFolders(const wchar_t* oldPath, const wchar_t* newPath);

// List rules on the stored record (also used by the tests).
bool registeredListRemoveAt(RegisteredFolderList& list, int slot);
int registeredListFind(const RegisteredFolderList& list, const wchar_t* path);
int registeredListRename(RegisteredFolderList& list, const wchar_t* oldPath, const wchar_t* newPath);
