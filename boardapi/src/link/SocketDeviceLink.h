// Control requests over a connected SOCK_SEQPACKET socket to the daemon.
#pragma once

#include <memory>
#include <string>

#include "link/DeviceLink.h"

namespace vantrel {

class SocketDeviceLink final : public DeviceLink {
 public:
  // Connects to "ezusb-N" in the device folder; nullptr when that fails.
  static std::unique_ptr<SocketDeviceLink> Open(int deviceIndex);
  static std::unique_ptr<SocketDeviceLink> Connect(const std::string& socketPath);
  // The device folder: $VANTREL_DEVICE_DIR, else /run/vantrel.
  static std::string DeviceDirectory();

  ~SocketDeviceLink() override;
  bool Control(std::uint32_t code, std::span<const std::uint8_t> in,
               std::span<std::uint8_t> out, std::uint32_t* returned) override;
  bool Close() override;

 private:
  explicit SocketDeviceLink(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace vantrel
