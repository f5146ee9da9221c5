// The machine's USB through one libusb context. libusb calls the hotplug
// callbacks on the context's event thread, where nothing may block; they only
// post the arrival or departure to the bus's dispatcher, whose thread opens
// the device and calls the user's handlers (which may block and make
// transfers). Without hotplug support, and with a poll interval, the
// dispatch thread also looks at the bus, through a fresh context where
// libusb's own list follows the hotplug events alone.
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <utility>

#include "libusb/LibusbBus.h"

#include "BusEventDispatcher.h"
#include "libusb/BusyRetry.h"
#include "libusb/LibusbContext.h"
#include "libusb/LibusbDevice.h"
#include "libusb/PlugTracker.h"

namespace vantrel::usbhost {
namespace {

// Without hotplug and without an interval of the user's.
constexpr std::chrono::milliseconds kDefaultPollInterval{1000};

std::string IntervalText(std::chrono::milliseconds interval) {
  if (interval == std::chrono::seconds(1)) return "every second";
  if (interval.count() % 1000 == 0)
    return "every " + std::to_string(interval.count() / 1000) + " s";
  return "every " + std::to_string(interval.count()) + " ms";
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

// Only in-memory facts of the device: safe in a hotplug callback.
DeviceIdentity IdentityOf(libusb_device* device) {
  DeviceIdentity identity;
  identity.bus = libusb_get_bus_number(device);
  std::uint8_t ports[8];
  const int count = libusb_get_port_numbers(device, ports, sizeof ports);
  if (count > 0) identity.portPath.assign(ports, ports + count);
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS) {
    identity.vendorId = descriptor.idVendor;
    identity.productId = descriptor.idProduct;
  }
  return identity;
}

Plug PlugOf(libusb_device* device) {
  return {IdentityOf(device).Location(), libusb_get_device_address(device)};
}

// Holds one reference to a libusb device; a copy holds one more.
class DeviceRef {
 public:
  explicit DeviceRef(libusb_device* device) : device_(device) {}
  DeviceRef(const DeviceRef& other) : device_(other.device_) {
    if (device_ != nullptr) libusb_ref_device(device_);
  }
  DeviceRef(DeviceRef&& other) noexcept : device_(std::exchange(other.device_, nullptr)) {}
  DeviceRef& operator=(DeviceRef other) noexcept {
    std::swap(device_, other.device_);
    return *this;
  }
  ~DeviceRef() {
    if (device_ != nullptr) libusb_unref_device(device_);
  }
  libusb_device* Get() const { return device_; }

 private:
  libusb_device* device_;
};

class LibusbBus final : public UsbBus {
 public:
  // `hotplug` false: only the looks at the bus. `pollInterval` zero: look
  // only where hotplug is missing.
  LibusbBus(std::vector<UsbId> ids, bool hotplug, std::chrono::milliseconds pollInterval)
      : ids_(std::move(ids)), useHotplug_(hotplug), pollInterval_(pollInterval) {}
  // Must not run in one of the bus's handlers.
  ~LibusbBus() override { Stop(); }

  void SetLog(std::function<void(const std::string&)> log) override {
    dispatcher_.SetLog(std::move(log));
  }

