// The personalities of the simulated cameras. Register values are spelled
// out per camera so that a reader can derive what the driver must make of
// them (capability blocks, absolute offsets) by hand.
//
// Feature inquiry bits: 31 present, 30 absolute control, 28 one-push,
// 27 read-out, 26 on/off, 25 auto, 24 manual, 23..12 minimum, 11..0 maximum.
// Feature control bits: 31 present, 30 absolute on, 26 one-push, 25 on,
// 24 auto, 11..0 value.
#include "platform/simcamera/SimCamera.h"

namespace {

constexpr UInt32 kBase = 0xF0F00000;

// Absolute-value block of the feature whose inquiry register is at
// `inquiry`: its CSR offset register (inquiry + 0x200) points at
// 0x2400 + 0x10 x register number; the block holds minimum, maximum, value.
void AddAbsolute(SimCameraPersonality& p, UInt32 inquiry, float min, float max, float value) {
  UInt32 block = kSimAbsoluteBlockBase + 0x10 * ((inquiry - 0x500) / 4);
  p.registers[inquiry + 0x200] = SimQuadletOffsetFor(p.commandBase, block);
  p.registers[block + 0] = SimFloatBits(min);
  p.registers[block + 4] = SimFloatBits(max);
  p.registers[block + 8] = SimFloatBits(value);
}

// One Format 7 mode: its CSR offset register (0x2E0 + 4 x mode) and block.
void AddFormat7Mode(SimCameraPersonality& p, UInt32 mode, UInt32 maxWidth, UInt32 maxHeight,
                    UInt32 unitWidth, UInt32 unitHeight, UInt32 codingInquiry, UInt32 codingId,
                    UInt32 filterId) {
  UInt32 block = kSimFormat7BlockBase + 0x100 * mode;
  p.registers[0x2E0 + 4 * mode] = SimQuadletOffsetFor(p.commandBase, block);
  p.registers[block + 0x00] = maxWidth << 16 | maxHeight;
  p.registers[block + 0x04] = unitWidth << 16 | unitHeight;
  p.registers[block + 0x08] = 0;
  p.registers[block + 0x0C] = maxWidth << 16 | maxHeight;
  p.registers[block + 0x10] = codingId << 24;
  p.registers[block + 0x14] = codingInquiry;
  p.registers[block + 0x40] = 4 << 16 | 4096;  // unit and maximum bytes per packet
  p.registers[block + 0x44] = 4096u << 16;     // bytes per packet
  p.registers[block + 0x4C] = unitWidth << 16 | unitHeight;
  p.registers[block + 0x58] = filterId << 24;
  p.registers[block + 0x7C] = 0x80000000;      // value setting present
}

// Colour coding inquiry bits (bit 31 - id).
constexpr UInt32 kMono8 = 1u << 31, kMono16 = 1u << 26, kMono12 = 1u << 20;
constexpr UInt32 kRaw8 = 1u << 22, kRaw16 = 1u << 21, kRaw12 = 1u << 19;

// Point Grey style vendor registers: board information, image data format
// and the Bayer tile order.
void AddVendorRegisters(SimCameraPersonality& p, const char tiles[5]) {
  p.registers[0x1F24] = 0x10A00000;
  p.registers[0x1048] = 0x80000000;
  p.registers[0x1040] = FOUR_CHAR_CODE({tiles[0], tiles[1], tiles[2], tiles[3], 0});
}

}  // namespace

SimCameraPersonality SimPointGreyBoardType3Personality() {
  SimCameraPersonality p = SimDefaultColourPersonality();
  p.label = "Point Grey board type 3";
  p.registers[0x1F24] = 0x00300000;
  p.registers[0x1028] = 0x800F1234;
  return p;
}

