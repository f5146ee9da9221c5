// The machine's USB through one libusb context. libusb calls the hotplug
// callbacks on the context's event thread, where nothing may block; they only
// queue the arrival or departure for the bus's own dispatch thread, which
// opens the device and calls the user's handlers (which may block and make
// transfers). Without hotplug support the dispatch thread looks at the bus
// once a second instead.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <variant>

#include "libusb/LibusbBus.h"

#include "k27/common/Log.h"

#include "libusb/BusyRetry.h"
#include "libusb/LibusbContext.h"
#include "libusb/LibusbDevice.h"
#include "libusb/PlugTracker.h"

namespace vantrel::usbhost {
namespace {

constexpr std::chrono::seconds kPollInterval{1};

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

// Holds one reference to a libusb device.
class DeviceRef {
 public:
  explicit DeviceRef(libusb_device* device) : device_(device) {}
  DeviceRef(DeviceRef&& other) noexcept : device_(std::exchange(other.device_, nullptr)) {}
  DeviceRef& operator=(DeviceRef&& other) noexcept {
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
  LibusbBus(std::vector<UsbId> ids, bool poll) : ids_(std::move(ids)), poll_(poll) {}
  // Must not run in one of the bus's handlers.
  ~LibusbBus() override { Stop(); }

  void SetLog(std::function<void(const std::string&)> log) override {
    std::lock_guard lock(mutex_);
    log_ = std::move(log);
  }

  void Start(Events events) override {
    {
      std::lock_guard lock(mutex_);
      if (running_) return;
    }
    if (thread_.joinable()) thread_.join();  // after a Stop from a handler
    context_ = LibusbContext::Create();
    {
      std::lock_guard lock(mutex_);
      running_ = true;
      events_ = std::move(events);
      polling_ = false;
    }
    // Hotplug first, then the devices present: one that arrives in between is
    // reported twice, and the second report is a duplicate.
    const bool hotplug = libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0;
    if (!poll_ && hotplug) {
      const int registered = libusb_hotplug_register_callback(
          context_->Get(),
          static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                            LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
          static_cast<libusb_hotplug_flag>(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
          LIBUSB_HOTPLUG_MATCH_ANY, &LibusbBus::OnHotplug, this, &hotplug_);
      hotplugRegistered_ = registered == LIBUSB_SUCCESS;
      if (!hotplugRegistered_)
        Log(std::string("usbhost: hotplug unavailable (") + libusb_error_name(registered) +
            "), looking at the bus every second");
    } else if (!poll_) {
      Log("usbhost: libusb has no hotplug support here, looking at the bus every second");
    }
    {
      std::lock_guard lock(mutex_);
      polling_ = !hotplugRegistered_;
      nextPoll_ = std::chrono::steady_clock::now() + kPollInterval;
    }
    thread_ = std::thread([this] { Dispatch(); });

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_->Get(), &list);
    if (count < 0) {
      Log(std::string("usbhost: cannot list the devices: ") +
          libusb_error_name(static_cast<int>(count)));
      return;
    }
    for (ssize_t i = 0; i < count; ++i)
      if (Matches(list[i])) Post(Arrival{DeviceRef(libusb_ref_device(list[i]))});
    libusb_free_device_list(list, 1);
  }

  void Rescan() override {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    rescan_ = true;
    wake_.notify_all();
  }

  void Stop() override {
    {
      std::lock_guard lock(mutex_);
      if (!running_ && !thread_.joinable()) return;
      running_ = false;
      wake_.notify_all();
    }
    // Once deregistration returns, no hotplug callback runs or will run.
    if (hotplugRegistered_) {
      libusb_hotplug_deregister_callback(context_->Get(), hotplug_);
      hotplugRegistered_ = false;
    }
    // From a handler: the dispatch thread ends once the handler returns.
    if (std::this_thread::get_id() == thread_.get_id()) return;
    if (thread_.joinable()) thread_.join();
    // Devices still held elsewhere keep the context until they are dropped.
    context_.reset();
  }

 private:
  struct Arrival {
    DeviceRef device;
  };
  struct Departure {
    Plug plug;
  };
  using Event = std::variant<Arrival, Departure>;

  static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device,
                                   libusb_hotplug_event event, void* self) {
    auto* bus = static_cast<LibusbBus*>(self);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
      if (bus->Matches(device)) bus->Post(Arrival{DeviceRef(libusb_ref_device(device))});
    } else {
      bus->Post(Departure{PlugOf(device)});
    }
    return 0;  // stay registered
  }

  bool Matches(libusb_device* device) const {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return false;
    for (const UsbId& id : ids_)
      if (id.vendorId == descriptor.idVendor && id.productId == descriptor.idProduct) return true;
    return false;
  }

