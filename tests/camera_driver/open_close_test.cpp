#include <cstring>
#include <functional>

#include "platform/iokit/IOFireWireLib.h"
#include "tests/camera_driver/dcam_fixture.h"

namespace {

class OpenCloseTest : public DCAMTest {};

void ExpectInitialState(const MyDCAMCameraStruct* cam) {
  EXPECT_EQ(cam->mFormat, 9u);
  EXPECT_EQ(cam->mMode, 32u);
  EXPECT_EQ(cam->mRate, 9u);
  EXPECT_EQ(cam->mDeliveredSlot, 0xFFu);
  EXPECT_EQ(cam->mDeliveryEnabled, 1);
  EXPECT_EQ(cam->mWaitForFrameStart, 1);
  EXPECT_EQ(cam->mChannelAllocated, 0);
  EXPECT_EQ(cam->mTransmitting, 0);
  EXPECT_EQ(cam->mFormatSet, 0);
}

TEST_F(OpenCloseTest, EachListedCameraOpensInItsInitialState) {
  auto colour = SimColourFireWirePersonality();
  colour.inUse = true;
  Rig({SimMonoFireWirePersonality(), colour, SimUSBPersonality()});
  MyDCAMCameraListStruct list;
  ASSERT_EQ(ORX_DCAM_GetListOfCameras(&list), 0);
  ASSERT_EQ(list.mCount, 3u);

  MyDCAMCameraStruct* fw = ORX_DCAM_OpenACamera(list.mEntries[0].mCameraID);
  ASSERT_NE(fw, nullptr);
  ExpectInitialState(fw);
  EXPECT_EQ(fw->mCommandBase, 0xF0F00000u);
  EXPECT_EQ(fw->mIIDCVersion, 0x102u);
  EXPECT_EQ(fw->mVendor, 0x00A1B201u);
  EXPECT_EQ(fw->mCameraID, 0x1001u);
  EXPECT_STREQ(fw->mName, "Sim IIDC Mono 640");
  EXPECT_EQ(fw->mFWInterfaceGeneration, 3u);
  EXPECT_EQ(fw->mFWLibVersion, 0x01700000u);
  EXPECT_EQ(myAtomicLoad(&fw->mIOAlive), 1);
  EXPECT_EQ(fw->mBusSpeed, 2u);
  EXPECT_EQ(fw->mMaxPacketBytes, 0x1868u);
  // The isochronous dispatcher lives on the I/O thread's loop, the general
  // one on the opener's.
  EXPECT_EQ(SkyloomIOFireWireIsochRunLoop(fw->mFWDevice), fw->mIORunLoop);
  EXPECT_EQ(SkyloomIOFireWireCallbackRunLoop(fw->mFWDevice), CFRunLoopGetCurrent());
  // Receive memory: three segments 0x438000 apart, time stamps in the last page.
  ASSERT_NE(fw->mRecvRegion, nullptr);
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  EXPECT_EQ(fw->mRecvRegionSize, 5 * page + 0xCA8000);
  EXPECT_EQ(fw->mSegmentBase[1] - fw->mSegmentBase[0], 0x438000);
  EXPECT_EQ(fw->mSegmentBase[2] - fw->mSegmentBase[1], 0x438000);
  auto* end = static_cast<UInt8*>(fw->mRecvRegion) + fw->mRecvRegionSize;
  EXPECT_EQ(reinterpret_cast<UInt8*>(fw->mSegmentTimeStamp[0]), end - page);
  EXPECT_EQ(reinterpret_cast<UInt8*>(fw->mSegmentTimeStamp[2]) - reinterpret_cast<UInt8*>(fw->mSegmentTimeStamp[1]), 16);
  EXPECT_EQ(fw->mSegmentBase[2][0x437FFF], 0xFF);
  // The capability block carries the identity.
  EXPECT_EQ(fw->mProperties.mCameraID, 0x1001u);
  EXPECT_EQ(fw->mProperties.mVendor, 0x00A1B201u);
  EXPECT_STREQ(fw->mProperties.mName, "Sim IIDC Mono 640");

  EXPECT_EQ(ORX_DCAM_OpenACamera(list.mEntries[1].mCameraID), nullptr);  // in use

  MyDCAMCameraStruct* usb = ORX_DCAM_OpenACamera(list.mEntries[2].mCameraID);
  ASSERT_NE(usb, nullptr);
  ExpectInitialState(usb);
  EXPECT_EQ(usb->mVendor, 0x1E10u);
  EXPECT_EQ(usb->mIIDCVersion, 0x103u);
  EXPECT_EQ(usb->mCameraID, 0x1A2Bu);
  EXPECT_EQ(usb->mGUIDLow, 0x1A2Bu);
  EXPECT_STREQ(usb->mName, "Sim USB Camera");
  EXPECT_EQ(usb->mBusSpeed, 2u);
  EXPECT_EQ(usb->mMaxPacketBytes, 0x1000u);
  EXPECT_EQ(usb->mUSBNumConfigurations, 1);
  EXPECT_EQ(usb->mUSBNumEndpoints, 1);  // after switching to alternate setting 1
  EXPECT_EQ(cameras_[2]->AlternateSetting(), 1);
  EXPECT_EQ(usb->mUSBPipeIndex, 1);
  EXPECT_EQ(usb->mUSBPipeDirection, kUSBIn);
  EXPECT_EQ(usb->mUSBPipeNumber, 1);
  EXPECT_EQ(usb->mUSBPipeTransferType, kUSBBulk);
  EXPECT_EQ(usb->mUSBPipeMaxPacketSize, 512);
  EXPECT_EQ(usb->mIORunLoop, nullptr);  // USB: the I/O thread comes with the receive path
  EXPECT_EQ(usb->mProperties.mVendor, 0x1E10u);

  EXPECT_EQ(ORX_DCAM_CloseACamera(fw), 0);
  EXPECT_EQ(ORX_DCAM_CloseACamera(usb), 0);
  EXPECT_EQ(ORX_DCAM_CloseACamera(nullptr), OSStatus(0xE00002C0));
  ExpectNothingLeft();
}

TEST_F(OpenCloseTest, UnknownIdGivesNull) {
  Rig({SimMonoFireWirePersonality(), SimUSBPersonality()});
  EXPECT_EQ(ORX_DCAM_OpenACamera(0x7777), nullptr);
  ExpectNothingLeft();
}

TEST_F(OpenCloseTest, SpeedAndMaximumPacket) {
  struct Case {
    int speedCode;  // -1: the bus reports none
    UInt32 speed, maxPacket;
  };
  const Case cases[] = {{-1, 2, 0x1868}, {0, 0, 0x61A}, {1, 1, 0xC34}, {2, 2, 0x1868}, {3, 3, 0x30D0}, {4, 4, 0x3FFC}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speedCode);
    auto p = SimMonoFireWirePersonality();
    p.speedCode = c.speedCode;
    Rig({p});
    MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(0x1001);
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(cam->mBusSpeed, c.speed);
    EXPECT_EQ(cam->mMaxPacketBytes, c.maxPacket);
    EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
  }
  ExpectNothingLeft();
}

