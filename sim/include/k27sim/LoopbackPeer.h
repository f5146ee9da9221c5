// A loopback plug: every byte the port sends comes back to it, once its own
// line time has passed.
#pragma once

#include <vector>

#include "k27sim/SerialPeer.h"

namespace vantrel::sim {

class LoopbackPeer final : public SerialPeer {
 public:
  std::vector<LineByte> Transfer(std::span<const LineByte> sent, std::uint32_t) override {
    return {sent.begin(), sent.end()};
  }
};

}  // namespace vantrel::sim
