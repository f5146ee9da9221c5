#include "FakeUsbBoard.h"

#include <algorithm>
#include <condition_variable>
#include <span>
#include <string>
#include <thread>
#include <utility>

namespace vantrel::driver::fake {

class FakeTransfer : public usb::PendingTransfer {
 public:
  explicit FakeTransfer(std::span<std::uint8_t> data) : data_(data) {}

  bool WaitFor(std::chrono::milliseconds timeout) override {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_changed_.wait_for(lock, timeout, [this] { return done_; });
  }
  void Wait() override {
    std::unique_lock<std::mutex> lock(mutex_);
    done_changed_.wait(lock, [this] { return done_; });
  }
  void Cancel() override { Finish(usb::USBD_STATUS_CANCELED, 0); }
  bool Completed() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
  }
  const usb::TransferResult& Result() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return result_;
  }

  // Ends the transfer having moved `moved` bytes, the IN bytes copied from
  // `in`; false when it had ended already.
  bool Finish(std::uint32_t status, std::size_t moved, std::span<const std::uint8_t> in = {}) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (done_) return false;
      moved = std::min(moved, data_.size());
      std::copy_n(in.begin(), std::min(moved, in.size()), data_.begin());
      result_.status = status;
      result_.transferred = moved;
      done_ = true;
    }
    done_changed_.notify_all();
    return true;
  }

 private:
  const std::span<std::uint8_t> data_;
  mutable std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;
  usb::TransferResult result_;
};

std::vector<usb::EndpointInfo> BoardEndpoints() {
  std::vector<usb::EndpointInfo> endpoints;
  for (std::uint8_t k = 0; k < 7; ++k) {
    endpoints.push_back({std::uint8_t(0x81 + k), usb::EndpointType::Bulk, 64, 0});
    endpoints.push_back({std::uint8_t(0x01 + k), usb::EndpointType::Bulk, 64, 0});
  }
  return endpoints;
}

Bytes ConfigDescriptor(const std::vector<FakeInterface>& interfaces) {
  Bytes config = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
  for (const FakeInterface& setting : interfaces) {
    config.insert(config.end(), {9, 4, setting.number, setting.alternate,
                                 std::uint8_t(setting.endpoints.size()), 0xFF, 0, 0, 0});
    for (const usb::EndpointInfo& e : setting.endpoints)
      config.insert(config.end(),
                    {7, 5, e.address, std::uint8_t(e.type), std::uint8_t(e.maxPacketSize),
                     std::uint8_t(e.maxPacketSize >> 8), e.interval});
  }
  config[2] = std::uint8_t(config.size());
  config[3] = std::uint8_t(config.size() >> 8);
  return config;
}

Bytes BoardDeviceDescriptor() {
  return {18, 1, 0x00, 0x01, 0, 0, 0, 64, 0x34, 0x12, 0x78, 0x56, 0x01, 0x00, 1, 2, 0, 1};
}

namespace {

Bytes StringDescriptor(const std::string& text) {
  Bytes d = {std::uint8_t(2 + 2 * text.size()), 3};
  for (char c : text) d.insert(d.end(), {std::uint8_t(c), 0});
  return d;
}

}  // namespace

FakeUsbBoard::FakeUsbBoard()
    : responder_([](int, const Bytes& command) -> std::optional<Bytes> {
        return Bytes{command.empty() ? std::uint8_t{0} : command[0], 0};
      }) {
  SetDescriptors(BoardDeviceDescriptor(), {{0, 0, BoardEndpoints()}});
}

FakeUsbBoard::~FakeUsbBoard() {
  // A test that failed may leave transfers behind: end them.
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [endpoint, transfers] : pending_)
    for (auto& transfer : transfers) transfer->Finish(usb::USBD_STATUS_DEVICE_GONE, 0);
}

void FakeUsbBoard::SetResponder(Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(responder);
}

void FakeUsbBoard::QueueReply(int channel, Bytes reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[channel].push_back(std::move(reply));
  DeliverReplies(channel);
}

void FakeUsbBoard::SetFault(std::uint8_t endpoint, Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_[endpoint] = fault;
}

void FakeUsbBoard::SetControlFault(std::function<Fault(const usb::SetupPacket&)> fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  controlFault_ = std::move(fault);
}

