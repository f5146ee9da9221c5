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
    Held(std::mutex& a, std::mutex& b);
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

   private:
    std::mutex& a_;
    std::mutex& b_;
  };

  Held Lock(const PipeInformation& first, const PipeInformation& second);

 private:
  std::array<std::mutex, 16> locks_;
};

}  // namespace vantrel::driver
