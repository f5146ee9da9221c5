// Channel 7: the SPI link (SEC messages travel over it as plain transfers).
// A transfer answers with as many bytes as its receive bit count needs: the
// next scripted reply when one is queued, else the bytes it sent (a slave
// that shifts back what it got); missing bytes read 0xFF, an idle data line.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "ChannelHandler.h"
#include "k27sim/SimBoard.h"

namespace vantrel::sim {

class SimSpiChannel final : public ChannelHandler {
 public:
  static constexpr std::size_t kLogTransfers = 4096;  // the oldest go first

  Response Handle(const Request& request) override;

  bool Enabled() const { return enabled_; }
  void QueueReply(std::vector<std::uint8_t> bytes) { replies_.push_back(std::move(bytes)); }
  const std::deque<SpiTransfer>& Transfers() const { return transfers_; }

 private:
  Response Transfer(std::span<const std::uint8_t> payload);

  bool enabled_ = false;
  std::deque<std::vector<std::uint8_t>> replies_;
  std::deque<SpiTransfer> transfers_;
};

}  // namespace vantrel::sim
