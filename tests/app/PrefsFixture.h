// An open simulated camera whose preference domains live in the harness's
// private folder, with helpers that store raw key texts and read the domain
// files back.
#pragma once
#include <cstdio>
#include <string>

#include "app/CameraPrefs.h"
#include "platform/corefoundation/CFNumber.h"
#include "platform/corefoundation/CFPreferences.h"
#include "tests/app/ExposureFixture.h"
#include "utilities/PreferenceText.h"

class PrefsTest : public ExposureTest {
 protected:
  // Opens the camera and chooses its first video size, as the control
  // window's set-up does before the preferences are read.
  MyCameraWindowDataStruct* OpenReady(const SimCameraPersonality& p) {
    MyCameraWindowDataStruct* r = Open(p);
    if (!r) return nullptr;
    EXPECT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
    return r;
  }

  std::string CameraDomain() const {
    return "com.brindlemoor.SKYLOOM.CameraPrefs" + std::to_string(int(record_->mProperties.mCameraID));
  }
  static CFStringRef S(const std::string& text) {
    return CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
  }
  // Stores text under key (a null text removes the key) and synchronizes.
  static void Put(const std::string& domain, const std::string& key, const char* text) {
    CFStringRef d = S(domain), k = S(key);
    CFStringRef v = text ? S(text) : nullptr;
    CFPreferencesSetAppValue(k, v, d);
    EXPECT_TRUE(CFPreferencesAppSynchronize(d));
    if (v) CFRelease(v);
    CFRelease(k);
    CFRelease(d);
  }
  // Stores a value that is no text at all.
  static void PutNumberObject(const std::string& domain, const std::string& key, double value) {
    CFStringRef d = S(domain), k = S(key);
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberDoubleType, &value);
    CFPreferencesSetAppValue(k, n, d);
    EXPECT_TRUE(CFPreferencesAppSynchronize(d));
    CFRelease(n);
    CFRelease(k);
    CFRelease(d);
  }
  // The text stored under key, "<none>" when nothing is, "<other>" for a
  // value that is not a string.
  static std::string Stored(const std::string& domain, const std::string& key) {
    CFStringRef d = S(domain), k = S(key);
    CFPropertyListRef v = CFPreferencesCopyAppValue(k, d);
    CFRelease(k);
    CFRelease(d);
    if (!v) return "<none>";
    std::string out = "<other>";
    char text[512];
    if (CFGetTypeID(v) == CFStringGetTypeID() && CFStringGetCString(CFStringRef(v), text, sizeof text,
                                                                      kCFStringEncodingUTF8))
      out = text;
    CFRelease(v);
    return out;
  }
  std::string DomainFile(const std::string& domain) const { return preferences_ + "/" + domain + ".plist"; }
  bool FileExists(const std::string& path) const { return access(path.c_str(), F_OK) == 0; }

  // Runs a command and gives its standard output; the exit status through status.
  static std::string Run(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
      *status = -1;
      return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    *status = pclose(p);
    return out;
  }
};
