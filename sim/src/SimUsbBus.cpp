// The simulated root hub: which device sits on which port, the reports of
// every change to the observer (in order, with no lock held), devices that
// come back after a re-enumeration, and the frame counter.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "k27sim/SimUsb.h"

namespace vantrel::sim {

namespace {

constexpr int kMaxPorts = 255;

using Clock = std::chrono::steady_clock;

}  // namespace

struct SimUsbBus::State : std::enable_shared_from_this<State> {
  // A device away re-enumerating, due back on its port.
  struct Return {
    std::shared_ptr<SimUsbDevice> device;
    Clock::time_point due;
  };
  // A change to report: `device` plugged, or (nullptr) the port unplugged.
  struct Event {
    int port = 0;
    std::shared_ptr<SimUsbDevice> device;
  };

  State(int portCount, FrameClock frameClock)
      : ports(portCount),
        clock(frameClock),
        start(Clock::now()),
        devices(static_cast<std::size_t>(portCount)),
        returns(static_cast<std::size_t>(portCount)) {}

  void CheckPort(int port) const {
    if (port < 1 || port > ports)
      throw std::out_of_range("no USB port " + std::to_string(port) + " on this bus");
  }
  std::size_t Slot(int port) const { return static_cast<std::size_t>(port - 1); }

  // Gives `device` its link to this bus; false when it is on a bus already.
  bool Claim(int port, const std::shared_ptr<SimUsbDevice>& device) {
    std::weak_ptr<State> weak = weak_from_this();
    SimUsbDevice* raw = device.get();
    std::lock_guard lock(device->callbackMutex_);
    if (device->place_ == SimUsbDevice::Place::OnBus) return false;
    device->place_ = SimUsbDevice::Place::OnBus;
    device->reEnumerate_ = [weak, port, raw](std::shared_ptr<SimUsbDevice> successor,
                                             std::chrono::milliseconds absence) {
      const std::shared_ptr<State> state = weak.lock();
      return state && state->ReEnumerate(port, raw, std::move(successor), absence);
    };
    return true;
  }

  static bool OnABus(const std::shared_ptr<SimUsbDevice>& device) {
    std::lock_guard lock(device->callbackMutex_);
    return device->place_ == SimUsbDevice::Place::OnBus;
  }

  static void Release(SimUsbDevice& device) {
    std::function<bool(std::shared_ptr<SimUsbDevice>, std::chrono::milliseconds)> link;
    {
      std::lock_guard lock(device.callbackMutex_);
      device.place_ = SimUsbDevice::Place::Left;
      link.swap(device.reEnumerate_);
    }
  }

  // The device on `port` (if any) leaves; its departure is queued.
  void DetachLocked(int port) {
    std::shared_ptr<SimUsbDevice> device = std::exchange(devices[Slot(port)], nullptr);
    if (!device) return;
    Release(*device);
    events.push_back({port, nullptr});
    ++queued;
  }

  // `device`, already claimed, takes the empty `port`; its arrival is queued.
  void AttachLocked(int port, std::shared_ptr<SimUsbDevice> device) {
    devices[Slot(port)] = device;
    events.push_back({port, std::move(device)});
    ++queued;
  }

  void Plug(int port, std::shared_ptr<SimUsbDevice> device) {
    std::unique_lock lock(mutex);
    CheckPort(port);
    if (!Claim(port, device))
      throw std::invalid_argument("the USB device is plugged into a bus already");
    returns[Slot(port)].reset();
    DetachLocked(port);
    AttachLocked(port, std::move(device));
    Report(lock);
  }

  void Unplug(int port) {
    std::unique_lock lock(mutex);
    CheckPort(port);
    returns[Slot(port)].reset();
    DetachLocked(port);
    Report(lock);
  }

  // Replaces the device on `port` when there is one (and, for a device's own
  // request, when it is still `expected`); false otherwise.
  bool ReplaceLocked(std::unique_lock<std::mutex>& lock, int port, const SimUsbDevice* expected,
                     std::shared_ptr<SimUsbDevice> successor, std::chrono::milliseconds absence) {
    const std::shared_ptr<SimUsbDevice>& current = devices[Slot(port)];
    if (closed || !current || (expected && current.get() != expected)) return false;
    if (successor && successor != current && OnABus(successor)) return false;
    DetachLocked(port);
    if (successor) {
      if (absence <= std::chrono::milliseconds{0}) {
        if (Claim(port, successor)) AttachLocked(port, std::move(successor));
      } else {
        returns[Slot(port)] = Return{std::move(successor), Clock::now() + absence};
        StartTimerLocked();
        timerWake.notify_all();
      }
    }
    Report(lock);
    return true;
  }

  void Replace(int port, std::shared_ptr<SimUsbDevice> successor,
               std::chrono::milliseconds absence) {
    std::unique_lock lock(mutex);
    CheckPort(port);
    const std::shared_ptr<SimUsbDevice>& current = devices[Slot(port)];
    if (successor && current && successor != current && OnABus(successor))
      throw std::invalid_argument("the USB device is plugged into a bus already");
    ReplaceLocked(lock, port, nullptr, std::move(successor), absence);
  }

  bool ReEnumerate(int port, const SimUsbDevice* device, std::shared_ptr<SimUsbDevice> successor,
                   std::chrono::milliseconds absence) {
    std::unique_lock lock(mutex);
    return ReplaceLocked(lock, port, device, std::move(successor), absence);
  }

