// The simulated mount's serial line: what the program writes arrives at the
// simulator stamped with its time; what the simulator sends can be read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>
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
