// The simulated IIDC camera: what stands behind the IOKit layer when no real
// camera is attached, and what the tests drive.
//
// One SimCamera is one FireWire unit or one USB device of vendor 0x1E10. It
// carries a personality (identity, configuration ROM, USB descriptors and the
// initial IIDC register file), answers quadlet transactions and USB control
// requests like the camera would, logs every bus access with a microsecond
// time stamp, fails chosen registers or steps on request, and can hold one
// access open inside the bus so that a concurrent access meets the driver's
// own re-entry guard.
//
// Registers are addressed by their offset from the command-register base
// (0xFFFF:F0F00000 unless the personality says otherwise). Format 7 blocks
// sit at 0x8000 + 0x100 x mode and absolute-value blocks at 0x2400 + 0x10 x
// feature, so their low 16 bits stay distinct on USB, where only those travel.
//
// All methods are thread-safe.
#pragma once
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/iokit/IOKitBackend.h"
#include "platform/simcamera/SimGuideLines.h"
#include "platform/simcamera/SimStream.h"

enum class SimBusKind { FireWire, USB };

struct SimCameraPersonality {
  SimBusKind bus = SimBusKind::FireWire;
  std::string label;  // for test messages only

  // ---- FireWire identity ----
  bool hasGUID = true;
  UInt64 guid = 0;
  bool hasUnitSWVersion = true;
  UInt32 unitSWVersion = 0x102;  // IIDC 1.31
  // The model-name leaf of the unit-dependent directory; absent when empty
  // and modelLeafAbsent is set.
  std::string modelName;
  bool modelLeafAbsent = false;
  UInt32 commandBase = 0xF0F00000;
  // Quirks of the command_regs_base entry: report the base as an immediate
  // value of 16 bits (an old camera's habit), or under a key other than 0 so
  // the first entry has to be taken.
  bool baseAsImmediate16 = false;
  bool baseUnderOtherKey = false;
  int speedCode = 2;  // IOKit speed code 0..4 reported by the bus; -1: not reported

  // ---- held by another program (open answers exclusive access) ----
  bool inUse = false;

  // ---- USB identity ----
  UInt16 idVendor = 0x1E10;
  UInt16 idProduct = 0x0001;
  std::string manufacturer;
  std::string product;
  std::string serial;
  UInt8 numConfigurations = 1;
  // Raw string descriptors that replace the built ones, by index (odd
  // lengths, wrong types, long names...).
  std::map<UInt8, std::vector<UInt8>> rawStringDescriptors;
  // String reads shorter than the descriptor answer overrun, as some host
  // stacks do.
  bool shortStringReadOverruns = false;

  // ---- Format 7 behaviour ----
  // Reads of a block's value-setting register (+0x7C) that still show
  // "setting" (bit 30) after a setting was asked for; -1: it never clears.
  int valueSettingReads = 1;
  // The bytes-per-packet step the camera reports (+0x40); 0 for a broken camera.
  UInt32 format7PacketUnit = 4;
  // The camera refuses every region (error 1, bit 23, on value setting).
  bool format7RefuseRegions = false;

  // The grey fixed modes (Formats 0 to 2) carry a colour mosaic in the
  // order of the vendor tile register 0x1040 ('RGGB', 'GBRG', 'GRBG',
  // 'BGGR'; any other value: grey), as Point Grey colour cameras send it.
  bool fixedModeMosaic = false;
  // ---- GPIO lines wired to a guide port: registers 0x1110 (east), 0x1120
  // (west), 0x1130 (north), 0x1140 (south); 0x80010001 drives a line,
  // 0x80010000 releases it. Without them those registers fail both ways.
  bool gpioLines = false;
  // GPIO outputs wired back to trigger inputs on the camera's own connector:
  // output pin 1 (0x1120) to input pin 0, output pin 2 (0x1130) to input 3.
  // An input is active while its output drives low (0x80010000). With the
  // trigger feature (0x830) on, the camera sends no free-running frames: in
  // mode 1 it exposes while the input selected by the trigger source is
  // active and sends one frame when it goes inactive; in modes 0 and 14 it
  // sends one shutter-timed frame per trigger (SimCamera::FireTrigger).
  bool triggerWiring = false;

