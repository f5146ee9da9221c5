// The firmware loader for a bare EZ-USB part: when the part arrives, it holds
// the part's 8051 in reset, writes the first-stage loader and lets it run,
// writes the board firmware and starts it; the part then leaves the bus and
// comes back as the board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include <k27fw/FirmwareRecord.h>

#include "k27/common/IoRefCount.h"
#include "k27/common/NtStatus.h"
#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::loader {

// Vendor requests, host to device. The part serves the firmware-load request
// in its USB core for its internal memory (and the CPUCS register); the
// external-memory request only while the first-stage loader runs.
inline constexpr std::uint8_t kVendorHostToDevice = 0x40;
inline constexpr std::uint8_t kFirmwareLoadRequest = 0xA0;
inline constexpr std::uint8_t kExternalMemoryRequest = 0xA3;
// CPUCS: 1 holds the 8051 in reset, 0 lets it run.
inline constexpr std::uint16_t kCpuCsAddress = 0x7F92;
// The last address of internal memory.
inline constexpr std::uint16_t kInternalMemoryTop = 0x1B3F;

// NT status of a start that the removal refused.
inline constexpr std::uint32_t kStatusSuccess = k27::common::STATUS_SUCCESS;
inline constexpr std::uint32_t kStatusDeletePending = k27::common::STATUS_DELETE_PENDING;

// Every request holds a work reference while it runs.
using k27::common::IoRef;
using k27::common::IoRefCount;

// How one pass over an image went.
struct PassReport {
  std::size_t sent = 0;  // record requests sent, a failing one included
  // The failure that ended the pass, if one did: its status and the address
  // of its record.
  std::optional<std::uint32_t> failure;
  std::uint16_t failedAddress = 0;
};

// How one image's download went.
struct ImageReport {
  PassReport external;  // pass 1: records above internal memory, by 0xA3
  std::uint32_t holdStatus = usbhost::USBD_STATUS_SUCCESS;  // the reset write between the passes
  PassReport internal;  // pass 2: records in internal memory, by 0xA0
  // The status of the last record request sent (success when none was).
  std::uint32_t status = usbhost::USBD_STATUS_SUCCESS;
};

// What a start did, for the log. Every status is a USBD status.
struct DownloadReport {
  std::uint32_t hold = usbhost::USBD_STATUS_SUCCESS;  // before the first-stage loader
  ImageReport loader;
  std::uint32_t run = usbhost::USBD_STATUS_SUCCESS;  // the first-stage loader starts
  ImageReport board;
  std::uint32_t holdAgain = usbhost::USBD_STATUS_SUCCESS;
  // The board firmware starts. The part may already be leaving the bus to
  // come back as the board, so a failure here is expected and harmless.
  std::uint32_t runBoard = usbhost::USBD_STATUS_SUCCESS;

  // Every request went through (a failed final run write is tolerated).
  bool Complete() const;
  // One line: each step with its outcome.
  std::string Describe() const;
};

class LoaderDevice {
 public:
  struct Images {
    std::span<const FirmwareRecord> loader;  // first stage
    std::span<const FirmwareRecord> board;   // board firmware
  };
  // The two images built into the loader.
  static Images BuiltInImages();

  struct StartResult {
    std::uint32_t status = kStatusSuccess;  // success whatever the download did
    std::optional<DownloadReport> report;   // none when the start was refused
  };

  explicit LoaderDevice(std::shared_ptr<usbhost::UsbDevice> device,
                        Images images = BuiltInImages());
  LoaderDevice(const LoaderDevice&) = delete;
  LoaderDevice& operator=(const LoaderDevice&) = delete;

  // The start: runs the whole download sequence on the caller's thread, each
  // step whatever the one before did. Every request is waited for without
  // limit; a part that has left the bus completes them at once. Refused with
  // kStatusDeletePending once the removal has begun. A second start repeats
  // the download.
  StartResult Start();
  // The removal: refuses further starts and waits for the one in flight.
  void Remove();

  // One firmware-load request to CPUCS: the byte 1 (hold) or 0 (run).
  // Returns the request's status.
  std::uint32_t SetCpuReset(bool hold);
  // Writes one image in two passes over its records in stored order, each
  // ending at the first record whose type is not 0: the records above
  // internal memory by 0xA3 (the first failure ends this pass only), then a
  // hold, then the records in internal memory by 0xA0 (the first failure
  // ends the image). One request a record, carrying exactly its bytes. A
  // record with no data bytes or more than 16 is not sent: it fails its pass
  // with USBD_STATUS_INVALID_PARAMETER.
  ImageReport DownloadImage(std::span<const FirmwareRecord> image);

 private:
  std::uint32_t Write(std::uint8_t request, std::uint16_t address, std::span<std::uint8_t> data);

  const std::shared_ptr<usbhost::UsbDevice> device_;
  const Images images_;
  IoRefCount refs_;
  // Starts run one at a time.
  std::mutex startMutex_;
};

}  // namespace vantrel::loader
