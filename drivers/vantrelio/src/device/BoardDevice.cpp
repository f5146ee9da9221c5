#include "BoardDevice.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

#include "BoardStart.h"
#include "actions/ControlActions.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

namespace {

// Runs a request's work; a failure to allocate is the platform's status for
// it, and no other exception leaves a request.
template <typename Work>
auto Guarded(std::uint32_t* failure, Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    *failure = STATUS_INSUFFICIENT_RESOURCES;
  } catch (const std::exception&) {
    *failure = STATUS_UNSUCCESSFUL;
  }
  return {};
}

usbhost::UsbDevice& Required(const std::shared_ptr<usbhost::UsbDevice>& usb) {
  if (!usb) throw std::invalid_argument("a board device needs its USB device");
  return *usb;
}

}  // namespace

BoardDevice::BoardDevice(std::shared_ptr<usbhost::UsbDevice> usb, int instance,
                         std::chrono::milliseconds transferTimeLimit, Log log)
    : usb_(std::move(usb)),
      state_(instance),
      context_{state_, Required(usb_), transferTimeLimit},
      log_(std::move(log)) {}

void BoardDevice::SetExchangeHook(ExchangeHook hook) { exchangeHook_ = std::move(hook); }

void BoardDevice::Message(const std::string& text) const {
  if (log_) log_(state_.deviceName + ": " + text);
}

bool BoardDevice::Open() { return !NtFailed(OpenHandle()); }

std::uint32_t BoardDevice::OpenHandle() {
  if (state_.ioRefs.Removing()) return STATUS_DELETE_PENDING;
  if (!state_.isStarted.load()) return STATUS_UNSUCCESSFUL;
  state_.openCount.fetch_add(1);
  return STATUS_SUCCESS;
}

void BoardDevice::Close() { state_.openCount.fetch_sub(1); }

std::uint32_t BoardDevice::Start() {
  const vantrel::common::IoRef reference(state_.ioRefs);
  if (!reference.Held()) return STATUS_DELETE_PENDING;
  std::uint32_t status = STATUS_SUCCESS;
  const std::uint32_t started = Guarded(&status, [&] { return StartBoardDevice(context_); });
  if (!NtFailed(status)) status = started;
  if (NtFailed(status)) {
    char text[32];
    std::snprintf(text, sizeof text, "start failed: 0x%08X", status);
    Message(text);
    return status;
  }
  state_.isStarted.store(true);
  Message("started as " + state_.linkName);
  return STATUS_SUCCESS;
}

std::uint32_t BoardDevice::Stop() {
  const vantrel::common::IoRef reference(state_.ioRefs);
  if (!reference.Held()) return STATUS_DELETE_PENDING;
  // What became of the deconfiguration is not looked at.
  std::uint32_t ignored = STATUS_SUCCESS;
  Guarded(&ignored, [&] { return CompleteUrbStatus(state_, usb_->Deconfigure()); });
  return STATUS_SUCCESS;
}

std::uint32_t BoardDevice::SurpriseRemoval() {
  const vantrel::common::IoRef reference(state_.ioRefs);
  return reference.Held() ? STATUS_SUCCESS : STATUS_DELETE_PENDING;
}

std::uint32_t BoardDevice::QueryCapabilities(DeviceCapabilities& capabilities) {
  const vantrel::common::IoRef reference(state_.ioRefs);
  if (!reference.Held()) return STATUS_DELETE_PENDING;
  if (capabilities.version >= 1) capabilities.surpriseRemovalOk = true;
  return STATUS_SUCCESS;
}

