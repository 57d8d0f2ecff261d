#include "frame/key_table.h"

#include <cstring>
#include <vector>

#include "base/key_record.h"
#include "base/win_state.h"
#include "frame/menus.h"

namespace {
AcceleratorTable defaultTable() {
    AcceleratorTable t;
    fillDefaultAccelerators(t);
    return t;
}
AcceleratorTable g_live = defaultTable();

}  // namespace

void fillDefaultAccelerators(AcceleratorTable& table) {
    for (int i = 0; i < kCommandCount; ++i) {
        table.entries[i].fVirt = kCommands[i].defaultFlags;
        table.entries[i].key = kCommands[i].defaultKey;
        table.entries[i].cmd = kCommands[i].id;
    }
}

static_assert(kCommandCount == kKeyRecordEntries && kAccelRecordSize == kKeyRecordSize);

namespace {
void toRecordEntries(const AcceleratorTable& table, KeyRecordEntry (&out)[kKeyRecordEntries]) {
    for (int i = 0; i < kCommandCount; ++i)
        out[i] = {table.entries[i].fVirt, table.entries[i].key, uint16_t(table.entries[i].cmd & 0xFFFF)};
}
}  // namespace

bool mergeAcceleratorRecord(AcceleratorTable& table, const uint8_t* record, size_t size) {
    KeyRecordEntry entries[kKeyRecordEntries];
    toRecordEntries(table, entries);
    if (!mergeKeyRecord(entries, record, size)) return false;
    for (int i = 0; i < kCommandCount; ++i) {
        table.entries[i].fVirt = entries[i].flags;
        table.entries[i].key = entries[i].key;
    }
    return true;
}

void packAcceleratorRecord(const AcceleratorTable& table, uint8_t out[kAccelRecordSize]) {
    KeyRecordEntry entries[kKeyRecordEntries];
    toRecordEntries(table, entries);
    packKeyRecord(entries, out);
}

const wchar_t* shortcutKeyLabel(const ACCEL& entry) { return keyLabel(entry.key); }

const wchar_t* shortcutModifierLabel(const ACCEL& entry) {
    // A modifier without a key is no shortcut: show nothing rather than a dangling "Ctrl+".
    if (!*keyLabel(entry.key)) return L"";
    return modifierLabel(entry.fVirt & 0x0F);
}

std::wstring shortcutText(const ACCEL& entry) {
    return std::wstring(shortcutModifierLabel(entry)) + shortcutKeyLabel(entry);
}

bool readAcceleratorRecord(const wchar_t* iniPath, AcceleratorTable& table) {
    fillDefaultAccelerators(table);
    if (!iniPath || !*iniPath) return false;
    uint8_t record[kAccelRecordSize];
    std::memset(record, 0, sizeof record);
    // Fails on a missing key, a different size or a bad checksum: the defaults stand.
    if (!GetPrivateProfileStructW(L"Akey", L"SaveKey", record, UINT(sizeof record), iniPath)) return false;
    return mergeAcceleratorRecord(table, record, sizeof record);
}

bool writeAcceleratorRecord(const wchar_t* iniPath, const AcceleratorTable& table) {
    if (!iniPath || !*iniPath) return false;
    uint8_t record[kAccelRecordSize];
    packAcceleratorRecord(table, record);
    WritePrivateProfileStringW(L"Akey", nullptr, nullptr, iniPath);
    return WritePrivateProfileStructW(L"Akey", L"SaveKey", record, UINT(sizeof record), iniPath) != FALSE;
}

const AcceleratorTable& liveAccelerators() { return g_live; }
HACCEL acceleratorHandle() { return g_accelerators; }

namespace {

// Tables replaced while the program runs. The pane threads translate with whatever table
// they read last, possibly while the main thread replaces it, so an old table is destroyed
// only at shutdown, after both pane threads have ended. Keys change rarely: a few tables.
std::vector<HACCEL> g_retiredTables;

void destroyRetiredTables() {
    for (HACCEL table : g_retiredTables) DestroyAcceleratorTable(table);
    g_retiredTables.clear();
}

}  // namespace

size_t retiredAcceleratorTables() { return g_retiredTables.size(); }

void setLiveAccelerators(const AcceleratorTable& table) {
    g_live = table;
    ACCEL copy[kCommandCount];
    std::memcpy(copy, table.entries, sizeof copy);
    HACCEL fresh = CreateAcceleratorTableW(copy, kCommandCount);
    HACCEL old = g_accelerators;
    g_accelerators = fresh;
    if (old) g_retiredTables.push_back(old);
}

void loadAccelerators(const wchar_t* iniPath) {
    AcceleratorTable table;
    readAcceleratorRecord(iniPath, table);
    setLiveAccelerators(table);
}

void saveAccelerators(const wchar_t* iniPath) {
    writeAcceleratorRecord(iniPath, g_live);
    HACCEL old = g_accelerators;
    g_accelerators = nullptr;
    if (old) DestroyAcceleratorTable(old);
    destroyRetiredTables();
}

void applyAccelerators(const AcceleratorTable& table) {
    setLiveAccelerators(table);
    rebuildMenus();
}