SimCameraPersonality SimDefaultColourPersonality() {
  SimCameraPersonality p;
  p.label = "default colour";
  p.gpioLines = true;
  p.bus = SimBusKind::FireWire;
  p.guid = 0x00B09D0100003003ull;  // company id 0x00B09D: the vendor checks apply
  p.unitSWVersion = 0x102;
  p.modelName = "Sim IIDC Colour 1280";
  p.commandBase = kBase;
  p.speedCode = 2;
  auto& r = p.registers;
  r[0x100] = 0x81000000;  // Format 0 and Format 7
  r[0x180] = 0x06000000;  // Format 0 modes 5 (640x480 Y8) and 6 (640x480 Y16)
  r[0x214] = 0xF8000000;  // mode 5: 1.875 .. 30 fps
  r[0x218] = 0xF0000000;  // mode 6: 1.875 .. 15 fps
  r[0x19C] = 0xC0000000;  // Format 7 modes 0 and 1
  // brightness, auto exposure, sharpness, white balance, saturation, gamma,
  // shutter, gain, temperature, trigger, trigger delay, frame rate
  r[0x404] = 0xF79D0000;
  r[0x408] = 0x00000000;
  r[0x500] = 0xC90000FF;  // brightness 0..255, absolute
  r[0x504] = 0xCF0003FF;  // auto exposure, absolute
  r[0x508] = 0x89000FFF;  // sharpness
  r[0x50C] = 0x9B0003FF;  // white balance, one-push, auto
  r[0x514] = 0x89000FFF;  // saturation
  r[0x518] = 0xCD0003FF;  // gamma, absolute
  r[0x51C] = 0xCB001FFF;  // shutter 1..4095, absolute
  r[0x520] = 0xCB0002A8;  // gain 0..680, absolute
  r[0x52C] = 0xC9000FFF;  // temperature, absolute
  r[0x530] = 0x8E808000;  // trigger: polarity, source 0, mode 0
  r[0x534] = 0xCD000FFF;  // trigger delay, absolute
  r[0x53C] = 0xCF000FFF;  // frame rate, absolute
  AddAbsolute(p, 0x500, 0.0f, 10.0f, 0.0f);          // %
  AddAbsolute(p, 0x504, -7.585f, 2.414f, 0.0f);      // EV
  AddAbsolute(p, 0x518, 0.5f, 4.0f, 1.0f);
  AddAbsolute(p, 0x51C, 0.00002f, 32.0f, 0.01f);     // s
  AddAbsolute(p, 0x520, 0.0f, 24.0f, 0.0f);          // dB
  AddAbsolute(p, 0x52C, 233.15f, 333.15f, 293.15f);  // K
  AddAbsolute(p, 0x534, 0.0f, 1.0f, 0.0f);           // s
  AddAbsolute(p, 0x53C, 1.875f, 60.0f, 30.0f);       // fps
  r[0x800] = 0x82000010;
  r[0x804] = 0x83000100;
  r[0x808] = 0x82000200;
  r[0x80C] = 0x821E0200;  // white balance U/B 0x1E0, V/R 0x200
  r[0x814] = 0x82000100;
  r[0x818] = 0x82000001;
  r[0x81C] = 0x82000200;
  r[0x820] = 0x82000000;
  r[0x82C] = 0x82000000;
  r[0x830] = 0x80000000;
  r[0x834] = 0x80000000;
  r[0x83C] = 0x82000000;
  r[0x600] = 4u << 29;  // 30 fps
  r[0x604] = 5u << 29;  // mode 5
  r[0x608] = 0;         // format 0
  AddFormat7Mode(p, 0, 1280, 960, 4, 2, kRaw8 | kRaw16 | kRaw12, 9, 0);
  AddFormat7Mode(p, 1, 640, 480, 4, 2, kRaw8 | kRaw16, 9, 0);
  AddVendorRegisters(p, "RGGB");
  p.fixedModeMosaic = true;
  return p;
}

SimCameraPersonality SimMonoFireWirePersonality() {
  SimCameraPersonality p;
  p.label = "FireWire mono";
  p.bus = SimBusKind::FireWire;
  p.guid = 0x00A1B20100001001ull;
  p.unitSWVersion = 0x102;
  p.modelName = "Sim IIDC Mono 640";
  p.commandBase = kBase;
  p.speedCode = 2;
  auto& r = p.registers;
  r[0x100] = 0x81000000;  // Format 0 and Format 7
  r[0x180] = 0x06000000;  // Format 0 modes 5 and 6
  r[0x214] = 0x38000000;  // mode 5: rates 2, 3, 4 (7.5, 15, 30 fps)
  r[0x218] = 0x30000000;  // mode 6: rates 2, 3
  r[0x19C] = 0x80000000;  // Format 7 mode 0
  r[0x404] = 0x81800000;  // brightness, shutter, gain
  r[0x408] = 0x00000000;
  r[0x500] = 0x890000FF;  // brightness: no absolute control
  r[0x51C] = 0xCB001FFF;  // shutter: absolute
  r[0x520] = 0x8B0003FF;  // gain: no absolute control
  AddAbsolute(p, 0x51C, 0.0001f, 10.0f, 0.01f);
  r[0x800] = 0x82000040;
  r[0x81C] = 0x82000200;
  r[0x820] = 0x82000080;
  r[0x600] = 3u << 29;
  r[0x604] = 5u << 29;
  r[0x608] = 0;
  AddFormat7Mode(p, 0, 640, 480, 4, 2, kMono8 | kMono16 | kMono12, 0, 0);
  return p;
}

