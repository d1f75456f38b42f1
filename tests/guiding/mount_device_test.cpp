// The mount-control device: the choice among adapter, camera GPIO and serial
// ports (simulated ports on pseudo-terminals), the serial port's settings and
// their restoration, and the failures of open.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "guiding/Guiding.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/simmount/SimMount.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

constexpr OSType kInterfacePopUp = FOUR_CHAR_CODE("INRF");
const char kNoDevices[] = "No Devices Found in myBuildMenuOfSerialPortDevices\n";

int OpenDescriptorCount() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') n++;
  closedir(d);
  return n;
}

bool GetSettings(const std::string& path, termios* t) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  bool ok = tcgetattr(fd, t) == 0;
  close(fd);
  return ok;
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "popen failed";
  char buffer[256];
  while (fgets(buffer, sizeof buffer, p)) out += buffer;
  int status = pclose(p);
  EXPECT_EQ(status, 0) << command << " (is it installed?)";
  return out;
}

class MountDeviceTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    WriteStrings("\"USRER\" = \"User Error\";\n\"NOSERUSBDEVERR\" = \"No device.\";\n");
    for (auto& p : ports_) {
      p = std::make_unique<SimMountPort>();
      ASSERT_TRUE(p->Ok());
    }
    {
      // The run loop and the layers keep descriptors of their own from their
      // first use on; count after that.
      ScriptedUser user;
      user.AnswerAlert();
      SimInstallMount({}, {});
      testing::internal::CaptureStderr();
      EXPECT_EQ(myOpenMountCntlDevice(kMountCntlLX200, 0), nullptr);
      testing::internal::GetCapturedStderr();
      ResetModel();
    }
    fds_ = OpenDescriptorCount();
  }
  void TearDown() override {
    mySetMountTcsetattrForTesting(nullptr);
    SimRemoveMount();
    UiTest::TearDown();
  }
  std::string Slave(int i) { return ports_[i]->SlavePath(); }
  std::unique_ptr<SimMountPort> ports_[2];
  int fds_ = 0;
};

TEST_F(MountDeviceTest, OnePortOpensRawAt9600AndIsPutBackAtClose) {
  SimInstallMount({Slave(0)}, {});
  termios before;
  ASSERT_TRUE(GetSettings(Slave(0), &before));
  ScriptedUser user;  // nothing to do: no dialog, no alert
  // Whatever kind the caller holds, a serial port opens as LX200.
  MountCntlDevice* d = myOpenMountCntlDevice(kMountCntlNexStar, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_TRUE(Alerts().empty());
  EXPECT_EQ(d->mKind, kMountCntlLX200);
  EXPECT_STREQ(d->mDeviceName, Slave(0).c_str());
  EXPECT_EQ(d->mOpen, 1);
  EXPECT_EQ(d->mRAAxisState, 8u);
  EXPECT_EQ(d->mDecAxisState, 8u);
  EXPECT_EQ(d->mAdapterHandle, nullptr);
  EXPECT_TRUE(SameSettings(d->mSavedPortSettings, before));

  termios now;
  ASSERT_EQ(tcgetattr(d->mFileDescriptor, &now), 0);
  EXPECT_EQ(cfgetispeed(&now), speed_t(B9600));
  EXPECT_EQ(cfgetospeed(&now), speed_t(B9600));
  EXPECT_EQ(now.c_cflag & ~CBAUD, tcflag_t(CS8 | CREAD | CLOCAL));
  EXPECT_EQ(now.c_cc[VMIN], 0);
  EXPECT_EQ(now.c_cc[VTIME], 10);
  EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ISIG), 0u);
  // Seen from outside, as a real line would be.
  EXPECT_EQ(Shell("stty -F " + Slave(0) + " speed"), "9600\n");
  std::string all = Shell("stty -F " + Slave(0) + " -a");
  for (char& ch : all)
    if (ch == '\n' || ch == ';') ch = ' ';
  all = " " + all + " ";
  for (const char* flag : {" cs8 ", " -parenb ", " -cstopb ", " -crtscts ", " clocal ", " cread ", " min = 0 ",
                           " time = 10 ", " -icanon ", " -echo "})
    EXPECT_NE(all.find(flag), std::string::npos) << flag << " in " << all;
  // Blocking reads, and bytes reach the mount's end of the line.
  EXPECT_EQ(fcntl(d->mFileDescriptor, F_GETFL) & O_NONBLOCK, 0);

  EXPECT_EQ(myCloseMountCntlDevice(d), noErr);
  ASSERT_TRUE(GetSettings(Slave(0), &now));
  EXPECT_TRUE(SameSettings(now, before));
  EXPECT_EQ(OpenDescriptorCount(), fds_);
  EXPECT_EQ(myCloseMountCntlDevice(nullptr), noErr);
}

