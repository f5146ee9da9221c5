// One board device: the record of a started board, its plug-and-play entry
// points, and the control requests of the handles open on "ezusb-N". Every
// entry point may be called from any thread; the plug-and-play ones arrive
// one at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "BoardDeviceState.h"
#include "ChannelLocks.h"
#include "ExchangeRecord.h"
#include "usb/IsoStreamRunner.h"
#include "usb/UrbSubmit.h"
#include "vantrel/driver/ControlHandler.h"
#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::driver {

// The part of a capabilities query that the driver looks at.
struct DeviceCapabilities {
  std::uint16_t version = 1;
  bool surpriseRemovalOk = false;
};

class BoardDevice final : public ControlHandler {
 public:
  // Messages for the daemon's log, on the calling thread.
  using Log = std::function<void(const std::string&)>;

  // The device named for `instance` (0 to 7) over `usb`, created but not
  // started. Every USB request waits at most `transferTimeLimit` before it
  // is cancelled.
  BoardDevice(std::shared_ptr<usbhost::UsbDevice> usb, int instance,
              std::chrono::milliseconds transferTimeLimit = kDefaultTransferTimeLimit,
              Log log = {});
  BoardDevice(const BoardDevice&) = delete;
  BoardDevice& operator=(const BoardDevice&) = delete;

  // A handle is opened: STATUS_UNSUCCESSFUL until a start has succeeded,
  // STATUS_DELETE_PENDING once removal has begun. Each open handle counts.
  std::uint32_t OpenHandle();
  // A client connects: true when OpenHandle succeeded.
  bool Open() override;
  void Close() override;

  // Plug and play. Each returns STATUS_DELETE_PENDING once removal has
  // begun. Start reads the descriptors and selects the configuration (again,
  // after a stop); Stop deconfigures the device and keeps the record; Remove
  // ends the transfers in flight, waits for every request still running and
  // releases what the start kept. Nothing may be called after Remove except
  // the refusals.
  std::uint32_t Start();
  std::uint32_t Stop();
  std::uint32_t SurpriseRemoval();
  std::uint32_t Remove();
  std::uint32_t QueryCapabilities(DeviceCapabilities& capabilities);

  ControlResult Control(std::uint32_t code, std::span<const std::uint8_t> in,
                        std::span<std::uint8_t> out) override;

  // Called after every bulk exchange, on the calling thread, while the
  // exchange's channel is still held. Set it before the device serves
  // requests.
  void SetExchangeHook(ExchangeHook hook);
  // Exchanges on one channel may interleave (ChannelLocks::DisableForTest).
  void DisableExchangeLocksForTest() { channels_.DisableForTest(); }

  int Instance() const { return state_.instance; }
  const BoardDeviceState& State() const { return state_; }

 private:
  ControlResult Dispatch(std::uint32_t code, std::span<const std::uint8_t> in,
                         std::span<std::uint8_t> out);
  void Message(const std::string& text) const;

  const std::shared_ptr<usbhost::UsbDevice> usb_;
  BoardDeviceState state_;
  const DeviceContext context_;
  ChannelLocks channels_;
  ExchangeHook exchangeHook_;
  const Log log_;
  // Last, so that a stream still running ends before the rest goes.
  IsoStreamRunner isoStream_;
};

}  // namespace vantrel::driver
