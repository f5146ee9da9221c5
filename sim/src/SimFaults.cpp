#include "SimFaults.h"

namespace vantrel::sim {

void FaultTable::Inject(int channel, std::uint8_t command, Fault fault) {
  const auto key = std::make_pair(channel, command);
  if (fault.count == 0) {
    faults_.erase(key);
  } else {
    faults_[key] = fault;
  }
}

std::optional<Fault> FaultTable::Take(int channel, std::uint8_t command) {
  const auto it = faults_.find({channel, command});
  if (it == faults_.end()) return std::nullopt;
  const Fault fault = it->second;
  if (it->second.count > 0 && --it->second.count == 0) faults_.erase(it);
  return fault;
}

SimReply DamageReply(const Fault& fault, std::vector<std::uint8_t> framed) {
  SimReply reply{SimReply::Outcome::Data, std::move(framed)};
  switch (fault.kind) {
    case FaultKind::NoReply:
      return SimReply{};
    case FaultKind::Stall:
      return SimReply{SimReply::Outcome::Stall, {}};
    case FaultKind::Short:
      reply.bytes.resize(1);
      break;
    case FaultKind::Long:
      reply.bytes.resize(kLongReplyBytes, 0);
      break;
    case FaultKind::WrongEcho:
      reply.bytes[0] ^= 0xFF;
      break;
    case FaultKind::Corrupt:
      // Past the echo and the status byte; a reply without data is left whole.
      if (reply.bytes.size() > 2) reply.bytes.back() ^= 0xFF;
      break;
    case FaultKind::Status:
      break;
  }
  return reply;
}

}  // namespace vantrel::sim
