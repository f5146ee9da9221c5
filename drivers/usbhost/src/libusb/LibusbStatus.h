// How libusb's results become the USBD status values that the driver reports
// (and keeps as LastUrbError).
#pragma once

#include <libusb.h>

#include <cstddef>
#include <cstdint>

namespace vantrel::usbhost {

// The status of a finished control, bulk or interrupt transfer. A complete
// IN transfer that moved fewer than `requested` bytes is
// USBD_STATUS_ERROR_SHORT_TRANSFER unless `shortTransferOk` is set.
std::uint32_t LibusbTransferStatus(libusb_transfer_status status, bool in, bool shortTransferOk,
                                   std::size_t transferred, std::size_t requested);

// The status of one packet of an isochronous transfer. Short packets are
// normal for isochronous streams; a packet that failed on the bus is a
// transfer-descriptor error, as the host controller reports it.
std::uint32_t LibusbIsoPacketStatus(libusb_transfer_status status);

// The status of a synchronous call or a failed submission: a libusb_error, or
// zero and above for success.
std::uint32_t LibusbErrorStatus(int error);

}  // namespace vantrel::usbhost
