// The stored accelerator record ("SaveKey" in section "Akey") merged into a table of 56
// commands. The bytes are the record; a record of the wrong size must change nothing, so any
// input is also merged again cut or padded to 672 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/command_ids.h"
#include "base/key_record.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// A table like the program's: distinct command ids, some defaults with keys.
void fillTable(KeyRecordEntry (&table)[kKeyRecordEntries]) {
    for (int i = 0; i < kKeyRecordEntries; ++i)
        table[i] = {uint8_t(i % 3 == 0 ? 9 : 1), uint16_t(i % 5 == 0 ? 0x41 + i % 26 : 0), uint16_t(5000 + 7 * i)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KeyRecordEntry table[kKeyRecordEntries], before[kKeyRecordEntries];
    fillTable(table);
    std::memcpy(before, table, sizeof table);
    if (size != kKeyRecordSize) {
        check(!mergeKeyRecord(table, data, size) && std::memcmp(before, table, sizeof table) == 0);
    }
    uint8_t record[kKeyRecordSize] = {};
    std::memcpy(record, data, size < kKeyRecordSize ? size : kKeyRecordSize);
    check(mergeKeyRecord(table, record, sizeof record));
    for (int i = 0; i < kKeyRecordEntries; ++i) {
        // Only flags and keys change, always inside the ranges the labels cover.
        check(table[i].command == before[i].command && table[i].flags <= 15 && table[i].key <= 255);
    }
    // The stored form of the merged table merges back to the same table.
    uint8_t packed[kKeyRecordSize];
    packKeyRecord(table, packed);
    KeyRecordEntry again[kKeyRecordEntries];
    fillTable(again);
    check(mergeKeyRecord(again, packed, sizeof packed));
    for (int i = 0; i < kKeyRecordEntries; ++i)
        check(again[i].flags == table[i].flags && again[i].key == table[i].key);
    return 0;
}
