#include "vantrel/usbhost/UsbCapture.h"

#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vantrel::usbhost {
namespace {

constexpr std::uint32_t kPcapMagic = 0xA1B2C3D4;
constexpr std::uint32_t kLinktypeUsbLinuxMmapped = 220;
constexpr std::uint32_t kSnapLength = 65535 + 64;
constexpr std::uint32_t kUrbDirIn = 0x200;

template <typename T>
void Put(std::vector<std::uint8_t>& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i)
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i)));
}

std::uint8_t XferType(TransferType type) {
  switch (type) {
    case TransferType::Isochronous:
      return 0;
    case TransferType::Interrupt:
      return 1;
    case TransferType::Control:
      return 2;
    case TransferType::Bulk:
      return 3;
  }
  return 3;
}

// The kernel's completion statuses, as usbmon shows them.
std::int32_t LinuxStatus(std::uint32_t usbd) {
  switch (usbd) {
    case USBD_STATUS_SUCCESS:
      return 0;
    case USBD_STATUS_STALL_PID:
    case USBD_STATUS_ENDPOINT_HALTED:
      return -EPIPE;
    case USBD_STATUS_CANCELED:
      return -ENOENT;
    case USBD_STATUS_DEVICE_GONE:
      return -ESHUTDOWN;
    case USBD_STATUS_DEV_NOT_RESPONDING:
      return -ETIMEDOUT;
    case USBD_STATUS_CRC:
      return -EILSEQ;
    case USBD_STATUS_DATA_OVERRUN:
    case USBD_STATUS_BUFFER_OVERRUN:
      return -EOVERFLOW;
    case USBD_STATUS_ERROR_SHORT_TRANSFER:
      return -EREMOTEIO;
    default:
      return -EPROTO;
  }
}

bool IsIn(const TransferRequest& request) {
  return request.type == TransferType::Control ? (request.setup.requestType & 0x80) != 0
                                               : (request.endpoint & 0x80) != 0;
}

class CapturedTransfer final : public PendingTransfer {
 public:
  CapturedTransfer(std::shared_ptr<PendingTransfer> inner, std::shared_ptr<UsbCapture> capture,
                   std::uint64_t id, std::uint8_t device, std::uint16_t bus,
                   TransferRequest request)
      : inner_(std::move(inner)),
        capture_(std::move(capture)),
        id_(id),
        device_(device),
        bus_(bus),
        request_(std::move(request)) {
    if (inner_->Completed()) Note();
  }
  bool WaitFor(std::chrono::milliseconds timeout) override {
    const bool done = inner_->WaitFor(timeout);
    if (done) Note();
    return done;
  }
  void Wait() override {
    inner_->Wait();
    Note();
  }
  void Cancel() override { inner_->Cancel(); }
  bool Completed() const override { return inner_->Completed(); }
  const TransferResult& Result() const override { return inner_->Result(); }

 private:
  void Note() {
    if (!noted_.exchange(true))
      capture_->Record(id_, false, device_, bus_, request_, &inner_->Result());
  }
  std::shared_ptr<PendingTransfer> inner_;
  std::shared_ptr<UsbCapture> capture_;
  std::uint64_t id_;
  std::uint8_t device_;
  std::uint16_t bus_;
  TransferRequest request_;
  std::atomic<bool> noted_{false};
};

class CapturedDevice final : public UsbDevice {
 public:
  CapturedDevice(std::shared_ptr<UsbDevice> inner, std::shared_ptr<UsbCapture> capture,
                 std::uint8_t number)
      : inner_(std::move(inner)), capture_(std::move(capture)), number_(number) {}
  DeviceIdentity Identity() const override { return inner_->Identity(); }
  std::shared_ptr<PendingTransfer> Submit(TransferRequest request) override {
    const std::uint64_t id = capture_->NextId();
    const std::uint16_t bus = inner_->Identity().bus;
    capture_->Record(id, true, number_, bus, request, nullptr);
    auto pending = inner_->Submit(request);
    return std::make_shared<CapturedTransfer>(std::move(pending), capture_, id, number_, bus,
                                              std::move(request));
  }
  std::uint32_t SelectConfiguration(std::uint8_t value, std::uint8_t interface,
                                    std::uint8_t alternate, InterfaceInfo* selected) override {
    return inner_->SelectConfiguration(value, interface, alternate, selected);
  }
  std::uint32_t Deconfigure() override { return inner_->Deconfigure(); }
  std::uint32_t SelectInterface(std::uint8_t interface, std::uint8_t alternate,
                                InterfaceInfo* selected) override {
    return inner_->SelectInterface(interface, alternate, selected);
  }
  void AbortEndpoint(std::uint8_t endpoint) override { inner_->AbortEndpoint(endpoint); }
  std::uint32_t ResetEndpoint(std::uint8_t endpoint) override {
    return inner_->ResetEndpoint(endpoint);
  }
  std::uint32_t ResetPort() override { return inner_->ResetPort(); }
  std::optional<std::uint32_t> CurrentFrameNumber() override {
    return inner_->CurrentFrameNumber();
  }

