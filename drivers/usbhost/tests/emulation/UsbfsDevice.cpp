#include "emulation/UsbfsDevice.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <set>
#include <span>

#include "emulation/DelayedCompletion.h"

namespace vantrel::usbhost::emulation {

namespace {

// A reference to a GObject of umockdev's, dropped with the scope.
struct DataRef {
  UMockdevIoctlData* data = nullptr;
  DataRef() = default;
  explicit DataRef(UMockdevIoctlData* d) : data(d) {}
  DataRef(DataRef&& other) noexcept : data(std::exchange(other.data, nullptr)) {}
  DataRef& operator=(DataRef&& other) noexcept {
    std::swap(data, other.data);
    return *this;
  }
  ~DataRef() {
    if (data != nullptr) g_object_unref(data);
  }
};

// The client's memory at the pointer stored at `offset` of `data`, copied
// here and written back when the ioctl completes.
DataRef Resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
  GError* error = nullptr;
  UMockdevIoctlData* child = umockdev_ioctl_data_resolve(data, offset, length, &error);
  if (error != nullptr) g_error_free(error);
  return DataRef(child);
}

unsigned long PointerValue(UMockdevIoctlData* data) {
  unsigned long value = 0;
  std::memcpy(&value, data->data, std::min<std::size_t>(sizeof value, std::size_t(data->data_len)));
  return value;
}

template <typename T>
T* As(const DataRef& ref) {
  return reinterpret_cast<T*>(ref.data->data);
}

int StatusOf(vantrel::sim::UsbOutcome outcome) {
  switch (outcome) {
    case vantrel::sim::UsbOutcome::Ack:
      return 0;
    case vantrel::sim::UsbOutcome::Stall:
      return -EPIPE;
    case vantrel::sim::UsbOutcome::Gone:
      return -ESHUTDOWN;
    case vantrel::sim::UsbOutcome::Nak:
      break;
  }
  return -EPROTO;
}

// g_get_monotonic_time() when an URB last moved on any device.
std::atomic<std::int64_t> g_lastActivity{0};

}  // namespace

struct UsbfsDevice::Urb {
  DataRef urb;                            // the client's usbdevfs_urb (with its packet records)
  DataRef buffer;                         // its data buffer, if any
  UMockdevIoctlClient* client = nullptr;  // identity only
  unsigned long address = 0;              // where the client keeps the URB
  std::uint32_t startFrame = 0;           // isochronous: first frame

  usbdevfs_urb* Get() const { return As<usbdevfs_urb>(urb); }
  std::span<std::uint8_t> Bytes() const {
    if (buffer.data == nullptr) return {};
    return {buffer.data->data, static_cast<std::size_t>(buffer.data->data_len)};
  }
};

UsbfsDevice::UsbfsDevice(std::shared_ptr<vantrel::sim::SimUsbDevice> device, UsbfsFaults faults,
                         std::function<void(int)> configured)
    : device_(std::move(device)),
      configured_(std::move(configured)),
      bornMicroseconds_(g_get_monotonic_time()),
      delayed_(std::make_unique<DelayedCompletion>()),
      faults_(std::move(faults)) {
  handler_ = UMOCKDEV_IOCTL_BASE(g_object_new(UMOCKDEV_TYPE_IOCTL_BASE, nullptr));
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbfsDevice::OnIoctl), this);
  g_signal_connect(handler_, "client-vanished", G_CALLBACK(&UsbfsDevice::OnVanished), this);
}

UsbfsDevice::~UsbfsDevice() {
  if (testbed_ != nullptr) umockdev_testbed_detach_ioctl(testbed_, devnode_.c_str(), nullptr);
  delayed_.reset();
  g_signal_handlers_disconnect_by_data(handler_, this);
  {
    std::lock_guard lock(mutex_);
    waiting_.clear();
    done_.clear();
  }
  g_object_unref(handler_);
}

bool UsbfsDevice::Attach(UMockdevTestbed* testbed, const std::string& devnode, std::string* why) {
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed, devnode.c_str(), handler_, &error)) {
    if (why) *why = error ? error->message : "attach_ioctl failed";
    if (error) g_error_free(error);
    return false;
  }
  testbed_ = testbed;
  devnode_ = devnode;
  return true;
}

