// Writes into the 8051's memory with the USB part's firmware-load request.
#include <algorithm>
#include <vector>

#include "ControlActions.h"
#include "usb/UsbRequests.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

namespace {

constexpr std::uint8_t kFirmwareLoad = 0xA0;

UrbResult WriteMemory(const DeviceContext& context, std::uint16_t address,
                      std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  return ControlTransfer(context, kRequestVendor, kFirmwareLoad, address, 0, data, false);
}

}  // namespace

ControlResult DownloadBlocks(const DeviceContext& context, InBuffer in) {
  constexpr std::size_t kBlock = 512;
  // Whole blocks only; a failed block does not stop the others.
  for (std::size_t i = 0; i < in.size() / kBlock; ++i)
    WriteMemory(context, static_cast<std::uint16_t>(kBlock * i), in.subspan(kBlock * i, kBlock));
  return {STATUS_SUCCESS, 0};
}

ControlResult DownloadAt(const DeviceContext& context, InBuffer in, OutBuffer out) {
  constexpr std::size_t kChunk = 64;
  if (in.size() != 2 || out.empty()) return {STATUS_SUCCESS, 0};
  const std::uint16_t start = LoadLe16(in.data());
  // The first failed chunk ends the download.
  for (std::size_t offset = 0; offset < out.size(); offset += kChunk) {
    const std::size_t length = std::min(kChunk, out.size() - offset);
    const UrbResult write = WriteMemory(context, static_cast<std::uint16_t>(start + offset),
                                        out.subspan(offset, length));
    if (NtFailed(write.status)) break;
  }
  return {STATUS_SUCCESS, 0};
}

}  // namespace vantrel::driver
