#include "sim/SimHostDevice.h"

#include "sim/SimTransfer.h"

namespace vantrel::usbhost {

namespace {

constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kSetConfiguration = 9;
constexpr std::uint8_t kSetInterface = 11;
constexpr std::uint8_t kClearFeature = 1;
constexpr std::uint8_t kConfigurationType = 2;

std::uint32_t StatusOf(vantrel::sim::UsbOutcome outcome) {
  switch (outcome) {
    case vantrel::sim::UsbOutcome::Ack:
      return USBD_STATUS_SUCCESS;
    case vantrel::sim::UsbOutcome::Stall:
      return USBD_STATUS_STALL_PID;
    case vantrel::sim::UsbOutcome::Gone:
      return USBD_STATUS_DEVICE_GONE;
    case vantrel::sim::UsbOutcome::Nak:
      break;
  }
  return USBD_STATUS_DEV_NOT_RESPONDING;
}

}  // namespace

void SimTransfer::Cancel() {
  if (auto device = device_.lock()) {
    device->Cancel(*this);
  } else {
    Complete({USBD_STATUS_CANCELED, 0, request_.isoPackets, 0});
  }
}

SimHostDevice::SimHostDevice(int port, std::shared_ptr<vantrel::sim::SimUsbDevice> device,
                             vantrel::sim::SimUsbBus& bus)
    : device_(std::move(device)), bus_(bus) {
  identity_.bus = 1;
  identity_.portPath = {static_cast<std::uint8_t>(port)};
  identity_.vendorId = device_->VendorId();
  identity_.productId = device_->ProductId();
}

SimHostDevice::~SimHostDevice() {
  device_->SetDataReadyCallback({});
  {
    std::lock_guard lock(isoClockMutex_);
    isoClockStop_ = true;
    isoClockWake_.notify_all();
  }
  if (isoClock_.joinable()) {
    if (isoClock_.get_id() == std::this_thread::get_id())
      isoClock_.detach();
    else
      isoClock_.join();
  }
}

void SimHostDevice::ScheduleIso(TransferRequest& request) {
  const std::uint32_t now = bus_.FrameNumber();
  std::uint32_t& next = nextIsoFrame_[request.endpoint];
  if (request.startAsap) {
    request.startFrame = static_cast<std::int32_t>(next - now) > 0 ? next : now;
    request.startAsap = false;
  }
  next = request.startFrame + static_cast<std::uint32_t>(request.isoPackets.size());
}

bool SimHostDevice::IsoDue(const TransferRequest& request) const {
  const std::uint32_t end =
      request.startFrame + static_cast<std::uint32_t>(request.isoPackets.size());
  return static_cast<std::int32_t>(bus_.FrameNumber() - end) >= 0;
}

void SimHostDevice::RewindIsoLocked(std::uint8_t endpoint) {
  std::optional<std::uint32_t> end;
  for (const auto& transfer : waiting_) {
    const TransferRequest& request = transfer->Request();
    if (request.type != TransferType::Isochronous || request.endpoint != endpoint) continue;
    const std::uint32_t last =
        request.startFrame + static_cast<std::uint32_t>(request.isoPackets.size());
    if (!end || static_cast<std::int32_t>(last - *end) > 0) end = last;
  }
  if (end)
    nextIsoFrame_[endpoint] = *end;
  else
    nextIsoFrame_.erase(endpoint);
}

bool SimHostDevice::IsoWaiting() {
  std::lock_guard lock(mutex_);
  for (const auto& transfer : waiting_)
    if (transfer->Request().type == TransferType::Isochronous) return true;
  return false;
}

void SimHostDevice::WakeIsoClock() {
  std::lock_guard lock(isoClockMutex_);
  isoPending_ = true;
  if (!isoClock_.joinable()) isoClock_ = std::thread([this] { RunIsoClock(); });
  isoClockWake_.notify_all();
}

void SimHostDevice::RunIsoClock() {
  std::unique_lock lock(isoClockMutex_);
  while (!isoClockStop_) {
    if (!isoPending_) {
      isoClockWake_.wait(lock, [this] { return isoClockStop_ || isoPending_; });
      continue;
    }
    isoClockWake_.wait_for(lock, std::chrono::milliseconds(1));
    lock.unlock();
    RetryWaiting();
    lock.lock();
    // Decided under the clock's lock, so that a transfer submitted meanwhile
    // is either seen here or wakes the clock again.
    isoPending_ = IsoWaiting();
  }
}

void SimHostDevice::Attach() {
  std::weak_ptr<SimHostDevice> self = shared_from_this();
  device_->SetDataReadyCallback([self] {
    if (auto device = self.lock()) device->OnDataReady();
  });
}

std::shared_ptr<PendingTransfer> SimHostDevice::Submit(TransferRequest request) {
  auto transfer = std::make_shared<SimTransfer>(std::move(request), weak_from_this());
  {
    // Waiting before the first attempt, so that data arriving meanwhile is
    // never missed.
    std::lock_guard lock(mutex_);
    if (gone_) {
      transfer->Complete({USBD_STATUS_DEVICE_GONE, 0, transfer->Request().isoPackets, 0});
      return transfer;
    }
    if (transfer->Request().type == TransferType::Isochronous)
      ScheduleIso(transfer->MutableRequest());
    waiting_.push_back(transfer);
  }
  if (Attempt(*transfer)) {
    std::lock_guard lock(mutex_);
    waiting_.remove(transfer);
  }
  if (retryPending_.exchange(false)) RetryWaiting();
  if (transfer->Request().type == TransferType::Isochronous && !transfer->Completed())
    WakeIsoClock();
  return transfer;
}

namespace {
// Attempts running on this thread: a device that reports data while one of
// them is inside it gets its retry once the attempt is over.
thread_local int t_attempts = 0;
struct AttemptScope {
  AttemptScope() { ++t_attempts; }
  ~AttemptScope() { --t_attempts; }
};
}  // namespace

void SimHostDevice::OnDataReady() {
  if (t_attempts > 0) {
    retryPending_.store(true);
    return;
  }
  RetryWaiting();
}

bool SimHostDevice::Attempt(SimTransfer& transfer) {
  std::lock_guard attempt(attemptMutex_);
  if (transfer.Completed()) return true;
  AttemptScope scope;
  TransferRequest& request = transfer.MutableRequest();
  vantrel::sim::UsbTransferOutcome outcome;
  std::vector<vantrel::sim::UsbIsoPacket> packets;
  switch (request.type) {
    case TransferType::Control: {
      const vantrel::sim::UsbSetup setup{request.setup.requestType, request.setup.request,
                                         request.setup.value, request.setup.index,
                                         static_cast<std::uint16_t>(request.data.size())};
      outcome = device_->Control(setup, request.data);
      break;
    }
    case TransferType::Bulk:
    case TransferType::Interrupt:
      outcome = (request.endpoint & 0x80) ? device_->In(request.endpoint, request.data)
                                          : device_->Out(request.endpoint, request.data);
      break;
    case TransferType::Isochronous:
      if (!IsoDue(request)) return false;
      for (const auto& p : request.isoPackets) packets.push_back({p.offset, p.length, 0, false});
      outcome = device_->Isochronous(request.endpoint, request.data, packets, request.startFrame);
      break;
  }
  if (outcome.outcome == vantrel::sim::UsbOutcome::Nak) return false;

  TransferResult result;
  result.status = StatusOf(outcome.outcome);
  result.transferred = outcome.outcome == vantrel::sim::UsbOutcome::Ack ? outcome.length : 0;
  const bool in = request.type == TransferType::Control ? (request.setup.requestType & 0x80) != 0
                                                        : (request.endpoint & 0x80) != 0;
  if (result.status == USBD_STATUS_SUCCESS && in && !request.shortTransferOk &&
      result.transferred < request.data.size())
    result.status = USBD_STATUS_ERROR_SHORT_TRANSFER;
  if (request.type == TransferType::Isochronous) {
    result.isoPackets = request.isoPackets;
    for (std::size_t i = 0; i < result.isoPackets.size() && i < packets.size(); ++i) {
      result.isoPackets[i].actualLength = packets[i].actualLength;
      result.isoPackets[i].status =
          packets[i].error ? USBD_STATUS_ISO_TD_ERROR : USBD_STATUS_SUCCESS;
    }
    result.startFrame = request.startFrame;
  }
  transfer.Complete(std::move(result));
  return true;
}

void SimHostDevice::RetryWaiting() {
  do {
    std::list<std::shared_ptr<SimTransfer>> waiting;
    {
      std::lock_guard lock(mutex_);
      waiting = waiting_;
    }
    for (auto& transfer : waiting) {
      if (!Attempt(*transfer)) continue;
      std::lock_guard lock(mutex_);
      waiting_.remove(transfer);
    }
  } while (retryPending_.exchange(false));
}

void SimHostDevice::Cancel(SimTransfer& transfer) {
  // An attempt in progress finishes first: it either took the data or left
  // the transfer waiting, which the cancel then ends.
  std::lock_guard attempt(attemptMutex_);
  std::lock_guard lock(mutex_);
  const std::size_t before = waiting_.size();
  waiting_.remove_if([&](const auto& t) { return t.get() == &transfer; });
  if (waiting_.size() != before && transfer.Request().type == TransferType::Isochronous)
    RewindIsoLocked(transfer.Request().endpoint);
  transfer.Complete({USBD_STATUS_CANCELED, 0, transfer.Request().isoPackets, 0});
}

void SimHostDevice::AbortEndpoint(std::uint8_t endpoint) {
  std::list<std::shared_ptr<SimTransfer>> aborted;
  {
    std::lock_guard attempt(attemptMutex_);
    std::lock_guard lock(mutex_);
    for (auto it = waiting_.begin(); it != waiting_.end();) {
      if ((*it)->Request().endpoint == endpoint && (*it)->Request().type != TransferType::Control) {
        aborted.push_back(*it);
        it = waiting_.erase(it);
      } else {
        ++it;
      }
    }
    RewindIsoLocked(endpoint);
  }
  for (auto& transfer : aborted)
    transfer->Complete({USBD_STATUS_CANCELED, 0, transfer->Request().isoPackets, 0});
}

void SimHostDevice::MarkGone() {
  std::list<std::shared_ptr<SimTransfer>> waiting;
  {
    std::lock_guard lock(mutex_);
    gone_ = true;
    waiting.swap(waiting_);
    nextIsoFrame_.clear();
  }
  for (auto& transfer : waiting)
    transfer->Complete({USBD_STATUS_DEVICE_GONE, 0, transfer->Request().isoPackets, 0});
}

std::uint32_t SimHostDevice::StandardRequest(std::uint8_t requestType, std::uint8_t request,
                                             std::uint16_t value, std::uint16_t index) {
  TransferRequest control;
  control.type = TransferType::Control;
  control.setup = {requestType, request, value, index, 0};
  auto transfer = Submit(std::move(control));
  transfer->Wait();
  return transfer->Result().status;
}

std::uint32_t SimHostDevice::ReadInterface(int interface, int alternate, InterfaceInfo* selected) {
  std::vector<std::uint8_t> config(9);
  auto read = [&] {
    TransferRequest control;
    control.type = TransferType::Control;
    control.setup = {0x80, kGetDescriptor, static_cast<std::uint16_t>(kConfigurationType << 8), 0,
                     static_cast<std::uint16_t>(config.size())};
    control.data = config;
    auto transfer = Submit(std::move(control));
    transfer->Wait();
    return transfer->Result();
  };
  TransferResult head = read();
  if (UsbdFailed(head.status)) return head.status;
  if (head.transferred < 4) return USBD_STATUS_REQUEST_FAILED;
  config.resize(static_cast<std::size_t>(config[2] | config[3] << 8));
  TransferResult whole = read();
  if (UsbdFailed(whole.status)) return whole.status;
  config.resize(whole.transferred);
  InterfaceInfo info;
  if (!ParseInterface(config, interface, alternate, &info)) return USBD_STATUS_INVALID_PARAMETER;
  if (selected != nullptr) *selected = info;
  return USBD_STATUS_SUCCESS;
}

std::uint32_t SimHostDevice::SelectConfiguration(std::uint8_t configurationValue,
                                                 std::uint8_t interface, std::uint8_t alternate,
                                                 InterfaceInfo* selected) {
  const std::uint32_t status = StandardRequest(0x00, kSetConfiguration, configurationValue, 0);
  if (UsbdFailed(status)) return status;
  {
    std::lock_guard lock(mutex_);
    selection_ = {configurationValue, interface, 0};
  }
  if (alternate != 0) {
    const std::uint32_t set = StandardRequest(0x01, kSetInterface, alternate, interface);
    if (UsbdFailed(set)) return set;
    std::lock_guard lock(mutex_);
    selection_.alternate = alternate;
  }
  return ReadInterface(interface, alternate, selected);
}

std::uint32_t SimHostDevice::Deconfigure() {
  const std::uint32_t status = StandardRequest(0x00, kSetConfiguration, 0, 0);
  if (!UsbdFailed(status)) {
    std::lock_guard lock(mutex_);
    selection_ = {};
  }
  return status;
}

std::uint32_t SimHostDevice::SelectInterface(std::uint8_t interface, std::uint8_t alternate,
                                             InterfaceInfo* selected) {
  InterfaceInfo info;
  const std::uint32_t described = ReadInterface(interface, alternate, &info);
  if (UsbdFailed(described)) return described;
  const std::uint32_t status = StandardRequest(0x01, kSetInterface, alternate, interface);
  if (UsbdFailed(status)) return status;
  {
    std::lock_guard lock(mutex_);
    selection_.interface = interface;
    selection_.alternate = alternate;
  }
  if (selected != nullptr) *selected = info;
  return USBD_STATUS_SUCCESS;
}

std::uint32_t SimHostDevice::ResetEndpoint(std::uint8_t endpoint) {
  return StandardRequest(0x02, kClearFeature, 0, endpoint);
}

std::uint32_t SimHostDevice::ResetPort() {
  std::list<std::shared_ptr<SimTransfer>> ended;
  Selection selection;
  {
    std::lock_guard attempt(attemptMutex_);
    std::lock_guard lock(mutex_);
    if (gone_) return USBD_STATUS_DEVICE_GONE;
    ended.swap(waiting_);
    nextIsoFrame_.clear();
    selection = selection_;
    // The device forgets its state while no transfer can reach it.
    device_->PortReset();
  }
  for (auto& transfer : ended)
    transfer->Complete({USBD_STATUS_CANCELED, 0, transfer->Request().isoPackets, 0});
  if (selection.configuration == 0) return USBD_STATUS_SUCCESS;
  const std::uint32_t status = StandardRequest(0x00, kSetConfiguration, selection.configuration, 0);
  if (UsbdFailed(status) || selection.alternate == 0) return status;
  return StandardRequest(0x01, kSetInterface, selection.alternate, selection.interface);
}

std::optional<std::uint32_t> SimHostDevice::CurrentFrameNumber() { return bus_.FrameNumber(); }

}  // namespace vantrel::usbhost