SimCameraPersonality SimColourFireWirePersonality() {
  SimCameraPersonality p;
  p.label = "FireWire colour";
  p.bus = SimBusKind::FireWire;
  p.guid = 0x00B09D0100002002ull;
  p.unitSWVersion = 0x102;
  p.modelName = "Sim IIDC Colour 1280 F7";
  p.commandBase = kBase;
  p.speedCode = 3;
  auto& r = p.registers;
  r[0x100] = 0x01000000;  // Format 7 only
  r[0x19C] = 0xC0000000;  // modes 0 and 1
  r[0x404] = 0x10180000;  // white balance, temperature, trigger
  r[0x408] = 0x00000000;
  r[0x50C] = 0x9B0003FF;  // white balance: no absolute control
  r[0x52C] = 0xC9000FFF;  // temperature: absolute
  r[0x530] = 0x8E808000;  // trigger
  AddAbsolute(p, 0x52C, 233.15f, 333.15f, 293.15f);
  r[0x80C] = 0x821E0200;
  r[0x82C] = 0x82000000;
  r[0x830] = 0x80000000;
  r[0x608] = 7u << 29;
  AddFormat7Mode(p, 0, 1280, 960, 4, 2, kRaw8 | kRaw16 | kRaw12, 9, 0);
  AddFormat7Mode(p, 1, 640, 480, 4, 2, kRaw8 | kRaw16, 9, 0);
  AddVendorRegisters(p, "RGGB");
  return p;
}

SimCameraPersonality SimCooledPersonality() {
  SimCameraPersonality p = SimColourFireWirePersonality();
  p.label = "FireWire cooled";
  p.guid = 0x00B09D0100002003ull;
  p.modelName = "Sim IIDC Cooled 1280 F7";
  p.registers[0x52C] = 0x8B000FFF;                           // temperature: readout, auto, manual
  p.registers[0x82C] = 0x82000000u | (2931u << 12) | 2931u;  // target and current 293.1 K
  return p;
}

SimCameraPersonality SimUSBPersonality() {
  SimCameraPersonality p;
  p.label = "USB";
  p.bus = SimBusKind::USB;
  p.hasGUID = false;
  p.hasUnitSWVersion = false;
  p.idVendor = 0x1E10;
  p.idProduct = 0x2004;
  p.manufacturer = "Skyloom Sim";
  p.product = "Sim USB Camera";
  p.serial = "1A2B";
  p.commandBase = kBase;
  auto& r = p.registers;
  r[0x100] = 0x81000000;
  r[0x180] = 0x06000000;  // Format 0 modes 5 and 6
  r[0x214] = 0xF0000000;  // mode 5: 1.875 .. 15 fps
  r[0x218] = 0xE0000000;  // mode 6: 1.875 .. 7.5 fps
  r[0x19C] = 0x80000000;
  r[0x404] = 0x81800000;  // brightness, shutter, gain
  r[0x500] = 0x890000FF;
  r[0x51C] = 0xCB001FFF;  // shutter: absolute
  r[0x520] = 0xCB0002A8;  // gain: absolute
  AddAbsolute(p, 0x51C, 0.0001f, 10.0f, 0.01f);
  AddAbsolute(p, 0x520, 0.0f, 24.0f, 0.0f);
  r[0x800] = 0x82000040;
  r[0x81C] = 0x82000200;
  r[0x820] = 0x82000000;
  AddFormat7Mode(p, 0, 1280, 960, 4, 2, kMono8 | kMono16 | kMono12, 0, 0);
  AddVendorRegisters(p, "YYYY");
  return p;
}

namespace {

// Format 0 mode 5 (640x480, 8 bits) at 1.875 .. 30 fps; brightness, shutter
// (no absolute control) and gain; with white balance when asked.
SimCameraPersonality BasicFireWire(UInt64 guid, const std::string& name, bool whiteBalance) {
  SimCameraPersonality p;
  p.label = name;
  p.bus = SimBusKind::FireWire;
  p.guid = guid;
  p.unitSWVersion = 0x102;
  p.modelName = name;
  p.commandBase = kBase;
  auto& r = p.registers;
  r[0x100] = 0x80000000;  // Format 0
  r[0x180] = 0x04000000;  // mode 5
  r[0x214] = 0xF8000000;  // 1.875 .. 30 fps
  r[0x404] = whiteBalance ? 0x91800000 : 0x81800000;  // brightness, (white balance,) shutter, gain
  r[0x408] = 0x00000000;
  r[0x500] = 0x890000FF;
  r[0x51C] = 0x8B001FFF;  // shutter 1..4095, no absolute control
  r[0x520] = 0x8B0003FF;
  r[0x800] = 0x82000040;
  r[0x81C] = 0x82000200;
  r[0x820] = 0x82000080;
  if (whiteBalance) {
    r[0x50C] = 0x890003FF;  // white balance 0..1023, manual
    r[0x80C] = 0x82100200;
  }
  r[0x600] = 4u << 29;
  r[0x604] = 5u << 29;
  r[0x608] = 0;
  return p;
}

}  // namespace

