#include "vantrel/loader/LoaderDevice.h"

#include <algorithm>
#include <array>
#include <vector>
#include <utility>

#include <k27fw/LoaderImages.h>

namespace vantrel::loader {

using usbhost::UsbdFailed;

LoaderDevice::Images LoaderDevice::BuiltInImages() { return {LoaderImage, BoardFirmwareImage}; }

LoaderDevice::Images LoaderDevice::BuiltInImagesWithExternalRecords() {
  // The stand-in external records first: record order does not matter.
  static const std::vector<FirmwareRecord> board = [] {
    std::vector<FirmwareRecord> records(std::begin(ExternalMemoryTestImage),
                                        std::end(ExternalMemoryTestImage) - 1);
    records.insert(records.end(), std::begin(BoardFirmwareImage), std::end(BoardFirmwareImage));
    return records;
  }();
  return {LoaderImage, board};
}

LoaderDevice::LoaderDevice(std::shared_ptr<usbhost::UsbDevice> device, Images images,
                           std::chrono::milliseconds requestTimeLimit)
    : device_(std::move(device)), images_(images), requestTimeLimit_(requestTimeLimit) {}

std::optional<UnansweredRequest> LoaderDevice::Unanswered() const {
  std::lock_guard lock(unansweredMutex_);
  return unanswered_;
}

LoaderDevice::StartResult LoaderDevice::Start() {
  IoRef ref(refs_);
  if (!ref.Held()) return {kStatusDeletePending, std::nullopt};
  std::lock_guard lock(startMutex_);
  {
    std::lock_guard clear(unansweredMutex_);
    unanswered_.reset();
  }
  DownloadReport report;
  // Each step runs whatever the one before did, unless a request went
  // unanswered: the part is not answering, and every later request would
  // hold the port for the whole limit too.
  const auto step = [&](auto run) {
    if (report.unanswered) return;
    ++report.stepsTried;
    run();
    report.unanswered = Unanswered();
  };
  step([&] { report.hold = SetCpuReset(true); });
  step([&] { report.loader = DownloadImage(images_.loader); });
  step([&] { report.run = SetCpuReset(false); });
  step([&] { report.board = DownloadImage(images_.board); });
  step([&] { report.holdAgain = SetCpuReset(true); });
  step([&] { report.runBoard = SetCpuReset(false); });
  return {kStatusSuccess, report};
}

void LoaderDevice::Remove() { refs_.RemoveAndWait(); }

std::uint32_t LoaderDevice::SetCpuReset(bool hold) {
  std::array<std::uint8_t, 1> byte{static_cast<std::uint8_t>(hold ? 1 : 0)};
  return Write(kFirmwareLoadRequest, kCpuCsAddress, byte);
}

ImageReport LoaderDevice::DownloadImage(std::span<const FirmwareRecord> image) {
  ImageReport report;
  // The data records: up to the first record of another type, and never
  // beyond the image's storage.
  const auto end = std::find_if(image.begin(), image.end(), [](const FirmwareRecord& record) {
    return record.type != kFirmwareRecordData;
  });
  const auto records = image.first(static_cast<std::size_t>(end - image.begin()));
  // The one request buffer of this image, cleared before each record.
  std::array<std::uint8_t, kFirmwareRecordMaxData> buffer{};

  // Sends the records of one pass, up to its first failure.
  auto pass = [&](bool external, PassReport& result) {
    for (const FirmwareRecord& record : records) {
      if ((record.address > kInternalMemoryTop) != external) continue;
      std::uint32_t status = usbhost::USBD_STATUS_INVALID_PARAMETER;
      if (record.length >= 1 && record.length <= kFirmwareRecordMaxData) {
        buffer.fill(0);
        std::copy_n(record.data, record.length, buffer.begin());
        status = Write(external ? kExternalMemoryRequest : kFirmwareLoadRequest, record.address,
                       std::span(buffer).first(record.length));
        ++result.sent;
      }
      report.status = status;
      if (UsbdFailed(status)) {
        result.failure = status;
        result.failedAddress = record.address;
        return;
      }
    }
  };

  pass(true, report.external);
  if (Unanswered()) return report;
  report.holdStatus = SetCpuReset(true);
  if (Unanswered()) return report;
  pass(false, report.internal);
  return report;
}

std::uint32_t LoaderDevice::Write(std::uint8_t request, std::uint16_t address,
                                  std::span<std::uint8_t> data) {
  usbhost::TransferRequest transfer;
  transfer.type = usbhost::TransferType::Control;
  transfer.setup.requestType = kVendorHostToDevice;
  transfer.setup.request = request;
  transfer.setup.value = address;
  transfer.setup.index = 0;
  transfer.setup.length = static_cast<std::uint16_t>(data.size());
  transfer.data = data;
  const auto pending = device_->Submit(std::move(transfer));
  if (!pending) return usbhost::USBD_STATUS_REQUEST_FAILED;
  if (pending->WaitFor(requestTimeLimit_)) return pending->Result().status;
  // Unanswered: cancel it and wait for its end, after which the buffer is
  // ours again. A request that completed just then is taken as it ended.
  pending->Cancel();
  pending->Wait();
  const std::uint32_t status = pending->Result().status;
  if (status != usbhost::USBD_STATUS_CANCELED) return status;
  std::lock_guard lock(unansweredMutex_);
  unanswered_ = UnansweredRequest{request, address, status, requestTimeLimit_};
  return status;
}

}  // namespace vantrel::loader
