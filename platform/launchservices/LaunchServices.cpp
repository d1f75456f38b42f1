#include "platform/launchservices/LaunchServices.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <thread>

extern char** environ;

namespace {

std::mutex& openerMutex() {
  static std::mutex m;
  return m;
}

std::function<OSStatus(const std::string&)>& opener() {
  static std::function<OSStatus(const std::string&)> f;
  return f;
}

}  // namespace

void SkyloomSetFileOpener(std::function<OSStatus(const std::string& path)> f) {
  std::lock_guard<std::mutex> lock(openerMutex());
  opener() = std::move(f);
}

OSStatus LSOpenFSRef(const FSRef* inRef, FSRef*) {
  if (inRef == nullptr) return paramErr;
  UInt8 path[4096];
  OSStatus err = FSRefMakePath(inRef, path, sizeof path);
  if (err != noErr) return err;
  if (access(reinterpret_cast<const char*>(path), F_OK) != 0) return fnfErr;
  std::function<OSStatus(const std::string&)> f;
  {
    std::lock_guard<std::mutex> lock(openerMutex());
    f = opener();
  }
  if (f) return f(reinterpret_cast<const char*>(path));
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>("xdg-open"), reinterpret_cast<char*>(path), nullptr};
  int rc = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ);
  if (rc != 0) {
    fprintf(stderr, "LSOpenFSRef xdg-open failed Err = %d\n", rc);
    return kLSApplicationNotFoundErr;
  }
  // The opener hands the file on and exits; reap it aside.
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return noErr;
}
