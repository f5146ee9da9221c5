#include "libusb/LibusbDevice.h"

#include <vector>

#include "libusb/LibusbStatus.h"
#include "libusb/LibusbTransfer.h"

namespace vantrel::usbhost {

LibusbDevice::LibusbDevice(std::shared_ptr<LibusbContext> context, libusb_device_handle* handle,
                           DeviceIdentity identity, RetryClock::time_point claimDeadline)
    : context_(std::move(context)),
      handle_(handle),
      identity_(std::move(identity)),
      claimDeadline_(claimDeadline) {
  // Claiming an interface detaches a kernel driver bound to it, and releasing
  // it attaches the driver again. Platforms without kernel drivers say
  // LIBUSB_ERROR_NOT_SUPPORTED, which needs nothing.
  libusb_set_auto_detach_kernel_driver(handle_, 1);
}

LibusbDevice::~LibusbDevice() {
  // Cancel, reap, close: libusb_close must not meet a transfer in flight.
  std::vector<std::shared_ptr<LibusbTransfer>> flying;
  {
    std::lock_guard lock(mutex_);
    for (auto& [raw, transfer] : inFlight_) flying.push_back(transfer);
  }
  for (auto& transfer : flying) transfer->Cancel();
  flying.clear();
  bool gone = false;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return inFlight_.empty(); });
    gone = gone_;
  }
  {
    std::lock_guard config(configMutex_);
    if (!gone) ReleaseAll();
  }
  // libusb_close takes the context's event lock, so a callback that has just
  // retired its transfer has also left libusb's completion handling by then.
  libusb_close(handle_);
}

bool LibusbDevice::Gone() const {
  std::lock_guard lock(mutex_);
  return gone_;
}

std::shared_ptr<PendingTransfer> LibusbDevice::Submit(TransferRequest request) {
  auto transfer = std::make_shared<LibusbTransfer>(std::move(request));
  std::lock_guard lock(mutex_);
  if (gone_) {
    transfer->CompleteNow(USBD_STATUS_DEVICE_GONE);
    return transfer;
  }
  const std::uint32_t prepared = transfer->Prepare(handle_, this);
  if (UsbdFailed(prepared)) {
    transfer->CompleteNow(prepared);
    return transfer;
  }
  // In the set before libusb has it: the callback may run at once.
  inFlight_.emplace(transfer.get(), transfer);
  const int submitted = transfer->Submit();
  if (submitted < 0) {
    inFlight_.erase(transfer.get());
    changed_.notify_all();
    transfer->CompleteNow(LibusbErrorStatus(submitted));
  }
  return transfer;
}

std::shared_ptr<LibusbTransfer> LibusbDevice::Retire(LibusbTransfer* transfer, bool* gone) {
  std::lock_guard lock(mutex_);
  *gone = gone_;
  std::shared_ptr<LibusbTransfer> kept;
  auto it = inFlight_.find(transfer);
  if (it != inFlight_.end()) {
    kept = std::move(it->second);
    inFlight_.erase(it);
  }
  changed_.notify_all();
  return kept;
}

void LibusbDevice::MarkGone() {
  std::lock_guard lock(mutex_);
  if (gone_) return;
  gone_ = true;
  // The transfers end through their callbacks, as DEVICE_GONE.
  for (auto& [raw, transfer] : inFlight_) transfer->Cancel();
  changed_.notify_all();
}

void LibusbDevice::AbortEndpoint(std::uint8_t endpoint) {
  std::vector<std::shared_ptr<LibusbTransfer>> aborted;
  {
    std::lock_guard lock(mutex_);
    for (auto& [raw, transfer] : inFlight_)
      if (transfer->Request().type != TransferType::Control &&
          transfer->Request().endpoint == endpoint)
        aborted.push_back(transfer);
  }
  for (auto& transfer : aborted) transfer->Cancel();
  for (auto& transfer : aborted) transfer->Wait();
}

int LibusbDevice::Claim(std::uint8_t interface) {
  if (claimed_.count(interface) != 0) return LIBUSB_SUCCESS;
  const int result =
      RetryWhileBusy([&] { return libusb_claim_interface(handle_, interface); }, claimDeadline_,
                     kBusyRetryInterval,
                     [this](std::chrono::milliseconds pause) {
                       // A device that leaves ends the retries.
                       std::unique_lock lock(mutex_);
                       return !changed_.wait_for(lock, pause, [this] { return gone_; });
                     });
  if (result == LIBUSB_SUCCESS) claimed_.insert(interface);
  return result;
}

void LibusbDevice::ReleaseAll() {
  for (std::uint8_t interface : claimed_) libusb_release_interface(handle_, interface);
  claimed_.clear();
}

