// The host's serial ports for the IOKit layer's serial family: the tty
// class in sysfs, keeping only ttys backed by a device (ttyS*, ttyUSB*,
// ttyACM*, ttyAMA*...), never the virtual consoles or pseudo-terminals.
#pragma once
#include <string>
#include <vector>

#include "platform/iokit/IOKitBackend.h"

// The device nodes (devRoot + "/" + name) of the ttys under classRoot
// ("/sys/class/tty" on a running system) that have a "device" entry, in name
// order. Bluetooth (rfcomm*) and IrDA (ircomm*) ports are left out.
std::vector<std::string> SysfsSerialPorts(const std::string& classRoot, const std::string& devRoot);

// The real serial back end over /sys/class/tty and /dev.
IOKitBackend* SysfsSerialBackend();
