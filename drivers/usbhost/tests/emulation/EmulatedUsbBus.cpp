#include "emulation/EmulatedUsbBus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "emulation/SysfsRecord.h"

namespace vantrel::usbhost::emulation {

namespace {

// A sysctl file without write permission: its permission check refuses
// writers, root included.
constexpr const char* kUnwritableForRoot = "/proc/sys/kernel/osrelease";

bool OpenIsRefused(const char* path) {
  const int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  return errno == EACCES;
}

// The device's descriptors as the kernel keeps them in sysfs: the device
// descriptor, then each configuration whole. Empty when the device does not
// answer (it left the bus meanwhile).
std::vector<std::uint8_t> ReadDescriptors(vantrel::sim::SimUsbDevice& device) {
  std::vector<std::uint8_t> all(18);
  auto read = device.Control({0x80, 6, 0x0100, 0, 18}, all);
  if (read.outcome != vantrel::sim::UsbOutcome::Ack || read.length < 18) return {};
  const int configurations = all[17];
  for (int c = 0; c < configurations; ++c) {
    std::vector<std::uint8_t> head(9);
    const auto value = static_cast<std::uint16_t>(0x0200 | c);
    read = device.Control({0x80, 6, value, 0, 9}, head);
    if (read.outcome != vantrel::sim::UsbOutcome::Ack || read.length < 9) return {};
    const auto total = static_cast<std::uint16_t>(head[2] | head[3] << 8);
    std::vector<std::uint8_t> whole(total);
    read = device.Control({0x80, 6, value, 0, total}, whole);
    if (read.outcome != vantrel::sim::UsbOutcome::Ack) return {};
    whole.resize(read.length);
    all.insert(all.end(), whole.begin(), whole.end());
  }
  return all;
}

}  // namespace

bool EmulatedUsbBus::InMockEnvironment() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

bool EmulatedUsbBus::CanRefuseOpens() {
  return ::geteuid() != 0 || OpenIsRefused(kUnwritableForRoot);
}

EmulatedUsbBus::EmulatedUsbBus(int ports)
    : testbed_(umockdev_testbed_new()),
      sim_(ports, vantrel::sim::SimUsbBus::FrameClock::WallClock) {
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, RootHubRecord().c_str(), &error)) {
    const std::string why = error ? error->message : "?";
    if (error) g_error_free(error);
    g_object_unref(testbed_);
    throw std::runtime_error("umockdev: cannot add the root hub: " + why);
  }
  worker_ = std::thread([this] { RunWorker(); });
  sim_.SetObserver({[this](int port, std::shared_ptr<vantrel::sim::SimUsbDevice> device) {
                      Post([this, port, device] { Arrive(port, device); });
                    },
                    [this](int port) { Post([this, port] { Leave(port); }); }});
}

EmulatedUsbBus::~EmulatedUsbBus() {
  sim_.SetObserver({});
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();
  ports_.clear();
  gone_.clear();
  g_object_unref(testbed_);
}

std::string EmulatedUsbBus::RootDir() const {
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  std::string dir = root;
  g_free(root);
  return dir;
}

void EmulatedUsbBus::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (stop_) return;
    tasks_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void EmulatedUsbBus::RunWorker() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !tasks_.empty(); });
    if (stop_) return;
    auto task = std::move(tasks_.front());
    tasks_.pop_front();
    busy_ = true;
    lock.unlock();
    task();
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

bool EmulatedUsbBus::Settle(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return stop_ || (tasks_.empty() && !busy_); });
}

bool EmulatedUsbBus::WaitArrivals(int count, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return arrivals_ >= count; });
}

int EmulatedUsbBus::Arrivals() const {
  std::lock_guard lock(mutex_);
  return arrivals_;
}

void EmulatedUsbBus::Plug(int port, std::shared_ptr<vantrel::sim::SimUsbDevice> device) {
  sim_.Plug(port, std::move(device));
  Settle();
}

void EmulatedUsbBus::Unplug(int port) {
  sim_.Unplug(port);
  Settle();
}

void EmulatedUsbBus::UnplugWithoutUevent(int port) {
  {
    std::lock_guard lock(mutex_);
    silentLeaves_[port] = true;
  }
  Unplug(port);
}

void EmulatedUsbBus::SetFaults(int port, UsbfsFaults faults) {
  std::lock_guard lock(mutex_);
  faults_[port] = std::move(faults);
}

