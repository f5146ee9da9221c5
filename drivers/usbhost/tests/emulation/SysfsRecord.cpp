#include "emulation/SysfsRecord.h"

#include <cstdio>

namespace vantrel::usbhost::emulation {

std::string SysName(const std::vector<int>& portPath) {
  if (portPath.empty()) return "usb1";
  std::string name = "1-" + std::to_string(portPath[0]);
  for (std::size_t i = 1; i < portPath.size(); ++i) name += "." + std::to_string(portPath[i]);
  return name;
}

std::string SysPath(const std::vector<int>& portPath) {
  return portPath.empty() ? "/sys/devices/usb1" : "/sys/devices/usb1/" + SysName(portPath);
}

std::string DevNode(int devnum) {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
  return node;
}

std::string HexOf(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

std::string RecordOf(const UsbDeviceRecord& r) {
  const std::string dev = DevNode(r.devnum);
  std::string record = "P: " + SysPath(r.portPath).substr(4) + "\n";
  if (r.node) record += "N: " + dev.substr(5) + "\n";
  record += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\n";
  record += "E: DEVNUM=" + dev.substr(dev.size() - 3) + "\nE: DEVNAME=" + dev + "\n";
  record += "A: busnum=1\\n\nA: devnum=" + std::to_string(r.devnum) + "\\n\n";
  record += "A: speed=480\\n\n";
  record += "A: bConfigurationValue=" +
            (r.configuration > 0 ? std::to_string(r.configuration) : std::string()) + "\\n\n";
  record += "H: descriptors=" + HexOf(r.descriptors) + "\n";
  return record;
}

std::string RootHubRecord() {
  const std::vector<std::uint8_t> descriptors = {
      0x12, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 0x40, 0x6B, 0x1D, 0x02, 0x00, 0x06, 0x05, 0x03,
      0x02, 0x01, 0x01, 0x09, 0x02, 0x19, 0x00, 0x01, 0x01, 0x00, 0xE0, 0x00, 0x09, 0x04, 0x00,
      0x00, 0x01, 0x09, 0x00, 0x00, 0x00, 0x07, 0x05, 0x81, 0x03, 0x04, 0x00, 0x0C};
  return RecordOf({{}, 1, descriptors, 1, true});
}

}  // namespace vantrel::usbhost::emulation
