// Configuration ROMs from the bus: any bytes must walk cleanly (directories,
// leaves, sub-directories, bounded depth).
#include <cstddef>
#include <cstdint>

#include "platform/iokit/ConfigROM.h"
#include "platform/iokit/HardwareTranslate.h"

namespace {

void Walk(const std::vector<UInt32>& rom, UInt32 directory, int depth) {
  std::vector<ConfigROMEntry> entries;
  if (depth > 8 || !ConfigROMDirectory(rom, directory, &entries)) return;
  for (const ConfigROMEntry& e : entries) {
    std::vector<UInt8> leaf;
    if (e.keyType == 2) ConfigROMLeaf(rom, e.Target(), &leaf);
    if (e.keyType == 3 && e.Target() != directory) Walk(rom, e.Target(), depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<UInt32> rom = ConfigROMFromBytes(data, size);
  if (rom.empty()) return 0;
  Walk(rom, 1 + (rom[0] >> 24), 0);  // the root directory follows the bus information block
  ConfigROMParseIdentity(rom);       // what enumeration of real nodes reads
  return 0;
}
