// The libusb backend against a device that umockdev emulates: a hand-written
// sysfs record (with the descriptors) and a handler that answers libusb's
// usbfs ioctls as the device would. Runs under umockdev-wrapper, in the same
// process as the handler; libusb itself is unmodified. No real USB device is
// ever looked at: outside umockdev-wrapper the tests are skipped.
#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "libusb/LibusbBus.h"
#include "vantrel/usbhost/Backends.h"

namespace vantrel::usbhost {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kVendor = 0x1234;
constexpr std::uint16_t kProduct = 0x5678;

// Device 1234:5678, one configuration; interface 0 setting 0 has bulk OUT
// 0x02 and bulk IN 0x86 (64 bytes), setting 1 an interrupt IN 0x81.
constexpr const char* kDescriptors =
    "12010002FF000040341278560001010203 01"
    "0902300001010080 32"
    "0904000002FF000000"
    "07050202400000"
    "07058602400000"
    "0904000101FF000000"
    "0705810308000A";

std::string Hex(const char* spaced) {
  std::string hex;
  for (const char* c = spaced; *c != '\0'; ++c)
    if (*c != ' ') hex += *c;
  return hex;
}

std::string DevNode(int devnum) {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
  return node;
}

// The sysfs record of a device; with `node` false the device node is missing,
// so that the device cannot be opened.
std::string Record(const std::string& sysname, int devnum, const std::string& descriptors,
                   bool node = true) {
  const std::string dev = DevNode(devnum);
  std::string record =
      "P: /devices/usb1" + (sysname == "usb1" ? std::string() : "/" + sysname) + "\n";
  if (node) record += "N: " + dev.substr(5) + "\n";
  record += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\n";
  record += "E: DEVNUM=" + dev.substr(dev.size() - 3) + "\nE: DEVNAME=" + dev + "\n";
  record += "A: busnum=1\\n\nA: devnum=" + std::to_string(devnum) + "\\n\n";
  record += "A: speed=480\\n\nA: bConfigurationValue=1\\n\n";
  record += "H: descriptors=" + descriptors + "\n";
  return record;
}

// A root hub (1d6b:0002), which the bus must not report.
const std::string kRootHub = Record(
    "usb1", 1,
    "12010002090001406B1D020006050302010109021900010100E0000904000001090000000705810304000C");

// The device behind usbfs: vendor control requests, a bulk echo (what goes
// out on 0x02 comes back on 0x86; IN transfers wait for data) and an
// isochronous IN endpoint 0x83 / OUT endpoint 0x03.
class EmulatedDevice {
 public:
  // Control requests it knows.
  static constexpr std::uint8_t kReadId = 0x01;  // IN: "K27" + low byte of wValue
  static constexpr std::uint8_t kWrite = 0x02;   // OUT: kept
  static constexpr std::uint8_t kStall = 0x03;   // stalls

