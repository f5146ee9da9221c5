// Control requests over a connected SOCK_SEQPACKET socket to the daemon.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "k27/common/UniqueFd.h"
#include "link/DeviceLink.h"
#include "vantrel/protocol/ControlProtocol.h"

namespace vantrel {

class SocketDeviceLink final : public DeviceLink {
 public:
  // Connects to "ezusb-N" in the device folder; nullptr when that fails.
  static std::unique_ptr<SocketDeviceLink> Open(int deviceIndex);
  static std::unique_ptr<SocketDeviceLink> Connect(const std::string& socketPath);
  // The device folder: $VANTREL_DEVICE_DIR, else /run/vantrel.
  static std::string DeviceDirectory();

  // How long one request waits for the daemon to take it and to answer:
  // $VANTREL_REPLY_TIMEOUT_MS (1 to 3,600,000) when set, else 15 s, well
  // beyond the driver's 5 s per transfer. Read when a connection is made.
  static constexpr int kDefaultReplyTimeoutMs = 15000;
  static constexpr const char* kReplyTimeoutEnv = "VANTREL_REPLY_TIMEOUT_MS";
  static int ReplyTimeoutMs();
  static_assert(kDefaultReplyTimeoutMs == driver::ControlProtocol::kDefaultReplyTimeoutMs);

  ~SocketDeviceLink() override;
  // A request that the daemon has not answered in time fails, and the
  // connection is dropped with it: a late reply must never be taken for the
  // next request's. Every later request fails until the board is opened again.
  // A daemon that closed the connection before taking a request reports why
  // when it said so (a refused connection's status and limit).
  LinkResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                     std::span<std::uint8_t> out, std::uint32_t* returned) override;
  // False only when the caller has released the connection before.
  bool Close() override;

 private:
  SocketDeviceLink(vantrel::common::UniqueFd fd, int timeoutMs)
      : fd_(std::move(fd)), timeoutMs_(timeoutMs) {}
  // Closes the socket but leaves the connection to be released by Close.
  bool Drop();
  LinkResult ReplyLeftBehind();

  vantrel::common::UniqueFd fd_;
  int timeoutMs_;
  bool released_ = false;
};

}  // namespace vantrel
