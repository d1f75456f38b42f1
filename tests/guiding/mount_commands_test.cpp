// Mount commands on the simulated serial mount and the simulated GPUSB: the
// bytes, lines and axis states of every command, the NexStar replies, and
// the reply hand-off between writer and reader.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "guiding/Guiding.h"
#include "tests/guiding/MountFixture.h"

namespace {

using Bytes = std::vector<UInt8>;

Bytes Text(const char* s) { return Bytes(s, s + strlen(s)); }
Bytes Packet(UInt8 axis, UInt8 direction, UInt8 hi, UInt8 lo) { return {0x50, 0x03, axis, direction, hi, lo, 0, 0}; }
Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class MountCommandsTest : public SerialMountTest {
 protected:
  void SetUp() override {
    SerialMountTest::SetUp();
    port_->SetProtocol(SimMountProtocol::NexStar);  // answers packets; LX200 text has no 'P'
  }
};

struct SerialCase {
  UInt32 kind;
  UInt32 command;
  double rate;
  Bytes bytes;
  OSStatus result;
  UInt32 ra, dec;       // axis states afterwards, from RA 1 and Dec 3
  const char* stderrHas;  // a line the send writes ("" for none checked)
  bool silentMount = false;
};

// Every (kind, command) of the serial kinds. The marker sent after each case
// shows that a case which sends nothing really sent nothing.
TEST_F(MountCommandsTest, EverySerialCommandSendsItsBytesAndSetsTheAxes) {
  const UInt8 ra = 0x10, dec = 0x11, pos = 0x06, neg = 0x07;
  const char* noReply = "Err numReceiveBytes is zero - not expected response from scope\n";
  const SerialCase cases[] = {
      {1, 0, 0, Text("#:Me#"), 0, 0, 3, ""},
      {1, 1, 0, Text("#:Mw#"), 0, 1, 3, ""},
      {1, 2, 0, Text("#:Ms#"), 0, 1, 2, ""},
      {1, 3, 0, Text("#:Mn#"), 0, 1, 3, ""},
      {1, 4, 0, Text("#:Qe#"), 0, 8, 3, ""},
      {1, 5, 0, Text("#:Qw#"), 0, 8, 3, ""},
      {1, 6, 0, Text("#:Qs#"), 0, 1, 8, ""},
      {1, 7, 0, Text("#:Qn#"), 0, 1, 8, ""},
      {1, 8, 0, Text("#:Q#"), 0, 8, 8, ""},
      {1, 255, 0, Text("#:RS#"), 0, 1, 3, ""},
      {1, 256, 0, Text("#:RM#"), 0, 1, 3, ""},
      {1, 257, 0, Text("#:RC#"), 0, 1, 3, ""},
      {1, 258, 0, Text("#:RG#"), 0, 1, 3, ""},
      {1, 9, 0, {}, -50, 1, 3, "mySendMountCntlDevice = Err -50 0xFFFFFFCE while Sending = "},
      {1, 12, 0, {}, -50, 1, 3, "mySendMountCntlDevice = Err -50 0xFFFFFFCE while Sending = "},
      // NexStar: the rate word is trunc(r x 4) with r <= 0.01 read as 10.
      {2, 0, 0.0, Packet(ra, neg, 0x00, 0x28), 0, 1, 3, "k_CELESTRON_NEXSTAR_ sent it 50 03 10 07 00 28 00 00\n"},
      {2, 0, 1.5, Packet(ra, neg, 0x00, 0x06), 0, 1, 3, ""},
      {2, 1, 0.01, Packet(ra, pos, 0x00, 0x28), 0, 1, 3, ""},
      {2, 2, 0.26, Packet(dec, pos, 0x00, 0x01), 0, 1, 3, ""},
      {2, 3, 0.0, Packet(dec, neg, 0x00, 0x28), 0, 1, 3, ""},
      {2, 1, 16383.75, Packet(ra, pos, 0xFF, 0xFF), 0, 1, 3, ""},
      {2, 1, 1e6, Packet(ra, pos, 0xFF, 0xFF), 0, 1, 3, ""},  // clamped, not wrapped
      {2, 4, 7.0, Packet(ra, pos, 0, 0), 0, 1, 3, noReply},
      {2, 5, 0.0, Packet(ra, pos, 0, 0), 0, 1, 3, noReply},
      {2, 6, 0.0, Packet(dec, pos, 0, 0), 0, 1, 3, ""},
      {2, 7, 0.0, Packet(dec, pos, 0, 0), 0, 1, 3, ""},
      {2, 8, 0.0, Join(Packet(ra, pos, 0, 0), Packet(dec, pos, 0, 0)), 0, 1, 3, noReply},
      {2, 9, 0.0, {}, -50, 1, 3, ""},
      {2, 255, 0.0, {}, -50, 1, 3, ""},
      // A silent mount: RA stops expect nothing, Dec stops and starts time out.
      {2, 4, 0.0, Packet(ra, pos, 0, 0), 0, 1, 3, noReply, true},
      {2, 7, 0.0, Packet(dec, pos, 0, 0), -1, 1, 3, "", true},
      {2, 0, 0.0, Packet(ra, neg, 0, 0x28), -1, 1, 3, "", true},
      // Kind 3 sends nothing for moves, and refuses stops of one axis.
      {3, 0, 0, {}, 0, 1, 3, ""},
      {3, 1, 0, {}, 0, 1, 3, ""},
      {3, 2, 0, {}, 0, 1, 3, ""},
      {3, 3, 0, {}, 0, 1, 3, ""},
      {3, 8, 0, {}, 0, 1, 3, ""},
      {3, 4, 0, {}, -50, 1, 3, ""},
      {3, 5, 0, {}, -50, 1, 3, ""},
      {3, 6, 0, {}, -50, 1, 3, ""},
      {3, 7, 0, {}, -50, 1, 3, ""},
      {3, 255, 0, {}, -50, 1, 3, ""},
      {7, 0, 0, {}, -50, 1, 3, ""},
  };
  const Bytes marker = Text("#:RG#");
  for (const SerialCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " command " << c.command << " rate " << c.rate);
    // Answers to earlier packets are in the line before the case begins.
    while (port_->RepliesPending()) SkyloomSleepMicroseconds(1000);
    port_->ClearReceived();
    port_->SetNexStarReply(c.silentMount ? -1 : '#', 5);
    device_->mRAAxisState = 1;
    device_->mDecAxisState = 3;
    testing::internal::CaptureStderr();
    EXPECT_EQ(mySendMountCntlDevice(device_, c.kind, c.command, c.rate), c.result);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.stderrHas), std::string::npos) << err;
    EXPECT_EQ(device_->mRAAxisState, c.ra);
    EXPECT_EQ(device_->mDecAxisState, c.dec);
    ASSERT_EQ(mySendMountCntlDevice(device_, kMountCntlLX200, kMountGuideRate, 0.0), noErr);
    EXPECT_EQ(WaitBytes(c.bytes.size() + marker.size()), Join(c.bytes, marker));
  }
}