  // ---- the long-exposure sensor kind ----
  // 0xF1C carries STA pins 0-2 in its top byte: a write of
  // (pins << 24) | 0x00010601 sets pins 0 and 2 as line states; STA1 is the
  // sensor's region pulse, an input that falls for one read and rises again
  // once per frame period, which the simulation counts as kSimSTA1Period
  // reads of 0xF1C. 0xF20 keeps bit 0x00010000 as written. While
  // transmission (0x614) is off the sensor integrates: the first frame after
  // it resumes carries the exposure of the time it was off, the next one a
  // normal read-out.
  bool staPins = false;
  // The iris registers 0x524 and 0x824 live in the sensor's EEPROM: a write
  // to either is taken only while 0xF00 holds kSimEEPROMWriteEnableCode
  // (other writes are logged and dropped).
  bool eepromIris = false;

  // ---- the IIDC register file: offset from the command base -> value ----
  std::map<UInt32, UInt32> registers;
};

// Reads of 0xF1C in one period of the STA1 region pulse (the last one reads low).
constexpr int kSimSTA1Period = 4;
enum class SimSTA1 { Pulsing, High, Low };

// Personalities the rigs are built from.
SimCameraPersonality SimDefaultColourPersonality();  // the camera of the default rig
SimCameraPersonality SimMonoFireWirePersonality();   // Format 0 modes 5, 6, Format 7 mode 0
SimCameraPersonality SimColourFireWirePersonality(); // Format 7 modes 0, 1; WB, trigger, temperature
// as SimColourFireWirePersonality, its temperature feature without absolute
// control: 0..4095 tenths of a kelvin, reading 293.1 K
SimCameraPersonality SimCooledPersonality();
SimCameraPersonality SimUSBPersonality();            // vendor 0x1E10, serial "1A2B"
// The default camera as a Point Grey board of type 3 (0x1F24 = 0x00300000),
// whose frame-rate control lives in the vendor register 0x1028 (bits 16..19).
SimCameraPersonality SimPointGreyBoardType3Personality();
// The kinds of camera the application tells apart by vendor, name and features
// (none of them has an absolute shutter):
// grey Format 0 mode 5 (1.875 .. 30 fps) only, no white balance;
SimCameraPersonality SimMonoPersonality();
// the same with a white-balance feature that takes values back;
SimCameraPersonality SimWhiteBalanceColourPersonality();
// a camera of the company `companyId` (0x000748, 0x0050A6 ...) named `name`,
// with the mode and white balance above;
SimCameraPersonality SimVendorPersonality(UInt32 companyId, const std::string& name);
// the long-exposure model "API-201": Format 0 modes 4 (640x480 RGB) and 5,
// the exposure feature 0x504 (0..511), and the registers 0xF00, 0xF04, 0xF1C
// and 0x524 its family answers, with 0x610 and the pulse and AFE set-up
// registers 0xF08, 0xF0C and 0xF20 readable and writable;
SimCameraPersonality SimLongExposurePersonality();
// a Point Grey USB camera (as SimUSBPersonality) with GPIO lines wired to
// its trigger inputs and a trigger feature offering sources 0 and 3 and
// modes 0, 1 and 14;
SimCameraPersonality SimPointGreyTriggerPersonality();
// The long-exposure kind as the Frostlens model "QRV-00000001", with its
// iris registers in EEPROM.
constexpr UInt32 kSimEEPROMWriteEnableCode = 0x5EE9A00Du;
SimCameraPersonality SimFrostlensPersonality();
// Adds Format 7 mode `mode` to a personality (its CSR offset register and
// block): maximum and unit size, the colour-coding inquiry (bit 31 - id), the
// coding in use and the colour filter id. Format 7 itself must be listed in
// 0x100 and the mode in 0x19C.
void SimAddFormat7Mode(SimCameraPersonality& p, UInt32 mode, UInt32 maxWidth, UInt32 maxHeight, UInt32 unitWidth,
                       UInt32 unitHeight, UInt32 codingInquiry, UInt32 codingId, UInt32 filterId);
// a Format 7 only camera with white balance whose mode 0 (1280x960 Raw8,
// Raw16) reports COLOR_FILTER_ID `filterId` (0..3 RGGB..BGGR, 4 and up: none).
SimCameraPersonality SimFormat7FilterPersonality(UInt32 filterId);