  EmulatedDevice(UMockdevTestbed* testbed, std::string node)
      : testbed_(testbed), node_(std::move(node)) {
    handler_ = UMOCKDEV_IOCTL_BASE(g_object_new(UMOCKDEV_TYPE_IOCTL_BASE, nullptr));
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedDevice::OnIoctl), this);
    GError* error = nullptr;
    attached_ = umockdev_testbed_attach_ioctl(testbed_, node_.c_str(), handler_, &error) != 0;
    if (error != nullptr) {
      ADD_FAILURE() << "attach_ioctl: " << error->message;
      g_error_free(error);
    }
  }
  ~EmulatedDevice() {
    if (attached_) umockdev_testbed_detach_ioctl(testbed_, node_.c_str(), nullptr);
    g_object_unref(handler_);
  }

  void FailClaims(int times) {
    std::lock_guard lock(mutex_);
    busyClaims_ = times;
  }
  int ClaimAttempts() {
    std::lock_guard lock(mutex_);
    return claimAttempts_;
  }
  std::vector<unsigned> Claimed() {
    std::lock_guard lock(mutex_);
    return claimed_;
  }
  std::vector<std::pair<unsigned, unsigned>> Settings() {
    std::lock_guard lock(mutex_);
    return settings_;
  }
  std::vector<int> Configurations() {
    std::lock_guard lock(mutex_);
    return configurations_;
  }
  std::vector<unsigned> ClearedHalts() {
    std::lock_guard lock(mutex_);
    return clearedHalts_;
  }
  int Resets() {
    std::lock_guard lock(mutex_);
    return resets_;
  }
  std::vector<std::uint8_t> Written() {
    std::lock_guard lock(mutex_);
    return written_;
  }
  std::vector<std::uint8_t> IsoWritten() {
    std::lock_guard lock(mutex_);
    return isoWritten_;
  }
  std::size_t WaitingIn() {
    std::lock_guard lock(mutex_);
    return waitingIn_.size();
  }
  std::size_t Discarded() {
    std::lock_guard lock(mutex_);
    return discarded_;
  }

 private:
  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<EmulatedDevice*>(self)->Handle(client);
    return TRUE;
  }

  // The ioctl's argument as the client passed it: the process is shared, so
  // its pointers can be followed directly.
  template <typename T>
  static T Arg(UMockdevIoctlClient* client) {
    T value;
    std::memcpy(&value, umockdev_ioctl_client_get_arg(client)->data, sizeof value);
    return value;
  }

  void Handle(UMockdevIoctlClient* client) {
    long result = 0;
    int error = 0;
    {
      std::lock_guard lock(mutex_);
      switch (umockdev_ioctl_client_get_request(client)) {
        case USBDEVFS_GET_CAPABILITIES:
          *Arg<std::uint32_t*>(client) =
              USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
              USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
          break;
        case USBDEVFS_GETDRIVER:
          error = ENODATA;
          break;  // no kernel driver bound
        case USBDEVFS_IOCTL:
          break;
        case USBDEVFS_CLAIMINTERFACE:
          ++claimAttempts_;
          if (busyClaims_ > 0) {
            --busyClaims_;
            error = EBUSY;
          } else {
            claimed_.push_back(*Arg<unsigned*>(client));
          }
          break;
        case USBDEVFS_RELEASEINTERFACE:
          break;
        case USBDEVFS_SETCONFIGURATION:
          configurations_.push_back(*Arg<int*>(client));
          break;
        case USBDEVFS_SETINTERFACE: {
          const auto* setting = Arg<usbdevfs_setinterface*>(client);
          settings_.emplace_back(setting->interface, setting->altsetting);
          break;
        }
        case USBDEVFS_CLEAR_HALT:
          clearedHalts_.push_back(*Arg<unsigned*>(client));
          break;
        case USBDEVFS_RESET:
          ++resets_;
          break;
        case USBDEVFS_SUBMITURB:
          error = Submit(Arg<usbdevfs_urb*>(client));
          break;
        case USBDEVFS_DISCARDURB:
          error = Discard(Arg<usbdevfs_urb*>(client));
          break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
          if (done_.empty()) {
            error = EAGAIN;
          } else {
            *Arg<void**>(client) = done_.front();
            done_.pop_front();
          }
          break;
        default:
          error = ENOTTY;
          break;
      }
    }
    if (error != 0) result = -1;
    umockdev_ioctl_client_complete(client, result, error);
  }

  void Finish(usbdevfs_urb* urb, int status, int actual) {
    urb->status = status;
    urb->actual_length = actual;
    done_.push_back(urb);
  }

  int Submit(usbdevfs_urb* urb) {
    auto* buffer = static_cast<std::uint8_t*>(urb->buffer);
    switch (urb->type) {
      case USBDEVFS_URB_TYPE_CONTROL: {
        const std::uint8_t type = buffer[0], request = buffer[1];
        const std::size_t length = static_cast<std::size_t>(buffer[6] | buffer[7] << 8);
        std::uint8_t* data = buffer + 8;
        if ((type & 0x60) == 0x40 && request == kStall) {
          Finish(urb, -EPIPE, 0);
        } else if (type == 0xC0 && request == kReadId) {
          const std::uint8_t id[] = {'K', '2', '7', buffer[2]};
          const std::size_t n = std::min(length, sizeof id);
          std::memcpy(data, id, n);
          Finish(urb, 0, static_cast<int>(n));
        } else if (type == 0x40 && request == kWrite) {
          written_.assign(data, data + length);
          Finish(urb, 0, static_cast<int>(length));
        } else {
          Finish(urb, 0, 0);
        }
        return 0;
      }
      case USBDEVFS_URB_TYPE_BULK:
      case USBDEVFS_URB_TYPE_INTERRUPT:
        if (urb->endpoint == 0x02) {
          echo_.emplace_back(buffer, buffer + urb->buffer_length);
          Finish(urb, 0, urb->buffer_length);
        } else if (urb->endpoint & 0x80) {
          waitingIn_.push_back(urb);
        } else {
          return EINVAL;
        }
        Answer();
        return 0;
      case USBDEVFS_URB_TYPE_ISO: {
        // Packet i carries i+1 bytes of value 0xA0+i; packet 2 fails.
        std::size_t at = 0;
        for (int i = 0; i < urb->number_of_packets; ++i) {
          usbdevfs_iso_packet_desc& packet = urb->iso_frame_desc[i];
          if (urb->endpoint == 0x83) {
            packet.actual_length = std::min<unsigned>(packet.length, static_cast<unsigned>(i + 1));
            std::memset(buffer + at, 0xA0 + i, packet.actual_length);
            packet.status = i == 2 ? -EPROTO : 0;
          } else {
            isoWritten_.insert(isoWritten_.end(), buffer + at, buffer + at + packet.length);
            packet.actual_length = packet.length;
            packet.status = 0;
          }
          at += packet.length;
        }
        Finish(urb, 0, 0);
        return 0;
      }
      default:
        return EINVAL;
    }
  }

  int Discard(usbdevfs_urb* urb) {
    auto it = std::find(waitingIn_.begin(), waitingIn_.end(), urb);
    if (it == waitingIn_.end()) return EINVAL;
    waitingIn_.erase(it);
    ++discarded_;
    Finish(urb, -ENOENT, 0);
    return 0;
  }

  void Answer() {
    while (!waitingIn_.empty() && !echo_.empty()) {
      usbdevfs_urb* urb = waitingIn_.front();
      waitingIn_.pop_front();
      const auto bytes = std::move(echo_.front());
      echo_.pop_front();
      const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(urb->buffer_length));
      std::memcpy(urb->buffer, bytes.data(), n);
      Finish(urb, 0, static_cast<int>(n));
    }
  }

  UMockdevTestbed* const testbed_;
  const std::string node_;
  UMockdevIoctlBase* handler_ = nullptr;
  bool attached_ = false;

  std::mutex mutex_;
  std::deque<usbdevfs_urb*> done_;
  std::deque<usbdevfs_urb*> waitingIn_;
  std::deque<std::vector<std::uint8_t>> echo_;
  int busyClaims_ = 0;
  int claimAttempts_ = 0;
  std::vector<unsigned> claimed_;
  std::vector<std::pair<unsigned, unsigned>> settings_;
  std::vector<int> configurations_;
  std::vector<unsigned> clearedHalts_;
  int resets_ = 0;
  std::vector<std::uint8_t> written_;
  std::vector<std::uint8_t> isoWritten_;
  std::size_t discarded_ = 0;
};

