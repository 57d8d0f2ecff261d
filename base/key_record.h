// The stored form of the accelerator table: 56 entries of three little-endian 32-bit fields
// (flags, key, command) in table order, 672 bytes, kept as "SaveKey" in section "Akey" of the
// settings file. The table itself and the private-profile calls are the frame's (key_table).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kKeyRecordEntries = 56;
constexpr size_t kKeyRecordSize = 672;

// One accelerator as the record rules see it (the fields of a Win32 ACCEL).
struct KeyRecordEntry {
    uint8_t flags = 0;
    uint16_t key = 0;
    uint16_t command = 0;
};

// Merges a stored record into the table. Returns false (table untouched) unless the record has
// exactly 672 bytes. A stored entry changes the table entry of its command (the first, when
// two have it); unknown commands are ignored; flags above 15 become 1, keys above 255 become 0.
bool mergeKeyRecord(KeyRecordEntry (&table)[kKeyRecordEntries], const uint8_t* record, size_t size);

// The stored form of the table.
void packKeyRecord(const KeyRecordEntry (&table)[kKeyRecordEntries], uint8_t out[kKeyRecordSize]);
