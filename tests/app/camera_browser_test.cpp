// Choosing a camera: the walk over the list up to the first usable camera,
// the texts of the rejections and the "CameraBrowser" dialog.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/CameraIdentification.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "tests/support/CameraHarness.h"

namespace {

constexpr OSType kCAMR = FOUR_CHAR_CODE("CAMR");

std::string Line(const char* format, const char* name, unsigned value) {
  char line[256];
  snprintf(line, sizeof line, format, name, value);
  return line;
}

std::string StatusLine(const char* format, const char* name, OSStatus err) {
  char line[256];
  snprintf(line, sizeof line, format, name, int(err), unsigned(err));
  return line;
}

const char* kGrudging = "Camera model '%s'  Vendor 0x%X does not support Absolute Shutter. Grudgingly supporting it.\n";
const char* kRejected =
    "Camera model '%s'  Vendor 0x%X Rejected!  Does not support Bayer or Monochrome  needed Formats and Modes \n";

// A camera with only the 640x480 RGB mode: nothing the application can use.
SimCameraPersonality RGBOnly() {
  SimCameraPersonality p = SimVendorPersonality(0x00C0DE, "Sim RGB Only");
  p.registers[0x180] = 0x08000000;
  p.registers[0x210] = 0xF8000000;
  return p;
}

}  // namespace

class CameraBrowser : public CameraHarness {
 protected:
  MyDCAMCameraListStruct List() {
    MyDCAMCameraListStruct list{};
    EXPECT_EQ(ORXDCAMGetListOfCameras(&list), noErr);
    return list;
  }
  // Runs the browser over the rig's list; stderr is kept in err_.
  SInt32 Browse(const MyDCAMCameraListStruct& list) {
    testing::internal::CaptureStderr();
    SInt32 r = myBrowseCameras(list);
    err_ = testing::internal::GetCapturedStderr();
    EXPECT_EQ(skyloom::ui::FindWindow("CameraBrowser"), nullptr);
    return r;
  }
  std::string err_;
};

TEST_F(CameraBrowser, AnEmptyListHasNoCamera) {
  MyDCAMCameraListStruct list{};
  EXPECT_EQ(Browse(list), -1);
  EXPECT_EQ(err_, "");
}

TEST_F(CameraBrowser, OneUsableCameraIsTakenWithoutADialog) {
  Rig({SimMonoPersonality()});
  skyloom::ui::ScriptedUser user;  // any dialog would be escaped and noted
  EXPECT_EQ(Browse(List()), 0);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(err_, Line(kGrudging, "Sim IIDC Mono 640 Basic", 0xA1B201));
  EXPECT_EQ(cameras_[0]->OpenCount(), 0);  // closed again
}

TEST_F(CameraBrowser, ACameraWithoutUsableModesIsRejected) {
  Rig({RGBOnly()});
  EXPECT_EQ(Browse(List()), -1);
  EXPECT_EQ(err_, Line(kRejected, "Sim RGB Only", 0xC0DE01));
}

TEST_F(CameraBrowser, TheUserPicksAmongTheCamerasAndRejectedOnesAreDisabled) {
  Rig({RGBOnly(), SimMonoPersonality(), SimWhiteBalanceColourPersonality()});
  MyDCAMCameraListStruct list = List();
  ASSERT_EQ(list.mCount, 3u);
  for (auto& c : cameras_) c->ClearLog();
  skyloom::ui::ScriptedUser user;
  user.Do([&] {
        ControlRef popup = skyloom::ui::FindControl(skyloom::ui::FindWindow("CameraBrowser"), kCAMR, 0);
        ASSERT_NE(popup, nullptr);
        MenuRef menu = GetControlPopupMenuHandle(popup);
        std::vector<std::string> expected;
        for (UInt32 i = 0; i < 3; i++) {
          char text[128];
          snprintf(text, sizeof text, "%s - #0x%X", list.mEntries[i].mName, unsigned(list.mEntries[i].mCameraID));
          expected.push_back(text);
        }
        EXPECT_EQ(skyloom::ui::ControlItems(popup), expected);
        EXPECT_FALSE(IsMenuItemEnabled(menu, 1));
        EXPECT_TRUE(IsMenuItemEnabled(menu, 2));
        EXPECT_TRUE(IsMenuItemEnabled(menu, 3));
        EXPECT_EQ(GetControl32BitValue(popup), 2);  // the first usable camera
      })
      .ChooseItem(kCAMR, 0, 3)
      .ClickOK();
  EXPECT_EQ(Browse(list), 2);
  EXPECT_TRUE(user.Errors().empty()) << ::testing::PrintToString(user.Errors());
  EXPECT_EQ(user.Pending(), 0u);
  EXPECT_EQ(err_, Line(kRejected, "Sim RGB Only", 0xC0DE01) + Line(kGrudging, "Sim IIDC Mono 640 Basic", 0xA1B201));
  // Entries after the first usable camera are offered untested.
  EXPECT_EQ(cameras_[2]->LogSize(), 0u);
}