// What the bus reported.
class Recorder {
 public:
  UsbBus::Events Events() {
    return {[this](std::shared_ptr<UsbDevice> device) {
              std::lock_guard lock(mutex_);
              arrived_.push_back(std::move(device));
              changed_.notify_all();
            },
            [this](const DeviceIdentity& identity) {
              std::lock_guard lock(mutex_);
              departed_.push_back(identity);
              changed_.notify_all();
            },
            {}};
  }
  std::function<void(const std::string&)> Log() {
    return [this](const std::string& text) {
      std::lock_guard lock(mutex_);
      log_.push_back(text);
      changed_.notify_all();
    };
  }
  bool WaitArrivals(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return arrived_.size() >= count; });
  }
  bool WaitDepartures(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return departed_.size() >= count; });
  }
  bool WaitLog(std::size_t count, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return log_.size() >= count; });
  }
  std::vector<std::shared_ptr<UsbDevice>> Arrived() {
    std::lock_guard lock(mutex_);
    return arrived_;
  }
  std::vector<DeviceIdentity> Departed() {
    std::lock_guard lock(mutex_);
    return departed_;
  }
  std::vector<std::string> Logged() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    arrived_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::shared_ptr<UsbDevice>> arrived_;
  std::vector<DeviceIdentity> departed_;
  std::vector<std::string> log_;
};

bool InMockEnvironment() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

