// The test-only camera tool's feature report on the simulated cameras. The
// expected lines are read off the personalities' registers by hand
// (SimPersonalities.cpp), e.g. gain 0xCB0002A8: min 0, max 0x2A8, read-out,
// auto and manual; control 0x82000000: value 0, auto off; absolute block
// 0 .. 24 dB holding 0, absolute control off.
#include <gtest/gtest.h>
#include <stdio.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/simcamera/SimBus.h"
#include "tests/tools/dcamtool.h"

namespace {

std::string RunTool(std::vector<const char*> args, int* status) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  args.insert(args.begin(), "dcamtool");
  *status = DCAMToolRun(int(args.size()), args.data(), out);
  fclose(out);
  std::string s(text, size);
  free(text);
  return s;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(DCAMTool, FeaturesOfTheUSBCamera) {
  int status = -1;
  auto lines = Lines(RunTool({"features", "1a2b"}, &status));
  EXPECT_EQ(status, 0);
  const std::vector<std::string> expected = {
      "camera 0x00001A2B vendor 0x00001E10 \"Sim USB Camera\"",
      "  0x500 brightness      min=0 max=255 one-push=0 read-out=1 on/off=0 auto=0 manual=1 | value=64",
      "  0x520 gain            min=0 max=680 one-push=0 read-out=1 on/off=0 auto=1 manual=1 | value=0 auto=0"
      " | absolute [0, 24] value=0 off",
      "  0x51C shutter         min=1 max=4095 one-push=0 read-out=1 on/off=0 auto=1 manual=1 | value=512 auto=0"
      " | absolute [0.0001, 10] value=0.01 off",
  };
  EXPECT_EQ(lines, expected);
}

// Registers that do not answer: the gain inquiry (0x520) and the shutter's
// absolute value (block base + 0x2470, value at +8). The report names the
// error where the value would stand and goes on with the other features.
// The gain inquiry failed at opening too, so gain is not taken as absolute.
TEST(DCAMTool, FeaturesWhoseRegistersDoNotAnswer) {
  constexpr IOReturn kNotResponding = IOReturn(0xE00002ED);
  auto cameras = SimInstallRig({SimUSBPersonality()});
  cameras[0]->FailRegister(0x520, SimAccessKind::Read, kNotResponding);
  cameras[0]->FailRegister(0x2478, SimAccessKind::Read, kNotResponding);
  int status = -1;
  auto lines = Lines(RunTool({"--rig", "host", "features", "1a2b"}, &status));
  EXPECT_EQ(status, 0);
  const std::vector<std::string> expected = {
      "camera 0x00001A2B vendor 0x00001E10 \"Sim USB Camera\"",
      "  0x500 brightness      min=0 max=255 one-push=0 read-out=1 on/off=0 auto=0 manual=1 | value=64",
      "  0x520 gain            capability err -536870163",
      "  0x51C shutter         min=1 max=4095 one-push=0 read-out=1 on/off=0 auto=1 manual=1 | value=512 auto=0"
      " | absolute err -536870163",
  };
  EXPECT_EQ(lines, expected);
}

TEST(DCAMTool, EveryCameraOfTheRig) {
  int status = -1;
  std::string text = RunTool({"features"}, &status);
  EXPECT_EQ(status, 0);
  auto lines = Lines(text);
  // Four cameras with 12, 3, 3 and 3 present features.
  EXPECT_EQ(lines.size(), 4u + 12u + 3u + 3u + 3u) << text;
  // White balance 0x821E0200: U/B 0x1E0, V/R 0x200; trigger 0x8E808000 with
  // control 0x80000000: mode field 8 (mode 0 only), switched off.
  EXPECT_NE(text.find("  0x50C white balance   min=0 max=1023 one-push=1 read-out=1 on/off=0 auto=1 manual=1"
                      " | U/B=480 V/R=512 auto=0\n"),
            std::string::npos);
  EXPECT_NE(text.find("  0x530 trigger         min=0 max=8 one-push=0 read-out=1 on/off=1 auto=1 manual=1"
                      " | on=0 polarity=0 source=0 mode=0 parameter=0\n"),
            std::string::npos);
  EXPECT_NE(text.find("  0x52C temperature     min=0 max=4095 one-push=0 read-out=1 on/off=0 auto=0 manual=1"
                      " | target=0 current=0 | absolute [233.15, 333.15] value=293.15 off\n"),
            std::string::npos);
}

TEST(DCAMTool, ListAndMistakes) {
  int status = -1;
  EXPECT_EQ(RunTool({"list"}, &status),
            "0x00003003 vendor 0x00B09D01 in-use 0 \"Sim IIDC Colour 1280\"\n"
            "0x00001001 vendor 0x00A1B201 in-use 0 \"Sim IIDC Mono 640\"\n"
            "0x00002002 vendor 0x00B09D01 in-use 0 \"Sim IIDC Colour 1280 F7\"\n"
            "0x00001A2B vendor 0x00001E10 in-use 0 \"Sim USB Camera\"\n");
  EXPECT_EQ(status, 0);
  RunTool({"features", "77"}, &status);
  EXPECT_EQ(status, 1);
  RunTool({"--rig", "nonsense", "list"}, &status);
  EXPECT_EQ(status, 2);
  RunTool({}, &status);
  EXPECT_EQ(status, 2);
}

}  // namespace