 private:
  std::shared_ptr<UsbDevice> inner_;
  std::shared_ptr<UsbCapture> capture_;
  std::uint8_t number_;
};

}  // namespace

std::shared_ptr<UsbCapture> UsbCapture::Open(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  std::vector<std::uint8_t> header;
  Put<std::uint32_t>(header, kPcapMagic);
  Put<std::uint16_t>(header, 2);
  Put<std::uint16_t>(header, 4);
  Put<std::int32_t>(header, 0);
  Put<std::uint32_t>(header, 0);
  Put<std::uint32_t>(header, kSnapLength);
  Put<std::uint32_t>(header, kLinktypeUsbLinuxMmapped);
  if (std::fwrite(header.data(), 1, header.size(), file) != header.size()) {
    std::fclose(file);
    throw std::runtime_error("cannot write " + path);
  }
  std::fflush(file);
  return std::shared_ptr<UsbCapture>(new UsbCapture(file));
}

UsbCapture::~UsbCapture() { std::fclose(file_); }

std::shared_ptr<UsbDevice> UsbCapture::Wrap(std::shared_ptr<UsbDevice> device) {
  std::uint8_t number;
  {
    std::lock_guard lock(mutex_);
    number = nextDevice_;
    nextDevice_ = static_cast<std::uint8_t>(nextDevice_ == 127 ? 2 : nextDevice_ + 1);
  }
  return std::make_shared<CapturedDevice>(std::move(device), shared_from_this(), number);
}

std::uint64_t UsbCapture::NextId() {
  std::lock_guard lock(mutex_);
  return nextId_++;
}

std::uint64_t UsbCapture::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

void UsbCapture::Record(std::uint64_t id, bool submit, std::uint8_t deviceNumber, std::uint16_t bus,
                        const TransferRequest& request, const TransferResult* result) {
  const bool in = IsIn(request);
  const bool control = request.type == TransferType::Control;
  // Data goes with the submission of an OUT transfer and with the completion
  // of an IN transfer.
  std::size_t dataBytes = 0;
  if (submit && !in) dataBytes = request.data.size();
  if (!submit && in && result != nullptr)
    dataBytes = std::min(result->transferred, request.data.size());
  const std::uint32_t urbLength = static_cast<std::uint32_t>(
      submit ? request.data.size() : (result != nullptr ? result->transferred : 0));

  timeval now{};
  ::gettimeofday(&now, nullptr);
  std::vector<std::uint8_t> packet;
  Put<std::uint64_t>(packet, id);
  packet.push_back(submit ? 'S' : 'C');
  packet.push_back(XferType(request.type));
  const std::uint8_t endpoint =
      control ? static_cast<std::uint8_t>(in ? 0x80 : 0x00) : request.endpoint;
  packet.push_back(endpoint);
  packet.push_back(deviceNumber);
  Put<std::uint16_t>(packet, bus);
  packet.push_back(submit && control ? 0 : '-');            // setup present
  packet.push_back(dataBytes != 0 ? 0 : (in ? '<' : '>'));  // data present
  Put<std::int64_t>(packet, now.tv_sec);
  Put<std::int32_t>(packet, static_cast<std::int32_t>(now.tv_usec));
  Put<std::int32_t>(packet, submit ? -EINPROGRESS : LinuxStatus(result->status));
  Put<std::uint32_t>(packet, urbLength);
  Put<std::uint32_t>(packet, static_cast<std::uint32_t>(dataBytes));
  if (submit && control) {
    packet.push_back(request.setup.requestType);
    packet.push_back(request.setup.request);
    Put<std::uint16_t>(packet, request.setup.value);
    Put<std::uint16_t>(packet, request.setup.index);
    Put<std::uint16_t>(packet, static_cast<std::uint16_t>(request.data.size()));
  } else {
    Put<std::uint64_t>(packet, 0);
  }
  Put<std::int32_t>(packet, 0);  // interval
  Put<std::int32_t>(packet, result != nullptr ? static_cast<std::int32_t>(result->startFrame) : 0);
  Put<std::uint32_t>(packet, in ? kUrbDirIn : 0);  // transfer flags
  Put<std::uint32_t>(packet, 0);                   // iso descriptors
  packet.insert(packet.end(), request.data.begin(),
                request.data.begin() + static_cast<std::ptrdiff_t>(dataBytes));

  std::vector<std::uint8_t> record;
  Put<std::uint32_t>(record, static_cast<std::uint32_t>(now.tv_sec));
  Put<std::uint32_t>(record, static_cast<std::uint32_t>(now.tv_usec));
  Put<std::uint32_t>(record, static_cast<std::uint32_t>(packet.size()));
  Put<std::uint32_t>(record, static_cast<std::uint32_t>(packet.size()));
  record.insert(record.end(), packet.begin(), packet.end());

  std::lock_guard lock(mutex_);
  std::fwrite(record.data(), 1, record.size(), file_);
  std::fflush(file_);
  ++records_;
}

}  // namespace vantrel::usbhost
