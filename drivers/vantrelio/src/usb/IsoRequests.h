// What the isochronous transfer and the stream share: the request record,
// the pipe check, the request of one group of packets, and the 12-byte
// packet records (USBD_ISO_PACKET_DESCRIPTOR: offset, length, status).
#pragma once

#include <cstdint>
#include <span>

#include "actions/ControlActions.h"
#include "device/PipeTable.h"
#include "vantrel/usbhost/UsbHost.h"

namespace vantrel::driver {

struct IsoParameters {
  std::uint32_t pipeIndex = 0;
  std::uint32_t packetSize = 0;
  std::uint32_t packetCount = 0;
  std::uint32_t framesPerBuffer = 0;
  std::uint32_t bufferCount = 0;
};

inline constexpr std::size_t kIsoPacketRecordSize = 12;

// What one transfer or stream may keep in flight at once: at most 64
// requests (the buffer count B), carrying at most 4096 packets together
// (B x frames per buffer; 4 s of full-speed frames). Each request in flight
// costs a host-side transfer with its packet list, so larger records are
// refused with STATUS_INSUFFICIENT_RESOURCES before anything is allocated.
inline constexpr std::uint32_t kMaxIsoRequestsInFlight = 64;
inline constexpr std::uint64_t kMaxIsoPacketsInFlight = 4096;

// Reads an IsoTransferRecord; false when `in` is too short for one.
bool ReadIsoParameters(InBuffer in, IsoParameters* parameters);

// The record's pipe must exist (STATUS_UNSUCCESSFUL without a table), be
// isochronous (else STATUS_INVALID_PARAMETER) and usable (else
// STATUS_UNSUCCESSFUL).
std::uint32_t CheckIsoPipe(const DeviceContext& context, const IsoParameters& parameters,
                           PipeInformation* pipe);

// Packet size, frames per buffer and buffer count must not be 0: every
// size and group index is computed from them.
bool IsoShapeUsable(const IsoParameters& parameters);

// B and B x F within the bounds above (the shape must be usable).
bool IsoInFlightBounded(const IsoParameters& parameters);

// One request of `frames` packets of `packetSize` bytes over `data`
// (frames x packetSize bytes), started as soon as possible.
usbhost::TransferRequest IsoGroupRequest(const PipeInformation& pipe, std::span<std::uint8_t> data,
                                         std::uint32_t frames, std::uint32_t packetSize);

// The packet records of a finished group request, `frames` x 12 bytes into
// `out`. A packet that a failed request never carried reports the
// request's status.
void WriteIsoPacketRecords(const usbhost::TransferResult& result, std::uint32_t frames,
                           std::uint32_t packetSize, std::span<std::uint8_t> out);

}  // namespace vantrel::driver
