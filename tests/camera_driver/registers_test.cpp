#include <atomic>
#include <thread>

#include "tests/camera_driver/dcam_fixture.h"

namespace {

class RegistersTest : public DCAMTest {
 protected:
  MyDCAMCameraStruct* Open(UInt32 id) {
    MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(id);
    EXPECT_NE(cam, nullptr);
    opened_.push_back(cam);
    return cam;
  }
  void TearDown() override {
    for (auto* cam : opened_) EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
    ExpectNothingLeft();
    DCAMTest::TearDown();
  }
  std::vector<MyDCAMCameraStruct*> opened_;
};

TEST_F(RegistersTest, USBSetupPacketsAsTheCameraSawThem) {
  auto cams = Rig({SimUSBPersonality()});
  MyDCAMCameraStruct* cam = Open(0x1A2B);
  ASSERT_NE(cam, nullptr);
  cams[0]->Poke(0x614, 0x12345678);
  cams[0]->ClearLog();

  UInt32 v = 0;
  ASSERT_EQ(ORX_DCAM_ReadQuadlet(cam, 0xFFFF, 0xF0F00614, 1, &v), 0);  // absolute: only the low 16 bits travel
  EXPECT_EQ(v, 0x12345678u);
  ASSERT_EQ(ORX_DCAM_ReadQuadlet(cam, 0, 0x614, 0, &v), 0);
  ASSERT_EQ(ORX_DCAM_WriteQuadlet(cam, 0, 0x614, 0, 0x80000000), 0);
  ASSERT_EQ(ORX_DCAM_WriteQuadlet(cam, 0xFFFF, 0xF0F08044, 1, 0x0A0B0C0D), 0);

  struct Expected {
    UInt8 type, request;
    UInt16 value, index, length;
    std::vector<UInt8> data;
  };
  const Expected expected[] = {
      {0xC0, 0x7F, 0x0614, 0xF0F0, 4, {0x78, 0x56, 0x34, 0x12}},
      {0xC0, 0x7F, 0x0614, 0xF0F0, 4, {0x78, 0x56, 0x34, 0x12}},
      {0x40, 0x7F, 0x0614, 0xF0F0, 4, {0x00, 0x00, 0x00, 0x80}},
      {0x40, 0x7F, 0x8044, 0xF0F0, 4, {0x0D, 0x0C, 0x0B, 0x0A}},
  };
  auto log = cams[0]->Log();
  ASSERT_EQ(log.size(), 4u);
  for (size_t i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(log[i].kind, SimLogKind::USBControl);
    EXPECT_EQ(log[i].setup.bmRequestType, expected[i].type);
    EXPECT_EQ(log[i].setup.bRequest, expected[i].request);
    EXPECT_EQ(log[i].setup.wValue, expected[i].value);
    EXPECT_EQ(log[i].setup.wIndex, expected[i].index);
    EXPECT_EQ(log[i].setup.wLength, expected[i].length);
    EXPECT_EQ(log[i].data, expected[i].data);
  }
  EXPECT_EQ(cams[0]->Peek(0x614), 0x80000000u);
  EXPECT_EQ(cams[0]->Peek(0x8044), 0x0A0B0C0Du);
}

TEST_F(RegistersTest, FireWireAddressesAndValues) {
  auto cams = Rig({SimMonoFireWirePersonality()});
  MyDCAMCameraStruct* cam = Open(0x1001);
  ASSERT_NE(cam, nullptr);
  cams[0]->ClearLog();
  UInt32 v = 0;
  ASSERT_EQ(ORX_DCAM_ReadQuadlet(cam, 0, 0x180, 0, &v), 0);
  EXPECT_EQ(v, 0x06000000u);
  ASSERT_EQ(ORX_DCAM_WriteQuadlet(cam, 0xFFFF, 0xF0F00614, 1, 0x80000000), 0);
  auto log = cams[0]->Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].kind, SimLogKind::FWRead);
  EXPECT_EQ(log[0].addressHi, 0xFFFF);
  EXPECT_EQ(log[0].addressLo, 0xF0F00180u);
  EXPECT_EQ(log[1].kind, SimLogKind::FWWrite);
  EXPECT_EQ(log[1].addressLo, 0xF0F00614u);
  EXPECT_EQ(log[1].value, 0x80000000u);
}