// Feature register helpers shared by the personalities and the tests.
constexpr UInt32 kSimAbsoluteBlockBase = 0x2400;     // + 0x10 x feature index
constexpr UInt32 kSimFormat7BlockBase = 0x8000;      // + 0x100 x mode
// The quadlet offset a CSR-offset inquiry register reports for a block that
// lies `offset` bytes above the command base.
UInt32 SimQuadletOffsetFor(UInt32 commandBase, UInt32 offset);
UInt32 SimFloatBits(float f);

enum class SimAccessKind { Read, Write };

enum class SimLogKind {
  FWRead,
  FWWrite,
  USBControl,
  USBClearStall,
  Open,
  Close,
  USBSetConfiguration,
  USBClaimInterface,
  USBReleaseInterface,
  USBSetAlternate,
  USBBulkRead,  // value: the read size; endpoint
  USBAbort,
};

struct SimLogEntry {
  UInt64 micros = 0;
  SimLogKind kind = SimLogKind::FWRead;
  IOReturn status = 0;
  // Quadlet accesses (also USB register requests): the address on the bus,
  // the register offset it reached and the value read or written.
  UInt16 addressHi = 0;
  UInt32 addressLo = 0;
  UInt32 offset = 0;
  UInt32 value = 0;
  // USB control transfers: the setup packet and the data stage as it travelled.
  IOKitUSBSetup setup;
  std::vector<UInt8> data;
  UInt8 endpoint = 0;  // stall clears, alternate settings (the setting)
};

// Steps of the back end that can be told to fail (beside single registers).
enum class SimOp {
  FWOpen,
  FWConfigROM,
  FWSpeed,
  USBOpen,
  USBDeviceDescriptor,
  USBConfigDescriptor,
  USBSetConfiguration,
  USBClaimInterface,
  USBSetAlternate,
  USBStringDescriptor,
};

class SimCamera;
// Installs the Format 7 block behaviour (packet parameters from the region
// and the bus, value setting, error bits) for every mode the camera lists.
void SimInstallFormat7Behaviour(SimCamera& camera);

class SimCamera {
 public:
  explicit SimCamera(SimCameraPersonality personality);
  SimCamera(const SimCamera&) = delete;
  SimCamera& operator=(const SimCamera&) = delete;

  const SimCameraPersonality& Personality() const { return personality_; }
  IOKitBackendKey Key() const { return key_; }

  // ---- bus side (the back end calls these) ----
  IOReturn ReadQuadlet(UInt16 addressHi, UInt32 addressLo, UInt32* value);
  IOReturn WriteQuadlet(UInt16 addressHi, UInt32 addressLo, UInt32 value);
  IOReturn USBControl(const IOKitUSBSetup& setup, void* data, UInt32* lenDone);
  IOReturn USBClearStall(UInt8 endpoint);
  IOReturn Open();  // FireWire unit or USB device
  void Close();
  IOReturn SetConfiguration(UInt8 value);
  IOReturn ClaimInterface(UInt8 number);
  void ReleaseInterface(UInt8 number);
  IOReturn SetAlternate(UInt8 interfaceNumber, UInt8 alternate);
  IOReturn OpFault(SimOp op) const;
  IOReturn StepFault(IOKitStep step) const;

  // ---- what the camera publishes ----
  std::vector<UInt32> ConfigROM(UInt32* unitDirectoryIndex) const;
  std::vector<UInt8> DeviceDescriptor() const;
  std::vector<UInt8> ConfigDescriptor() const;
  std::vector<UInt8> StringDescriptor(UInt8 index) const;  // empty: none

  // ---- register file, behind the bus (no log, no faults) ----
  UInt32 Peek(UInt32 offset) const;
  void Poke(UInt32 offset, UInt32 value);
  // Behaviour added by later modules (formats, streaming, features): a read
  // hook may compute the value; a write hook may refuse or act on a write and
  // returns false to keep the plain store from happening.
  using ReadHook = std::function<void(SimCamera&, UInt32 offset, UInt32* value)>;
  using WriteHook = std::function<bool(SimCamera&, UInt32 offset, UInt32 value)>;
  void AddReadHook(UInt32 first, UInt32 last, ReadHook hook);
  void AddWriteHook(UInt32 first, UInt32 last, WriteHook hook);

