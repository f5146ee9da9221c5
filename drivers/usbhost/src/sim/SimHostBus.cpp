// The simulated bus as the host layer offers it: plugging, unplugging and
// re-enumeration become arrivals and departures, delivered on the bus's own
// event thread in the order they happened. Like a real bus, a device may
// refuse to be opened for a moment after it arrives; such opens are retried
// for a while before the device is dropped.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <variant>

#include "k27/common/Log.h"
#include "k27sim/SimUsb.h"
#include "libusb/BusyRetry.h"
#include "sim/SimHostDevice.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::usbhost {
namespace {

class SimBusImpl final : public SimHostBus {
 public:
  explicit SimBusImpl(k27sim::SimUsbBus& bus) : bus_(bus) {}
  ~SimBusImpl() override { Stop(); }

  void Start(Events events) override {
    {
      std::lock_guard lock(mutex_);
      if (running_) return;
      running_ = true;
      events_ = std::move(events);
    }
    thread_ = std::thread([this] { Dispatch(); });
    bus_.SetObserver({[this](int port, std::shared_ptr<k27sim::SimUsbDevice> device) {
                        Post(Plugged{port, std::move(device)});
                      },
                      [this](int port) { Post(Unplugged{port}); }});
    for (int port = 1; port <= bus_.Ports(); ++port)
      if (auto device = bus_.DeviceAt(port)) Post(Plugged{port, device});
  }

  void Stop() override {
    bus_.SetObserver({});
    {
      std::lock_guard lock(mutex_);
      if (!running_) return;
      running_ = false;
      wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    std::map<int, std::shared_ptr<SimHostDevice>> devices;
    {
      std::lock_guard lock(mutex_);
      devices.swap(devices_);
    }
    for (auto& [port, device] : devices) device->MarkGone();
  }

  void DeliverRequest(int port, PnpRequest request) override { Post(Request{port, request}); }

  void Rescan() override { Post(Rescanning{}); }

  void SetLog(std::function<void(const std::string&)> log) override {
    std::lock_guard lock(mutex_);
    log_ = std::move(log);
  }

 private:
  struct Plugged {
    int port;
    std::shared_ptr<k27sim::SimUsbDevice> device;
  };
  struct Unplugged {
    int port;
  };
  struct Request {
    int port;
    PnpRequest request;
  };
  struct Rescanning {};
  using Event = std::variant<Plugged, Unplugged, Request, Rescanning>;

  void Post(Event event) {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    queue_.push_back(std::move(event));
    wake_.notify_all();
  }

  void Dispatch() {
    for (;;) {
      Event event;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !running_ || !queue_.empty(); });
        if (!running_) return;
        event = std::move(queue_.front());
        queue_.pop_front();
      }
      std::visit([this](auto& e) { Handle(e); }, event);
    }
  }

  // Tries to open the device until it lets itself be opened or the retry
  // window has passed; false then, or when the bus stops meanwhile.
  bool OpenWithRetries(k27sim::SimUsbDevice& device) {
    const auto deadline = std::chrono::steady_clock::now() + kBusyRetryWindow;
    for (;;) {
      if (device.Open()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::unique_lock lock(mutex_);
      if (wake_.wait_for(lock, kBusyRetryInterval, [this] { return !running_; })) return false;
    }
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

  void Handle(Plugged& plugged) {
    {
      std::lock_guard lock(mutex_);
      // Reported already (a rescan, or a report repeated): one device.
      if (auto it = devices_.find(plugged.port);
          it != devices_.end() && it->second->Is(*plugged.device))
        return;
      if (auto it = dropped_.find(plugged.port);
          it != dropped_.end() && it->second == plugged.device)
        return;
    }
    if (!OpenWithRetries(*plugged.device)) {
      {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        dropped_[plugged.port] = plugged.device;
      }
      Log("usbhost: device on port " + std::to_string(plugged.port) +
          " dropped, it cannot be opened: access denied");
      return;
    }
    auto device = std::make_shared<SimHostDevice>(plugged.port, plugged.device, bus_);
    device->Attach();
    std::shared_ptr<SimHostDevice> replaced;
    {
      std::lock_guard lock(mutex_);
      auto& slot = devices_[plugged.port];
      replaced = slot;
      slot = device;
    }
    // A device plugged where one still sits means the old one left unseen.
    if (replaced) Depart(replaced);
    if (events_.arrived) events_.arrived(device);
  }

  void Handle(Unplugged& unplugged) {
    std::shared_ptr<SimHostDevice> device;
    {
      std::lock_guard lock(mutex_);
      dropped_.erase(unplugged.port);
      auto it = devices_.find(unplugged.port);
      if (it == devices_.end()) return;  // a departure without an arrival
      device = it->second;
      devices_.erase(it);
    }
    Depart(device);
  }

  void Handle(Request& request) {
    std::shared_ptr<SimHostDevice> device;
    {
      std::lock_guard lock(mutex_);
      auto it = devices_.find(request.port);
      if (it == devices_.end()) return;
      device = it->second;
    }
    if (events_.request) events_.request(device->Identity(), request.request);
  }

  // What sits on each port now against what was reported.
  void Handle(Rescanning&) {
    for (int port = 1; port <= bus_.Ports(); ++port) {
      if (auto device = bus_.DeviceAt(port)) {
        Plugged plugged{port, std::move(device)};
        Handle(plugged);
      } else {
        Unplugged unplugged{port};
        Handle(unplugged);
      }
    }
  }

  void Depart(const std::shared_ptr<SimHostDevice>& device) {
    device->MarkGone();
    if (events_.departed) events_.departed(device->Identity());
  }

  k27sim::SimUsbBus& bus_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool running_ = false;
  Events events_;
  std::deque<Event> queue_;
  std::map<int, std::shared_ptr<SimHostDevice>> devices_;
  // Devices that could not be opened: not tried again until they leave.
  std::map<int, std::shared_ptr<k27sim::SimUsbDevice>> dropped_;
  std::function<void(const std::string&)> log_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<SimHostBus> MakeSimBus(k27sim::SimUsbBus& bus) {
  return std::make_unique<SimBusImpl>(bus);
}

}  // namespace vantrel::usbhost