  // Reports the queued changes, one at a time and unlocked, unless this
  // thread is reporting already (an observer call made the change: the
  // outer report delivers it) or another thread is (it delivers them, and
  // this waits until the changes queued so far are reported).
  void Report(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t mine = queued;
    if (reporting && reporter == std::this_thread::get_id()) return;
    while (reported < mine) {
      if (reporting) {
        changed.wait(lock);
        continue;
      }
      reporting = true;
      reporter = std::this_thread::get_id();
      try {
        while (!events.empty()) {
          {
            const Event event = std::move(events.front());
            events.pop_front();
            const Observer current = observer;
            lock.unlock();
            if (event.device) {
              if (current.plugged) current.plugged(event.port, event.device);
            } else if (current.unplugged) {
              current.unplugged(event.port);
            }
          }
          lock.lock();
          ++reported;
        }
      } catch (...) {
        if (!lock.owns_lock()) lock.lock();
        ++reported;
        EndReporting();
        throw;
      }
      EndReporting();
    }
  }

  void EndReporting() {
    reporting = false;
    reporter = {};
    changed.notify_all();
  }

  void StartTimerLocked() {
    if (timer.joinable()) return;
    timer = std::thread([self = shared_from_this()] { self->TimerLoop(); });
  }

  // Brings back re-enumerated devices when they are due.
  void TimerLoop() {
    std::unique_lock lock(mutex);
    while (!timerStop) {
      std::optional<int> next;
      for (int port = 1; port <= ports; ++port) {
        const std::optional<Return>& pending = returns[Slot(port)];
        if (pending && (!next || pending->due < returns[Slot(*next)]->due)) next = port;
      }
      if (!next) {
        timerWake.wait(lock);
        continue;
      }
      const Clock::time_point due = returns[Slot(*next)]->due;
      if (Clock::now() < due) {
        timerWake.wait_until(lock, due);
        continue;
      }
      std::shared_ptr<SimUsbDevice> device = std::move(returns[Slot(*next)]->device);
      returns[Slot(*next)].reset();
      if (devices[Slot(*next)] || !Claim(*next, device)) continue;
      AttachLocked(*next, std::move(device));
      Report(lock);
    }
  }

  // The bus goes: its devices are left without reports, and no observer
  // call runs once this has returned.
  void Close() {
    std::unique_lock lock(mutex);
    closed = true;
    timerStop = true;
    observer = {};
    events.clear();
    reported = queued;
    changed.notify_all();
    for (std::shared_ptr<SimUsbDevice>& device : devices) {
      if (device) Release(*device);
      device.reset();
    }
    for (std::optional<Return>& pending : returns) pending.reset();
    timerWake.notify_all();
    changed.wait(lock, [&] { return !reporting || reporter == std::this_thread::get_id(); });
    lock.unlock();
    if (timer.joinable()) {
      if (timer.get_id() == std::this_thread::get_id())
        timer.detach();
      else
        timer.join();
    }
  }

  std::uint32_t FrameNumber() const {
    std::uint64_t frames = advancedFrames;
    if (clock == FrameClock::WallClock)
      frames += static_cast<std::uint64_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    return static_cast<std::uint32_t>(frames);
  }

  const int ports;
  const FrameClock clock;
  const Clock::time_point start;

  mutable std::mutex mutex;
  std::uint64_t advancedFrames = 0;
  std::vector<std::shared_ptr<SimUsbDevice>> devices;  // port p at p - 1
  std::vector<std::optional<Return>> returns;
  Observer observer;
  bool closed = false;

  std::deque<Event> events;
  std::uint64_t queued = 0;    // changes queued so far
  std::uint64_t reported = 0;  // changes reported (or dropped by a throwing observer) so far
  bool reporting = false;
  std::thread::id reporter;
  std::condition_variable changed;

  std::thread timer;
  std::condition_variable timerWake;
  bool timerStop = false;
};

SimUsbBus::SimUsbBus(int ports, FrameClock clock) {
  if (ports < 1 || ports > kMaxPorts)
    throw std::invalid_argument("a USB bus has 1 to 255 ports, not " + std::to_string(ports));
  state_ = std::make_shared<State>(ports, clock);
}

SimUsbBus::~SimUsbBus() { state_->Close(); }

int SimUsbBus::Ports() const { return state_->ports; }

void SimUsbBus::SetObserver(Observer observer) {
  Observer previous;
  std::lock_guard lock(state_->mutex);
  previous = std::exchange(state_->observer, std::move(observer));
}

void SimUsbBus::Plug(int port, std::shared_ptr<SimUsbDevice> device) {
  if (!device) {
    Unplug(port);
    return;
  }
  state_->Plug(port, std::move(device));
}

void SimUsbBus::Unplug(int port) { state_->Unplug(port); }

void SimUsbBus::Replace(int port, std::shared_ptr<SimUsbDevice> successor,
                        std::chrono::milliseconds absence) {
  state_->Replace(port, std::move(successor), absence);
}

std::shared_ptr<SimUsbDevice> SimUsbBus::DeviceAt(int port) const {
  std::lock_guard lock(state_->mutex);
  if (port < 1 || port > state_->ports) return nullptr;
  return state_->devices[state_->Slot(port)];
}

std::uint32_t SimUsbBus::FrameNumber() const {
  std::lock_guard lock(state_->mutex);
  return state_->FrameNumber();
}

void SimUsbBus::AdvanceFrames(std::uint32_t frames) {
  std::lock_guard lock(state_->mutex);
  state_->advancedFrames += frames;
}

}  // namespace vantrel::sim
