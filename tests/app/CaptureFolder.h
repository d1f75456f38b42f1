// Captures of a test camera go to a folder of the test's without asking, and
// nothing is opened after saving.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "app/CameraWindowData.h"
#include "platform/coreservices/CoreServices.h"

inline void SaveCapturesTo(MyCameraWindowDataStruct* r, const std::string& folder) {
  FSRef ref;
  FSCatalogInfo info;
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), &ref, nullptr), noErr);
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoVolume | kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr), noErr);
  r->mDefaultFolderVRefNum = info.volume;
  r->mDefaultFolderDirID = SInt32(info.nodeID);
  r->mDefaultFolderValid = 1;
  r->mOpenFrameAfterSave = 0;
  r->mOpenMovieAfterSave = 0;
}

// The name of a capture's file.
inline std::string CaptureName(const FSSpec& fileSpec) {
  return std::string(reinterpret_cast<const char*>(fileSpec.name + 1), fileSpec.name[0]);
}