SimCameraPersonality SimMonoPersonality() { return BasicFireWire(0x00A1B20100004004ull, "Sim IIDC Mono 640 Basic", false); }

SimCameraPersonality SimWhiteBalanceColourPersonality() {
  return BasicFireWire(0x00A1B20100005005ull, "Sim IIDC Colour 640 WB", true);
}

SimCameraPersonality SimVendorPersonality(UInt32 companyId, const std::string& name) {
  // The id (GUID low word) follows the name, so a rig may hold several.
  UInt32 id = 0x6000;
  for (char c : name) id = id * 31 + UInt8(c);
  return BasicFireWire(UInt64(companyId) << 40 | 0x0100000000ull | id, name, true);
}

SimCameraPersonality SimLongExposurePersonality() {
  SimCameraPersonality p = BasicFireWire(0x00A1B20100007007ull, "API-201", false);
  auto& r = p.registers;
  r[0x180] = 0x0C000000;  // modes 4 (640x480 RGB) and 5
  r[0x210] = 0xF8000000;
  r[0x404] = 0xC1C00000;  // brightness, auto exposure (the exposure slider), shutter, gain, iris
  r[0x504] = 0x890001FF;  // exposure 0..511
  r[0x804] = 0x82000100;
  r[0x524] = 0x890000FF;  // iris inquiry
  r[0x824] = 0x82000000;
  r[0xF00] = 0x00000000;  // EEPROM write enable
  r[0xF04] = 0x00000001;  // test configuration
  r[0xF1C] = 0x00000002;  // status configuration; STA pins in the top byte
  r[0xF20] = 0x00010000;  // frames are read out
  r[0x610] = 0x00000000;  // video start preparation (1 while video runs)
  r[0xF08] = 0x00001212;  // CCD pulse configuration
  r[0xF0C] = 0x1E001515;  // CDS pulse configuration
  p.staPins = true;
  return p;
}

SimCameraPersonality SimFormat7FilterPersonality(UInt32 filterId) {
  SimCameraPersonality p;
  p.label = "Format 7 colour filter";
  p.bus = SimBusKind::FireWire;
  p.guid = 0x00A1B20100008008ull;
  p.unitSWVersion = 0x102;
  p.modelName = "Sim IIDC F7 Filter";
  p.commandBase = kBase;
  auto& r = p.registers;
  r[0x100] = 0x01000000;  // Format 7 only
  r[0x19C] = 0x80000000;  // mode 0
  r[0x404] = 0x10000000;  // white balance
  r[0x50C] = 0x890003FF;
  r[0x80C] = 0x82100200;
  r[0x608] = 7u << 29;
  AddFormat7Mode(p, 0, 1280, 960, 4, 2, kRaw8 | kRaw16, 9, filterId);
  return p;
}

SimCameraPersonality SimPointGreyTriggerPersonality() {
  SimCameraPersonality p = SimUSBPersonality();
  p.label = "Point Grey trigger";
  p.gpioLines = true;
  p.triggerWiring = true;
  auto& r = p.registers;
  r[0x404] |= 0x00080000;  // trigger
  r[0x530] = 0x8E90C002;   // polarity; sources 0 and 3; modes 0, 1 and 14
  r[0x830] = 0x80000000;
  return p;
}

SimCameraPersonality SimFrostlensPersonality() {
  SimCameraPersonality p = SimLongExposurePersonality();
  p.label = "Frostlens";
  p.guid = 0x00A1B2010000F00Full;
  p.modelName = "QRV-00000001";
  p.eepromIris = true;
  return p;
}

void SimAddFormat7Mode(SimCameraPersonality& p, UInt32 mode, UInt32 maxWidth, UInt32 maxHeight, UInt32 unitWidth,
                       UInt32 unitHeight, UInt32 codingInquiry, UInt32 codingId, UInt32 filterId) {
  AddFormat7Mode(p, mode, maxWidth, maxHeight, unitWidth, unitHeight, codingInquiry, codingId, filterId);
}