TEST_F(OpenCloseTest, CommandBaseQuirksAndOlderInterface) {
  auto immediate = SimMonoFireWirePersonality();
  immediate.baseAsImmediate16 = true;
  auto otherKey = SimMonoFireWirePersonality();
  otherKey.baseUnderOtherKey = true;
  otherKey.guid++;
  auto noVersion = SimMonoFireWirePersonality();
  noVersion.hasUnitSWVersion = false;
  noVersion.guid += 2;
  auto cams = Rig({immediate, otherKey, noVersion});
  cams[1]->FailStep(IOKitStep::FireWireDeviceV3, kIOReturnUnsupported);
  SkyloomIOFireWireLibSetVersion(0x01600000);

  for (UInt32 id : {0x1001u, 0x1002u, 0x1003u}) {
    MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(id);
    ASSERT_NE(cam, nullptr) << id;
    EXPECT_EQ(cam->mCommandBase, 0xF0F00000u) << id;
    EXPECT_EQ(cam->mFWLibVersion, 0x01600000u);
    EXPECT_EQ(cam->mFWInterfaceGeneration, id == 0x1002 ? 2u : 3u);
    EXPECT_EQ(cam->mIIDCVersion, id == 0x1003 ? 0x100u : 0x102u);
    // Registers answer at the base found.
    UInt32 v = 0;
    EXPECT_EQ(ORX_DCAM_ReadQuadlet(cam, 0, 0x100, 0, &v), 0);
    EXPECT_EQ(v, 0x81000000u);
    EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
  }
  ExpectNothingLeft();
}