// '#' is the reply; another byte is reported and still 0; silence is -1, and
// the next reply-expecting write gets its own '#' and 0, not the time-out
// status the silent reply's reader left.
TEST_F(MountCommandsTest, NexStarReplies) {
  struct Case {
    int reply;
    OSStatus result;
    bool reported;
  } cases[] = {{'#', 0, false}, {'X', 0, true}, {-1, -1, false}, {'#', 0, false}, {-1, -1, false}, {'X', 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    port_->SetNexStarReply(c.reply, 5);
    testing::internal::CaptureStderr();
    EXPECT_EQ(mySendMountCntlDevice(device_, kMountCntlNexStar, kMountRAEast, 0.0), c.result);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Err Char (35) response expected but not received = X\n") != std::string::npos, c.reported)
        << err;
  }
  EXPECT_EQ(WaitCommands(6).size(), 6u);
}

TEST_F(MountCommandsTest, NexStarStopAllPausesBetweenItsPacketsAndStopsOnAFailedFirstWrite) {
  UInt64 before = SkyloomMicroseconds();
  testing::internal::CaptureStderr();
  ASSERT_EQ(mySendMountCntlDevice(device_, kMountCntlNexStar, kMountStopAll, 0.0), noErr);
  testing::internal::GetCapturedStderr();
  auto commands = WaitCommands(2);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].bytes[2], 0x10);
  EXPECT_EQ(commands[1].bytes[2], 0x11);
  // A lower bound only, and one the mount's own stamping lag cannot break:
  // the RA packet went out after `before`, the Dec packet 200 ms after that.
  EXPECT_GE(commands[1].micros - before, 200000u);
  EXPECT_LE(commands[0].micros, commands[1].micros);

  // A descriptor that cannot be written: the RA write fails, and the Dec
  // packet is never tried (no "sent it" line for it, one error line).
  int fd = device_->mFileDescriptor;
  device_->mFileDescriptor = -1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(mySendMountCntlDevice(device_, kMountCntlNexStar, kMountStopAll, 0.0), -1);
  std::string err = testing::internal::GetCapturedStderr();
  device_->mFileDescriptor = fd;
  EXPECT_EQ(err, "myWriteMountCntlDevice Err -1 0xFFFFFFFF while Sending = 50 03 10 06 00 00 00 00\n");
}

