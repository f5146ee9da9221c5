// One lock per endpoint number, so that the command and the reply of one
// bulk exchange are never split by another caller's exchange on the same
// channel.
#pragma once

#include <array>
#include <mutex>

#include "PipeTable.h"

namespace vantrel::driver {

class ChannelLocks {
 public:
  // Holds the locks of both pipes' endpoint numbers until destroyed.
  class Held {
   public:
    Held(std::mutex* a, std::mutex* b);
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    std::mutex* a_;
    std::mutex* b_;
  };

  Held Lock(const PipeInformation& first, const PipeInformation& second);

  // Lets exchanges on one channel interleave again, as an unserialised
  // driver does; only the test that shows what the locks prevent uses it.
  // Call it before any exchange.
  void DisableForTest() { enabled_ = false; }

 private:
  std::array<std::mutex, 16> locks_;
  bool enabled_ = true;
};

}  // namespace vantrel::driver
