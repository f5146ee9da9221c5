// The board's PIC and the channel 5 commands: real-time clock, security
// switch records and flags, random numbers, PIC version and serial number.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ChannelHandler.h"

namespace vantrel::sim {

struct SecuritySwitchRecord {
  std::uint32_t time = 0;
  std::uint8_t state = 0;
};

class SimPic final : public ChannelHandler {
 public:
  // The serial number the board answers until it is set (the factory's).
  explicit SimPic(const std::array<std::uint8_t, 8>& serial);

  Response Handle(const Request& request) override;

  // The clock counts whole seconds of board time since it was last set.
  std::uint32_t ClockAt(std::uint64_t nowMicros) const;
  const std::array<std::uint8_t, 8>& SerialNumber() const { return serial_; }
  // Replacing the records ends any read pass in progress.
  void SetRecords(std::vector<SecuritySwitchRecord> records);
  void SetFlags(std::uint8_t first, std::uint8_t second) { flags_ = {first, second}; }

 private:
  Response SetClock(const Request& request);
  Response NextRecord();
  Response TakeFlags();
  Response RandomNumber();
  Response EnableRandom(std::span<const std::uint8_t> payload);

  std::uint32_t clockBase_ = 0;
  std::uint64_t clockSetAtMicros_ = 0;

  std::vector<SecuritySwitchRecord> records_;
  // Index of the next record of the current pass; empty when no pass runs.
  std::optional<std::size_t> cursor_;
  std::array<std::uint8_t, 2> flags_{};

  std::array<std::uint8_t, 8> serial_;

  bool randomEnabled_ = false;
  std::uint64_t randomState_ = 0;
};

}  // namespace vantrel::sim