void UsbfsDevice::SetNak(bool on) {
  std::lock_guard lock(mutex_);
  faults_.nak = on;
}
void UsbfsDevice::SetStall(bool on) {
  std::lock_guard lock(mutex_);
  faults_.stall = on;
}
void UsbfsDevice::FailClaims(int times) {
  std::lock_guard lock(mutex_);
  faults_.busyClaims = times;
}
void UsbfsDevice::BindDriver(const std::string& name) {
  std::lock_guard lock(mutex_);
  faults_.boundDriver = name;
}
void UsbfsDevice::SetNoDevice(bool on) {
  std::lock_guard lock(mutex_);
  faults_.noDevice = on;
}
void UsbfsDevice::MarkGone() {
  std::lock_guard lock(mutex_);
  gone_ = true;
}

int UsbfsDevice::ClaimAttempts() const {
  std::lock_guard lock(mutex_);
  return claimAttempts_;
}
std::vector<unsigned> UsbfsDevice::Claimed() const {
  std::lock_guard lock(mutex_);
  return claimed_;
}
std::vector<std::pair<unsigned, unsigned>> UsbfsDevice::Settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}
std::vector<int> UsbfsDevice::Configurations() const {
  std::lock_guard lock(mutex_);
  return configurations_;
}
std::vector<unsigned> UsbfsDevice::ClearedHalts() const {
  std::lock_guard lock(mutex_);
  return clearedHalts_;
}
std::vector<std::string> UsbfsDevice::DetachedDrivers() const {
  std::lock_guard lock(mutex_);
  return detached_;
}
int UsbfsDevice::Resets() const {
  std::lock_guard lock(mutex_);
  return resets_;
}
std::size_t UsbfsDevice::Discarded() const {
  std::lock_guard lock(mutex_);
  return discarded_;
}
std::size_t UsbfsDevice::WaitingUrbs() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}
std::size_t UsbfsDevice::SubmittedUrbs() const {
  std::lock_guard lock(mutex_);
  return submitted_;
}

int UsbfsDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  auto* device = static_cast<UsbfsDevice*>(self);
  const Answer answer = device->Handle(client);
  const long result = answer.error != 0 ? -1 : answer.result;
  if (answer.idle)
    device->delayed_->CompleteLater(client, result, answer.error, kIdleReapPauseMicroseconds);
  else
    umockdev_ioctl_client_complete(client, result, answer.error);
  return TRUE;
}

void UsbfsDevice::OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  // A closed descriptor: the kernel kills its URBs and releases its claims.
  auto* device = static_cast<UsbfsDevice*>(self);
  std::lock_guard lock(device->mutex_);
  auto ofClient = [client](const std::unique_ptr<Urb>& urb) { return urb->client == client; };
  std::erase_if(device->waiting_, ofClient);
  std::erase_if(device->done_, ofClient);
  device->claimed_.clear();
}

UsbfsDevice::Answer UsbfsDevice::Handle(UMockdevIoctlClient* client) {
  const unsigned long request = umockdev_ioctl_client_get_request(client);
  std::unique_lock lock(mutex_);
  if (faults_.noDevice) return {-1, ENODEV};
  if (gone_ && request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB)
    return {-1, ENODEV};
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      DataRef caps = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(std::uint32_t));
      if (caps.data == nullptr) return {-1, EFAULT};
      const std::uint32_t value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
      std::memcpy(caps.data->data, &value, sizeof value);
      return {};
    }
    case USBDEVFS_SUBMITURB:
      return Submit(client);
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      return Reap(client);
    case USBDEVFS_DISCARDURB:
      return Discard(client);
    case USBDEVFS_CLAIMINTERFACE:
      return Claim(client, false);
    case USBDEVFS_DISCONNECT_CLAIM:
      return Claim(client, true);
    case USBDEVFS_RELEASEINTERFACE: {
      DataRef number = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(unsigned));
      if (number.data == nullptr) return {-1, EFAULT};
      const auto it = std::find(claimed_.begin(), claimed_.end(), *As<unsigned>(number));
      if (it == claimed_.end()) return {-1, EINVAL};
      claimed_.erase(it);
      return {};
    }
    case USBDEVFS_GETDRIVER:
      return GetDriver(client);
    case USBDEVFS_IOCTL:
      return DriverRequest(client);
    case USBDEVFS_SETCONFIGURATION: {
      Answer answer = SetConfiguration(client);
      const int value = configuration_;
      lock.unlock();
      if (answer.error == 0 && configured_) configured_(value);
      return answer;
    }
    case USBDEVFS_SETINTERFACE:
      return SetInterface(client);
    case USBDEVFS_CLEAR_HALT:
      return ClearHalt(client);
    case USBDEVFS_RESET:
      return Reset();
    default:
      return {-1, ENOTTY};
  }
}

