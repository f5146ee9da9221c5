// The simulated bus as the host layer offers it: plugging, unplugging and
// re-enumeration become arrivals and departures, delivered on the bus's own
// event thread in the order they happened. Like a real bus, a device may
// refuse to be opened for a moment after it arrives; such opens are retried
// for a while before the device is dropped.
#include <functional>
#include <map>

#include "BusEventDispatcher.h"
#include "k27sim/SimUsb.h"
#include "sim/SimHostDevice.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::usbhost {
namespace {

class SimBusImpl final : public SimHostBus {
 public:
  explicit SimBusImpl(vantrel::sim::SimUsbBus& bus) : bus_(bus) {}
  ~SimBusImpl() override { Stop(); }

  void Start(Events events) override {
    if (dispatcher_.Running()) return;
    dispatcher_.Stop();  // a dispatch thread that a handler's Stop left ends first
    events_ = std::move(events);
    dispatcher_.Start([this] { Forget(); });
    bus_.SetObserver({[this](int port, std::shared_ptr<vantrel::sim::SimUsbDevice> device) {
                        Post(Plugged{port, std::move(device)});
                      },
                      [this](int port) { Post(Unplugged{port}); }});
    for (int port = 1; port <= bus_.Ports(); ++port)
      if (auto device = bus_.DeviceAt(port)) Post(Plugged{port, device});
  }

  void Stop() override {
    bus_.SetObserver({});
    dispatcher_.Stop();
  }

  void DeliverRequest(int port, PnpRequest request) override { Post(Request{port, request}); }

  void Rescan() override { Post(Rescanning{}); }

  void SetHeartbeat(std::chrono::milliseconds interval, std::function<void()> beat) override {
    dispatcher_.SetHeartbeat(interval, std::move(beat));
  }

  bool AfterPending(std::function<void()> done) override {
    return dispatcher_.Post(std::move(done));
  }

  // What sits on each port, as the simulated bus has it now.
  std::vector<DeviceIdentity> Present() const override {
    std::vector<DeviceIdentity> present;
    for (int port = 1; port <= bus_.Ports(); ++port)
      if (auto device = bus_.DeviceAt(port))
        present.push_back(
            {1, {static_cast<std::uint8_t>(port)}, device->VendorId(), device->ProductId()});
    return present;
  }

  void SetLog(std::function<void(const std::string&)> log) override {
    dispatcher_.SetLog(std::move(log));
  }

 private:
  struct Plugged {
    int port;
    std::shared_ptr<vantrel::sim::SimUsbDevice> device;
  };
  struct Unplugged {
    int port;
  };
  struct Request {
    int port;
    PnpRequest request;
  };
  struct Rescanning {};

  template <typename Event>
  void Post(Event event) {
    dispatcher_.Post([this, event]() mutable { Handle(event); });
  }

  // The bus has stopped: the devices it reported are gone for their users.
  void Forget() {
    for (auto& [port, device] : devices_) device->MarkGone();
    devices_.clear();
    dropped_.clear();
  }

  void Handle(Plugged& plugged) {
    // Reported already (a rescan, or a report repeated): one device.
    if (auto it = devices_.find(plugged.port);
        it != devices_.end() && it->second->Is(*plugged.device))
      return;
    if (auto it = dropped_.find(plugged.port); it != dropped_.end() && it->second == plugged.device)
      return;
    vantrel::sim::SimUsbDevice& usb = *plugged.device;
    if (!dispatcher_.RetryWhileBusy([&usb] { return usb.Open(); },
                                    RetryClock::now() + kBusyRetryWindow)) {
      if (!dispatcher_.Running()) return;
      dropped_[plugged.port] = plugged.device;
      dispatcher_.Report("usbhost: device on port " + std::to_string(plugged.port) +
                         " dropped, it cannot be opened: access denied");
      return;
    }
    auto device = std::make_shared<SimHostDevice>(plugged.port, plugged.device, bus_);
    device->Attach();
    auto& slot = devices_[plugged.port];
    const std::shared_ptr<SimHostDevice> replaced = slot;
    slot = device;
    // A device plugged where one still sits means the old one left unseen.
    if (replaced) Depart(replaced);
    if (events_.arrived) events_.arrived(device);
  }

  void Handle(Unplugged& unplugged) {
    dropped_.erase(unplugged.port);
    auto it = devices_.find(unplugged.port);
    if (it == devices_.end()) return;  // a departure without an arrival
    const std::shared_ptr<SimHostDevice> device = std::move(it->second);
    devices_.erase(it);
    Depart(device);
  }

  void Handle(Request& request) {
    auto it = devices_.find(request.port);
    if (it == devices_.end()) return;
    const std::shared_ptr<SimHostDevice> device = it->second;
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

  vantrel::sim::SimUsbBus& bus_;
  Events events_;  // set before the dispatch thread starts
  // The dispatch thread's own.
  std::map<int, std::shared_ptr<SimHostDevice>> devices_;
  // Devices that could not be opened: not tried again until they leave.
  std::map<int, std::shared_ptr<vantrel::sim::SimUsbDevice>> dropped_;
  // Last: its thread, which uses everything above, ends first.
  BusEventDispatcher dispatcher_;
};

}  // namespace

std::unique_ptr<SimHostBus> MakeSimBus(vantrel::sim::SimUsbBus& bus) {
  return std::make_unique<SimBusImpl>(bus);
}

}  // namespace vantrel::usbhost
