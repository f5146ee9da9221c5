// An emulated USB bus for tests: the devices of a simulated bus
// (k27sim::SimUsbBus) appear to an unmodified libusb, in this process or in
// a child started with the same umockdev preload and UMOCKDEV_DIR. Each
// device plugged, unplugged or re-enumerated gets its umockdev sysfs record,
// usbfs node (UsbfsDevice) and uevent, in order, on a thread of the bus's
// own; a device that arrives is configured (SET_CONFIGURATION 1) as the
// kernel does on enumeration, and a re-enumerated device comes back at the
// same port path with a new device number.
//
// The process must run under umockdev-wrapper (InMockEnvironment).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulation/UsbfsDevice.h"
#include "k27sim/SimUsb.h"

namespace vantrel::usbhost::emulation {

class EmulatedUsbBus {
 public:
  // True under umockdev's preload.
  static bool InMockEnvironment();

  // Bus 1 with its root hub and `ports` ports; the simulated bus's frame
  // counter follows the wall clock.
  explicit EmulatedUsbBus(int ports = 8);
  ~EmulatedUsbBus();
  EmulatedUsbBus(const EmulatedUsbBus&) = delete;
  EmulatedUsbBus& operator=(const EmulatedUsbBus&) = delete;

  vantrel::sim::SimUsbBus& Sim() { return sim_; }
  UMockdevTestbed* Testbed() { return testbed_; }
  // The testbed's folder (UMOCKDEV_DIR).
  std::string RootDir() const;

  // Plug and unplug on the simulated bus, returning once the testbed shows
  // the change and its uevent has gone out.
  void Plug(int port, std::shared_ptr<vantrel::sim::SimUsbDevice> device);
  void Unplug(int port);
  // The device leaves without its removal's uevent, as on a machine whose
  // uevents never reach libusb: only a look at the bus finds it gone.
  void UnplugWithoutUevent(int port);
  // Waits until every change of the simulated bus so far is in the testbed.
  bool Settle(std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Waits until `count` devices have arrived since the bus was made.
  bool WaitArrivals(int count, std::chrono::milliseconds limit = std::chrono::seconds(30));
  int Arrivals() const;

  // Faults of every device that arrives at `port` from now on; the device
  // there now keeps its own (change it through At).
  void SetFaults(int port, UsbfsFaults faults);
  // The usbfs node of the device now at `port`; nullptr when empty.
  std::shared_ptr<UsbfsDevice> At(int port) const;
  // Its device number; 0 when the port is empty.
  int DevnumAt(int port) const;

  // Whether opening a node can be made to fail with EACCES for this user
  // (root passes file modes; a read-only /proc/sys file refuses it too).
  static bool CanRefuseOpens();

  // Adds a hand-written record (see SysfsRecord.h); adding sends its uevent.
  bool AddRecord(const std::string& record, std::string* why);

 private:
  struct Port {
    int devnum = 0;
    std::shared_ptr<UsbfsDevice> usbfs;
  };
  void Post(std::function<void()> task);
  void RunWorker();
  void Arrive(int port, std::shared_ptr<vantrel::sim::SimUsbDevice> device);
  void Leave(int port);
  void RefuseOpens(const std::string& devnode);
  int NextDevnum();

  UMockdevTestbed* testbed_ = nullptr;
  vantrel::sim::SimUsbBus sim_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  bool busy_ = false;
  bool stop_ = false;
  std::map<int, Port> ports_;
  std::map<int, UsbfsFaults> faults_;
  std::map<int, bool> silentLeaves_;                // ports whose next departure sends no uevent
  std::vector<std::shared_ptr<UsbfsDevice>> gone_;  // kept until the end: clients may hold them
  int lastDevnum_ = 1;
  int arrivals_ = 0;
  std::thread worker_;
};

}  // namespace vantrel::usbhost::emulation