TEST_F(OpenCloseTest, FailureAtEachStepGivesNullAndReleasesEverything) {
  struct Case {
    const char* what;
    bool usb;
    std::function<void(SimCamera&)> fault;
  };
  const IOReturn bad = kIOReturnNotResponding;
  const Case cases[] = {
      {"USB device plug-in", true, [](SimCamera& c) { c.FailStep(IOKitStep::USBDevicePlugIn, kIOReturnNoResources); }},
      {"USB device interface", true, [](SimCamera& c) { c.FailStep(IOKitStep::USBDeviceInterface, kIOReturnError); }},
      {"USB device open", true, [=](SimCamera& c) { c.FailOp(SimOp::USBOpen, bad); }},
      {"USB string read", true, [=](SimCamera& c) { c.FailOp(SimOp::USBStringDescriptor, bad); }},
      {"USB configuration descriptor", true, [=](SimCamera& c) { c.FailOp(SimOp::USBConfigDescriptor, bad); }},
      {"USB set configuration", true, [=](SimCamera& c) { c.FailOp(SimOp::USBSetConfiguration, bad); }},
      {"USB interface iterator", true, [=](SimCamera& c) { c.FailStep(IOKitStep::USBInterfaceIterator, bad); }},
      {"USB interface plug-in", true, [=](SimCamera& c) { c.FailStep(IOKitStep::USBInterfacePlugIn, bad); }},
      {"USB interface interface", true, [=](SimCamera& c) { c.FailStep(IOKitStep::USBInterfaceInterface, bad); }},
      {"USB interface open", true, [=](SimCamera& c) { c.FailOp(SimOp::USBClaimInterface, bad); }},
      {"USB alternate setting", true, [=](SimCamera& c) { c.FailOp(SimOp::USBSetAlternate, bad); }},
      {"USB pipe properties", true, [=](SimCamera& c) { c.FailStep(IOKitStep::USBGetPipeProperties, bad); }},
      {"USB device held elsewhere", true, [](SimCamera& c) { c.SetInUse(true); }},
      {"FireWire plug-in", false, [=](SimCamera& c) { c.FailStep(IOKitStep::FireWirePlugIn, bad); }},
      {"FireWire device interfaces", false, [=](SimCamera& c) {
         c.FailStep(IOKitStep::FireWireDeviceV3, bad);
         c.FailStep(IOKitStep::FireWireDeviceV2, bad);
       }},
      {"FireWire isochronous dispatcher", false, [=](SimCamera& c) { c.FailStep(IOKitStep::FireWireIsochDispatcher, bad); }},
      {"FireWire callback dispatcher", false, [=](SimCamera& c) { c.FailStep(IOKitStep::FireWireCallbackDispatcher, bad); }},
      {"FireWire device open", false, [=](SimCamera& c) { c.FailOp(SimOp::FWOpen, bad); }},
      {"FireWire configuration directory", false, [=](SimCamera& c) { c.FailStep(IOKitStep::FireWireConfigDirectory, bad); }},
      {"FireWire configuration ROM", false, [=](SimCamera& c) { c.FailOp(SimOp::FWConfigROM, bad); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto cams = Rig({c.usb ? SimUSBPersonality() : SimMonoFireWirePersonality()});
    c.fault(*cams[0]);
    EXPECT_EQ(ORX_DCAM_OpenACamera(c.usb ? 0x1A2B : 0x1001), nullptr);
    ExpectNothingLeft();
    // And with the fault gone the camera opens.
    cams[0]->ClearFaults();
    cams[0]->SetInUse(false);
    MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(c.usb ? 0x1A2B : 0x1001);
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
    ExpectNothingLeft();
  }
}

TEST_F(OpenCloseTest, NoConfigurationIsMinus30AndASerialMismatchIsSkipped) {
  auto none = SimUSBPersonality();
  none.numConfigurations = 0;
  auto other = SimUSBPersonality();
  other.serial = "77";
  Rig({other, none});
  EXPECT_EQ(ORX_DCAM_OpenACamera(0x1A2B), nullptr);  // the second device ends the search with -30
  ExpectNothingLeft();

  Rig({other, SimUSBPersonality()});
  MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(0x1A2B);
  ASSERT_NE(cam, nullptr);
  EXPECT_EQ(cam->mCameraID, 0x1A2Bu);
  EXPECT_EQ(cameras_[0]->OpenCount(), 0);  // the mismatching device was let go
  EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
  ExpectNothingLeft();
}

TEST_F(OpenCloseTest, CloseFreesTheRing) {
  Rig({SimMonoFireWirePersonality()});
  MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(0x1001);
  ASSERT_NE(cam, nullptr);
  cam->mRingBlock = std::malloc(3 * 640 * 480);
  EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);  // LSan reports the block if it leaks
  ExpectNothingLeft();
}

TEST_F(OpenCloseTest, AnIOThreadThatDoesNotLeaveKeepsTheHandle) {
  Rig({SimMonoFireWirePersonality()});
  MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(0x1001);
  ASSERT_NE(cam, nullptr);
  myAtomicStore(&gDCAMTestHoldIOThreadExit, 1);
  EXPECT_EQ(ORX_DCAM_CloseACamera(cam), -9074);  // after 1000 polls; the handle stays valid
  EXPECT_EQ(myAtomicLoad(&cam->mIOAlive), 1);
  EXPECT_NE(cam->mFWDevice, nullptr);
  myAtomicStore(&gDCAMTestHoldIOThreadExit, 0);
  for (int i = 0; i < 10000 && myAtomicLoad(&cam->mIOAlive); i++) usleep(1000);
  EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);  // now everything goes
  ExpectNothingLeft();
}

