// The options dialog (1000, "オプション") with its pages "設定" (1100), "ツール登録" (1300) and
// "プラグイン" (1400). It edits a working copy and writes AppSettings only on OK or "適用".
// Main thread only.
#pragma once

#include <windows.h>

#include <string>

constexpr int kOptionsDialogId = 1000;

// The Options command: runs the dialog modally (the caller sets the modal flag).
void showOptionsDialog(HWND owner);

// The same dialog without a modal loop (tests): the caller pumps messages; OK and
// "キャンセル" destroy it. nullptr while a pane is busy or another options dialog is open.
HWND createOptionsDialog(HWND owner);
// Page 0 ("設定"), 1 ("ツール登録") or 2 ("プラグイン") of the open dialog, or nullptr.
HWND optionsPage(int index);

// The Send To shortcut of a program: the user's Send To folder joined with the program's
// file name, its extension replaced by ".lnk". Empty when the folder is unknown.
std::wstring sendToShortcutPath(const wchar_t* programPath);
// Creates (or replaces) a shell link at linkPath to programPath: no arguments, the program's
// first icon, normal show command. The caller's thread has COM initialised. False on failure.
bool createProgramShortcut(const wchar_t* linkPath, const wchar_t* programPath);

// The name a tool is shown under: its file name without folder and extension.
std::wstring toolDisplayName(const wchar_t* path);
