// Tests of the library against a simulated board in this process: the
// library's device link hands its requests to the driver's handler for a
// SimBoard, and every exchange is recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include <k27sim/SimBoard.h>
#include <vantrel/VantrelUSB.h>

#include "SimBoardHandler.h"
#include "link/DeviceLink.h"
#include "link/InProcessDeviceLink.h"

namespace vantrel::testing {

struct Exchange {
  int channel;
  std::vector<std::uint8_t> out;
  bool replied;
  std::vector<std::uint8_t> in;
};

// Boards 0..N-1 of one simulated bus.
class SimBus {
 public:
  explicit SimBus(std::vector<k27sim::SimBoardOptions> boards) {
    for (std::size_t i = 0; i < boards.size(); ++i) {
      auto entry = std::make_unique<Entry>(boards[i], static_cast<int>(i));
      entry->handler->SetExchangeHook([this](const driver::ExchangeRecord& r) {
        std::lock_guard lock(mutex_);
        log_.push_back({r.channel, r.out, r.in.has_value(), r.in.value_or(std::vector<std::uint8_t>{})});
      });
      entries_.push_back(std::move(entry));
    }
    SetDeviceOpener([this](int index) -> std::unique_ptr<DeviceLink> {
      if (index < 0 || index >= static_cast<int>(entries_.size())) return nullptr;
      return std::make_unique<InProcessDeviceLink>(entries_[index]->handler);
    });
  }
  ~SimBus() { SetDeviceOpener({}); }

  k27sim::SimBoard& Board(int index = 0) { return *entries_.at(index)->board; }
  std::vector<Exchange> Log() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void ClearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
  }
  // The exchanges of one channel with the given command byte.
  std::vector<Exchange> Commands(int channel, std::uint8_t command) {
    std::vector<Exchange> found;
    for (auto& e : Log())
      if (e.channel == channel && !e.out.empty() && e.out[0] == command) found.push_back(e);
    return found;
  }

 private:
  struct Entry {
    Entry(const k27sim::SimBoardOptions& options, int instance)
        : board(std::make_unique<k27sim::SimBoard>(options)),
          handler(std::make_shared<driver::SimBoardHandler>(*board, instance)) {}
    std::unique_ptr<k27sim::SimBoard> board;
    std::shared_ptr<driver::SimBoardHandler> handler;
  };
  std::vector<std::unique_ptr<Entry>> entries_;
  std::mutex mutex_;
  std::vector<Exchange> log_;
};

inline k27sim::SimBoardOptions WithEeprom(std::uint32_t bytes) {
  k27sim::SimBoardOptions options;
  options.eepromBytes = bytes;
  return options;
}

}  // namespace vantrel::testing
