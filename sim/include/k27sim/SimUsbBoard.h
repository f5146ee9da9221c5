// A K27 board on the USB, as its firmware presents it: the standard requests
// on endpoint 0, answered from the firmware's descriptor block, and a
// SimBoard behind the bulk endpoints, channel c on endpoints c OUT and
// 0x80 | c IN.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "k27sim/SimBoard.h"
#include "k27sim/SimUsb.h"
#include "k27sim/UsbDescriptorBlock.h"

namespace vantrel::sim {

class UsbStandardRequests;

class SimUsbBoard : public SimUsbDevice {
 public:
  // The board with the standard descriptor block of the given identifiers.
  SimUsbBoard(std::shared_ptr<SimBoard> board, std::uint16_t vendorId, std::uint16_t productId);
  // The board with the descriptors of a block read by ParseDescriptorBlock.
  SimUsbBoard(std::shared_ptr<SimBoard> board, UsbDescriptors descriptors);
  ~SimUsbBoard() override;

  std::uint16_t VendorId() const override;
  std::uint16_t ProductId() const override;

  // The standard requests (see UsbStandardRequests); every class and vendor
  // request, and every request not known, stalls.
  UsbTransferOutcome Control(const UsbSetup& setup, std::span<std::uint8_t> data) override;
  // The endpoints exist once the device is configured; an endpoint that the
  // configuration does not have stalls, and so does a halted one until
  // CLEAR_FEATURE(ENDPOINT_HALT) (or SET_CONFIGURATION, SET_INTERFACE).
  //
  // OUT: the whole transfer is one command to the board, however many
  // packets it takes; it replaces the channel's reply not yet read.
  UsbTransferOutcome Out(std::uint8_t endpoint, std::span<const std::uint8_t> data) override;
  // IN: Nak while no reply is pending; a reply the board stalls halts the
  // endpoint. A reply of n bytes completes a transfer into a buffer of n
  // bytes or more with n (its last packet is short, or, for a multiple of
  // the packet size, the firmware ends it with a zero-length packet). Into
  // a smaller buffer the transfer completes full and the reply's rest stays
  // for the next IN transfer, until the next command on the channel.
  UsbTransferOutcome In(std::uint8_t endpoint, std::span<std::uint8_t> buffer) override;
  void PortReset() override;

  const std::shared_ptr<SimBoard>& Board() const { return board_; }
  const UsbDescriptors& Descriptors() const;
  std::uint8_t Configuration() const;

 private:
  static constexpr int kChannels = 15;  // endpoint numbers 1-15

  // A channel's reply as the IN endpoint still holds it.
  struct PendingReply {
    bool stall = false;
    std::vector<std::uint8_t> bytes;
    std::size_t taken = 0;
  };

  std::shared_ptr<SimBoard> board_;
  mutable std::mutex mutex_;
  std::unique_ptr<UsbStandardRequests> requests_;
  std::array<std::optional<PendingReply>, kChannels + 1> pending_;
};

}  // namespace vantrel::sim
