#include "platform/iokit/SerialPorts.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

std::vector<std::string> SysfsSerialPorts(const std::string& classRoot, const std::string& devRoot) {
  std::vector<std::string> names;
  DIR* dir = opendir(classRoot.c_str());
  if (!dir) return {};
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (name.rfind("rfcomm", 0) == 0 || name.rfind("ircomm", 0) == 0) continue;
    // Consoles and pseudo-terminals have no device behind them.
    struct stat st;
    if (stat((classRoot + "/" + name + "/device").c_str(), &st) != 0) continue;
    names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (std::string& n : names) n = devRoot + "/" + n;
  return names;
}

namespace {

class SysfsBackend : public IOKitNoCameraBackend {
 public:
  const char* Name() const override { return "sysfs serial"; }
  std::vector<IOKitSerialPortInfo> SerialPorts() override {
    std::vector<IOKitSerialPortInfo> ports;
    for (const std::string& path : SysfsSerialPorts("/sys/class/tty", "/dev"))
      ports.push_back({IOKitBackendKey(ports.size() + 1), path});
    return ports;
  }
};

}  // namespace

IOKitBackend* SysfsSerialBackend() {
  static SysfsBackend backend;
  return &backend;
}
