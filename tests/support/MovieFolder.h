// A temporary folder for the movie tests: "config" holds the preferences,
// "movies" the files, whose volume and directory id the movie calls take.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/coreservices/Files.h"

struct MovieFolder {
  std::filesystem::path dir;
  FSVolumeRefNum volume = 0;
  SInt32 dirID = 0;
};

// Makes the folder under /tmp (named from `prefix`) and points the
// preferences at its "config". Fatal test failure when anything fails.
inline void MakeMovieFolder(const std::string& prefix, MovieFolder* folder) {
  std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  folder->dir = tmpl;
  std::filesystem::create_directory(folder->dir / "config");
  std::filesystem::create_directory(folder->dir / "movies");
  SkyloomSetConfigurationDirectory((folder->dir / "config").c_str());
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((folder->dir / "movies").c_str()), &ref, nullptr), noErr);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr), noErr);
  folder->volume = info.volume;
  folder->dirID = SInt32(info.nodeID);
}