class Umockdev : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InMockEnvironment()) GTEST_SKIP() << "needs umockdev-wrapper";
    testbed_ = umockdev_testbed_new();
    Add(kRootHub);
  }
  void TearDown() override {
    // Users of the devices first, then the bus, then the emulation.
    bus_.reset();
    recorder_.reset();
    emulated_.clear();
    if (testbed_ != nullptr) g_object_unref(testbed_);
  }

  void Add(const std::string& record) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
      ADD_FAILURE() << "add_from_string: " << (error ? error->message : "?");
      if (error) g_error_free(error);
    }
  }
  // Emulates the board on port `port` with device number `devnum`.
  EmulatedDevice& Plug(int port, int devnum) {
    emulated_.push_back(std::make_unique<EmulatedDevice>(testbed_, DevNode(devnum)));
    Add(Record("1-" + std::to_string(port), devnum, Hex(kDescriptors)));
    return *emulated_.back();
  }
  // The removal's uevent, then the device's files go.
  void Unplug(int port) {
    const std::string path = "/sys/devices/usb1/1-" + std::to_string(port);
    umockdev_testbed_uevent(testbed_, path.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, path.c_str());
  }
  void StartBus() {
    bus_ = MakeLibusbBus({{0x0001, 0x0002}, {kVendor, kProduct}});
    bus_->SetLog(recorder_->Log());
    bus_->Start(recorder_->Events());
  }
  std::shared_ptr<UsbDevice> StartWithBoard(EmulatedDevice** emulated = nullptr) {
    EmulatedDevice& device = Plug(3, 2);
    if (emulated) *emulated = &device;
    StartBus();
    if (!recorder_->WaitArrivals(1)) return nullptr;
    return recorder_->Arrived().front();
  }

  UMockdevTestbed* testbed_ = nullptr;
  std::vector<std::unique_ptr<EmulatedDevice>> emulated_;
  std::unique_ptr<Recorder> recorder_ = std::make_unique<Recorder>();
  std::unique_ptr<UsbBus> bus_;
};

std::shared_ptr<PendingTransfer> Control(UsbDevice& device, std::uint8_t type, std::uint8_t request,
                                         std::uint16_t value, std::span<std::uint8_t> data,
                                         bool shortOk = true) {
  TransferRequest r;
  r.type = TransferType::Control;
  r.setup = {type, request, value, 0, static_cast<std::uint16_t>(data.size())};
  r.data = data;
  r.shortTransferOk = shortOk;
  return device.Submit(std::move(r));
}

std::shared_ptr<PendingTransfer> Bulk(UsbDevice& device, std::uint8_t endpoint,
                                      std::span<std::uint8_t> data, bool shortOk = true) {
  TransferRequest r;
  r.type = TransferType::Bulk;
  r.endpoint = endpoint;
  r.data = data;
  r.shortTransferOk = shortOk;
  return device.Submit(std::move(r));
}

TEST_F(Umockdev, EnumeratesTheMatchingDeviceAtStart) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);
  const DeviceIdentity identity = device->Identity();
  EXPECT_EQ(identity.bus, 1);
  EXPECT_EQ(identity.portPath, std::vector<std::uint8_t>{3});
  EXPECT_EQ(identity.vendorId, kVendor);
  EXPECT_EQ(identity.productId, kProduct);
  EXPECT_EQ(identity.Location(), "1-3");
  EXPECT_FALSE(device->CurrentFrameNumber().has_value());
  // Only the board: the root hub does not match, and the enumeration and the
  // hotplug events together report the board once.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(recorder_->Arrived().size(), 1u);
  EXPECT_TRUE(recorder_->Logged().empty());
}