  // ---- fault injection ----
  // Accesses of `kind` to the register at `offset` answer `status` (and
  // leave the register alone) `count` times, or always with count < 0.
  void FailRegister(UInt32 offset, SimAccessKind kind, IOReturn status, int count = -1);
  // USB register reads of `offset` move only `bytes` bytes (a short transfer).
  void ShortRegisterRead(UInt32 offset, UInt32 bytes);
  void FailOp(SimOp op, IOReturn status);
  void FailStep(IOKitStep step, IOReturn status);
  void ClearFaults();

  // ---- access gate: hold the next access of a kind open inside the bus ----
  void HoldNextAccess(SimAccessKind kind);
  // Waits (at most `timeoutMs`) until an access is held; false on time-out.
  bool WaitUntilHeld(int timeoutMs = 10000);
  void ReleaseHeldAccess();

  // ---- trigger and sensor lines ----
  // An external trigger pulse: with the trigger on in mode 0 or 14 the camera
  // sends one frame. False (and nothing happens) in any other state.
  bool FireTrigger();
  // The region pulse STA1: pulsing once per period (the default), or held
  // high (the pulse never comes) or low.
  void SetSTA1(SimSTA1 level);

  // ---- video stream (frames, bulk endpoint, isochronous talker) ----
  SimStream& Stream() { return *stream_; }

  // ---- log ----
  // Adds an entry stamped now (the stream logs its transfers here).
  void Record(SimLogEntry entry);
  std::vector<SimLogEntry> Log() const;
  // The GPIO line changes so far, from the log of accepted writes: line 0
  // east, 1 west, 2 north, 3 south, each turned on or off, with its time.
  std::vector<SimGuideLineState> GPIOLineStates() const;
  size_t LogSize() const;
  void ClearLog();

  // ---- bookkeeping ----
  int OpenCount() const;             // device opens not yet closed
  int ClaimedInterfaceCount() const;
  UInt8 AlternateSetting() const;
  void SetPlugged(bool plugged);
  bool Plugged() const;
  void SetInUse(bool inUse);
  void SetSpeedCode(int code);
  int SpeedCode() const;

 private:
  struct RegisterFault {
    IOReturn status;
    int count;
  };
  struct HookRange {
    UInt32 first, last;
    ReadHook read;
    WriteHook write;
  };
  bool AddressToOffset(UInt16 addressHi, UInt32 addressLo, UInt32* offset) const;
  IOReturn RegisterRead(UInt32 offset, UInt32* value, SimAccessKind kind);
  IOReturn RegisterWrite(UInt32 offset, UInt32 value);
  bool TakeRegisterFault(UInt32 offset, SimAccessKind kind, IOReturn* status);
  void PassGate(SimAccessKind kind);
  void Append(SimLogEntry entry);
  static bool Writable(UInt32 offset);

  SimCameraPersonality personality_;
  const IOKitBackendKey key_;
  mutable std::recursive_mutex mutex_;  // hooks run under it and may Peek and Poke
  std::map<UInt32, UInt32> registers_;
  std::vector<HookRange> hooks_;
  std::map<std::pair<UInt32, int>, RegisterFault> registerFaults_;
  std::map<UInt32, UInt32> shortReads_;
  std::map<SimOp, IOReturn> opFaults_;
  std::map<IOKitStep, IOReturn> stepFaults_;
  std::vector<SimLogEntry> log_;
  int openCount_ = 0;
  int claimedInterfaces_ = 0;
  UInt8 configuration_ = 0;
  UInt8 alternate_ = 0;
  bool plugged_ = true;

  std::unique_ptr<SimStream> stream_;

  // Line states (under mutex_).
  void InstallLineBehaviour();
  int sta1Reads_ = 0;
  SimSTA1 sta1_ = SimSTA1::Pulsing;
  UInt64 transmissionOffSince_ = 0;
  bool transmissionOff_ = false;
  UInt64 triggerActiveSince_ = 0;
  bool triggerActive_ = false;

  std::mutex gateMutex_;
  std::condition_variable gateCond_;
  std::optional<SimAccessKind> gateArmed_;
  bool gateHeld_ = false;
  bool gateRelease_ = false;
};