UsbfsDevice::Answer UsbfsDevice::Submit(UMockdevIoctlClient* client) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  auto urb = std::make_unique<Urb>();
  urb->client = client;
  urb->address = PointerValue(arg);
  urb->urb = Resolve(arg, 0, sizeof(usbdevfs_urb));
  if (urb->urb.data == nullptr) return {-1, EFAULT};
  if (urb->Get()->type == USBDEVFS_URB_TYPE_ISO) {
    // The packet records follow the URB: read it again, whole.
    const int packets = urb->Get()->number_of_packets;
    if (packets <= 0 || packets > 1024) return {-1, EINVAL};
    urb->urb = DataRef();
    GError* error = nullptr;
    if (!umockdev_ioctl_data_reload(arg, &error)) {
      if (error) g_error_free(error);
      return {-1, EFAULT};
    }
    // Reloading leaves the local copy's address in the argument.
    std::memcpy(arg->data, &urb->address, sizeof urb->address);
    urb->urb = Resolve(
        arg, 0, sizeof(usbdevfs_urb) + std::size_t(packets) * sizeof(usbdevfs_iso_packet_desc));
    if (urb->urb.data == nullptr) return {-1, EFAULT};
  }
  usbdevfs_urb* u = urb->Get();
  if (u->buffer_length < 0) return {-1, EINVAL};
  if (u->buffer != nullptr && u->buffer_length > 0) {
    urb->buffer =
        Resolve(urb->urb.data, offsetof(usbdevfs_urb, buffer), std::size_t(u->buffer_length));
    if (urb->buffer.data == nullptr) return {-1, EFAULT};
  }
  u->status = 0;
  u->actual_length = 0;
  switch (u->type) {
    case USBDEVFS_URB_TYPE_CONTROL:
      if (urb->Bytes().size() < 8) return {-1, EINVAL};
      break;
    case USBDEVFS_URB_TYPE_BULK:
    case USBDEVFS_URB_TYPE_INTERRUPT:
      break;
    case USBDEVFS_URB_TYPE_ISO: {
      // Scheduled right after the endpoint's URBs before it, as soon as
      // possible: done once its frames have passed.
      const std::uint32_t now = FrameNumber();
      std::uint32_t& next = nextIsoFrame_[u->endpoint];
      urb->startFrame = static_cast<std::int32_t>(next - now) > 0 ? next : now;
      next = urb->startFrame + static_cast<std::uint32_t>(u->number_of_packets);
      break;
    }
    default:
      return {-1, EINVAL};
  }
  ++submitted_;
  g_lastActivity.store(g_get_monotonic_time());
  waiting_.push_back(std::move(urb));
  RetryWaitingLocked();
  return {};
}

bool UsbfsDevice::Attempt(Urb& urb) {
  if (faults_.nak) return false;
  usbdevfs_urb* u = urb.Get();
  std::span<std::uint8_t> bytes = urb.Bytes();
  if (faults_.stall) {
    u->status = -EPIPE;
    return true;
  }
  vantrel::sim::UsbTransferOutcome outcome;
  switch (u->type) {
    case USBDEVFS_URB_TYPE_CONTROL: {
      const std::uint8_t* s = bytes.data();
      const vantrel::sim::UsbSetup setup{s[0], s[1], static_cast<std::uint16_t>(s[2] | s[3] << 8),
                                         static_cast<std::uint16_t>(s[4] | s[5] << 8),
                                         static_cast<std::uint16_t>(s[6] | s[7] << 8)};
      const std::size_t length = std::min<std::size_t>(setup.length, bytes.size() - 8);
      outcome = device_->Control(setup, bytes.subspan(8, length));
      break;
    }
    case USBDEVFS_URB_TYPE_BULK:
    case USBDEVFS_URB_TYPE_INTERRUPT:
      outcome =
          (u->endpoint & 0x80) ? device_->In(u->endpoint, bytes) : device_->Out(u->endpoint, bytes);
      break;
    case USBDEVFS_URB_TYPE_ISO: {
      const int count = u->number_of_packets;
      if (static_cast<std::int32_t>(FrameNumber() - (urb.startFrame + std::uint32_t(count))) < 0)
        return false;
      std::vector<vantrel::sim::UsbIsoPacket> packets;
      std::uint32_t offset = 0;
      for (int i = 0; i < count; ++i) {
        const std::uint32_t length = u->iso_frame_desc[i].length;
        const std::uint32_t fit =
            offset >= bytes.size()
                ? 0
                : std::min<std::uint32_t>(length, std::uint32_t(bytes.size()) - offset);
        packets.push_back({offset, fit, 0, false});
        offset += length;
      }
      outcome = device_->Isochronous(u->endpoint, bytes, packets, urb.startFrame);
      if (outcome.outcome == vantrel::sim::UsbOutcome::Nak) return false;
      int moved = 0, errors = 0;
      for (int i = 0; i < count; ++i) {
        u->iso_frame_desc[i].actual_length = packets[std::size_t(i)].actualLength;
        u->iso_frame_desc[i].status = packets[std::size_t(i)].error ? -EPROTO : 0;
        moved += int(packets[std::size_t(i)].actualLength);
        errors += packets[std::size_t(i)].error ? 1 : 0;
      }
      u->start_frame = static_cast<int>(urb.startFrame);
      u->error_count = errors;
      u->status = StatusOf(outcome.outcome);
      u->actual_length = u->status == 0 ? moved : 0;
      return true;
    }
    default:
      u->status = -EINVAL;
      return true;
  }
  if (outcome.outcome == vantrel::sim::UsbOutcome::Nak) return false;
  u->status = StatusOf(outcome.outcome);
  u->actual_length = u->status == 0 ? static_cast<int>(outcome.length) : 0;
  return true;
}