  void Post(Event event) {
    std::lock_guard lock(mutex_);
    if (!running_) return;  // an arrival's reference goes with it
    queue_.push_back(std::move(event));
    wake_.notify_all();
  }

  void Log(const std::string& text) {
    std::function<void(const std::string&)> log;
    {
      std::lock_guard lock(mutex_);
      log = log_;
    }
    if (log)
      log(text);
    else
      k27::common::LogInfo(text);
  }

  // Waits `pause` unless the bus stops meanwhile; false when it stops.
  bool Pause(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, pause, [this] { return !running_; });
  }

  bool Running() {
    std::lock_guard lock(mutex_);
    return running_;
  }

  void Dispatch() {
    for (;;) {
      std::optional<Event> event;
      {
        std::unique_lock lock(mutex_);
        auto ready = [this] { return !running_ || !queue_.empty() || rescan_; };
        if (polling_)
          wake_.wait_until(lock, nextPoll_, ready);
        else
          wake_.wait(lock, ready);
        if (!running_) break;
        if (!queue_.empty()) {
          event = std::move(queue_.front());
          queue_.pop_front();
        } else if (rescan_) {
          rescan_ = false;
        } else if (std::chrono::steady_clock::now() >= nextPoll_) {
          nextPoll_ = std::chrono::steady_clock::now() + kPollInterval;
        } else {
          continue;
        }
      }
      if (event)
        std::visit([this](auto& e) { Handle(e); }, *event);
      else
        Poll();
    }
    // The bus has stopped: no more events, and the devices it reported are
    // gone for their users.
    std::deque<Event> left;
    {
      std::lock_guard lock(mutex_);
      left.swap(queue_);
    }
    left.clear();
    for (auto& [location, device] : devices_) device->MarkGone();
    devices_.clear();
    tracker_ = PlugTracker();
  }

  void Handle(Arrival& arrival) {
    libusb_device* device = arrival.device.Get();
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
    const int opened =
        RetryWhileBusy([&] { return libusb_open(device, &handle); }, deadline, kBusyRetryInterval,
                       [this](std::chrono::milliseconds pause) { return Pause(pause); });
    if (opened < 0) {
      tracker_.Drop(plug);
      Log("usbhost: device " + name +
          " dropped, it cannot be opened: " + libusb_error_name(opened));
      return;
    }
    auto usb = std::make_shared<LibusbDevice>(context_, handle, identity, deadline);
    devices_[plug.location] = usb;
    if (events_.arrived) events_.arrived(usb);
  }

  void Handle(Departure& departure) {
    if (tracker_.Depart(departure.plug)) Depart(departure.plug.location);
  }

  void Depart(const std::string& location) {
    auto it = devices_.find(location);
    if (it == devices_.end()) return;
    const std::shared_ptr<LibusbDevice> device = std::move(it->second);
    devices_.erase(it);
    device->MarkGone();
    if (events_.departed) events_.departed(device->Identity());
  }

  // Without hotplug: what changed on the bus since the last look.
  void Poll() {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_->Get(), &list);
    if (count < 0) return;
    std::vector<Plug> present;
    std::vector<DeviceRef> arrivals;
    for (ssize_t i = 0; i < count; ++i) {
      if (!Matches(list[i])) continue;
      present.push_back(PlugOf(list[i]));
      arrivals.emplace_back(libusb_ref_device(list[i]));
    }
    libusb_free_device_list(list, 1);
    for (Plug& plug : tracker_.Missing(present)) {
      Departure departure{std::move(plug)};
      Handle(departure);
    }
    for (DeviceRef& device : arrivals) {
      if (!Running()) return;
      Arrival arrival{std::move(device)};
      Handle(arrival);  // one already reported is a duplicate
    }
  }

  const std::vector<UsbId> ids_;
  const bool poll_;
  std::shared_ptr<LibusbContext> context_;
  libusb_hotplug_callback_handle hotplug_{};
  bool hotplugRegistered_ = false;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool running_ = false;
  bool polling_ = false;
  bool rescan_ = false;  // a look at the bus was asked for
  std::chrono::steady_clock::time_point nextPoll_;
  std::function<void(const std::string&)> log_;
  Events events_;
  std::deque<Event> queue_;
  std::thread thread_;

  // The dispatch thread's own.
  PlugTracker tracker_;
  std::map<std::string, std::shared_ptr<LibusbDevice>> devices_;
};

}  // namespace

std::unique_ptr<UsbBus> MakeLibusbBus(std::vector<UsbId> ids) {
  return std::make_unique<LibusbBus>(std::move(ids), false);
}

std::unique_ptr<UsbBus> MakePollingLibusbBus(std::vector<UsbId> ids) {
  return std::make_unique<LibusbBus>(std::move(ids), true);
}

}  // namespace vantrel::usbhost
