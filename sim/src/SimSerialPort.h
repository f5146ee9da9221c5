// One of the board's two serial ports (port A on channel 3, port B on
// channel 4): line configuration, sending to the attached peer, the receive
// queue with its time values, the parity-error count, the time-out message
// and the polled messages.
//
// A send (0x62) is answered once its bytes have left the port, so the
// command takes their line time (10 bits per byte at the configured baud
// rate) and the board's time moves on by it; a peer's echo of the first byte
// is therefore waiting when the host's send returns.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "ChannelHandler.h"
#include "SimPolledMessages.h"
#include "SimReceiveQueue.h"
#include "k27sim/SerialPeer.h"

namespace vantrel::sim {

class SimSerialPort final : public ChannelHandler {
 public:
  static constexpr std::size_t kSentLogBytes = 65536;  // the oldest bytes go first

  // `portB` selects the twelve-rate divisors of port B.
  explicit SimSerialPort(bool portB);

  Response Handle(const Request& request) override;
  // Runs the polled messages that fell due up to `nowMicros`.
  void AdvanceTo(std::uint64_t nowMicros);

  void AttachPeer(std::shared_ptr<SerialPeer> peer) { peer_ = std::move(peer); }
  // The first byte arrives at `firstMicros` (or once the bytes before it have
  // arrived), each next one a byte's line time later.
  void PushReceived(std::span<const std::uint8_t> bytes, std::uint64_t firstMicros);

  const std::deque<std::uint8_t>& Sent() const { return sent_; }
  void ClearSent() { sent_.clear(); }
  const std::array<std::uint8_t, 6>& LineConfiguration() const { return configuration_; }
  std::uint32_t Baud() const;
  void SetParityErrors(std::uint16_t count) { parityErrors_ = count; }
  std::uint8_t TimeoutTime() const { return timeoutTime_; }
  const std::vector<std::uint8_t>& TimeoutMessage() const { return timeoutMessage_; }
  std::optional<std::vector<std::uint8_t>> PolledConfiguration(std::size_t slot) const {
    return polled_.Configuration(slot);
  }

 private:
  Response Configure(std::span<const std::uint8_t> payload);
  Response Send(std::span<const std::uint8_t> payload, std::uint64_t nowMicros);
  Response SetTimeoutMessage(std::span<const std::uint8_t> payload);
  // Puts `bytes` on the line from `atMicros` on, or once the line is free.
  // The host's own sends reach the peer only when it listens to the port's
  // mode; polled messages are ccTalk frames and always go on the bus.
  SimPolledMessages::Transmission Transmit(std::span<const std::uint8_t> bytes,
                                           std::uint64_t atMicros, bool fromHost);

  const bool portB_;
  std::array<std::uint8_t, 6> configuration_;
  std::shared_ptr<SerialPeer> peer_;
  std::uint64_t lineFreeMicros_ = 0;  // when the last byte sent has left
  std::deque<std::uint8_t> sent_;
  SimReceiveQueue received_;
  SimPolledMessages polled_;
  std::uint16_t parityErrors_ = 0;
  std::uint8_t timeoutTime_ = 0;
  std::vector<std::uint8_t> timeoutMessage_;
};

}  // namespace vantrel::sim