  void Start(Events events) override {
    if (dispatcher_.Running()) return;
    dispatcher_.Stop();  // a dispatch thread that a handler's Stop left ends first
    {
      std::lock_guard lock(contextMutex_);
      context_ = LibusbContext::Create();
    }
    events_ = std::move(events);
    dispatcher_.Start([this] { Forget(); });
    // Hotplug first, then the devices present: one that arrives in between is
    // reported twice, and the second report is a duplicate.
    const bool hotplug = libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0;
    const auto interval = pollInterval_.count() > 0 ? pollInterval_ : kDefaultPollInterval;
    if (useHotplug_ && hotplug) {
      const int registered = libusb_hotplug_register_callback(
          context_->Get(),
          static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                            LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
          static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
          LIBUSB_HOTPLUG_MATCH_ANY, &LibusbBus::OnHotplug, this, &hotplug_);
      hotplugRegistered_ = registered == LIBUSB_SUCCESS;
      if (!hotplugRegistered_)
        dispatcher_.Report(std::string("usbhost: hotplug unavailable (") +
                           libusb_error_name(registered) + "), looking at the bus " +
                           IntervalText(interval));
    } else if (useHotplug_) {
      dispatcher_.Report("usbhost: libusb has no hotplug support here, looking at the bus " +
                         IntervalText(interval));
    }
    if (!hotplugRegistered_ || pollInterval_.count() > 0)
      dispatcher_.PollEvery(interval, [this] { Poll(); });

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_->Get(), &list);
    if (count < 0) {
      dispatcher_.Report(std::string("usbhost: cannot list the devices: ") +
                         libusb_error_name(static_cast<int>(count)));
      return;
    }
    for (ssize_t i = 0; i < count; ++i)
      if (Matches(list[i])) PostArrival(DeviceRef(libusb_ref_device(list[i])));
    libusb_free_device_list(list, 1);
  }

  void Rescan() override {
    dispatcher_.Post([this] { Poll(); });
  }

  void SetHeartbeat(std::chrono::milliseconds interval, std::function<void()> beat) override {
    dispatcher_.SetHeartbeat(interval, std::move(beat));
  }

  bool AfterPending(std::function<void()> done) override {
    return dispatcher_.Post(std::move(done));
  }

  std::vector<DeviceIdentity> Present() const override {
    std::shared_ptr<LibusbContext> running;
    {
      std::lock_guard lock(contextMutex_);
      running = context_;
    }
    std::vector<DeviceIdentity> present;
    if (!running) return present;
    const std::shared_ptr<LibusbContext> context = LookingContext(running);
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context->Get(), &list);
    for (ssize_t i = 0; i < count; ++i) present.push_back(IdentityOf(list[i]));
    if (count >= 0) libusb_free_device_list(list, 1);
    return present;
  }

  void Stop() override {
    const bool fromHandler = dispatcher_.OnDispatchThread();
    // From a handler: the dispatch thread ends once the handler returns.
    dispatcher_.Stop();
    // Once deregistration returns, no hotplug callback runs or will run.
    if (hotplugRegistered_) {
      libusb_hotplug_deregister_callback(context_->Get(), hotplug_);
      hotplugRegistered_ = false;
    }
    if (fromHandler) return;
    // Devices still held elsewhere keep the context until they are dropped.
    std::lock_guard lock(contextMutex_);
    context_.reset();
  }

