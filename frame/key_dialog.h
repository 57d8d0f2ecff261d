// The key customisation dialog (2200): edits a working copy of the accelerator table.
#pragma once

#include <windows.h>

#include "frame/key_table.h"

constexpr int kKeyDialogId = 2200;

struct KeyDialogSession {
    AcceleratorTable* table = nullptr;  // the working copy being edited
    bool changed = false;               // set by every change
    bool modeless = false;              // tests run the dialog without its own loop
};

// Runs the dialog modally over `session.table`; returns when it is closed.
void runKeyCustomisationDialog(HWND owner, KeyDialogSession& session);
// The same dialog without a modal loop (tests): the caller pumps messages; "閉じる" destroys it.
HWND createKeyCustomisationDialog(HWND owner, KeyDialogSession& session);

// Message boxes of the dialog go through this pointer (tests record them instead).
extern int (*g_keyDialogMessageBox)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
