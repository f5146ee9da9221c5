// Simulated USB devices and the bus they sit on, as the host side sees them:
// control transfers on endpoint 0, bulk and interrupt endpoints that accept
// data or answer NAK until they have some, isochronous endpoints, stalls.
// The USB host layer's simulator backend drives these.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace vantrel::sim {

struct UsbSetup {
  std::uint8_t requestType = 0;  // bit 7: device to host; bits 5-6: 0 standard, 1 class, 2 vendor
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;
};

enum class UsbOutcome {
  Ack,    // done: `length` bytes moved
  Nak,    // nothing yet (IN) or not accepted yet (OUT): the host tries again later
  Stall,  // the endpoint (or the control request) is halted / refused
  Gone,   // the device has left the bus
};

struct UsbTransferOutcome {
  UsbOutcome outcome = UsbOutcome::Ack;
  std::size_t length = 0;
};

// One isochronous packet of a transfer: offset and length in the transfer's
// buffer; the device fills in what it moved and a per-packet fault.
struct UsbIsoPacket {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  std::uint32_t actualLength = 0;
  bool error = false;
};

class SimUsbDevice {
 public:
  virtual ~SimUsbDevice() = default;
  virtual std::uint16_t VendorId() const = 0;
  virtual std::uint16_t ProductId() const = 0;

  // A control transfer: standard requests (GET_DESCRIPTOR, SET_CONFIGURATION,
  // GET_CONFIGURATION, SET_INTERFACE, CLEAR_FEATURE(ENDPOINT_HALT), ...) and
  // the device's class and vendor requests. `data` is the data stage, at most
  // setup.length bytes; IN requests fill it.
  virtual UsbTransferOutcome Control(const UsbSetup& setup, std::span<std::uint8_t> data) = 0;
  // Bulk or interrupt OUT transfer of the whole buffer (cut into the
  // endpoint's packets by the device).
  virtual UsbTransferOutcome Out(std::uint8_t endpoint, std::span<const std::uint8_t> data) = 0;
  // Bulk or interrupt IN transfer into `buffer`: packets until a short one
  // or the buffer is full. Nak while the device has nothing to send.
  virtual UsbTransferOutcome In(std::uint8_t endpoint, std::span<std::uint8_t> buffer) = 0;
  // Isochronous transfer, one packet per frame from `startFrame`. Devices
  // without isochronous endpoints stall.
  virtual UsbTransferOutcome Isochronous(std::uint8_t endpoint, std::span<std::uint8_t> buffer,
                                         std::span<UsbIsoPacket> packets,
                                         std::uint32_t startFrame) {
    (void)endpoint, (void)buffer, (void)packets, (void)startFrame;
    return {UsbOutcome::Stall, 0};
  }
  // Called whenever an IN endpoint may have data where it had none before,
  // so that the host retries a NAKed transfer. Set by the bus.
  void SetDataReadyCallback(std::function<void()> callback) {
    std::lock_guard lock(callbackMutex_);
    dataReady_ = std::move(callback);
  }
  // The host has reset the device's port: the device is back in its default
  // state (unconfigured, no endpoint halted); its firmware keeps running.
  virtual void PortReset() {}

  // Fault hook: the host's next `count` attempts to open the device fail as
  // if access were denied, as right after an arrival while udev is still
  // applying its rules.
  void RefuseOpens(int count) { refusedOpens_.store(count); }
  // The host opens the device: false while refusals are left.
  bool Open() {
    int left = refusedOpens_.load();
    while (left > 0 && !refusedOpens_.compare_exchange_weak(left, left - 1)) {
    }
    return left <= 0;
  }

 protected:
  void NotifyDataReady() {
    std::function<void()> callback;
    {
      std::lock_guard lock(callbackMutex_);
      callback = dataReady_;
    }
    if (callback) callback();
  }

  // Re-enumeration, as a part whose firmware gives it a new identity: this
  // device leaves its port (reported unplugged at once) and `successor` is
  // plugged into the same port after `absence` (at once when zero). False,
  // and nothing happens, when this device is not on a bus. Call it with no
  // lock of the device held: the bus's observer may run inside it.
  bool ReEnumerateAs(std::shared_ptr<SimUsbDevice> successor,
                     std::chrono::milliseconds absence = std::chrono::milliseconds{0});
  // True once the device has been on a bus and has left it (unplugged or
  // re-enumerated) and has not been plugged again: it then answers Gone.
  // A device that was never plugged serves its requests (unit tests).
  bool LeftBus() const;

 private:
  friend class SimUsbBus;
  enum class Place { NeverPlugged, OnBus, Left };

  std::atomic<int> refusedOpens_{0};
  mutable std::mutex callbackMutex_;
  std::function<void()> dataReady_;
  // Set by the bus while the device is plugged: asks the bus to re-enumerate
  // this device. Under callbackMutex_.
  Place place_ = Place::NeverPlugged;
  std::function<bool(std::shared_ptr<SimUsbDevice>, std::chrono::milliseconds)> reEnumerate_;
};

// Ports 1 to N of one simulated root hub. Plugging and unplugging devices,
// and a device's own re-enumeration, are reported to the observer.
class SimUsbBus {
 public:
  struct Observer {
    std::function<void(int port, std::shared_ptr<SimUsbDevice>)> plugged;
    std::function<void(int port)> unplugged;
  };
  // What moves the frame counter: only AdvanceFrames (tests), or also the
  // wall clock, one frame per millisecond since the bus was made (the demo).
  enum class FrameClock { Manual, WallClock };

  // 1 to 255 ports; other counts throw std::invalid_argument.
  explicit SimUsbBus(int ports = 8, FrameClock clock = FrameClock::Manual);
  virtual ~SimUsbBus();
  SimUsbBus(const SimUsbBus&) = delete;
  SimUsbBus& operator=(const SimUsbBus&) = delete;

  int Ports() const;
  // Observer calls happen on the thread that plugs or unplugs, with no bus
  // lock held, one at a time and in the order of the changes. A change made
  // from inside an observer call is reported once that call has returned; a
  // change made while another thread is reporting is reported by that
  // thread, and the call that made it returns once it has been. The return
  // of a re-enumerated device after an absence is reported on the bus's
  // timer thread.
  void SetObserver(Observer observer);
  // A port outside 1..Ports() throws std::out_of_range; a device already on
  // a bus throws std::invalid_argument. Plugging into an occupied port
  // unplugs the device there first; plugging nullptr is Unplug. Plugging or
  // unplugging a port whose device is away re-enumerating cancels its return.
  void Plug(int port, std::shared_ptr<SimUsbDevice> device);
  void Unplug(int port);
  // The device on `port` leaves (reported unplugged) and `successor` comes
  // back on the same port after `absence` (reported plugged; at once when
  // the absence is zero). Nothing happens when the port is empty.
  void Replace(int port, std::shared_ptr<SimUsbDevice> successor,
               std::chrono::milliseconds absence = std::chrono::milliseconds{0});
  // nullptr for an empty port and for one outside 1..Ports().
  std::shared_ptr<SimUsbDevice> DeviceAt(int port) const;
  // Frame counter of the bus: 1 ms frames counted by AdvanceFrames, plus
  // the milliseconds of the wall clock with FrameClock::WallClock. Wraps
  // modulo 2^32.
  std::uint32_t FrameNumber() const;
  void AdvanceFrames(std::uint32_t frames);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace vantrel::sim