// One row: what the host offers, what the user does, what comes out.
struct DialogCase {
  const char* name;
  std::vector<int> ports;  // simulated ports listed, by index; -1 "/dev/rfcomm0"; -2 a Bluetooth-named link
  std::vector<UInt32> adapters;  // element counts of simulated adapters
  UInt32 gpio;
  bool dialog;
  UInt32 items;                 // pop-up items while the dialog is up
  SInt32 preselected;           // pop-up value when it comes up
  std::vector<bool> enabled;    // items 1 and 2 enabled
  SInt32 choose;                // item chosen before OK; 0 OK as it stands; -1 Cancel
  UInt32 kind;                  // 0: null after the failure alert
  int name_port;                // the port the device is named after, or -1
  bool no_devices_line;
};

TEST_F(MountDeviceTest, DeviceChoiceTable) {
  const DialogCase cases[] = {
      {"nothing found", {}, {}, 0, false, 0, 0, {}, 0, 0, -1, true},
      {"adapter only", {}, {3}, 0, false, 0, 0, {}, 0, kMountCntlGPUSB, -1, false},
      {"camera GPIO only", {}, {}, 1, false, 0, 0, {}, 0, kMountCntlCameraGPIO, -1, false},
      // The appended port is the selection, never the disabled GPIO item.
      {"adapter and one port", {0}, {3}, 0, true, 3, 3, {true, false}, 0, kMountCntlLX200, 0, false},
      {"adapter, GPIO and two ports", {0, 1}, {3}, 1, true, 4, 4, {true, true}, 0, kMountCntlLX200, 1, false},
      {"first port chosen", {0, 1}, {3}, 1, true, 4, 4, {true, true}, 3, kMountCntlLX200, 0, false},
      {"adapter chosen", {0}, {17}, 1, true, 3, 3, {true, true}, 1, kMountCntlGPUSB, -1, false},
      {"GPIO chosen", {0}, {}, 1, true, 3, 3, {false, true}, 2, kMountCntlCameraGPIO, -1, false},
      {"cancelled", {0, 1}, {3}, 0, true, 4, 4, {true, false}, -1, 0, -1, false},
      // Ports that are not a mount's line are never listed: one candidate left.
      {"Bluetooth and rfcomm left out", {-2, -1, 0}, {}, 0, false, 0, 0, {}, 0, kMountCntlLX200, 0, false},
      {"only a Bluetooth port", {-2}, {}, 0, false, 0, 0, {}, 0, 0, -1, true},
  };
  const std::string bluetooth = dir_ + "/Bluetooth-Incoming-Port";
  ASSERT_EQ(symlink(Slave(0).c_str(), bluetooth.c_str()), 0);
  for (const DialogCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetModel();
    std::vector<std::string> paths;
    for (int p : c.ports) paths.push_back(p == -1 ? "/dev/rfcomm0" : p == -2 ? bluetooth : Slave(p));
    std::vector<std::shared_ptr<SimGPUSB>> adapters;
    for (UInt32 n : c.adapters) adapters.push_back(std::make_shared<SimGPUSB>(n));
    SimInstallMount(paths, adapters);

    ScriptedUser user;
    bool shown = false;
    if (c.dialog) {
      user.Do([&] {
        shown = true;
        WindowRef w = ModalWindow();
        ASSERT_EQ(WindowName(w), "SelectSerialInterface");
        ControlRef popUp = FindControl(w, kInterfacePopUp, 0);
        MenuRef menu = GetControlPopupMenuHandle(popUp);
        EXPECT_EQ(CountMenuItems(menu), c.items);
        EXPECT_EQ(GetControl32BitMaximum(popUp), SInt32(c.items));
        EXPECT_EQ(GetControl32BitValue(popUp), c.preselected);
        EXPECT_EQ(bool(IsMenuItemEnabled(menu, 1)), c.enabled[0]);
        EXPECT_EQ(bool(IsMenuItemEnabled(menu, 2)), c.enabled[1]);
        for (size_t i = 0; i < c.ports.size(); i++) {
          CFStringRef text = nullptr;
          ASSERT_EQ(CopyMenuItemTextAsCFString(menu, MenuItemIndex(3 + i), &text), noErr);
          char s[256];
          CFStringGetCString(text, s, sizeof s, kCFStringEncodingUTF8);
          CFRelease(text);
          EXPECT_EQ(std::string(s), Slave(c.ports[i]));
        }
      });
      if (c.choose > 0) user.ChooseItem(kInterfacePopUp, 0, c.choose);
      if (c.choose < 0)
        user.ClickCancel();
      else
        user.ClickOK();
    }
    if (!c.kind) user.AnswerAlert();

    testing::internal::CaptureStderr();
    MountCntlDevice* d = myOpenMountCntlDevice(kMountCntlLX200, c.gpio);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, c.dialog);
    EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
    EXPECT_EQ(user.Pending(), 0u);
    EXPECT_EQ(err.find(kNoDevices) != std::string::npos, c.no_devices_line) << err;
    EXPECT_TRUE(Windows().empty());
    if (!c.kind) {
      EXPECT_EQ(d, nullptr);
      ASSERT_EQ(Alerts().size(), 1u);
      EXPECT_EQ(Alerts()[0].title, "User Error");
      EXPECT_EQ(Alerts()[0].message, "No device.");
    } else {
      ASSERT_NE(d, nullptr);
      EXPECT_TRUE(Alerts().empty());
      EXPECT_EQ(d->mKind, c.kind);
      EXPECT_EQ(d->mOpen, 1);
      if (c.kind == kMountCntlGPUSB) {
        EXPECT_STREQ(d->mDeviceName, "GPUSB");
        ASSERT_NE(d->mAdapterHandle, nullptr);
        EXPECT_TRUE(adapters[0]->IsOpen());
      } else if (c.kind == kMountCntlCameraGPIO) {
        EXPECT_STREQ(d->mDeviceName, "PGR GPIO to ST4");
        EXPECT_EQ(d->mAdapterHandle, nullptr);
      } else {
        EXPECT_STREQ(d->mDeviceName, Slave(c.name_port).c_str());
      }
      // The adapter was only tried while the list was built.
      if (c.kind != kMountCntlGPUSB) {
        for (auto& a : adapters) EXPECT_FALSE(a->IsOpen());
      }
      myCloseMountCntlDevice(d);
      for (auto& a : adapters) EXPECT_FALSE(a->IsOpen());
    }
    EXPECT_EQ(OpenDescriptorCount(), fds_);
  }
}

