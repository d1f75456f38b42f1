#include "platform/iokit/ConfigROM.h"

bool ConfigROMDirectory(const std::vector<UInt32>& rom, UInt32 directory,
                        std::vector<ConfigROMEntry>* entries) {
  entries->clear();
  if (directory >= rom.size()) return false;
  UInt32 length = rom[directory] >> 16;
  for (UInt32 i = 1; i <= length && size_t(directory) + i < rom.size(); i++) {
    UInt32 q = rom[directory + i];
    ConfigROMEntry e;
    e.keyType = UInt8(q >> 30);
    e.keyId = UInt8((q >> 24) & 0x3F);
    e.value = q & 0xFFFFFF;
    e.index = directory + i;
    entries->push_back(e);
  }
  return true;
}

bool ConfigROMLeaf(const std::vector<UInt32>& rom, UInt32 leaf, std::vector<UInt8>* bytes) {
  bytes->clear();
  if (leaf >= rom.size()) return false;
  UInt32 length = rom[leaf] >> 16;
  for (UInt32 i = 1; i <= length && size_t(leaf) + i < rom.size(); i++) {
    UInt32 q = rom[leaf + i];
    bytes->push_back(UInt8(q >> 24));
    bytes->push_back(UInt8(q >> 16));
    bytes->push_back(UInt8(q >> 8));
    bytes->push_back(UInt8(q));
  }
  return true;
}

std::vector<UInt32> ConfigROMFromBytes(const UInt8* bytes, size_t size) {
  std::vector<UInt32> rom(size / 4);
  for (size_t i = 0; i < rom.size(); i++)
    rom[i] = UInt32(bytes[4 * i]) << 24 | UInt32(bytes[4 * i + 1]) << 16 |
             UInt32(bytes[4 * i + 2]) << 8 | bytes[4 * i + 3];
  return rom;
}