 private:
  static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device,
                                   libusb_hotplug_event event, void* self) {
    auto* bus = static_cast<LibusbBus*>(self);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
      if (bus->Matches(device)) bus->PostArrival(DeviceRef(libusb_ref_device(device)));
    } else {
      bus->dispatcher_.Post([bus, plug = PlugOf(device)] { bus->Leave(plug); });
    }
    return 0;  // stay registered
  }

  // A dropped arrival's reference goes with it.
  void PostArrival(DeviceRef device) {
    dispatcher_.Post([this, device = std::move(device)] { Arrive(device, context_); });
  }

  // The context to look at the bus through. Where libusb has hotplug
  // support, a context's device list follows the hotplug events alone; where
  // they never come (no udev, as in many containers), only a context made
  // now sees the bus as it is. Devices found are opened in it, which it
  // outlives.
  static std::shared_ptr<LibusbContext> LookingContext(std::shared_ptr<LibusbContext> running) {
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) return running;
    try {
      return LibusbContext::Create();
    } catch (const std::exception&) {
      return running;
    }
  }

  bool Matches(libusb_device* device) const {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return false;
    for (const UsbId& id : ids_)
      if (id.vendorId == descriptor.idVendor && id.productId == descriptor.idProduct) return true;
    return false;
  }

  // The bus has stopped: the devices it reported are gone for their users.
  void Forget() {
    for (auto& [location, device] : devices_) device->MarkGone();
    devices_.clear();
    tracker_ = PlugTracker();
  }

  // `context` is the one `arrival` was listed in.
  void Arrive(const DeviceRef& arrival, const std::shared_ptr<LibusbContext>& context) {
    libusb_device* device = arrival.Get();
    const Plug plug = PlugOf(device);
    switch (tracker_.Arrive(plug)) {
      case PlugTracker::Arrival::Duplicate:
        return;
      case PlugTracker::Arrival::Replaces:
        Depart(plug.location);
        break;  // it left unseen
      case PlugTracker::Arrival::New:
        break;
    }
    const DeviceIdentity identity = IdentityOf(device);
    const std::string name =
        Hex4(identity.vendorId) + ":" + Hex4(identity.productId) + " at " + identity.Location();
    const auto deadline = RetryClock::now() + kBusyRetryWindow;
    libusb_device_handle* handle = nullptr;
    int opened = LIBUSB_ERROR_OTHER;
    dispatcher_.RetryWhileBusy(
        [&] {
          opened = libusb_open(device, &handle);
          return !IsBusyResult(opened);
        },
        deadline);
    if (opened < 0) {
      tracker_.Drop(plug);
      dispatcher_.Report("usbhost: device " + name +
                         " dropped, it cannot be opened: " + libusb_error_name(opened));
      return;
    }
    auto usb = std::make_shared<LibusbDevice>(context, handle, identity, deadline);
    devices_[plug.location] = usb;
    if (events_.arrived) events_.arrived(usb);
  }

  void Leave(const Plug& plug) {
    if (tracker_.Depart(plug)) Depart(plug.location);
  }

  void Depart(const std::string& location) {
    auto it = devices_.find(location);
    if (it == devices_.end()) return;
    const std::shared_ptr<LibusbDevice> device = std::move(it->second);
    devices_.erase(it);
    device->MarkGone();
    if (events_.departed) events_.departed(device->Identity());
  }

  // What changed on the bus since the last look: without hotplug, at --poll
  // and on Rescan.
  void Poll() {
    // Declared first: the device references below go before it.
    const std::shared_ptr<LibusbContext> context = LookingContext(context_);
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context->Get(), &list);
    if (count < 0) return;
    std::vector<Plug> present;
    std::vector<DeviceRef> arrivals;
    for (ssize_t i = 0; i < count; ++i) {
      if (!Matches(list[i])) continue;
      present.push_back(PlugOf(list[i]));
      arrivals.emplace_back(libusb_ref_device(list[i]));
    }
    libusb_free_device_list(list, 1);
    for (const Plug& plug : tracker_.Missing(present)) Leave(plug);
    for (const DeviceRef& device : arrivals) {
      if (!dispatcher_.Running()) return;
      Arrive(device, context);  // one already reported is a duplicate
    }
  }

  const std::vector<UsbId> ids_;
  const bool useHotplug_;
  const std::chrono::milliseconds pollInterval_;
  // Set by Start and reset by Stop, under the lock for Present (any thread).
  mutable std::mutex contextMutex_;
  std::shared_ptr<LibusbContext> context_;
  libusb_hotplug_callback_handle hotplug_{};
  bool hotplugRegistered_ = false;

  Events events_;  // set before the dispatch thread starts

  // The dispatch thread's own.
  PlugTracker tracker_;
  std::map<std::string, std::shared_ptr<LibusbDevice>> devices_;

  // Last: its thread, which uses everything above, ends first.
  BusEventDispatcher dispatcher_;
};

}  // namespace

std::unique_ptr<UsbBus> MakeLibusbBus(std::vector<UsbId> ids,
                                      std::chrono::milliseconds pollInterval) {
  return std::make_unique<LibusbBus>(std::move(ids), true, pollInterval);
}

std::unique_ptr<UsbBus> MakePollingLibusbBus(std::vector<UsbId> ids) {
  return std::make_unique<LibusbBus>(std::move(ids), false, std::chrono::milliseconds{});
}

}  // namespace vantrel::usbhost