std::uint32_t BoardDevice::Remove() {
  if (!state_.ioRefs.Acquire()) return STATUS_DELETE_PENDING;
  // New work is refused from here on; the device's own reference is gone.
  state_.ioRefs.BeginRemoval();
  // Transfers in flight end now, so that the wait below does not hang.
  if (const PipeTablePtr table = state_.PipeTable()) {
    for (const PipeInformation& pipe : table->pipes) {
      if (!pipe.pipeHandle) continue;
      std::uint32_t ignored = STATUS_SUCCESS;
      Guarded(&ignored, [&] {
        usb_->AbortEndpoint(pipe.endpointAddress);
        return 0;
      });
    }
  }
  // This request's reference; then every other one in flight.
  state_.ioRefs.Release();
  state_.ioRefs.WaitForIdle();

  state_.SetDeviceDesc(std::nullopt);
  state_.SetPipeTable(nullptr);
  state_.SetConfigHandle(std::nullopt);
  state_.SetStreamRings(nullptr, nullptr);
  state_.isStarted.store(false);
  if (state_.linkCreated.exchange(false)) Message("removed " + state_.linkName);
  return STATUS_SUCCESS;
}

ControlResult BoardDevice::Control(std::uint32_t code, std::span<const std::uint8_t> in,
                                   std::span<std::uint8_t> out) {
  const vantrel::common::IoRef reference(state_.ioRefs);
  if (!reference.Held()) return {STATUS_DELETE_PENDING, 0};
  std::uint32_t failure = STATUS_SUCCESS;
  ControlResult result = Guarded(&failure, [&] { return Dispatch(code, in, out); });
  if (NtFailed(failure)) result.status = failure;
  // The caller gets no output for a failed request.
  if (NtFailed(result.status))
    result.information = 0;
  else
    result.information =
        std::min<std::uint32_t>(result.information, static_cast<std::uint32_t>(out.size()));
  return result;
}

ControlResult BoardDevice::Dispatch(std::uint32_t code, std::span<const std::uint8_t> in,
                                    std::span<std::uint8_t> out) {
  switch (code) {
    case IOCTL_VIO_GET_PIPE_TABLE:
      return GetPipeTable(context_, out);
    case IOCTL_VIO_GET_DEVICE_DESCRIPTOR:
      return GetDeviceDescriptor(context_, out);
    case IOCTL_VIO_GET_CONFIG_DESCRIPTOR:
      return GetConfigDescriptor(context_, out);
    case IOCTL_VIO_VENDOR_REQUEST:
      return VendorRequest(context_, in, out);
    case IOCTL_VIO_NOP:
      return {STATUS_SUCCESS, 0};
    case IOCTL_VIO_DOWNLOAD_BLOCKS:
      return DownloadBlocks(context_, in);
    case IOCTL_VIO_RESET_PORT:
      return ResetPort(context_);
    case IOCTL_VIO_RESET_PIPE:
      return ResetPipe(context_, in);
    case IOCTL_VIO_ABORT_PIPE:
      return AbortPipe(context_, in);
    case IOCTL_VIO_SELECT_INTERFACE:
      return SelectInterface(context_, in);
    case IOCTL_VIO_GET_STRING_DESCRIPTOR:
      return GetStringDescriptor(context_, in, out);
    case IOCTL_VIO_PIPE_READ:
    case IOCTL_VIO_PIPE_WRITE:
      return PipeReadWrite(context_, channels_, in, out);
    case IOCTL_VIO_GET_FRAME_NUMBER:
      return GetFrameNumber(context_, out);
    case IOCTL_VIO_CONTROL_REQUEST:
      return ControlRequest(context_, in, out);
    case IOCTL_VIO_GET_LAST_URB_ERROR:
      return GetLastUrbError(context_, out);
    case IOCTL_VIO_ISO_READ:
    case IOCTL_VIO_ISO_WRITE:
      return IsoTransfer(context_, in, out);
    case IOCTL_VIO_START_ISO_STREAM:
      return isoStream_.Start(context_, in);
    case IOCTL_VIO_READ_ISO_STREAM:
      return ReadIsoStream(context_, in, out);
    case IOCTL_VIO_STOP_ISO_STREAM:
      return StopIsoStream(context_);
    case IOCTL_VIO_DOWNLOAD_AT:
      return DownloadAt(context_, in, out);
    case IOCTL_VIO_GET_DRIVER_VERSION:
      return GetDriverVersion(out);
    case IOCTL_VIO_BULK_EXCHANGE:
      return BulkExchange(context_, channels_, exchangeHook_, in, out);
    default:
      return {STATUS_INVALID_PARAMETER, 0};
  }
}

}  // namespace vantrel::driver
