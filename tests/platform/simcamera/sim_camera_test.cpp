#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/iokit/ConfigROM.h"
#include "platform/iokit/USBDescriptors.h"
#include "platform/simcamera/SimCamera.h"
#include "platform/simcamera/SimScene.h"

namespace {

// IEEE 1212 CRC-16, written out bit by bit (x^16 + x^12 + x^5 + 1).
UInt16 ReferenceCRC(const std::vector<UInt32>& q, size_t first, size_t count) {
  UInt32 crc = 0;
  for (size_t i = first; i < first + count; i++)
    for (int bit = 31; bit >= 0; bit--) {
      UInt32 in = ((q[i] >> bit) & 1) ^ (crc >> 15);
      crc = ((crc << 1) & 0xFFFF) ^ (in ? 0x1021 : 0);
    }
  return UInt16(crc);
}

TEST(SimCameraROM, DirectoriesLeafAndCRCs) {
  auto p = SimMonoFireWirePersonality();
  SimCamera cam(p);
  UInt32 unit = 0;
  std::vector<UInt32> rom = cam.ConfigROM(&unit);
  EXPECT_EQ(rom[1], 0x31333934u);  // "1394"
  EXPECT_EQ(rom[3], 0x00A1B201u);
  EXPECT_EQ(rom[4], 0x00001001u);
  EXPECT_EQ(rom[0] & 0xFFFF, ReferenceCRC(rom, 1, (rom[0] >> 16) & 0xFF));

  std::vector<ConfigROMEntry> entries;
  ASSERT_TRUE(ConfigROMDirectory(rom, unit, &entries));
  EXPECT_EQ(rom[unit] & 0xFFFF, ReferenceCRC(rom, unit + 1, rom[unit] >> 16));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].keyId, 0x12);
  EXPECT_EQ(entries[0].value, 0xA02Du);
  EXPECT_EQ(entries[1].keyId, 0x13);
  EXPECT_EQ(entries[1].value, 0x102u);
  EXPECT_EQ(entries[2].keyId, 0x14);
  EXPECT_EQ(entries[2].keyType, 3);

  std::vector<ConfigROMEntry> dep;
  ASSERT_TRUE(ConfigROMDirectory(rom, entries[2].Target(), &dep));
  EXPECT_EQ(rom[5] & 0xFFFF, ReferenceCRC(rom, 6, rom[5] >> 16));  // root directory
  UInt32 d = entries[2].Target();
  EXPECT_EQ(rom[d] & 0xFFFF, ReferenceCRC(rom, d + 1, rom[d] >> 16));
  ASSERT_EQ(dep.size(), 2u);
  EXPECT_EQ(dep[0].keyType, 1);  // CSR offset: 0xF0000000 + 4 x value = 0xF0F00000
  EXPECT_EQ(dep[0].keyId, 0);
  EXPECT_EQ(0xF0000000u + 4 * dep[0].value, 0xF0F00000u);
  EXPECT_EQ(dep[1].keyType, 2);
  EXPECT_EQ(dep[1].keyId, 2);
  std::vector<UInt8> leaf;
  ASSERT_TRUE(ConfigROMLeaf(rom, dep[1].Target(), &leaf));
  ASSERT_GE(leaf.size(), 8 + p.modelName.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&leaf[8])).substr(0, p.modelName.size()), p.modelName);
}

