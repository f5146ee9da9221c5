// The object, connection and image download.
#include <vantrel/VantrelUSB.h>
#include <vantrel/protocol/ControlCodes.h>

#include <k27fw/BoardImage.h>

#include <k27/common/Log.h>

#include "board/BoardContext.h"
#include "board/Commands.h"
#include "board/LinkVerdict.h"
#include "shared/SharedState.h"

namespace {

using vantrel::shared::SharedLockGuard;

}  // namespace

VantrelUSB::VantrelUSB() : context_(new vantrel::BoardContext) {}

VantrelUSB::~VantrelUSB() {
  if (context_->references.fetch_sub(1) == 1) delete context_;
}

VantrelUSB::VantrelUSB(const VantrelUSB& other) : context_(other.context_) {
  context_->references.fetch_add(1);
}

VantrelUSB& VantrelUSB::operator=(const VantrelUSB& other) {
  if (context_ == other.context_) return *this;
  other.context_->references.fetch_add(1);
  if (context_->references.fetch_sub(1) == 1) delete context_;
  context_ = other.context_;
  return *this;
}

int VantrelUSB::init(int deviceIndex) {
  // Indices outside the sixteen shared board slots would address records that
  // do not exist: refuse them before anything is opened.
  if (deviceIndex < 0 || deviceIndex > vantrel::kMaxDeviceIndex) {
    context_->lastError = USB_MESSAGE_PARAMETER_OUT_OF_RANGE;
    return 0;
  }
  context_->deviceIndex = deviceIndex;
  context_->lastError = USB_MESSAGE_EXECUTION_SUCCESS;
  if (!vantrel::ConnectionAllowed()) return 0;
  return InitPort(deviceIndex);
}

// Without the shared records and locks, each process would keep output
// images and EEPROM geometries of its own and overwrite the others' on the
// board: no connection then, and the user is told why.
bool vantrel::ConnectionAllowed() {
  if (shared::Available()) return true;
  vantrel::common::LogError("vantrelusb: " + shared::UnavailableReason());
  return false;
}

int VantrelUSB::InitPort(int deviceIndex) {
  context_->device = vantrel::OpenDevice(deviceIndex);
  if (!context_->device) return 0;

  const std::uint8_t select[vantrel::driver::InterfaceSelectRecord::kSize] = {0, 1};
  std::uint32_t returned = 0;
  // A daemon that turns the connection away says so in its answer to this
  // first request: the user learns why, the caller gets a code for it.
  const vantrel::LinkVerdict verdict = vantrel::ReadLinkResult(
      context_->device->Control(vantrel::driver::IOCTL_VIO_SELECT_INTERFACE, select, {}, &returned),
      vantrel::LinkRequest::kConnect);
  if (!verdict.proceed) {
    if (verdict.error != USB_MESSAGE_EXECUTION_SUCCESS) context_->lastError = verdict.error;
    if (!verdict.message.empty())
      vantrel::common::LogError(vantrel::BoardLogLine(deviceIndex, verdict.message));
    return 0;
  }

  if (!Download8051Software()) return 0;
  // Probe and configuration as one unit: no other process transfers, probes
  // or configures in between (lock 3 is re-entrant).
  SharedLockGuard eepromLock(vantrel::shared::State().eeproms);
  K27EEPROM geometry{};
  if (!CheckEEPROM(&geometry)) return 0;
  return ConfigureEEPROM(&geometry);
}

int VantrelUSB::Download8051Software() {
  using namespace vantrel::commands;
  unsigned char reply[vantrel::kMaxReplyData];
  unsigned long replyLength = 0;
  // One download at a time, the lock taken before the query: a process that
  // waited for another's download finds the image the other one started, and
  // the board sees one query per connection. A begin sent after another
  // process's end could stop the application it started.
  SharedLockGuard downloadLock(vantrel::shared::State().download);
  if (!PerformUSBIO(kImageQuery, USB_CHANNEL_MEMORY, nullptr, 0, reply, &replyLength)) return 0;
  if (replyLength >= 1 && reply[0] != 0) return 1;
  if (!PerformUSBIO(kImageBegin, USB_CHANNEL_MEMORY, nullptr, 0, nullptr, &replyLength)) return 0;
  // The image is only read by WriteSRAM.
  if (!WriteSRAM(0, const_cast<unsigned char*>(BoardImage), kBoardImageSize)) return 0;
  return PerformUSBIO(kImageEnd, USB_CHANNEL_MEMORY, nullptr, 0, nullptr, &replyLength);
}

int VantrelUSB::close() {
  if (!context_->device) return 1;
  return context_->device->Close() ? 1 : 0;
}

usbErrorCode VantrelUSB::GetLastError() { return context_->lastError; }

int VantrelUSB::ClearErrors() {
  context_->lastError = USB_MESSAGE_EXECUTION_SUCCESS;
  return 1;
}
