// Camera features of the simulated camera.
#include "platform/simcamera/SimFeatures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

namespace {

constexpr UInt32 kPresent = 0x80000000u, kAbsoluteOn = 0x40000000u, kOnePush = 0x04000000u,
                 kOn = 0x02000000u, kAuto = 0x01000000u;
constexpr UInt32 kInqAbsolute = 0x40000000u, kInqOnePush = 0x10000000u, kInqOnOff = 0x04000000u,
                 kInqAuto = 0x02000000u;

constexpr UInt32 kWhiteBalance = 0x80C, kTemperature = 0x82C, kTrigger = 0x830;

struct FeatureState {
  std::map<UInt32, int> onePushReadsLeft;  // by control register
};

bool IsControl(UInt32 offset) {
  return offset % 4 == 0 && ((offset >= 0x800 && offset <= 0x83C) || (offset >= 0x880 && offset <= 0x88C));
}

UInt32 Clamp12(UInt32 v, UInt32 inquiry) {
  UInt32 min = (inquiry >> 12) & 0xFFF, max = inquiry & 0xFFF;
  if (min > max) return v;
  return v < min ? min : v > max ? max : v;
}

UInt32 WithHalves(UInt32 word, UInt32 high, UInt32 low) { return (word & 0xFF000000u) | high << 12 | low; }

float FloatOf(UInt32 bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

// The absolute block of the feature at `inquiry`, from its CSR offset
// register; false when it has none inside the command space.
bool AbsoluteBlock(const SimCamera& c, UInt32 inquiry, UInt32* block) {
  UInt32 q = c.Peek(inquiry + 0x200);
  if (!q) return false;
  UInt32 address = (q * 4) | 0xF0000000u;
  UInt32 base = c.Personality().commandBase;
  if (address <= base) return false;
  *block = address - base;
  return true;
}

bool AbsoluteValue(const SimCamera& c, UInt32 inquiry, double* value) {
  UInt32 block;
  if (!(c.Peek(inquiry + 0x300) & kAbsoluteOn) || !AbsoluteBlock(c, inquiry, &block)) return false;
  *value = FloatOf(c.Peek(block + 8));
  return true;
}

// The word a present feature keeps when `value` is written to its control register.
UInt32 Stored(UInt32 offset, UInt32 inquiry, UInt32 old, UInt32 value) {
  UInt32 v = value | kPresent;
  if (!(inquiry & kInqAbsolute)) v &= ~kAbsoluteOn;
  if (!(inquiry & kInqOnOff)) v |= kOn;
  if (offset == kTrigger) {
    if (!(inquiry & kInqAuto)) v &= ~kAuto;  // no polarity to choose
    return v;
  }
  if (!(inquiry & kInqOnePush)) v &= ~kOnePush;
  if (!(inquiry & kInqAuto)) v &= ~kAuto;
  if (offset == kWhiteBalance)
    return WithHalves(v, Clamp12((v >> 12) & 0xFFF, inquiry), Clamp12(v & 0xFFF, inquiry));
  if (offset == kTemperature) return WithHalves(v, Clamp12((v >> 12) & 0xFFF, inquiry), old & 0xFFF);
  return (v & ~0xFFFu) | Clamp12(v & 0xFFF, inquiry);
}

}  // namespace

void SimInstallFeatureBehaviour(SimCamera& camera) {
  auto state = std::make_shared<FeatureState>();

  camera.AddWriteHook(0x800, 0x88C, [state](SimCamera& c, UInt32 offset, UInt32 value) {
    if (!IsControl(offset)) return true;
    UInt32 inquiry = c.Peek(offset - 0x300);
    if (!(inquiry & kPresent)) return false;  // no such feature: the write goes nowhere
    UInt32 v = Stored(offset, inquiry, c.Peek(offset), value);
    if (v & kOnePush) state->onePushReadsLeft[offset] = SimFeatureOnePushReads();
    else state->onePushReadsLeft.erase(offset);
    c.Poke(offset, v);
    return false;
  });

  camera.AddReadHook(0x800, 0x88C, [state](SimCamera& c, UInt32 offset, UInt32* value) {
    if (!IsControl(offset)) return;
    if (*value & kOnePush) {
      // A bit found set without a write (a camera starting up) counts from now.
      auto it = state->onePushReadsLeft.try_emplace(offset, SimFeatureOnePushReads()).first;
      if (it->second > 0) {
        it->second--;
      } else {
        *value &= ~kOnePush;
        c.Poke(offset, c.Peek(offset) & ~kOnePush);
        state->onePushReadsLeft.erase(it);
      }
    }
    if (offset == kTemperature) {
      // Answer now, settle towards the target for the next look.
      UInt32 target = (*value >> 12) & 0xFFF, current = *value & 0xFFF;
      if (current != target) {
        UInt32 distance = target > current ? target - current : current - target;
        UInt32 step = std::max<UInt32>(1, distance / 4);
        current = target > current ? current + step : current - step;
        c.Poke(offset, (c.Peek(offset) & ~0xFFFu) | current);
      }
    }
  });

  camera.AddWriteHook(kSimAbsoluteBlockBase, kSimAbsoluteBlockBase + 0x2FF,
                      [](SimCamera& c, UInt32 offset, UInt32 value) {
                        if ((offset & 0xF) != 8) return true;
                        float f = FloatOf(value), min = FloatOf(c.Peek(offset - 8)),
                              max = FloatOf(c.Peek(offset - 4));
                        if (std::isnan(f)) return false;
                        if (f < min) f = min;
                        if (f > max) f = max;
                        c.Poke(offset, SimFloatBits(f));
                        return false;
                      });
}

double SimExposure(const SimCamera& c) {
  double seconds = 0.01;
  if (c.Peek(0x51C) & kPresent) {
    double abs;
    seconds = AbsoluteValue(c, 0x51C, &abs) ? abs : (c.Peek(0x81C) & 0xFFF) * 20e-6;
  }
  return SimExposureFor(c, seconds);
}

double SimExposureFor(const SimCamera& c, double seconds) {
  double dB = 0.0;
  UInt32 gainInquiry = c.Peek(0x520), gain = c.Peek(0x820);
  if ((gainInquiry & kPresent) && (gain & kOn)) {
    double abs;
    if (AbsoluteValue(c, 0x520, &abs))
      dB = abs;
    else if (gainInquiry & 0xFFF)
      dB = (gain & 0xFFF) * 24.0 / (gainInquiry & 0xFFF);
  }
  return seconds / 0.01 * std::pow(10.0, dB / 20.0);
}

void SimWhiteBalance(const SimCamera& c, double gains[3]) {
  gains[0] = gains[1] = gains[2] = 1.0;
  UInt32 control = c.Peek(kWhiteBalance);
  if (!(c.Peek(kWhiteBalance - 0x300) & kPresent) || !(control & kOn)) return;
  gains[0] = (control & 0xFFF) / 512.0;
  gains[2] = ((control >> 12) & 0xFFF) / 512.0;
}
