// The firmware loader for a bare EZ-USB part: when the part arrives, it holds
// the part's 8051 in reset, writes the first-stage loader and lets it run,
// writes the board firmware and starts it; the part then leaves the bus and
// comes back as the board.
#pragma once

#include <chrono>
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
#include "vantrel/loader/DownloadReport.h"
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
inline constexpr std::uint32_t kStatusSuccess = vantrel::common::STATUS_SUCCESS;
inline constexpr std::uint32_t kStatusDeletePending = vantrel::common::STATUS_DELETE_PENDING;

// Every request holds a work reference while it runs.
using vantrel::common::IoRef;
using vantrel::common::IoRefCount;

// How long the loader waits for one request before it cancels it: 5 s, the
// time USB itself gives a device to finish a control request with a data
// stage, and the limit of every board exchange. The part answers the
// firmware-load request in its USB core, and the first-stage loader the
// external-memory request, within milliseconds: a request still open after
// 5 s is one the part will not answer.
inline constexpr std::chrono::milliseconds kRequestTimeLimit{5000};

class LoaderDevice {
 public:
  struct Images {
    std::span<const FirmwareRecord> loader;  // first stage
    std::span<const FirmwareRecord> board;   // board firmware
  };
  // The two images built into the loader.
  static Images BuiltInImages();
  // The built-in images, with stand-in records above internal memory in the
  // board firmware, so that its external-memory pass (0xA3, served by the
  // first-stage loader) has something to write. For tests of that path.
  static Images BuiltInImagesWithExternalRecords();

  struct StartResult {
    std::uint32_t status = kStatusSuccess;  // success whatever the download did
    std::optional<DownloadReport> report;   // none when the start was refused
  };

  explicit LoaderDevice(std::shared_ptr<usbhost::UsbDevice> device, Images images = BuiltInImages(),
                        std::chrono::milliseconds requestTimeLimit = kRequestTimeLimit);
  LoaderDevice(const LoaderDevice&) = delete;
  LoaderDevice& operator=(const LoaderDevice&) = delete;

  // The start: runs the whole download sequence on the caller's thread, each
  // step whatever the one before did, except that a request not answered
  // within the time limit is cancelled and ends the download (every later
  // request would wait as long). A part that has left the bus completes
  // requests at once. The report's Complete() tells whether the part should
  // now come back as the board. Refused with kStatusDeletePending once the
  // removal has begun. A second start repeats the download.
  StartResult Start();
  // The removal: refuses further starts and waits for the one in flight.
  void Remove();

  // One firmware-load request to CPUCS: the byte 1 (hold) or 0 (run).
  // Returns the request's status (USBD_STATUS_CANCELED when it went
  // unanswered: Unanswered() then tells which).
  std::uint32_t SetCpuReset(bool hold);
  // Writes one image in two passes over its records in stored order, each
  // ending at the first record whose type is not 0: the records above
  // internal memory by 0xA3 (the first failure ends this pass only), then a
  // hold, then the records in internal memory by 0xA0 (the first failure
  // ends the image). One request a record, carrying exactly its bytes. A
  // record with no data bytes or more than 16 is not sent: it fails its pass
  // with USBD_STATUS_INVALID_PARAMETER.
  // A request left unanswered ends the image there.
  ImageReport DownloadImage(std::span<const FirmwareRecord> image);
  // The request that went unanswered since the last start, if one did.
  std::optional<UnansweredRequest> Unanswered() const;

 private:
  std::uint32_t Write(std::uint8_t request, std::uint16_t address, std::span<std::uint8_t> data);

  const std::shared_ptr<usbhost::UsbDevice> device_;
  const Images images_;
  const std::chrono::milliseconds requestTimeLimit_;
  IoRefCount refs_;
  // Set by the request that went unanswered; cleared at each start.
  mutable std::mutex unansweredMutex_;
  std::optional<UnansweredRequest> unanswered_;
  // Starts run one at a time.
  std::mutex startMutex_;
};

}  // namespace vantrel::loader