void FakeUsbBoard::SetDescriptors(Bytes device, std::vector<FakeInterface> interfaces) {
  std::lock_guard<std::mutex> lock(mutex_);
  device_ = std::move(device);
  config_ = ConfigDescriptor(interfaces);
  interfaces_ = std::move(interfaces);
}

void FakeUsbBoard::SetConfigDescriptor(Bytes config) {
  std::lock_guard<std::mutex> lock(mutex_);
  config_ = std::move(config);
}

void FakeUsbBoard::SetSelectStatus(std::uint32_t status) {
  std::lock_guard<std::mutex> lock(mutex_);
  selectStatus_ = status;
}

void FakeUsbBoard::SetFrameNumber(std::optional<std::uint32_t> frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  frame_ = frame;
}

void FakeUsbBoard::SetVendorInData(Bytes data) {
  std::lock_guard<std::mutex> lock(mutex_);
  vendorInData_ = std::move(data);
}

std::vector<ControlCall> FakeUsbBoard::ControlCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return controlCalls_;
}

std::vector<Bytes> FakeUsbBoard::Written(std::uint8_t endpoint) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = written_.find(endpoint);
  return found == written_.end() ? std::vector<Bytes>{} : found->second;
}

std::vector<std::uint8_t> FakeUsbBoard::Aborted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return aborted_;
}

std::vector<std::uint8_t> FakeUsbBoard::ResetEndpoints() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resetEndpoints_;
}

int FakeUsbBoard::SelectConfigurationCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return selectConfigurationCalls_;
}

int FakeUsbBoard::SelectInterfaceCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return selectInterfaceCalls_;
}

int FakeUsbBoard::DeconfigureCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return deconfigureCalls_;
}

bool FakeUsbBoard::WaitPending(std::uint8_t endpoint, std::size_t count,
                               std::chrono::milliseconds limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto found = pending_.find(endpoint);
      std::size_t waiting = 0;
      if (found != pending_.end())
        for (const auto& transfer : found->second) waiting += transfer->Completed() ? 0 : 1;
      if (waiting >= count) return true;
    }
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void FakeUsbBoard::FailPending(std::uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& transfer : pending_[endpoint])
    transfer->Finish(usb::USBD_STATUS_DEV_NOT_RESPONDING, 0);
  pending_[endpoint].clear();
}

std::shared_ptr<usb::PendingTransfer> FakeUsbBoard::Submit(usb::TransferRequest request) {
  auto transfer = std::make_shared<FakeTransfer>(request.data);
  std::lock_guard<std::mutex> lock(mutex_);
  if (request.type == usb::TransferType::Control) {
    Control(transfer, request);
    return transfer;
  }
  const std::uint8_t endpoint = request.endpoint;
  const int channel = endpoint & 0x0F;
  switch (faults_[endpoint]) {
    case Fault::NakForever:
      pending_[endpoint].push_back(transfer);
      return transfer;
    case Fault::Stall:
      transfer->Finish(usb::USBD_STATUS_STALL_PID, 0);
      return transfer;
    case Fault::Fail:
      transfer->Finish(usb::USBD_STATUS_DEV_NOT_RESPONDING, 0);
      return transfer;
    case Fault::None:
      break;
  }
  if ((endpoint & 0x80) == 0) {
    const Bytes command(request.data.begin(), request.data.end());
    written_[endpoint].push_back(command);
    transfer->Finish(usb::USBD_STATUS_SUCCESS, command.size());
    if (std::optional<Bytes> reply = responder_(channel, command))
      replies_[channel].push_back(std::move(*reply));
  } else {
    pending_[endpoint].push_back(transfer);
  }
  DeliverReplies(channel);
  return transfer;
}

void FakeUsbBoard::DeliverReplies(int channel) {
  const std::uint8_t in = std::uint8_t(0x80 | channel);
  if (faults_[in] != Fault::None) return;
  auto& waiting = pending_[in];
  auto& replies = replies_[channel];
  while (!replies.empty() && !waiting.empty()) {
    const std::shared_ptr<FakeTransfer> transfer = waiting.front();
    waiting.erase(waiting.begin());
    if (transfer->Finish(usb::USBD_STATUS_SUCCESS, replies.front().size(), replies.front()))
      replies.pop_front();
  }
}

