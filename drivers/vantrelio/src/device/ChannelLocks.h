// One lock per endpoint number, that is per channel, so that the command and
// the reply of one bulk exchange, or one raw transfer on a pipe, are never
// split by another caller on the same channel: a reply goes only to the
// caller who asked for it. Callers waiting on a channel are served in the
// order they came (FairLock). Different channels run in parallel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "FairLock.h"

namespace vantrel::driver {

class ChannelLocks {
 public:
  // Holds one channel's lock until destroyed.
  class Held {
   public:
    explicit Held(FairLock* lock);
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    FairLock* lock_;
  };

  // The channel of `endpointAddress`: its endpoint number, either direction.
  Held Lock(std::uint8_t endpointAddress);
  // Callers waiting for the channel of `endpointAddress`.
  std::size_t Waiting(std::uint8_t endpointAddress) const;

  // Lets exchanges on one channel interleave again, as an unserialised
  // driver does; only the test that shows what the locks prevent uses it.
  // Call it before any exchange.
  void DisableForTest() { enabled_ = false; }

 private:
  static std::size_t ChannelOf(std::uint8_t endpointAddress) { return endpointAddress & 0x0F; }

  std::array<FairLock, 16> locks_;
  bool enabled_ = true;
};

}  // namespace vantrel::driver