TEST(SimCameraROM, MalformedRomsStayInBounds) {
  std::vector<UInt32> rom = {0x04040000, 0xFFFF0000};  // lengths far past the end
  std::vector<ConfigROMEntry> entries;
  std::vector<UInt8> leaf;
  EXPECT_TRUE(ConfigROMDirectory(rom, 1, &entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(ConfigROMDirectory(rom, 7, &entries));
  EXPECT_TRUE(ConfigROMLeaf(rom, 0, &leaf));
  EXPECT_EQ(leaf.size(), 4u);
  EXPECT_FALSE(ConfigROMLeaf(rom, 2, &leaf));
}

TEST(SimCameraUSB, Descriptors) {
  SimCamera cam(SimUSBPersonality());
  USBDeviceDescriptorInfo device;
  ASSERT_TRUE(USBParseDeviceDescriptor(cam.DeviceDescriptor(), &device));
  EXPECT_EQ(device.idVendor, 0x1E10);
  EXPECT_EQ(device.bNumConfigurations, 1);
  EXPECT_EQ(device.iProduct, 2);
  EXPECT_EQ(device.iSerialNumber, 3);
  USBConfigurationInfo config;
  ASSERT_TRUE(USBParseConfigurationDescriptor(cam.ConfigDescriptor(), &config));
  ASSERT_NE(config.Find(0, 0), nullptr);
  EXPECT_TRUE(config.Find(0, 0)->endpoints.empty());
  ASSERT_NE(config.Find(0, 1), nullptr);
  ASSERT_EQ(config.Find(0, 1)->endpoints.size(), 1u);
  EXPECT_EQ(config.Find(0, 1)->endpoints[0].address, 0x81);
  EXPECT_EQ(config.Find(0, 1)->endpoints[0].attributes & 3, 2);
  EXPECT_EQ(config.Find(0, 1)->endpoints[0].maxPacketSize, 512);
  std::vector<UInt8> serial = cam.StringDescriptor(3);
  EXPECT_EQ(serial, (std::vector<UInt8>{10, 3, '1', 0, 'A', 0, '2', 0, 'B', 0}));
}

TEST(SimCameraRegisters, InquiriesAreReadOnlyFaultsCountDownHooksAct) {
  SimCamera cam(SimMonoFireWirePersonality());
  UInt32 v = 0;
  EXPECT_EQ(cam.WriteQuadlet(0xFFFF, 0xF0F00100, 0), 0);
  EXPECT_EQ(cam.Peek(0x100), 0x81000000u);  // inquiry registers ignore writes
  EXPECT_EQ(cam.WriteQuadlet(0xFFFF, 0xF0F00614, 0x80000000), 0);
  EXPECT_EQ(cam.Peek(0x614), 0x80000000u);
  EXPECT_EQ(cam.ReadQuadlet(0xFFFF, 0xE0000000, &v), kIOReturnNotResponding);  // outside the camera

  cam.FailRegister(0x600, SimAccessKind::Read, kIOReturnTimeout, 2);
  EXPECT_EQ(cam.ReadQuadlet(0xFFFF, 0xF0F00600, &v), kIOReturnTimeout);
  EXPECT_EQ(cam.ReadQuadlet(0xFFFF, 0xF0F00600, &v), kIOReturnTimeout);
  EXPECT_EQ(cam.ReadQuadlet(0xFFFF, 0xF0F00600, &v), 0);

  cam.AddWriteHook(0x82C, 0x82C, [](SimCamera& c, UInt32, UInt32 value) {
    c.Poke(0x82C, (value & 0xFFF000) | ((value >> 12) & 0xFFF));  // current follows target at once
    return false;
  });
  EXPECT_EQ(cam.WriteQuadlet(0xFFFF, 0xF0F0082C, 0x00123000), 0);
  EXPECT_EQ(cam.Peek(0x82C), 0x00123123u);

  auto log = cam.Log();
  ASSERT_EQ(log.size(), 7u);
  for (size_t i = 1; i < log.size(); i++) EXPECT_LE(log[i - 1].micros, log[i].micros);
  SimCamera usb(SimUSBPersonality());
  UInt8 data[4];
  UInt32 done = 0;
  IOKitUSBSetup setup{0xC0, 0x7F, 0x0100, 0xF0F0, 4};
  EXPECT_EQ(usb.USBControl(setup, data, &done), 0);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(data[3], 0x81);  // little-endian on the wire
  IOKitUSBSetup unknown{0xC0, 0x10, 0, 0, 4};
  EXPECT_EQ(usb.USBControl(unknown, data, &done), kIOUSBPipeStalled);
}

TEST(SimScene, DeterministicWithTrueStarPositionsAndDrift) {
  SimSceneSettings s;
  s.width = 160;
  s.height = 120;
  s.seed = 7;
  s.starCount = 5;
  s.driftX = 0.5;
  s.driftY = -0.25;
  s.noiseSigma = 0;
  s.hotPixelCount = 2;
  SimScene scene(s);
  std::vector<float> a(160 * 120), b(160 * 120);
  scene.RenderChannel(3, 1.0, 3, a.data());
  scene.RenderChannel(3, 1.0, 3, b.data());
  EXPECT_EQ(a, b);
  SimScene other({s.kind, 160, 120, 8});
  other.RenderChannel(3, 1.0, 3, b.data());
  EXPECT_NE(a, b);

  double x0, y0, x4, y4;
  scene.StarPosition(0, 0, &x0, &y0);
  scene.StarPosition(0, 4, &x4, &y4);
  EXPECT_DOUBLE_EQ(x4 - x0, 2.0);
  EXPECT_DOUBLE_EQ(y4 - y0, -1.0);
  // The brightest star's peak pixel is where the scene says the star is.
  size_t brightest = 0;
  for (size_t i = 1; i < scene.Stars().size(); i++)
    if (scene.Stars()[i].flux > scene.Stars()[brightest].flux) brightest = i;
  double sx, sy;
  scene.StarPosition(brightest, 3, &sx, &sy);
  long px = std::lround(sx), py = std::lround(sy);
  float peak = a[size_t(py) * 160 + size_t(px)];
  for (long dy = -2; dy <= 2; dy++)
    for (long dx = -2; dx <= 2; dx++) {
      long x = px + dx, y = py + dy;
      if ((dx || dy) && x >= 0 && y >= 0 && x < 160 && y < 120) {
        bool hot = false;
        for (auto [hx, hy] : scene.HotPixels()) hot |= (long(hx) == x && long(hy) == y);
        if (!hot) {
          EXPECT_LE(a[size_t(y) * 160 + size_t(x)], peak);
        }
      }
    }
  for (auto [hx, hy] : scene.HotPixels()) EXPECT_EQ(a[hy * 160 + hx], 1.0f);
}

TEST(SimScene, BayerSitesTakeTheirChannelAndWhiteBalanceScales) {
  SimSceneSettings s;
  s.kind = SimSceneKind::Planet;
  s.width = 64;
  s.height = 48;
  s.planetRadius = 20;
  s.noiseSigma = 0;
  s.hotPixelCount = 0;
  SimScene scene(s);
  const double wb[3] = {1.0, 0.5, 0.25};
  std::vector<UInt16> mosaic(64 * 48);
  scene.RenderBayer(0, 1.0, wb, 1, 12, mosaic.data());  // RGGB
  std::vector<float> red(64 * 48), blue(64 * 48), green(64 * 48);
  scene.RenderChannel(0, 1.0 * wb[0], 0, red.data());
  scene.RenderChannel(0, 1.0 * wb[1], 1, green.data());
  scene.RenderChannel(0, 1.0 * wb[2], 2, blue.data());
  auto q = [](float v) { return UInt16(std::floor(double(v) * 4095 + 0.5)); };
  EXPECT_EQ(mosaic[24 * 64 + 32], q(red[24 * 64 + 32]));    // even row, even column
  EXPECT_EQ(mosaic[24 * 64 + 33], q(green[24 * 64 + 33]));
  EXPECT_EQ(mosaic[25 * 64 + 33], q(blue[25 * 64 + 33]));  // odd row, odd column
  EXPECT_GT(mosaic[24 * 64 + 32], 0);
  EXPECT_LE(*std::max_element(mosaic.begin(), mosaic.end()), 4095);
}

}  // namespace