TEST_F(MountCommandsTest, NullDeviceSendsNothingAndAClosedOneIsRefused) {
  for (UInt32 kind : {1u, 2u, 3u, 253u, 254u}) EXPECT_EQ(mySendMountCntlDevice(nullptr, kind, 0, 0.0), noErr);
  device_->mOpen = 0;
  testing::internal::CaptureStderr();
  for (UInt32 kind : {1u, 2u, 3u, 253u, 254u}) EXPECT_EQ(mySendMountCntlDevice(device_, kind, 0, 0.0), -50) << kind;
  testing::internal::GetCapturedStderr();
  UInt8 reply[1];
  EXPECT_EQ(myWriteMountCntlDevice(device_, reply, 1, reply, 1, 500), -50);
  device_->mOpen = 1;
  EXPECT_EQ(mySendMountCntlDevice(device_, kMountCntlLX200, kMountGuideRate, 0.0), noErr);
  EXPECT_EQ(WaitBytes(5), Text("#:RG#"));  // nothing went out before it
}

// The reader is held before it signals "started" (the writer waits for it)
// and again after (the writer has written and polls): the writer still
// returns the reply the reader read, never a status from before.
std::atomic<int> gHoldAt{0};
std::atomic<bool> gHeld{false}, gRelease{false};
void HoldReader(int where) {
  if (where != gHoldAt.load()) return;
  gHeld = true;
  while (!gRelease.load()) std::this_thread::yield();
}

TEST_F(MountCommandsTest, TheWriterWaitsForTheReplyWhereverTheReaderIsHeld) {
  for (int where : {int(kMountPauseReaderBeforeStarted), int(kMountPauseReaderAfterStarted)}) {
    SCOPED_TRACE(where);
    port_->ClearReceived();
    port_->SetNexStarReply('X', 5);
    device_->mReplyStatus = -128;  // as a timed-out reply leaves it
    gHoldAt = where;
    gHeld = false;
    gRelease = false;
    gMountTestPausePoint = HoldReader;
    UInt8 packet[8] = {0x50, 0x03, 0x11, 0x06, 0, 0, 0, 0};
    UInt8 reply[1] = {0};
    std::atomic<OSStatus> result{1};
    std::thread writer([&] { result = myWriteMountCntlDevice(device_, packet, 8, reply, 1, 500); });
    while (!gHeld.load()) std::this_thread::yield();
    if (where == kMountPauseReaderAfterStarted)
      WaitCommands(1);  // written, and the reply on its way: the writer polls
    else
      EXPECT_TRUE(port_->Received().empty());  // the writer waits for "started" before it writes
    EXPECT_EQ(result.load(), 1);  // still waiting
    gRelease = true;
    writer.join();
    gMountTestPausePoint = nullptr;
    EXPECT_EQ(result.load(), noErr);
    EXPECT_EQ(reply[0], 'X');
  }
}

// GPUSB: a 17-element adapter has one element per line (9 + line).
TEST(MountCommandsGPUSB, EveryCommandDrivesItsLineAndStopAllStopsAtTheFirstFailure) {
  auto adapter = std::make_shared<SimGPUSB>(17);
  SimInstallMount({}, {adapter});
  GPUSBDevice* gpusb = myOpenGPUSBDevice();
  ASSERT_NE(gpusb, nullptr);
  MountCntlDevice device{};
  device.mOpen = 1;
  device.mKind = kMountCntlGPUSB;
  device.mAdapterHandle = gpusb;
  using Lines = std::vector<std::pair<UInt32, SInt32>>;  // line, value
  struct Case {
    UInt32 command;
    Lines lines;
    OSStatus result;
    UInt32 ra, dec;
    int failAfter = -1;
  } cases[] = {
      {0, {{0, 1}}, 0, 0, 3},
      {1, {{1, 1}}, 0, 1, 3},
      {2, {{2, 1}}, 0, 1, 2},
      {3, {{3, 1}}, 0, 1, 3},
      {4, {{0, 0}}, 0, 8, 3},
      {5, {{1, 0}}, 0, 8, 3},
      {6, {{2, 0}}, 0, 1, 8},
      {7, {{3, 0}}, 0, 1, 8},
      {8, {{0, 0}, {1, 0}, {3, 0}, {2, 0}}, 0, 8, 8},
      {8, {{0, 0}, {1, 0}}, kIOReturnNotResponding, 8, 8, 2},  // the third write fails
      {8, {}, kIOReturnNotResponding, 8, 8, 0},
      {0, {}, kIOReturnNotResponding, 0, 3, 0},  // states follow even a failed write
      {9, {}, -50, 1, 3},
      {255, {}, -50, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    adapter->ClearWrites();
    adapter->FailWritesAfter(c.failAfter);
    device.mRAAxisState = 1;
    device.mDecAxisState = 3;
    EXPECT_EQ(mySendMountCntlDevice(&device, kMountCntlGPUSB, c.command, 0.0), c.result);
    Lines got;
    for (auto& w : adapter->Writes()) got.push_back({w.element - 9, w.value});
    EXPECT_EQ(got, c.lines);
    EXPECT_EQ(device.mRAAxisState, c.ra);
    EXPECT_EQ(device.mDecAxisState, c.dec);
  }
  adapter->FailWritesAfter(-1);
  myCloseGPUSB(gpusb);
  SimRemoveMount();
}

}  // namespace