std::uint32_t LibusbDevice::Describe(std::uint8_t interface, std::uint8_t alternate,
                                     InterfaceInfo* info) {
  libusb_config_descriptor* config = nullptr;
  const int result = libusb_get_active_config_descriptor(libusb_get_device(handle_), &config);
  if (result < 0) return LibusbErrorStatus(result);
  bool found = false;
  for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
    const libusb_interface& entry = config->interface[i];
    for (int a = 0; a < entry.num_altsetting && !found; ++a) {
      const libusb_interface_descriptor& setting = entry.altsetting[a];
      if (setting.bInterfaceNumber != interface || setting.bAlternateSetting != alternate) continue;
      found = true;
      info->number = setting.bInterfaceNumber;
      info->alternateSetting = setting.bAlternateSetting;
      info->interfaceClass = setting.bInterfaceClass;
      info->interfaceSubClass = setting.bInterfaceSubClass;
      info->interfaceProtocol = setting.bInterfaceProtocol;
      info->endpoints.clear();
      for (int e = 0; e < setting.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& d = setting.endpoint[e];
        EndpointInfo endpoint;
        endpoint.address = d.bEndpointAddress;
        endpoint.type = static_cast<EndpointType>(d.bmAttributes & 0x03);
        endpoint.maxPacketSize = d.wMaxPacketSize;
        endpoint.interval = d.bInterval;
        info->endpoints.push_back(endpoint);
      }
    }
  }
  libusb_free_config_descriptor(config);
  return found ? USBD_STATUS_SUCCESS : USBD_STATUS_INVALID_PARAMETER;
}

std::uint32_t LibusbDevice::SelectConfiguration(std::uint8_t configurationValue,
                                                std::uint8_t interface, std::uint8_t alternate,
                                                InterfaceInfo* selected) {
  std::lock_guard config(configMutex_);
  if (Gone()) return USBD_STATUS_DEVICE_GONE;
  int current = -1;
  int result = libusb_get_configuration(handle_, &current);
  if (result < 0) return LibusbErrorStatus(result);
  if (current != configurationValue) {
    // A configuration cannot change while interfaces are claimed.
    ReleaseAll();
    result = libusb_set_configuration(handle_, configurationValue);
    if (result < 0) return LibusbErrorStatus(result);
    alternates_.clear();
  }
  InterfaceInfo info;
  const std::uint32_t described = Describe(interface, alternate, &info);
  if (UsbdFailed(described)) return described;
  result = Claim(interface);
  if (result < 0) return LibusbErrorStatus(result);
  const auto previous = alternates_.find(interface);
  const std::uint8_t now = previous == alternates_.end() ? 0 : previous->second;
  if (alternate != 0 || now != 0) {
    result = libusb_set_interface_alt_setting(handle_, interface, alternate);
    if (result < 0) return LibusbErrorStatus(result);
  }
  alternates_[interface] = alternate;
  if (selected != nullptr) *selected = std::move(info);
  return USBD_STATUS_SUCCESS;
}

std::uint32_t LibusbDevice::Deconfigure() {
  std::lock_guard config(configMutex_);
  if (Gone()) return USBD_STATUS_DEVICE_GONE;
  ReleaseAll();
  alternates_.clear();
  return LibusbErrorStatus(libusb_set_configuration(handle_, -1));
}

std::uint32_t LibusbDevice::SelectInterface(std::uint8_t interface, std::uint8_t alternate,
                                            InterfaceInfo* selected) {
  std::lock_guard config(configMutex_);
  if (Gone()) return USBD_STATUS_DEVICE_GONE;
  InterfaceInfo info;
  const std::uint32_t described = Describe(interface, alternate, &info);
  if (UsbdFailed(described)) return described;
  int result = Claim(interface);
  if (result < 0) return LibusbErrorStatus(result);
  result = libusb_set_interface_alt_setting(handle_, interface, alternate);
  if (result < 0) return LibusbErrorStatus(result);
  alternates_[interface] = alternate;
  if (selected != nullptr) *selected = std::move(info);
  return USBD_STATUS_SUCCESS;
}

std::uint32_t LibusbDevice::ResetEndpoint(std::uint8_t endpoint) {
  if (Gone()) return USBD_STATUS_DEVICE_GONE;
  return LibusbErrorStatus(libusb_clear_halt(handle_, endpoint));
}

std::uint32_t LibusbDevice::ResetPort() {
  std::lock_guard config(configMutex_);
  if (Gone()) return USBD_STATUS_DEVICE_GONE;
  const int result = libusb_reset_device(handle_);
  // NOT_FOUND: the device came back with other descriptors and re-enumerates;
  // this handle is dead, the bus reports the departure and a new arrival.
  if (result == LIBUSB_ERROR_NOT_FOUND) return USBD_STATUS_DEVICE_GONE;
  return LibusbErrorStatus(result);
}

}  // namespace vantrel::usbhost