TEST_F(Umockdev, ControlTransfers) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);

  std::vector<std::uint8_t> id(4);
  auto read = Control(*device, 0xC0, EmulatedDevice::kReadId, 0x0142, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(read->Result().transferred, 4u);
  EXPECT_EQ(id, (std::vector<std::uint8_t>{'K', '2', '7', 0x42}));

  // A longer buffer: short, which is an error only when asked so.
  std::vector<std::uint8_t> longer(16, 0);
  auto shortOk = Control(*device, 0xC0, EmulatedDevice::kReadId, 1, longer, true);
  ASSERT_TRUE(shortOk->WaitFor(5s));
  EXPECT_EQ(shortOk->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(shortOk->Result().transferred, 4u);
  auto shortNotOk = Control(*device, 0xC0, EmulatedDevice::kReadId, 1, longer, false);
  ASSERT_TRUE(shortNotOk->WaitFor(5s));
  EXPECT_EQ(shortNotOk->Result().status, USBD_STATUS_ERROR_SHORT_TRANSFER);
  EXPECT_EQ(shortNotOk->Result().transferred, 4u);

  std::vector<std::uint8_t> payload = {1, 2, 3, 4, 5};
  auto write = Control(*device, 0x40, EmulatedDevice::kWrite, 0, payload);
  ASSERT_TRUE(write->WaitFor(5s));
  EXPECT_EQ(write->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(write->Result().transferred, 5u);
  EXPECT_EQ(emulated_[0]->Written(), payload);

  auto stall = Control(*device, 0x40, EmulatedDevice::kStall, 0, {});
  ASSERT_TRUE(stall->WaitFor(5s));
  EXPECT_EQ(stall->Result().status, USBD_STATUS_STALL_PID);
}

TEST_F(Umockdev, ConfigurationAndBulkExchange) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);

  InterfaceInfo info;
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  EXPECT_EQ(info.number, 0);
  EXPECT_EQ(info.alternateSetting, 0);
  EXPECT_EQ(info.interfaceClass, 0xFF);
  ASSERT_EQ(info.endpoints.size(), 2u);
  EXPECT_EQ(info.endpoints[0].address, 0x02);
  EXPECT_EQ(info.endpoints[0].type, EndpointType::Bulk);
  EXPECT_EQ(info.endpoints[0].maxPacketSize, 64);
  EXPECT_EQ(info.endpoints[1].address, 0x86);
  EXPECT_EQ(emulated->Claimed(), std::vector<unsigned>{0});
  // Already configuration 1: not set again, and setting 0 needs no request.
  EXPECT_TRUE(emulated->Configurations().empty());
  EXPECT_TRUE(emulated->Settings().empty());

  std::vector<std::uint8_t> out = {'h', 'e', 'l', 'l', 'o'};
  auto sent = Bulk(*device, 0x02, out);
  ASSERT_TRUE(sent->WaitFor(5s));
  EXPECT_EQ(sent->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(sent->Result().transferred, 5u);

  std::vector<std::uint8_t> in(64, 0);
  auto received = Bulk(*device, 0x86, in);
  ASSERT_TRUE(received->WaitFor(5s));
  EXPECT_EQ(received->Result().status, USBD_STATUS_SUCCESS);
  ASSERT_EQ(received->Result().transferred, 5u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));

  // An IN transfer waiting for data completes when the data comes.
  std::vector<std::uint8_t> later(64, 0);
  auto waiting = Bulk(*device, 0x86, later, false);
  EXPECT_FALSE(waiting->WaitFor(100ms));
  std::vector<std::uint8_t> more = {7, 8, 9};
  Bulk(*device, 0x02, more)->Wait();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_ERROR_SHORT_TRANSFER);
  EXPECT_EQ(waiting->Result().transferred, 3u);

  // Another setting of the claimed interface.
  InterfaceInfo alternate;
  ASSERT_EQ(device->SelectInterface(0, 1, &alternate), USBD_STATUS_SUCCESS);
  EXPECT_EQ(alternate.alternateSetting, 1);
  ASSERT_EQ(alternate.endpoints.size(), 1u);
  EXPECT_EQ(alternate.endpoints[0].address, 0x81);
  EXPECT_EQ(alternate.endpoints[0].type, EndpointType::Interrupt);
  EXPECT_EQ(alternate.endpoints[0].interval, 10);
  EXPECT_EQ(emulated->Settings(), (std::vector<std::pair<unsigned, unsigned>>{{0, 1}}));
  EXPECT_EQ(device->SelectInterface(0, 5, &alternate), USBD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(device->SelectInterface(4, 0, &alternate), USBD_STATUS_INVALID_PARAMETER);
  // Back to setting 0 through SelectConfiguration: now a request is needed.
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->Settings(), (std::vector<std::pair<unsigned, unsigned>>{{0, 1}, {0, 0}}));
  EXPECT_EQ(emulated->Claimed(), std::vector<unsigned>{0});  // claimed once

  EXPECT_EQ(device->ResetEndpoint(0x86), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->ClearedHalts(), std::vector<unsigned>{0x86});
  EXPECT_EQ(device->ResetPort(), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->Resets(), 1);

  EXPECT_EQ(device->Deconfigure(), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated->Configurations(), std::vector<int>{-1});
}

