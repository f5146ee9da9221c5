// The umockdev records of emulated USB devices on bus 1: the sysfs
// attributes libusb reads (with the raw descriptors) and the device node.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel::usbhost::emulation {

struct UsbDeviceRecord {
  std::vector<int> portPath;  // empty: the root hub
  int devnum = 1;
  std::vector<std::uint8_t> descriptors;  // device, then every configuration
  int configuration = 1;                  // bConfigurationValue
  bool node = true;                       // without a node the device cannot be opened
};

// "1-3" (or "1-3.2"), "usb1" for the root hub.
std::string SysName(const std::vector<int>& portPath);
// "/sys/devices/usb1/1-3", as umockdev names it.
std::string SysPath(const std::vector<int>& portPath);
// "/dev/bus/usb/001/007".
std::string DevNode(int devnum);
std::string HexOf(std::span<const std::uint8_t> bytes);
// The record for umockdev_testbed_add_from_string.
std::string RecordOf(const UsbDeviceRecord& record);
// The root hub (1d6b:0002), device 1.
std::string RootHubRecord();

}  // namespace vantrel::usbhost::emulation