TEST_F(OpenCloseTest, UnplugAndPlugAgain) {
  auto cams = Rig({SimMonoFireWirePersonality(), SimUSBPersonality()});
  MyDCAMCameraStruct* fw = ORX_DCAM_OpenACamera(0x1001);
  MyDCAMCameraStruct* usb = ORX_DCAM_OpenACamera(0x1A2B);
  ASSERT_TRUE(fw && usb);
  SimUnplug(cams[0]);
  SimUnplug(cams[1]);
  MyDCAMCameraListStruct list;
  EXPECT_EQ(ORX_DCAM_GetListOfCameras(&list), 0);
  EXPECT_EQ(list.mCount, 0u);
  UInt32 v = 1;
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(fw, 0, 0x100, 0, &v), kIOReturnNoDevice);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(ORX_DCAM_WriteQuadlet(usb, 0, 0x614, 0, 0), kIOReturnNoDevice);
  EXPECT_EQ(ORX_DCAM_OpenACamera(0x1001), nullptr);
  EXPECT_EQ(ORX_DCAM_CloseACamera(fw), 0);  // closing a camera that went away still frees it all
  EXPECT_EQ(ORX_DCAM_CloseACamera(usb), 0);
  SimPlug(cams[0]);
  SimPlug(cams[1]);
  EXPECT_EQ(ORX_DCAM_GetListOfCameras(&list), 0);
  EXPECT_EQ(list.mCount, 2u);
  fw = ORX_DCAM_OpenACamera(0x1001);
  ASSERT_NE(fw, nullptr);
  EXPECT_EQ(ORX_DCAM_ReadQuadlet(fw, 0, 0x100, 0, &v), 0);
  EXPECT_EQ(ORX_DCAM_CloseACamera(fw), 0);
  ExpectNothingLeft();
}

TEST_F(OpenCloseTest, HundredOpenCloseCyclesPerBus) {
  Rig({SimMonoFireWirePersonality(), SimUSBPersonality()});
  for (UInt32 id : {0x1001u, 0x1A2Bu}) {
    for (int i = 0; i < 100; i++) {
      MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(id);
      ASSERT_NE(cam, nullptr) << i;
      ASSERT_EQ(ORX_DCAM_CloseACamera(cam), 0);
    }
    ExpectNothingLeft();
  }
}

}  // namespace