TEST_F(RegistersTest, FailureMatrix) {
  auto cams = Rig({SimMonoFireWirePersonality(), SimUSBPersonality()});
  MyDCAMCameraStruct* fw = Open(0x1001);
  MyDCAMCameraStruct* usb = Open(0x1A2B);
  ASSERT_TRUE(fw && usb);
  SimCamera& fwSim = *cams[0];
  SimCamera& usbSim = *cams[1];
  usbSim.Poke(0x600, 0x12345678);

  // USB short transfer: -1, and what came is stored.
  usbSim.ShortRegisterRead(0x600, 2);
  UInt32 v = 0xDEADBEEF;
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(usb, 0, 0x600, 0, &v), -1);
  EXPECT_EQ(v, 0x5678u);

  // USB overrun: success, value untouched.
  usbSim.FailRegister(0x604, SimAccessKind::Read, kIOReturnOverrun);
  v = 0xDEADBEEF;
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(usb, 0, 0x604, 0, &v), 0);
  EXPECT_EQ(v, 0xDEADBEEFu);
  v = 0xDEADBEEF;
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(usb, 0xFFFF, 0xF0F00604, 1, &v), 0);
  EXPECT_EQ(v, 0xDEADBEEFu);

  // USB other failure: status, value 0, in both forms.
  usbSim.FailRegister(0x608, SimAccessKind::Read, kIOReturnNotResponding);
  v = 0xDEADBEEF;
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(usb, 0, 0x608, 0, &v), kIOReturnNotResponding);
  EXPECT_EQ(v, 0u);
  v = 0xDEADBEEF;
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(usb, 0xFFFF, 0xF0F00608, 1, &v), kIOReturnNotResponding);
  EXPECT_EQ(v, 0u);

  // FireWire read error: status, value 0.
  fwSim.FailRegister(0x608, SimAccessKind::Read, kIOReturnNotResponding);
  v = 0xDEADBEEF;
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(fw, 0, 0x608, 0, &v), kIOReturnNotResponding);
  EXPECT_EQ(v, 0u);

  // USB write stall: the status comes back and pipe 0's stall is cleared.
  usbSim.FailRegister(0x614, SimAccessKind::Write, kIOUSBPipeStalled, 1);
  usbSim.ClearLog();
  EXPECT_EQ(ORX_DCAM_WriteQuadlet(usb, 0, 0x614, 0, 0x80000000), kIOUSBPipeStalled);
  auto log = usbSim.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].kind, SimLogKind::USBClearStall);
  EXPECT_EQ(log[1].endpoint, 0);
  // An overrun on a write is passed on without a stall clear.
  usbSim.FailRegister(0x614, SimAccessKind::Write, kIOReturnOverrun, 1);
  usbSim.ClearLog();
  EXPECT_EQ(ORX_DCAM_WriteQuadlet(usb, 0, 0x614, 0, 0x80000000), kIOReturnOverrun);
  EXPECT_EQ(usbSim.LogSize(), 1u);

  // Null handles.
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(nullptr, 0, 0x600, 0, &v), OSStatus(0xE00002C0));
  EXPECT_EQ(ORX_DCAM_WriteQuadlet(nullptr, 0, 0x600, 0, 1), OSStatus(0xE00002C0));
  EXPECT_EQ(myUSBReadControlPipeQuadlet(nullptr, 0x600, &v), -1);
  EXPECT_EQ(myUSBWriteControlPipeQuadlet(nullptr, 0x600, 1), -1);
}

// Holds one access open inside the simulated bus on another thread; the test
// then makes its own accesses while that one is in progress.
class HeldAccess {
 public:
  HeldAccess(SimCamera& sim, SimAccessKind kind, std::function<OSStatus()> access) : sim_(sim) {
    sim_.HoldNextAccess(kind);
    thread_ = std::thread([this, access] { status_ = access(); });
    held_ = sim_.WaitUntilHeld();
  }
  ~HeldAccess() { Release(); }
  bool Held() const { return held_; }
  OSStatus Release() {
    if (thread_.joinable()) {
      sim_.ReleaseHeldAccess();
      thread_.join();
    }
    return status_;
  }

 private:
  SimCamera& sim_;
  std::thread thread_;
  std::atomic<OSStatus> status_{1};
  bool held_ = false;
};

TEST_F(RegistersTest, SameKindAccessWhileOneIsInProgressIsBusy) {
  for (bool usbBus : {false, true}) {
    SCOPED_TRACE(usbBus ? "USB" : "FireWire");
    auto cams = Rig({SimMonoFireWirePersonality(), SimUSBPersonality()});
    MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(usbBus ? 0x1A2B : 0x1001);
    MyDCAMCameraStruct* other = ORX_DCAM_OpenACamera(usbBus ? 0x1001 : 0x1A2B);
    ASSERT_TRUE(cam && other);
    SimCamera& sim = *cams[usbBus ? 1 : 0];
    {
      HeldAccess write(sim, SimAccessKind::Write, [cam] { return ORX_DCAM_WriteQuadlet(cam, 0, 0x614, 0, 0x80000000); });
      ASSERT_TRUE(write.Held());
      size_t before = sim.LogSize();
      EXPECT_EQ(ORX_DCAM_WriteQuadlet(cam, 0, 0x600, 0, 0), -9074);
      EXPECT_EQ(ORX_DCAM_WriteQuadlet(other, 0, 0x600, 0, 0), -9074);  // the count is process-wide
      EXPECT_EQ(sim.LogSize(), before);                                // and touched no bus
      UInt32 v = 0;
      EXPECT_EQ(ORX_DCAM_ReadQuadlet(cam, 0, 0x180, 0, &v), 0);  // a read proceeds
      EXPECT_EQ(v, 0x06000000u);
      EXPECT_EQ(ORX_DCAM_WriteQuadlet(cam, 0xFFFF, 0xF0F00600, 1, 0), 0);  // so does an absolute write
      EXPECT_EQ(write.Release(), 0);
    }
    EXPECT_EQ(ORX_DCAM_WriteQuadlet(cam, 0, 0x600, 0, 0), 0);  // and the count came down
    {
      HeldAccess read(sim, SimAccessKind::Read, [cam] {
        UInt32 v;
        return ORX_DCAM_ReadQuadlet(cam, 0xFFFF, 0xF0F00180, 1, &v);
      });
      ASSERT_TRUE(read.Held());
      UInt32 v = 0;
      EXPECT_EQ(ORX_DCAM_ReadQuadlet(cam, 0xFFFF, 0xF0F00184, 1, &v), -9074);
      EXPECT_EQ(ORX_DCAM_ReadQuadlet(cam, 0, 0x184, 0, &v), 0);
      EXPECT_EQ(read.Release(), 0);
    }
    EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
    EXPECT_EQ(ORX_DCAM_CloseACamera(other), 0);
  }
}

}  // namespace