std::shared_ptr<UsbfsDevice> EmulatedUsbBus::At(int port) const {
  std::lock_guard lock(mutex_);
  const auto it = ports_.find(port);
  return it == ports_.end() ? nullptr : it->second.usbfs;
}

int EmulatedUsbBus::DevnumAt(int port) const {
  std::lock_guard lock(mutex_);
  const auto it = ports_.find(port);
  return it == ports_.end() ? 0 : it->second.devnum;
}

int EmulatedUsbBus::NextDevnum() {
  std::lock_guard lock(mutex_);
  lastDevnum_ = lastDevnum_ >= 127 ? 2 : lastDevnum_ + 1;
  return lastDevnum_;
}

void EmulatedUsbBus::Arrive(int port, std::shared_ptr<vantrel::sim::SimUsbDevice> device) {
  const std::vector<std::uint8_t> descriptors = ReadDescriptors(*device);
  if (descriptors.empty()) return;  // gone again before it could be enumerated
  // The kernel configures a device it enumerates.
  device->Control({0x00, 9, 1, 0, 0}, {});
  UsbfsFaults faults;
  {
    std::lock_guard lock(mutex_);
    if (auto it = faults_.find(port); it != faults_.end()) faults = it->second;
  }
  const int devnum = NextDevnum();
  const std::string sysPath = SysPath({port});
  // The sysfs record follows the configuration the client sets.
  auto configured = [this, sysPath](int value) {
    Post([this, sysPath, value] {
      umockdev_testbed_set_attribute(testbed_, sysPath.c_str(), "bConfigurationValue",
                                     value > 0 ? std::to_string(value).c_str() : "");
    });
  };
  const bool refuseOpen = faults.refuseOpen;
  auto usbfs = std::make_shared<UsbfsDevice>(device, std::move(faults), configured);
  std::string why;
  if (!usbfs->Attach(testbed_, DevNode(devnum), &why)) {
    std::fprintf(stderr, "umockdev: cannot emulate %s: %s\n", DevNode(devnum).c_str(), why.c_str());
    return;
  }
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(
          testbed_, RecordOf({{port}, devnum, descriptors, 1, true}).c_str(), &error)) {
    why = error ? error->message : "?";
    if (error) g_error_free(error);
    std::fprintf(stderr, "umockdev: cannot add %s: %s\n", sysPath.c_str(), why.c_str());
    return;
  }
  // Adding the record has sent its "add" uevent: the node is refused at
  // once, well before a client can act on that uevent.
  if (refuseOpen) RefuseOpens(DevNode(devnum));
  std::lock_guard lock(mutex_);
  ports_[port] = {devnum, std::move(usbfs)};
  ++arrivals_;
  changed_.notify_all();
}

void EmulatedUsbBus::Leave(int port) {
  std::shared_ptr<UsbfsDevice> usbfs;
  bool silent = false;
  {
    std::lock_guard lock(mutex_);
    silent = silentLeaves_[port];
    silentLeaves_.erase(port);
    const auto it = ports_.find(port);
    if (it == ports_.end()) return;
    usbfs = it->second.usbfs;
    gone_.push_back(usbfs);
    ports_.erase(it);
  }
  usbfs->MarkGone();
  const std::string sysPath = SysPath({port});
  if (!silent) umockdev_testbed_uevent(testbed_, sysPath.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, sysPath.c_str());
}

void EmulatedUsbBus::RefuseOpens(const std::string& devnode) {
  const std::string node = RootDir() + devnode;
  if (::geteuid() != 0) {
    ::chmod(node.c_str(), 0);
    return;
  }
  ::unlink(node.c_str());
  if (::symlink(kUnwritableForRoot, node.c_str()) != 0)
    std::fprintf(stderr, "umockdev: cannot replace %s: %s\n", node.c_str(), std::strerror(errno));
}

bool EmulatedUsbBus::AddRecord(const std::string& record, std::string* why) {
  bool added = false;
  std::mutex doneMutex;
  std::condition_variable doneChanged;
  bool done = false;
  Post([&] {
    GError* error = nullptr;
    added = umockdev_testbed_add_from_string(testbed_, record.c_str(), &error) != 0;
    if (!added && why) *why = error ? error->message : "?";
    if (error) g_error_free(error);
    std::lock_guard lock(doneMutex);
    done = true;
    doneChanged.notify_all();
  });
  std::unique_lock lock(doneMutex);
  doneChanged.wait(lock, [&] { return done; });
  return added;
}

}  // namespace vantrel::usbhost::emulation
