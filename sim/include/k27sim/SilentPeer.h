// Nothing on the line, or a device that listens and never answers: the sent
// bytes are swallowed. A port without a peer behaves the same way.
#pragma once

#include <vector>

#include "k27sim/SerialPeer.h"

namespace vantrel::sim {

class SilentPeer final : public SerialPeer {
 public:
  std::vector<LineByte> Transfer(std::span<const LineByte>, std::uint32_t) override { return {}; }
};

}  // namespace vantrel::sim
