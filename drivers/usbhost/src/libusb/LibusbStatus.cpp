#include "libusb/LibusbStatus.h"

#include "vantrel/usbhost/UsbTypes.h"

namespace vantrel::usbhost {

namespace {

// The statuses shared by whole transfers and isochronous packets.
std::uint32_t Failure(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_STALL:
      return USBD_STATUS_STALL_PID;
    case LIBUSB_TRANSFER_NO_DEVICE:
      return USBD_STATUS_DEVICE_GONE;
    case LIBUSB_TRANSFER_TIMED_OUT:
      return USBD_STATUS_DEV_NOT_RESPONDING;
    case LIBUSB_TRANSFER_CANCELLED:
      return USBD_STATUS_CANCELED;
    case LIBUSB_TRANSFER_OVERFLOW:
      return USBD_STATUS_DATA_OVERRUN;
    case LIBUSB_TRANSFER_COMPLETED:
    case LIBUSB_TRANSFER_ERROR:
      break;
  }
  return USBD_STATUS_REQUEST_FAILED;
}

}  // namespace

std::uint32_t LibusbTransferStatus(libusb_transfer_status status, bool in, bool shortTransferOk,
                                   std::size_t transferred, std::size_t requested) {
  if (status != LIBUSB_TRANSFER_COMPLETED) return Failure(status);
  if (in && !shortTransferOk && transferred < requested) return USBD_STATUS_ERROR_SHORT_TRANSFER;
  return USBD_STATUS_SUCCESS;
}

std::uint32_t LibusbIsoPacketStatus(libusb_transfer_status status) {
  switch (status) {
    case LIBUSB_TRANSFER_COMPLETED:
      return USBD_STATUS_SUCCESS;
    case LIBUSB_TRANSFER_ERROR:
      return USBD_STATUS_ISO_TD_ERROR;
    default:
      return Failure(status);
  }
}

std::uint32_t LibusbErrorStatus(int error) {
  if (error >= 0) return USBD_STATUS_SUCCESS;
  switch (static_cast<libusb_error>(error)) {
    case LIBUSB_ERROR_INVALID_PARAM:
    case LIBUSB_ERROR_NOT_FOUND:
      return USBD_STATUS_INVALID_PARAMETER;
    case LIBUSB_ERROR_NO_DEVICE:
      return USBD_STATUS_DEVICE_GONE;
    case LIBUSB_ERROR_TIMEOUT:
      return USBD_STATUS_DEV_NOT_RESPONDING;
    case LIBUSB_ERROR_OVERFLOW:
      return USBD_STATUS_DATA_OVERRUN;
    case LIBUSB_ERROR_PIPE:
      return USBD_STATUS_STALL_PID;
    case LIBUSB_ERROR_INTERRUPTED:
      return USBD_STATUS_CANCELED;
    case LIBUSB_ERROR_NO_MEM:
      return USBD_STATUS_NO_MEMORY;
    default:
      return USBD_STATUS_REQUEST_FAILED;  // I/O, access, busy, not supported, other
  }
}

}  // namespace vantrel::usbhost
