// What one firmware download did, step by step, and how it ended: for the
// daemon's log and for the decision to retry.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "vantrel/usbhost/UsbTypes.h"

namespace vantrel::loader {

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

// A request that the part let go unanswered for the whole time limit; it was
// cancelled, and the download ended there.
struct UnansweredRequest {
  std::uint8_t request = 0;  // 0xA0 or 0xA3
  std::uint16_t address = 0;
  std::uint32_t status = usbhost::USBD_STATUS_CANCELED;  // the cancelled request's
  std::chrono::milliseconds limit{0};
};

// The steps of a download, in order.
enum class LoadStep { Hold = 1, LoaderImage, Run, BoardImage, HoldAgain, RunBoard };

// What a start did. Every status is a USBD status.
struct DownloadReport {
  std::uint32_t hold = usbhost::USBD_STATUS_SUCCESS;  // before the first-stage loader
  ImageReport loader;
  std::uint32_t run = usbhost::USBD_STATUS_SUCCESS;  // the first-stage loader starts
  ImageReport board;
  std::uint32_t holdAgain = usbhost::USBD_STATUS_SUCCESS;
  // The board firmware starts. The part may already be leaving the bus to
  // come back as the board, so a failure of this last request alone is
  // tolerated (but not its going unanswered).
  std::uint32_t runBoard = usbhost::USBD_STATUS_SUCCESS;
  // The steps tried, 0 to 6: a request left unanswered ends the download.
  int stepsTried = 0;
  std::optional<UnansweredRequest> unanswered;

  // Every request went through, the tolerated end aside: the part should come
  // back as the board.
  bool Complete() const;
  // Only the final run write failed, as a part leaving the bus makes it.
  bool ToleratedEnd() const;
  // A request failed because the part had left the bus (it is not there to
  // be tried again).
  bool PartLeft() const;
  // The first failure that makes the download incomplete: the step, the
  // request and its address, the USB status. Empty when Complete().
  std::string Failure() const;
  // One line: each step with its outcome.
  std::string Describe() const;
};

}  // namespace vantrel::loader
