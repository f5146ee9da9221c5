// The USB host layer: the bus with its arrivals and departures, and each
// device's transfers, which complete asynchronously and can be waited for
// with a time-out and cancelled. Backends: libusb-1.0 for boards on the
// machine's USB, and the board simulator.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vantrel/usbhost/UsbTypes.h"

namespace vantrel::usbhost {

enum class TransferType { Control, Isochronous, Bulk, Interrupt };

struct IsoPacket {
  std::uint32_t offset = 0;        // in the transfer's data
  std::uint32_t length = 0;        // asked for
  std::uint32_t actualLength = 0;  // moved (on completion)
  std::uint32_t status = USBD_STATUS_SUCCESS;
};

struct TransferRequest {
  TransferType type = TransferType::Bulk;
  // Endpoint address with its direction bit; for control transfers the
  // direction comes from setup.requestType and this is 0.
  std::uint8_t endpoint = 0;
  SetupPacket setup;  // control transfers only
  // The data stage or payload. The buffer belongs to the caller and must
  // stay valid until the transfer has completed (also after Cancel).
  std::span<std::uint8_t> data;
  // A short IN transfer is an error unless this is set.
  bool shortTransferOk = true;
  // Isochronous transfers only.
  std::vector<IsoPacket> isoPackets;
  bool startAsap = true;
  std::uint32_t startFrame = 0;
};

struct TransferResult {
  std::uint32_t status = USBD_STATUS_SUCCESS;  // a UsbdStatus
  std::size_t transferred = 0;
  std::vector<IsoPacket> isoPackets;  // isochronous: per packet
  std::uint32_t startFrame = 0;
};

// One submitted transfer.
class PendingTransfer {
 public:
  virtual ~PendingTransfer() = default;
  // True once the transfer has completed (within `timeout`).
  virtual bool WaitFor(std::chrono::milliseconds timeout) = 0;
  virtual void Wait() = 0;
  // Asks for the transfer to end; it then completes with USBD_STATUS_CANCELED
  // unless it had completed already. Returns at once: Wait for the end.
  virtual void Cancel() = 0;
  virtual bool Completed() const = 0;
  // Valid once completed.
  virtual const TransferResult& Result() const = 0;
};

class UsbDevice {
 public:
  virtual ~UsbDevice() = default;
  virtual DeviceIdentity Identity() const = 0;
  // Submits a transfer. A device that has left the bus completes it at once
  // with USBD_STATUS_DEVICE_GONE; the result is never null.
  virtual std::shared_ptr<PendingTransfer> Submit(TransferRequest request) = 0;

  // Sets configuration `configurationValue`, claims interface `interface`
  // and selects its `alternate` setting; fills `selected` with that setting's
  // endpoints in descriptor order. Returns a UsbdStatus.
  virtual std::uint32_t SelectConfiguration(std::uint8_t configurationValue, std::uint8_t interface,
                                            std::uint8_t alternate, InterfaceInfo* selected) = 0;
  // Back to the unconfigured state (the driver's stop).
  virtual std::uint32_t Deconfigure() = 0;
  // Another setting of a claimed interface.
  virtual std::uint32_t SelectInterface(std::uint8_t interface, std::uint8_t alternate,
                                        InterfaceInfo* selected) = 0;
  // Cancels every transfer in flight on the endpoint and waits until each has
  // completed.
  virtual void AbortEndpoint(std::uint8_t endpoint) = 0;
  // Clears the endpoint's halt and data toggle. Returns a UsbdStatus.
  virtual std::uint32_t ResetEndpoint(std::uint8_t endpoint) = 0;
  // Resets the device's upstream port. Returns a UsbdStatus.
  virtual std::uint32_t ResetPort() = 0;
  // The bus's current frame number, when the backend knows it.
  virtual std::optional<std::uint32_t> CurrentFrameNumber() = 0;
};

// Plug-and-play requests other than arrival and departure, which the
// simulated bus can deliver so that every one is tested.
enum class PnpRequest { Stop, Start, QueryCapabilities, SurpriseRemoval };

class UsbBus {
 public:
  struct Events {
    // A device has arrived (or was present when Start ran). Called on the
    // bus's own event thread, never on a backend callback's stack: the
    // handler may block and make transfers.
    std::function<void(std::shared_ptr<UsbDevice>)> arrived;
    // The device at that place has left; its handle is dead from now on.
    std::function<void(const DeviceIdentity&)> departed;
    // Simulated bus only.
    std::function<void(const DeviceIdentity&, PnpRequest)> request;
  };
  virtual ~UsbBus() = default;
  // Where the bus reports what it cannot deliver, such as an arrival that it
  // dropped because the device could not be opened. Set it before Start. A
  // backend without such reports ignores it.
  virtual void SetLog(std::function<void(const std::string&)> log) { (void)log; }
  // Every event is delivered on the one event thread, in the order the bus
  // saw them.
  virtual void Start(Events events) = 0;
  // Stops delivering events: those not yet delivered are dropped, and the
  // devices reported are marked gone. Returns once no handler runs any more;
  // called from a handler, it returns at once and the event thread ends when
  // that handler returns. Start may follow.
  virtual void Stop() = 0;
  // Looks at the bus again, as at Start: devices that came or went without
  // an event are reported; one already reported is not reported again.
  // Returns at once; the reports follow on the event thread.
  virtual void Rescan() {}
  // Every device on the bus now, whatever its identifiers (also those the
  // bus does not report), for messages about what sits where. Any thread;
  // empty when the bus is not running or cannot tell.
  virtual std::vector<DeviceIdentity> Present() const { return {}; }
  // `beat` runs on the event thread every `interval`, between events, from
  // Start to Stop (set before or after Start): a handler that hangs holds it
  // back. A backend without an event thread ignores it.
  virtual void SetHeartbeat(std::chrono::milliseconds interval, std::function<void()> beat) {
    (void)interval;
    (void)beat;
  }
  // `done` runs on the event thread once every event the bus had queued
  // when this was called (at Start: the devices present) has been
  // delivered; false, and `done` dropped without running, when the bus is
  // not running or stops first. The default runs it at once.
  virtual bool AfterPending(std::function<void()> done) {
    done();
    return true;
  }
};

}  // namespace vantrel::usbhost