void FakeUsbBoard::Control(const std::shared_ptr<FakeTransfer>& transfer,
                           const usb::TransferRequest& request) {
  const usb::SetupPacket& setup = request.setup;
  const bool toHost = (setup.requestType & 0x80) != 0;
  controlCalls_.push_back(
      {setup, toHost ? Bytes{} : Bytes(request.data.begin(), request.data.end())});
  switch (controlFault_ ? controlFault_(setup) : faults_[0]) {
    case Fault::NakForever:
      pending_[0].push_back(transfer);
      return;
    case Fault::Stall:
      transfer->Finish(usb::USBD_STATUS_STALL_PID, 0);
      return;
    case Fault::Fail:
      transfer->Finish(usb::USBD_STATUS_DEV_NOT_RESPONDING, 0);
      return;
    case Fault::None:
      break;
  }
  const std::size_t asked = std::min<std::size_t>(setup.length, request.data.size());
  if (!toHost) {
    transfer->Finish(usb::USBD_STATUS_SUCCESS, asked);
    return;
  }
  Bytes reply;
  if ((setup.requestType & 0x60) != 0) {
    reply = vendorInData_;
  } else if (setup.request == 6) {
    const int type = setup.value >> 8, index = setup.value & 0xFF;
    const char* strings[] = {"Velto Ltd.", "Vantrel K27 Board", "Vantrel Default Interface"};
    if (type == 1) reply = device_;
    if (type == 2 && index == 0) reply = config_;
    if (type == 3 && index == 0) reply = {4, 3, 0x09, 0x04};
    if (type == 3 && index >= 1 && index <= 3) reply = StringDescriptor(strings[index - 1]);
  }
  if (reply.empty()) {
    transfer->Finish(usb::USBD_STATUS_STALL_PID, 0);
    return;
  }
  transfer->Finish(usb::USBD_STATUS_SUCCESS, std::min(asked, reply.size()), reply);
}

bool FakeUsbBoard::Find(std::uint8_t number, std::uint8_t alternate,
                        usb::InterfaceInfo* info) const {
  for (const FakeInterface& setting : interfaces_) {
    if (setting.number != number || setting.alternate != alternate) continue;
    *info = {number, alternate, 0xFF, 0, 0, setting.endpoints};
    return true;
  }
  return false;
}

std::uint32_t FakeUsbBoard::SelectConfiguration(std::uint8_t configurationValue,
                                                std::uint8_t interface, std::uint8_t alternate,
                                                usb::InterfaceInfo* selected) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++selectConfigurationCalls_;
  if (usb::UsbdFailed(selectStatus_)) return selectStatus_;
  if (configurationValue != 1 || !Find(interface, alternate, selected))
    return usb::USBD_STATUS_INVALID_PARAMETER;
  return usb::USBD_STATUS_SUCCESS;
}

std::uint32_t FakeUsbBoard::Deconfigure() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++deconfigureCalls_;
  return usb::USBD_STATUS_SUCCESS;
}

std::uint32_t FakeUsbBoard::SelectInterface(std::uint8_t interface, std::uint8_t alternate,
                                            usb::InterfaceInfo* selected) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++selectInterfaceCalls_;
  if (usb::UsbdFailed(selectStatus_)) return selectStatus_;
  return Find(interface, alternate, selected) ? usb::USBD_STATUS_SUCCESS
                                              : usb::USBD_STATUS_INVALID_PARAMETER;
}

void FakeUsbBoard::AbortEndpoint(std::uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  aborted_.push_back(endpoint);
  for (auto& transfer : pending_[endpoint]) transfer->Cancel();
  pending_[endpoint].clear();
}

std::uint32_t FakeUsbBoard::ResetEndpoint(std::uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  resetEndpoints_.push_back(endpoint);
  return faults_[endpoint] == Fault::Stall ? usb::USBD_STATUS_STALL_PID : usb::USBD_STATUS_SUCCESS;
}

std::optional<std::uint32_t> FakeUsbBoard::CurrentFrameNumber() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frame_;
}

}  // namespace vantrel::driver::fake
