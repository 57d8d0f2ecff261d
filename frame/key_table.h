// The accelerator table: 56 entries in the fixed command order, its stored 672-byte record
// ("Akey" / "SaveKey"), the live accelerator handle shared by the three message loops, and the
// shortcut labels shown in the menus and in the key customisation dialog.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <string>

#include "frame/command_table.h"

constexpr size_t kAccelRecordSize = 672;  // 56 entries of three little-endian 32-bit fields

struct AcceleratorTable {
    ACCEL entries[kCommandCount];
};

// The built-in shortcuts.
void fillDefaultAccelerators(AcceleratorTable& table);

// Merges a stored record into the table. Returns false (table untouched) unless the record has
// exactly 672 bytes. Unknown commands are ignored; flags above 15 become 1, keys above 255 become 0.
bool mergeAcceleratorRecord(AcceleratorTable& table, const uint8_t* record, size_t size);

// The stored form of the table.
void packAcceleratorRecord(const AcceleratorTable& table, uint8_t out[kAccelRecordSize]);

// Labels of one entry: modifier and key text; both "" when the key has no text.
const wchar_t* shortcutModifierLabel(const ACCEL& entry);
const wchar_t* shortcutKeyLabel(const ACCEL& entry);
std::wstring shortcutText(const ACCEL& entry);

// Reads "SaveKey" from the settings file into `table` (defaults first). Returns true when a
// stored record was read and merged.
bool readAcceleratorRecord(const wchar_t* iniPath, AcceleratorTable& table);
// Deletes section "Akey" and writes "SaveKey" from `table`.
bool writeAcceleratorRecord(const wchar_t* iniPath, const AcceleratorTable& table);

// --- the live table (main thread writes, all three loops read the handle) ---
const AcceleratorTable& liveAccelerators();
// Accelerator handle offered every message by the message loops; nullptr before loading.
HACCEL acceleratorHandle();
// Start-up: defaults, stored record, live handle.
void loadAccelerators(const wchar_t* iniPath);
// Shutdown, after the pane threads ended: writes the record and destroys the live handle
// and every handle it replaced.
void saveAccelerators(const wchar_t* iniPath);
// Handles replaced since start-up and not yet destroyed (a pane may still translate with one).
size_t retiredAcceleratorTables();
// Replaces the live table and handle; rebuilds the menus when they exist.
void applyAccelerators(const AcceleratorTable& table);
// Replaces the live table and handle only (used by applyAccelerators and start-up).
void setLiveAccelerators(const AcceleratorTable& table);