void UsbfsDevice::RetryWaitingLocked() {
  // In order, and an endpoint's URBs only after the one before them.
  std::set<std::uint8_t> held;
  for (auto it = waiting_.begin(); it != waiting_.end();) {
    const std::uint8_t endpoint = (*it)->Get()->endpoint;
    if (held.count(endpoint) == 0 && Attempt(**it)) {
      done_.push_back(std::move(*it));
      it = waiting_.erase(it);
    } else {
      held.insert(endpoint);
      ++it;
    }
  }
}

void UsbfsDevice::EndAllLocked(int status) {
  for (auto& urb : waiting_) {
    urb->Get()->status = status;
    urb->Get()->actual_length = 0;
    done_.push_back(std::move(urb));
  }
  waiting_.clear();
}

UsbfsDevice::Answer UsbfsDevice::Reap(UMockdevIoctlClient* client) {
  if (gone_)
    EndAllLocked(-ESHUTDOWN);
  else
    RetryWaitingLocked();
  const auto it = std::find_if(done_.begin(), done_.end(),
                               [client](const auto& urb) { return urb->client == client; });
  if (it == done_.end()) {
    if (gone_) return {-1, ENODEV};
    return {-1, EAGAIN, g_get_monotonic_time() - g_lastActivity.load() > kBusyWindowMicroseconds};
  }
  DataRef slot = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*));
  if (slot.data == nullptr) return {-1, EFAULT};
  if (!umockdev_ioctl_data_set_ptr(slot.data, 0, (*it)->urb.data)) return {-1, EFAULT};
  done_.erase(it);
  g_lastActivity.store(g_get_monotonic_time());
  return {};
}

UsbfsDevice::Answer UsbfsDevice::Discard(UMockdevIoctlClient* client) {
  const unsigned long address = PointerValue(umockdev_ioctl_client_get_arg(client));
  const auto it = std::find_if(waiting_.begin(), waiting_.end(), [&](const auto& urb) {
    return urb->client == client && urb->address == address;
  });
  if (it == waiting_.end()) return {-1, EINVAL};
  (*it)->Get()->status = -ENOENT;
  (*it)->Get()->actual_length = 0;
  done_.push_back(std::move(*it));
  waiting_.erase(it);
  ++discarded_;
  return {};
}

UsbfsDevice::Answer UsbfsDevice::Claim(UMockdevIoctlClient* client, bool disconnectFirst) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  unsigned interface = 0;
  if (disconnectFirst) {
    DataRef claim = Resolve(arg, 0, sizeof(usbdevfs_disconnect_claim));
    if (claim.data == nullptr) return {-1, EFAULT};
    const auto* dc = As<usbdevfs_disconnect_claim>(claim);
    interface = dc->interface;
    const std::string named(dc->driver, strnlen(dc->driver, sizeof dc->driver));
    if (!faults_.boundDriver.empty()) {
      bool detach = true;
      if (dc->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) detach = faults_.boundDriver == named;
      if (dc->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER)
        detach = faults_.boundDriver != named;
      if (detach) {
        detached_.push_back(faults_.boundDriver);
        detachedDriver_ = faults_.boundDriver;
        faults_.boundDriver.clear();
      }
    }
  } else {
    DataRef number = Resolve(arg, 0, sizeof(unsigned));
    if (number.data == nullptr) return {-1, EFAULT};
    interface = *As<unsigned>(number);
  }
  ++claimAttempts_;
  if (!faults_.boundDriver.empty()) return {-1, EBUSY};
  if (faults_.busyClaims > 0) {
    --faults_.busyClaims;
    return {-1, EBUSY};
  }
  if (std::find(claimed_.begin(), claimed_.end(), interface) == claimed_.end())
    claimed_.push_back(interface);
  return {};
}