int FailingTcsetattr(int, int, const termios*) {
  errno = EIO;
  return -1;
}

TEST_F(MountDeviceTest, RefusedSettingsCloseThePortAndAlertTwice) {
  SimInstallMount({Slave(0)}, {});
  mySetMountTcsetattrForTesting(FailingTcsetattr);
  ScriptedUser user;
  user.AnswerAlert().AnswerAlert();
  EXPECT_EQ(myOpenMountCntlDevice(kMountCntlLX200, 0), nullptr);
  EXPECT_TRUE(user.Errors().empty());
  ASSERT_EQ(Alerts().size(), 2u);
  EXPECT_EQ(Alerts()[0].title, "OSX Err");
  EXPECT_EQ(Alerts()[0].message, "tcsetattr failed -1");
  EXPECT_EQ(Alerts()[1].title, "User Error");
  EXPECT_EQ(Alerts()[1].message, "No device.");
  EXPECT_EQ(OpenDescriptorCount(), fds_);
}

TEST_F(MountDeviceTest, OpenByNameResults) {
  int fd = -1;
  termios saved;
  EXPECT_EQ(myOpenSerialPortByName((dir_ + "/none").c_str(), &fd, &saved), -1);
  // A file that is no terminal takes neither exclusive use nor settings.
  const std::string plain = dir_ + "/plain";
  close(open(plain.c_str(), O_CREAT | O_WRONLY, 0644));
  EXPECT_EQ(myOpenSerialPortByName(plain.c_str(), &fd, &saved), -2);
  EXPECT_EQ(OpenDescriptorCount(), fds_);
  ASSERT_EQ(myOpenSerialPortByName(Slave(1).c_str(), &fd, &saved), 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  close(fd);
}

// A port another program holds with TIOCEXCL is never listed. The kernel lets
// a privileged opener past TIOCEXCL, so the look runs in a child that gives
// up root first when the tests run as root.
TEST_F(MountDeviceTest, PortInExclusiveUseElsewhereIsNeverListed) {
  int holder = open(Slave(0).c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(Slave(0).c_str(), 0666), 0);
    ASSERT_EQ(chmod(Slave(1).c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  }
  SimInstallMount({Slave(0), Slave(1)}, {});
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
    int fd = -1;
    termios saved;
    if (myOpenSerialPortByName(Slave(0).c_str(), &fd, &saved) != -1) _exit(11);
    ScriptedUser user;  // one candidate left: no dialog
    MountCntlDevice* d = myOpenMountCntlDevice(kMountCntlLX200, 0);
    if (!d) _exit(12);
    int code = strcmp(d->mDeviceName, Slave(1).c_str()) == 0 ? 0 : 13;
    myCloseMountCntlDevice(d);
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  close(holder);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
