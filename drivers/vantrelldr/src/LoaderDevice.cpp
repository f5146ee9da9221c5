#include "vantrel/loader/LoaderDevice.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include <k27fw/LoaderImages.h>

namespace vantrel::loader {

using usbhost::UsbdFailed;

namespace {

std::string StatusText(std::uint32_t status) {
  if (!UsbdFailed(status)) return "ok";
  char text[24];
  std::snprintf(text, sizeof text, "failed 0x%08X", static_cast<unsigned>(status));
  return text;
}

std::string PassText(const PassReport& pass) {
  std::string text = std::to_string(pass.sent);
  if (pass.failure) {
    char where[64];
    std::snprintf(where, sizeof where, " (stopped at 0x%04X: 0x%08X)", pass.failedAddress,
                  static_cast<unsigned>(*pass.failure));
    text += where;
  }
  return text;
}

std::string ImageText(const char* name, const ImageReport& image) {
  return std::string(name) + " external " + PassText(image.external) + ", hold " +
         StatusText(image.holdStatus) + ", internal " + PassText(image.internal) + " -> " +
         StatusText(image.status);
}

bool ImageComplete(const ImageReport& image) {
  return !image.external.failure && !image.internal.failure && !UsbdFailed(image.holdStatus);
}

}  // namespace

bool DownloadReport::Complete() const {
  return !UsbdFailed(hold) && ImageComplete(loader) && !UsbdFailed(run) && ImageComplete(board) &&
         !UsbdFailed(holdAgain);
}

std::string DownloadReport::Describe() const {
  std::string text = "hold " + StatusText(hold) + "; " + ImageText("loader image:", loader) +
                     "; run " + StatusText(run) + "; " + ImageText("board firmware:", board) +
                     "; hold " + StatusText(holdAgain) + "; run " + StatusText(runBoard);
  if (UsbdFailed(runBoard))
    text += " (tolerated: the part leaves the bus to come back as the board)";
  return text;
}

LoaderDevice::Images LoaderDevice::BuiltInImages() { return {LoaderImage, BoardFirmwareImage}; }

LoaderDevice::LoaderDevice(std::shared_ptr<usbhost::UsbDevice> device, Images images)
    : device_(std::move(device)), images_(images) {}

LoaderDevice::StartResult LoaderDevice::Start() {
  IoRef ref(refs_);
  if (!ref.Held()) return {kStatusDeletePending, std::nullopt};
  std::lock_guard lock(startMutex_);
  DownloadReport report;
  report.hold = SetCpuReset(true);
  report.loader = DownloadImage(images_.loader);
  report.run = SetCpuReset(false);
  report.board = DownloadImage(images_.board);
  report.holdAgain = SetCpuReset(true);
  report.runBoard = SetCpuReset(false);
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
  report.holdStatus = SetCpuReset(true);
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
  // No time limit: the part answers each request in its USB core, and one
  // that has left the bus completes the request at once.
  pending->Wait();
  return pending->Result().status;
}

}  // namespace vantrel::loader
