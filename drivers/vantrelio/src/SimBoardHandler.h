// The control requests of one simulated board: the board's pipe table over a
// k27sim::SimBoard, with the driver's bulk exchange and interface selection.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "ExchangeRecord.h"
#include "vantrel/driver/ControlCodes.h"
#include "vantrel/driver/ControlHandler.h"

namespace k27sim {
class SimBoard;
}

namespace vantrel::driver {

// One entry of the pipe table, the fields the control codes look at.
struct PipeRecord {
  std::uint8_t endpointAddress = 0;  // bit 7 set: IN
  std::uint8_t pipeType = 0;         // 0 control, 1 isochronous, 2 bulk, 3 interrupt
  std::uint32_t maximumTransferSize = 0;
  bool hasHandle = false;

  bool operator==(const PipeRecord&) const = default;
};

inline constexpr std::uint8_t kPipeTypeBulk = 2;
inline constexpr std::uint32_t kMaximumTransferSize = 65535;



class SimBoardHandler final : public ControlHandler {
 public:
  // The board is not owned and must outlive the handler.
  explicit SimBoardHandler(k27sim::SimBoard& board, int instance = 0);

  ControlResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                        std::span<std::uint8_t> out) override;

  // Called after every bulk exchange that reached the board, on the calling
  // thread. Set it before the handler serves requests.
  void SetExchangeHook(ExchangeHook hook);

  // The board firmware's table: pipe 2k is endpoint 0x81+k IN, pipe 2k+1 is
  // endpoint 0x01+k OUT, k = 0..6, all bulk.
  static std::vector<PipeRecord> BoardPipeTable();
  std::vector<PipeRecord> PipeTable() const;

  // The latest failing request block status, 0 until one fails.
  std::uint32_t LastUrbError() const { return lastUrbError_.load(); }

  int Instance() const { return instance_; }

  // Virtual time a transfer waits for a reply that never comes before it is
  // cancelled.
  static constexpr std::uint64_t kTransferTimeoutMicros = 5'000'000;

 private:
  struct Transfer {
    std::uint32_t status;
    std::uint32_t moved;
    bool gotData;  // an IN transfer that brought a reply
  };

  ControlResult BulkExchange(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);
  ControlResult SelectInterface(std::span<const std::uint8_t> in);
  Transfer DoTransfer(const PipeRecord& pipe, std::span<std::uint8_t> data);
  std::mutex& ChannelMutex(const PipeRecord& pipe);

  k27sim::SimBoard& board_;
  const int instance_;
  const std::vector<PipeRecord> pipes_;
  std::atomic<std::uint32_t> lastUrbError_{USBD_STATUS_SUCCESS};
  ExchangeHook hook_;
  // One per endpoint number, so that the command and its reply of one
  // exchange are never split by another client's exchange on the channel.
  std::array<std::mutex, 16> channelMutex_;
};

}  // namespace vantrel::driver