TEST_F(Umockdev, IsochronousPackets) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);
  // Packets at offsets with gaps between them.
  std::vector<std::uint8_t> data(64, 0xEE);
  TransferRequest r;
  r.type = TransferType::Isochronous;
  r.endpoint = 0x83;
  r.data = data;
  r.isoPackets = {{0, 8}, {16, 8}, {32, 8}, {48, 8}};
  auto in = device->Submit(r);
  ASSERT_TRUE(in->WaitFor(5s));
  const TransferResult& result = in->Result();
  EXPECT_EQ(result.status, USBD_STATUS_SUCCESS);
  ASSERT_EQ(result.isoPackets.size(), 4u);
  EXPECT_EQ(result.transferred, 1u + 2u + 3u + 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(result.isoPackets[i].offset, 16 * i);
    EXPECT_EQ(result.isoPackets[i].actualLength, i + 1);
    EXPECT_EQ(result.isoPackets[i].status, i == 2 ? USBD_STATUS_ISO_TD_ERROR : USBD_STATUS_SUCCESS);
    for (std::size_t b = 0; b < 16; ++b)
      EXPECT_EQ(data[16 * i + b], b < i + 1 ? 0xA0 + i : 0xEE) << i << "/" << b;
  }

  std::vector<std::uint8_t> outData(12);
  for (std::size_t i = 0; i < outData.size(); ++i) outData[i] = static_cast<std::uint8_t>(i);
  r.endpoint = 0x03;
  r.data = outData;
  r.isoPackets = {{8, 4}, {0, 4}};  // sent in packet order, not buffer order
  auto out = device->Submit(r);
  ASSERT_TRUE(out->WaitFor(5s));
  EXPECT_EQ(out->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(out->Result().transferred, 8u);
  EXPECT_EQ(emulated_[0]->IsoWritten(), (std::vector<std::uint8_t>{8, 9, 10, 11, 0, 1, 2, 3}));

  // What libusb cannot carry is refused at once.
  r.startAsap = false;
  auto framed = device->Submit(r);
  ASSERT_TRUE(framed->Completed());
  EXPECT_EQ(framed->Result().status, USBD_STATUS_INVALID_PARAMETER);
  r.startAsap = true;
  r.isoPackets = {{10, 4}};  // beyond the buffer
  auto beyond = device->Submit(r);
  ASSERT_TRUE(beyond->Completed());
  EXPECT_EQ(beyond->Result().status, USBD_STATUS_INVALID_PARAMETER);
}

TEST_F(Umockdev, CancelAndAbort) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);

  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  EXPECT_FALSE(waiting->WaitFor(100ms));
  EXPECT_FALSE(waiting->Completed());
  waiting->Cancel();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(waiting->Result().transferred, 0u);
  waiting->Cancel();  // once completed, nothing more
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_CANCELED);

  // Abort ends every transfer of the endpoint, and only those, before it
  // returns.
  std::vector<std::uint8_t> a(64), b(64), c(8);
  auto first = Bulk(*device, 0x86, a);
  auto second = Bulk(*device, 0x86, b);
  TransferRequest interrupt;
  interrupt.type = TransferType::Interrupt;
  interrupt.endpoint = 0x81;
  interrupt.data = c;
  auto other = device->Submit(interrupt);
  for (int i = 0; i < 500 && emulated->WaitingIn() < 3; ++i) std::this_thread::sleep_for(10ms);
  device->AbortEndpoint(0x86);
  EXPECT_TRUE(first->Completed());
  EXPECT_TRUE(second->Completed());
  EXPECT_EQ(first->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(second->Result().status, USBD_STATUS_CANCELED);
  EXPECT_FALSE(other->Completed());
  device->AbortEndpoint(0x81);
  EXPECT_TRUE(other->Completed());
  EXPECT_EQ(other->Result().status, USBD_STATUS_CANCELED);
  EXPECT_EQ(emulated->Discarded(), 4u);
}