TEST_F(CameraBrowser, OKKeepsTheFirstUsableCameraAndCancelGivesMinus128) {
  Rig({SimMonoPersonality(), SimWhiteBalanceColourPersonality()});
  const MyDCAMCameraListStruct list = List();
  {
    skyloom::ui::ScriptedUser user;
    user.ClickOK();
    EXPECT_EQ(Browse(list), 0);
    EXPECT_TRUE(user.Errors().empty());
  }
  {
    skyloom::ui::ScriptedUser user;
    user.ChooseItem(kCAMR, 0, 2).ClickCancel();
    EXPECT_EQ(Browse(list), -128);
    EXPECT_TRUE(user.Errors().empty());
  }
}

TEST_F(CameraBrowser, CamerasInUseAreSkipped) {
  SimCameraPersonality held = SimMonoPersonality();
  held.inUse = true;  // the list already marks it
  Rig({held, SimWhiteBalanceColourPersonality(), SimLongExposurePersonality()});
  MyDCAMCameraListStruct list = List();
  ASSERT_EQ(list.mEntries[0].mInUse, 1);
  // Taken by another program after the list was made: the open fails.
  cameras_[1]->SetInUse(true);
  skyloom::ui::ScriptedUser user;
  user.Do([&] {
        MenuRef menu = GetControlPopupMenuHandle(
            skyloom::ui::FindControl(skyloom::ui::FindWindow("CameraBrowser"), kCAMR, 0));
        EXPECT_FALSE(IsMenuItemEnabled(menu, 1));
        EXPECT_FALSE(IsMenuItemEnabled(menu, 2));
        EXPECT_TRUE(IsMenuItemEnabled(menu, 3));
      })
      .ClickOK();
  EXPECT_EQ(Browse(list), 2);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(err_, "Camera in use \n");  // the known model passes quietly
}

TEST_F(CameraBrowser, AKnownModelMustAnswerItsFamilyRegisters) {
  const struct {
    UInt32 offset;
    const char* format;
  } kChecks[] = {{0xF00, "Camera '%s' failed EEP check Err#: %d 0x%X\n"},
                 {0xF04, "Camera '%s' failed TSTCFG check Err#: %d 0x%X\n"},
                 {0xF1C, "Camera '%s' failed STATCFG check Err#: %d 0x%X\n"},
                 {0x524, "Camera '%s' failed IRTST check Err#: %d 0x%X\n"}};
  for (const auto& c : kChecks) {
    Rig({SimLongExposurePersonality()});
    MyDCAMCameraListStruct list = List();
    cameras_[0]->FailRegister(c.offset, SimAccessKind::Read, kIOReturnNotResponding);
    EXPECT_EQ(Browse(list), -1);
    MyDCAMCameraStruct* handle = ORXDCAMOpenACamera(list.mEntries[0].mCameraID);
    ASSERT_NE(handle, nullptr);
    UInt32 v = 0;
    const OSStatus status = ORXDCAMGetQuadlet(handle, 0, c.offset, 0, &v);
    ORXDCAMCloseACamera(handle);
    ASSERT_NE(status, noErr);
    EXPECT_EQ(err_, StatusLine(c.format, "API-201", status)) << std::hex << c.offset;
  }
}

TEST_F(CameraBrowser, APointGreyCameraWhoseBoardCannotBeReadIsUnknown) {
  Rig({SimDefaultColourPersonality()});
  MyDCAMCameraListStruct list = List();
  cameras_[0]->FailRegister(0x1F24, SimAccessKind::Read, kIOReturnNotResponding);
  EXPECT_EQ(Browse(list), -1);
  MyDCAMCameraStruct* handle = ORXDCAMOpenACamera(list.mEntries[0].mCameraID);
  ASSERT_NE(handle, nullptr);
  UInt32 v = 0;
  const OSStatus status = ORXDCAMGetQuadlet(handle, 0, 0x1F24, 0, &v);
  ORXDCAMCloseACamera(handle);
  char board[128];
  snprintf(board, sizeof board, "Reading PGR_Main_Board_Info_Reg Failed Err: %d 0x%x \n", int(status),
           unsigned(status));
  EXPECT_EQ(err_, board + StatusLine("myPointGreyCameraCheck for  '%s' failed! Err#: %d 0x%X\n",
                                     "Sim IIDC Colour 1280", status) +
                      Line("Camera model '%s'  Vendor 0x%X Unknown'\n", "Sim IIDC Colour 1280", 0xB09D01));
}