UsbfsDevice::Answer UsbfsDevice::GetDriver(UMockdevIoctlClient* client) {
  DataRef query = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_getdriver));
  if (query.data == nullptr) return {-1, EFAULT};
  if (faults_.boundDriver.empty()) return {-1, ENODATA};
  auto* driver = As<usbdevfs_getdriver>(query);
  std::memset(driver->driver, 0, sizeof driver->driver);
  faults_.boundDriver.copy(driver->driver, sizeof driver->driver - 1);
  return {};
}

UsbfsDevice::Answer UsbfsDevice::DriverRequest(UMockdevIoctlClient* client) {
  DataRef command = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_ioctl));
  if (command.data == nullptr) return {-1, EFAULT};
  switch (static_cast<unsigned long>(As<usbdevfs_ioctl>(command)->ioctl_code)) {
    case USBDEVFS_DISCONNECT:
      if (faults_.boundDriver.empty()) return {-1, ENODATA};
      detached_.push_back(faults_.boundDriver);
      detachedDriver_ = faults_.boundDriver;
      faults_.boundDriver.clear();
      return {};
    case USBDEVFS_CONNECT:
      // The kernel probes its drivers again: the one detached comes back.
      if (faults_.boundDriver.empty()) faults_.boundDriver = std::exchange(detachedDriver_, {});
      return {};
    default:
      return {-1, ENOTTY};
  }
}

vantrel::sim::UsbOutcome UsbfsDevice::StandardRequest(std::uint8_t type, std::uint8_t request,
                                                      std::uint16_t value, std::uint16_t index) {
  if (faults_.stall) return vantrel::sim::UsbOutcome::Stall;
  return device_->Control({type, request, value, index, 0}, {}).outcome;
}

UsbfsDevice::Answer UsbfsDevice::SetConfiguration(UMockdevIoctlClient* client) {
  DataRef value = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(int));
  if (value.data == nullptr) return {-1, EFAULT};
  const int wanted = *As<int>(value);
  configurations_.push_back(wanted);
  if (StandardRequest(0x00, 9, static_cast<std::uint16_t>(std::max(wanted, 0)), 0) !=
      vantrel::sim::UsbOutcome::Ack)
    return {-1, EINVAL};
  configuration_ = std::max(wanted, 0);
  alternates_.clear();
  return {};
}

UsbfsDevice::Answer UsbfsDevice::SetInterface(UMockdevIoctlClient* client) {
  DataRef value = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_setinterface));
  if (value.data == nullptr) return {-1, EFAULT};
  const auto* setting = As<usbdevfs_setinterface>(value);
  settings_.emplace_back(setting->interface, setting->altsetting);
  if (StandardRequest(0x01, 11, static_cast<std::uint16_t>(setting->altsetting),
                      static_cast<std::uint16_t>(setting->interface)) !=
      vantrel::sim::UsbOutcome::Ack)
    return {-1, EINVAL};
  alternates_[setting->interface] = setting->altsetting;
  return {};
}

UsbfsDevice::Answer UsbfsDevice::ClearHalt(UMockdevIoctlClient* client) {
  DataRef value = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(unsigned));
  if (value.data == nullptr) return {-1, EFAULT};
  const unsigned endpoint = *As<unsigned>(value);
  clearedHalts_.push_back(endpoint);
  if (StandardRequest(0x02, 1, 0, static_cast<std::uint16_t>(endpoint)) !=
      vantrel::sim::UsbOutcome::Ack)
    return {-1, EPIPE};
  return {};
}

UsbfsDevice::Answer UsbfsDevice::Reset() {
  ++resets_;
  device_->PortReset();
  // As the kernel does after a reset: the configuration and settings again.
  if (configuration_ > 0) {
    StandardRequest(0x00, 9, static_cast<std::uint16_t>(configuration_), 0);
    for (const auto& [interface, alternate] : alternates_)
      StandardRequest(0x01, 11, static_cast<std::uint16_t>(alternate),
                      static_cast<std::uint16_t>(interface));
  }
  return {};
}

std::uint32_t UsbfsDevice::FrameNumber() const {
  return static_cast<std::uint32_t>((g_get_monotonic_time() - bornMicroseconds_) / 1000);
}

}  // namespace vantrel::usbhost::emulation
