// Format 7 blocks of the simulated camera: the camera validates the region
// and colour coding it is given, computes its packet parameters from the
// region and the bus speed, and answers value setting with a latency.
#include <memory>

#include "platform/simcamera/SimCamera.h"

namespace {

UInt32 CodingBits(UInt32 id) {
  switch (id) {
    case 1: case 11: case 12: return 12;
    case 2: case 5: case 10: return 16;
    case 3: case 4: return 24;
    case 6: return 48;
    default: return 8;
  }
}

struct BlockState {
  bool setting = false;
  int readsLeft = 0;
};

// The largest packet the bus carries at the camera's speed (S400: 4096 bytes).
UInt32 BusMaxPacket(SimCamera& c) {
  int speed = c.SpeedCode();
  if (speed < 0) speed = 2;
  return 1024u << std::min(speed, 4);
}

UInt32 PacketParameters(SimCamera& c, UInt32 block) {
  const UInt32 unit = c.Personality().format7PacketUnit;
  const UInt32 size = c.Peek(block + 0x0C);
  const UInt64 frame = UInt64(size >> 16) * (size & 0xFFFF) * CodingBits(c.Peek(block + 0x10) >> 24) / 8;
  UInt64 max = BusMaxPacket(c);
  if (unit) max = std::min<UInt64>(max, (frame + unit - 1) / unit * unit);
  return unit << 16 | UInt32(std::min<UInt64>(max, 0xFFFF));
}

bool RegionValid(SimCamera& c, UInt32 block) {
  if (c.Personality().format7RefuseRegions) return false;
  const UInt32 maxSize = c.Peek(block + 0x00), unit = c.Peek(block + 0x04);
  const UInt32 pos = c.Peek(block + 0x08), size = c.Peek(block + 0x0C);
  const UInt32 id = c.Peek(block + 0x10) >> 24, inquiry = c.Peek(block + 0x14);
  const UInt32 w = size >> 16, h = size & 0xFFFF, uw = unit >> 16, uh = unit & 0xFFFF;
  if (!w || !h || !uw || !uh || w % uw || h % uh) return false;
  if ((pos >> 16) + w > (maxSize >> 16) || (pos & 0xFFFF) + h > (maxSize & 0xFFFF)) return false;
  return id < 32 && ((inquiry >> (31 - id)) & 1);
}

bool PacketValid(SimCamera& c, UInt32 block) {
  const UInt32 bpp = c.Peek(block + 0x44) >> 16, params = PacketParameters(c, block);
  const UInt32 unit = params >> 16, max = params & 0xFFFF;
  return bpp && unit && bpp % unit == 0 && bpp <= max;
}

}  // namespace

void SimInstallFormat7Behaviour(SimCamera& camera) {
  const SimCameraPersonality& p = camera.Personality();
  for (UInt32 mode = 0; mode < 32; mode++) {
    auto q = p.registers.find(0x2E0 + 4 * mode);
    if (q == p.registers.end()) continue;
    const UInt32 block = ((q->second * 4) | 0xF0000000u) - p.commandBase;
    auto state = std::make_shared<BlockState>();
    camera.AddReadHook(block + 0x40, block + 0x40, [block](SimCamera& c, UInt32, UInt32* v) {
      *v = PacketParameters(c, block);
    });
    camera.AddReadHook(block + 0x7C, block + 0x7C, [state](SimCamera& c, UInt32, UInt32* v) {
      if (!state->setting) return;
      if (state->readsLeft == 0) {
        state->setting = false;
        *v &= ~0x40000000u;
        return;
      }
      *v |= 0x40000000u;
      if (state->readsLeft > 0) state->readsLeft--;
      (void)c;
    });
    camera.AddWriteHook(block + 0x7C, block + 0x7C, [block, state](SimCamera& c, UInt32, UInt32 value) {
      if (!(value & 0x40000000u)) return false;
      UInt32 v = c.Peek(block + 0x7C) & 0x80000000u;
      if (!RegionValid(c, block)) v |= 0x00800000u;
      if (!PacketValid(c, block)) v |= 0x00400000u;
      c.Poke(block + 0x7C, v);
      state->setting = true;
      state->readsLeft = c.Personality().valueSettingReads;
      return false;
    });
    camera.AddWriteHook(block + 0x44, block + 0x44, [block](SimCamera& c, UInt32, UInt32 value) {
      c.Poke(block + 0x44, value);
      UInt32 v = c.Peek(block + 0x7C) & ~0x00400000u;
      if (!PacketValid(c, block)) v |= 0x00400000u;
      c.Poke(block + 0x7C, v);
      return false;
    });
  }
}
