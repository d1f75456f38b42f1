// IEEE 1212 configuration ROM parsing: directories, entries and leaves. The
// ROM comes from the bus (or a back end) and is untrusted: every length and
// offset is checked against the ROM's size.
#pragma once
#include <vector>

#include "platform/coreservices/MacTypes.h"

struct ConfigROMEntry {
  UInt8 keyType = 0;  // 0 immediate, 1 CSR offset, 2 leaf, 3 directory
  UInt8 keyId = 0;
  UInt32 value = 0;   // 24 bits
  UInt32 index = 0;   // quadlet index of the entry itself
  // Leaf and directory entries: the quadlet index they point at.
  UInt32 Target() const { return index + value; }
};

// Entries of the directory whose header is at `directory`; false when the
// header lies outside the ROM. Entries past the ROM's end are dropped.
bool ConfigROMDirectory(const std::vector<UInt32>& rom, UInt32 directory,
                        std::vector<ConfigROMEntry>* entries);
// The leaf at `leaf` as bytes in bus order, without its header; false when
// the header lies outside the ROM (a leaf running past the end is cut).
bool ConfigROMLeaf(const std::vector<UInt32>& rom, UInt32 leaf, std::vector<UInt8>* bytes);
// Quadlets from big-endian bytes (a whole ROM image as read from a file).
std::vector<UInt32> ConfigROMFromBytes(const UInt8* bytes, size_t size);
