// The simulated mount's serial line: what the program writes arrives at the
// simulator stamped with its time; what the simulator sends can be read; the
// commands it took read as guide lines, one view with the other devices'.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/simmount/SimMount.h"

namespace {

// Bytes cross the pty on the simulator's thread; wait for them, bounded.
std::vector<SimSerialByte> WaitForBytes(SimMountPort& port, size_t count) {
  for (int i = 0; i < 2000; i++) {
    std::vector<SimSerialByte> got = port.Received();
    if (got.size() >= count) return got;
    usleep(5000);
  }
  return port.Received();
}

TEST(SimMountPort, ReceivesStampedBytesAndSends) {
  SimMountPort port;
  ASSERT_TRUE(port.Ok());
  EXPECT_EQ(port.SlavePath().rfind("/dev/pts/", 0), 0u);
  int fd = open(port.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t;
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  cfmakeraw(&t);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);

  UInt64 before = SkyloomMicroseconds();
  const std::string command = "#:Mn#\r\n";  // raw: no translation on the way
  ASSERT_EQ(write(fd, command.data(), command.size()), ssize_t(command.size()));
  std::vector<SimSerialByte> got = WaitForBytes(port, command.size());
  ASSERT_EQ(got.size(), command.size());
  UInt64 after = SkyloomMicroseconds();
  for (size_t i = 0; i < got.size(); i++) {
    EXPECT_EQ(got[i].byte, UInt8(command[i]));
    EXPECT_GE(got[i].micros, before);
    EXPECT_LE(got[i].micros, after);
    if (i) {
      EXPECT_GE(got[i].micros, got[i - 1].micros);
    }
  }
  port.ClearReceived();
  EXPECT_TRUE(port.Received().empty());

  port.Send({'1', '#', 0x00, 0xFF});
  std::vector<UInt8> reply;
  for (int i = 0; i < 200 && reply.size() < 4; i++) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      UInt8 b[8];
      ssize_t n = read(fd, b, sizeof b);
      if (n > 0) reply.insert(reply.end(), b, b + n);
    }
  }
  EXPECT_EQ(reply, (std::vector<UInt8>{'1', '#', 0x00, 0xFF}));
  close(fd);
}

}  // namespace

namespace {

using Lines = std::vector<std::pair<int, bool>>;

Lines Pairs(const std::vector<SimGuideLineState>& states) {
  Lines out;
  for (auto& s : states) out.push_back({s.line, s.on});
  return out;
}

// Commands written straight to the line, as a mount driver would: the
// mount's reading of them as guide lines, changes only.
TEST(SimMountPort, CommandsReadAsGuideLines) {
  struct Case {
    SimMountProtocol protocol;
    std::vector<UInt8> bytes;
    size_t commands;
    Lines lines;
  } cases[] = {
      {SimMountProtocol::LX200,
       {'#', ':', 'M', 'w', '#', '#', ':', 'M', 'n', '#', '#', ':', 'Q', 'n', '#', '#', ':', 'Q', 'w', '#'},
       4,
       {{1, true}, {2, true}, {2, false}, {1, false}}},
      {SimMountProtocol::LX200,  // stop-all turns off only what is on; rates are no motion
       {'#', ':', 'M', 'e', '#', '#', ':', 'M', 's', '#', '#', ':', 'R', 'G', '#', '#', ':', 'Q', '#'},
       4,
       {{0, true}, {3, true}, {0, false}, {3, false}}},
      {SimMountProtocol::NexStar,  // RA east, Dec south, then a reversal of RA and both stops
       {0x50, 0x03, 0x10, 0x07, 0x00, 0x28, 0, 0, 0x50, 0x03, 0x11, 0x06, 0x00, 0x06, 0, 0,
        0x50, 0x03, 0x10, 0x06, 0x00, 0x28, 0, 0, 0x50, 0x03, 0x10, 0x06, 0x00, 0x00, 0, 0,
        0x50, 0x03, 0x11, 0x06, 0x00, 0x00, 0, 0},
       5,
       {{0, true}, {3, true}, {0, false}, {1, true}, {1, false}, {3, false}}},
  };
  for (const Case& c : cases) {
    SimMountPort port;
    ASSERT_TRUE(port.Ok());
    port.SetProtocol(c.protocol);
    port.SetNexStarReply(-1, 0);
    int fd = open(port.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t;
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    ASSERT_EQ(write(fd, c.bytes.data(), c.bytes.size()), ssize_t(c.bytes.size()));
    for (int i = 0; i < 2000 && port.Commands().size() < c.commands; i++) usleep(5000);
    EXPECT_EQ(port.Commands().size(), c.commands);
    EXPECT_EQ(Pairs(port.LineStates()), c.lines);
    close(fd);
  }
}

// Several devices' changes as one list, and the lines on at a moment.
TEST(SimGuideLines, MergedViewAndLinesOnAtAMoment) {
  std::vector<SimGuideLineState> camera = {{100, kSimGuideWest, true}, {400, kSimGuideWest, false}};
  std::vector<SimGuideLineState> adapter = {{100, kSimGuideNorth, true}, {250, kSimGuideNorth, false}};
  std::vector<SimGuideLineState> serial = {{300, kSimGuideEast, true}};
  auto all = SimMergeGuideLines({camera, adapter, serial});
  EXPECT_EQ(Pairs(all), (Lines{{1, true}, {2, true}, {2, false}, {0, true}, {1, false}}));
  struct At {
    UInt64 micros;
    UInt32 mask;
  } at[] = {{0, 0}, {99, 0}, {100, 0b0110}, {249, 0b0110}, {250, 0b0010}, {300, 0b0011}, {400, 0b0001}, {999, 0b0001}};
  for (const At& a : at) EXPECT_EQ(SimGuideLinesOnAt(all, a.micros), a.mask) << a.micros;
}

}  // namespace