TEST_F(Umockdev, BusyClaimRightAfterArrivalIsRetried) {
  EmulatedDevice& emulated = Plug(3, 2);
  emulated.FailClaims(3);
  StartBus();
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  InterfaceInfo info;
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, &info), USBD_STATUS_SUCCESS);
  EXPECT_EQ(emulated.ClaimAttempts(), 4);
  EXPECT_EQ(emulated.Claimed(), std::vector<unsigned>{0});
}

TEST_F(Umockdev, BusyClaimGivesUpAfterTheWindow) {
  EmulatedDevice& emulated = Plug(3, 2);
  emulated.FailClaims(1000);
  StartBus();
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_REQUEST_FAILED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_GT(emulated.ClaimAttempts(), 2);
  // Long after the arrival a busy interface fails at once.
  const int attempts = emulated.ClaimAttempts();
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_REQUEST_FAILED);
  EXPECT_EQ(emulated.ClaimAttempts(), attempts + 1);
}

TEST_F(Umockdev, HotplugArrivalAndDeparture) {
  StartBus();
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(recorder_->Arrived().empty());

  EmulatedDevice& emulated = Plug(3, 2);
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto device = recorder_->Arrived().front();
  EXPECT_EQ(device->Identity().Location(), "1-3");
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);

  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  for (int i = 0; i < 500 && emulated.WaitingIn() < 1; ++i) std::this_thread::sleep_for(10ms);

  Unplug(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1));
  const DeviceIdentity left = recorder_->Departed().front();
  EXPECT_EQ(left.Location(), "1-3");
  EXPECT_EQ(left.vendorId, kVendor);
  // What was in flight ends as gone, and so does everything later, at once.
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  auto late = Bulk(*device, 0x86, in);
  EXPECT_TRUE(late->Completed());
  EXPECT_EQ(late->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(device->ResetPort(), USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(recorder_->Departed().size(), 1u);
}

TEST_F(Umockdev, ReEnumerationOnTheSamePlug) {
  EmulatedDevice* emulated = nullptr;
  auto first = StartWithBoard(&emulated);
  ASSERT_NE(first, nullptr);
  Unplug(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1));
  // The same plug, a new bus address: a new device with a new handle.
  EmulatedDevice& again = Plug(3, 5);
  ASSERT_TRUE(recorder_->WaitArrivals(2));
  auto second = recorder_->Arrived().back();
  EXPECT_NE(second, first);
  EXPECT_EQ(second->Identity().Location(), "1-3");
  std::vector<std::uint8_t> id(4);
  auto read = Control(*second, 0xC0, EmulatedDevice::kReadId, 9, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_SUCCESS);
  EXPECT_EQ(Control(*first, 0xC0, EmulatedDevice::kReadId, 9, id)->Result().status,
            USBD_STATUS_DEVICE_GONE);
  ASSERT_EQ(second->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  EXPECT_EQ(again.Claimed(), std::vector<unsigned>{0});
  EXPECT_TRUE(emulated->Claimed().empty());
}

TEST_F(Umockdev, RescanReportsNothingTwice) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  bus_->Rescan();
  bus_->Rescan();
  Plug(4, 3);
  ASSERT_TRUE(recorder_->WaitArrivals(2));
  bus_->Rescan();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(recorder_->Arrived().size(), 2u);
  EXPECT_TRUE(recorder_->Departed().empty());
  // The first handle is still the live one.
  EXPECT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
}

TEST_F(Umockdev, PollingFindsArrivalsAndDepartures) {
  Plug(3, 2);
  bus_ = MakePollingLibusbBus({{kVendor, kProduct}});
  bus_->SetLog(recorder_->Log());
  bus_->Start(recorder_->Events());
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  EXPECT_EQ(recorder_->Arrived()[0]->Identity().Location(), "1-3");

  Plug(4, 3);
  ASSERT_TRUE(recorder_->WaitArrivals(2, 5s));
  EXPECT_EQ(recorder_->Arrived()[1]->Identity().Location(), "1-4");
  Unplug(3);
  ASSERT_TRUE(recorder_->WaitDepartures(1, 5s));
  EXPECT_EQ(recorder_->Departed()[0].Location(), "1-3");
  // Later looks report nothing twice.
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(recorder_->Arrived().size(), 2u);
  EXPECT_EQ(recorder_->Departed().size(), 1u);
  EXPECT_TRUE(recorder_->Logged().empty());
  std::vector<std::uint8_t> in(8);
  EXPECT_EQ(Bulk(*recorder_->Arrived()[0], 0x86, in)->Result().status, USBD_STATUS_DEVICE_GONE);
}

