// Faults injected per channel and command byte, and the damage they do to a
// reply.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "k27sim/SimBoard.h"

namespace vantrel::sim {

class FaultTable {
 public:
  // One fault per channel and command byte: a new one replaces the old one,
  // and one with a count of 0 removes it.
  void Inject(int channel, std::uint8_t command, Fault fault);
  void Clear() { faults_.clear(); }
  // The fault that hits this command, used up by one when it has a count.
  std::optional<Fault> Take(int channel, std::uint8_t command);

 private:
  std::map<std::pair<int, std::uint8_t>, Fault> faults_;
};

// Length to which a FaultKind::Long reply is padded.
inline constexpr std::size_t kLongReplyBytes = 70;

// What the IN endpoint offers when `fault` hits the good reply `framed`
// (echo, status, data). FaultKind::Status is not a damage: the board refuses
// the command before running it, so the caller answers it itself.
SimReply DamageReply(const Fault& fault, std::vector<std::uint8_t> framed);

}  // namespace vantrel::sim
