// The actions of the control codes. Each gets the caller's input and output
// buffers with their real lengths, never reads or writes past them, and
// returns the status with the count of valid output bytes.
#pragma once

#include <cstdint>
#include <span>

#include "device/ChannelLocks.h"
#include "device/ExchangeRecord.h"
#include "usb/UrbSubmit.h"
#include "vantrel/driver/ControlHandler.h"

namespace vantrel::driver {

using InBuffer = std::span<const std::uint8_t>;
using OutBuffer = std::span<std::uint8_t>;

// STATUS_SUCCESS with `*pipe` filled, STATUS_UNSUCCESSFUL without a table,
// STATUS_INVALID_PARAMETER for an index past its end.
std::uint32_t LookupPipe(const PipeTablePtr& table, std::uint32_t index, PipeInformation* pipe);

ControlResult GetPipeTable(const DeviceContext& context, OutBuffer out);
ControlResult ResetPipe(const DeviceContext& context, InBuffer in);
ControlResult AbortPipe(const DeviceContext& context, InBuffer in);
// IOCTL_VIO_PIPE_READ and IOCTL_VIO_PIPE_WRITE: `out` is the transfer's
// data. The transfer holds its channel, and a pipe that stalls is reset.
ControlResult PipeReadWrite(const DeviceContext& context, ChannelLocks& channels, InBuffer in,
                            OutBuffer out);
// Only between one channel's OUT pipe and its IN pipe, holding the channel;
// a pipe that stalls is reset before the channel is let go. `hook`, when
// set, sees each exchange that was made.
ControlResult BulkExchange(const DeviceContext& context, ChannelLocks& channels,
                           const ExchangeHook& hook, InBuffer in, OutBuffer out);

ControlResult GetDeviceDescriptor(const DeviceContext& context, OutBuffer out);
ControlResult GetConfigDescriptor(const DeviceContext& context, OutBuffer out);
ControlResult GetStringDescriptor(const DeviceContext& context, InBuffer in, OutBuffer out);
ControlResult SelectInterface(const DeviceContext& context, InBuffer in);

ControlResult VendorRequest(const DeviceContext& context, InBuffer in, OutBuffer out);
// `out` is the data stage, in either direction.
ControlResult ControlRequest(const DeviceContext& context, InBuffer in, OutBuffer out);

ControlResult DownloadBlocks(const DeviceContext& context, InBuffer in);
// `out` holds the bytes to write.
ControlResult DownloadAt(const DeviceContext& context, InBuffer in, OutBuffer out);

ControlResult ResetPort(const DeviceContext& context);
ControlResult GetFrameNumber(const DeviceContext& context, OutBuffer out);
ControlResult GetLastUrbError(const DeviceContext& context, OutBuffer out);
ControlResult GetDriverVersion(OutBuffer out);

// IOCTL_VIO_ISO_READ and IOCTL_VIO_ISO_WRITE (the stream's start is IsoStreamRunner's).
// Information 0; the output buffer (data, then packet records) goes back
// whole as the reply's output bytes.
ControlResult IsoTransfer(const DeviceContext& context, InBuffer in, OutBuffer out);
ControlResult ReadIsoStream(const DeviceContext& context, InBuffer in, OutBuffer out);
ControlResult StopIsoStream(const DeviceContext& context);

}  // namespace vantrel::driver
