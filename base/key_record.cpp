#include "base/key_record.h"

#include "base/byte_order.h"

bool mergeKeyRecord(KeyRecordEntry (&table)[kKeyRecordEntries], const uint8_t* record, size_t size) {
    if (!record || size != kKeyRecordSize) return false;
    for (int s = 0; s < kKeyRecordEntries; ++s) {
        const uint8_t* e = record + s * 12;
        uint32_t flags = readLe32(e), key = readLe32(e + 4), command = readLe32(e + 8);
        for (KeyRecordEntry& entry : table) {
            if (entry.command != command) continue;
            if (flags > 15) flags = 1;
            if (key > 255) key = 0;
            entry.flags = uint8_t(flags);
            entry.key = uint16_t(key);
            break;
        }
    }
    return true;
}

void packKeyRecord(const KeyRecordEntry (&table)[kKeyRecordEntries], uint8_t out[kKeyRecordSize]) {
    for (int i = 0; i < kKeyRecordEntries; ++i) {
        uint8_t* e = out + i * 12;
        writeLe32(e, table[i].flags);
        writeLe32(e + 4, table[i].key);
        writeLe32(e + 8, table[i].command);
    }
}
