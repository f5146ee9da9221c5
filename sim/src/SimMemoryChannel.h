// Channel 6: the board's 64 KiB SRAM and the flag that tells whether the
// application image downloaded into it runs.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ChannelHandler.h"

namespace vantrel::sim {

class SimMemoryChannel final : public ChannelHandler {
 public:
  static constexpr std::uint32_t kSramBytes = 65536;

  SimMemoryChannel();

  Response Handle(const Request& request) override;

  bool ApplicationRunning() const { return applicationRunning_; }
  void SetApplicationRunning(bool running) { applicationRunning_ = running; }
  // Bytes [address, address + length) clipped to the end of the SRAM.
  std::vector<std::uint8_t> Copy(std::uint32_t address, std::uint32_t length) const;

 private:
  Response Read(std::span<const std::uint8_t> payload) const;
  Response Write(std::span<const std::uint8_t> payload);

  std::vector<std::uint8_t> sram_;
  bool applicationRunning_ = false;
};

}  // namespace vantrel::sim
