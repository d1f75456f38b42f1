#include "platform/launchservices/Processes.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "platform/corefoundation/CFBundle.h"

namespace {

std::string resolved(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::string parent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

OSStatus GetProcessBundleLocation(const ProcessSerialNumber* psn, FSRef* location) {
  if (psn == nullptr || location == nullptr) return paramErr;
  if (psn->highLongOfPSN != 0 || psn->lowLongOfPSN != kCurrentProcess) return paramErr;
  std::string resources = SkyloomBundleResourceDirectory();
  while (resources.size() > 1 && resources.back() == '/') resources.pop_back();
  const std::string target = resolved(resources);
  if (target.empty()) return fnfErr;

  const std::string kTail = "/Contents/Resources";
  std::string candidates[3];
  if (endsWith(resources, kTail)) candidates[0] = resources.substr(0, resources.size() - kTail.size());
  candidates[1] = parent(resources) + "/Skyloom.app";
  candidates[2] = parent(parent(resources)) + "/lib/skyloom/Skyloom.app";
  for (const std::string& bundle : candidates) {
    if (bundle.empty() || resolved(bundle + kTail) != target) continue;
    const std::string path = resolved(bundle);
    if (path.empty()) continue;
    return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), location, nullptr);
  }
  return fnfErr;
}