TEST_F(Umockdev, DeviceThatCannotBeOpenedIsDroppedWithALogMessage) {
  Add(Record("1-4", 3, Hex(kDescriptors), false));  // no device node
  StartBus();
  ASSERT_TRUE(recorder_->WaitLog(1));
  const std::string message = recorder_->Logged().front();
  EXPECT_NE(message.find("1234:5678 at 1-4"), std::string::npos) << message;
  EXPECT_NE(message.find("dropped"), std::string::npos) << message;
  EXPECT_TRUE(recorder_->Arrived().empty());
  // A board plugged later is served as usual.
  Plug(3, 2);
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  EXPECT_EQ(recorder_->Arrived().front()->Identity().Location(), "1-3");
}

TEST_F(Umockdev, ClosingWithTransfersInFlight) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  for (int i = 0; i < 500 && emulated->WaitingIn() < 1; ++i) std::this_thread::sleep_for(10ms);

  // The bus stops: the device is gone for its user, who still holds it.
  bus_->Stop();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(Bulk(*device, 0x86, in)->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_TRUE(recorder_->Departed().empty());  // stopping reports nothing
  bus_.reset();

  // The last user lets go after the bus: cancel, reap, close, exit.
  auto stillWaiting = waiting;
  device.reset();
  recorder_->Clear();
  EXPECT_TRUE(stillWaiting->Completed());
}

TEST_F(Umockdev, DroppingADeviceCancelsWhatIsInFlight) {
  EmulatedDevice* emulated = nullptr;
  auto device = StartWithBoard(&emulated);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->SelectConfiguration(1, 0, 0, nullptr), USBD_STATUS_SUCCESS);
  std::vector<std::uint8_t> in(64);
  auto waiting = Bulk(*device, 0x86, in);
  for (int i = 0; i < 500 && emulated->WaitingIn() < 1; ++i) std::this_thread::sleep_for(10ms);
  // The bus and its user both let go while the transfer waits.
  bus_.reset();
  device.reset();
  recorder_->Clear();
  ASSERT_TRUE(waiting->WaitFor(5s));
  EXPECT_EQ(waiting->Result().status, USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(emulated->Discarded(), 1u);
}

TEST_F(Umockdev, RestartsAfterStop) {
  auto device = StartWithBoard();
  ASSERT_NE(device, nullptr);
  device.reset();
  bus_->Stop();
  recorder_->Clear();
  bus_->Start(recorder_->Events());
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  auto again = recorder_->Arrived().front();
  std::vector<std::uint8_t> id(4);
  auto read = Control(*again, 0xC0, EmulatedDevice::kReadId, 7, id);
  ASSERT_TRUE(read->WaitFor(5s));
  EXPECT_EQ(read->Result().status, USBD_STATUS_SUCCESS);
}

TEST_F(Umockdev, PollSeesWhatNoHotplugEventReported) {
  // Hotplug and a look at the bus every 200 ms (--poll), as on a machine
  // whose uevents never reach libusb: devices that come and go without an
  // event are found by the looks alone.
  bus_ = MakeLibusbBus({{kVendor, kProduct}}, 200ms);
  bus_->SetLog(recorder_->Log());
  bus_->Start(recorder_->Events());
  Plug(3, 2);
  ASSERT_TRUE(recorder_->WaitArrivals(1));
  // Gone without its removal's uevent: hotplug never hears of it.
  umockdev_testbed_remove_device(testbed_, "/sys/devices/usb1/1-3");
  ASSERT_TRUE(recorder_->WaitDepartures(1));
  EXPECT_EQ(recorder_->Departed()[0].Location(), "1-3");
  EXPECT_EQ(recorder_->Arrived().size(), 1u);
  // Every device on the bus, whatever its identifiers, for messages.
  Plug(4, 3);
  ASSERT_TRUE(recorder_->WaitArrivals(2));
  const auto present = bus_->Present();
  EXPECT_TRUE(std::any_of(present.begin(), present.end(), [](const DeviceIdentity& d) {
    return d.Location() == "1-4" && d.vendorId == kVendor;
  }));
  EXPECT_TRUE(recorder_->Logged().empty());
}

}  // namespace
}  // namespace vantrel::usbhost
