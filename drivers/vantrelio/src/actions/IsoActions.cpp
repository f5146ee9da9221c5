// The isochronous transfer that runs to its end inside one request, and the
// reads and the stop of the stream (which IsoStreamRunner runs).
#include <algorithm>
#include <vector>

#include "device/ByteRing.h"
#include "ControlActions.h"
#include "usb/IsoRequests.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

namespace {

// Removal aborts the pipes; a request submitted just after that abort would
// never be ended by it, so it is cancelled here.
void CancelIfRemoving(const DeviceContext& context, usbhost::PendingTransfer& transfer) {
  if (context.state.ioRefs.Removing()) transfer.Cancel();
}

// B requests of F packets each stay in flight; request i carries the groups
// i, i + B, i + 2B, ... and each completion copies its packet records and
// sends the request again for its next group.
void RunIsoTransfer(const DeviceContext& context, const PipeInformation& pipe,
                    const IsoParameters& p, OutBuffer data, OutBuffer records) {
  const std::size_t frames = p.framesPerBuffer;
  const std::size_t packetSize = p.packetSize;
  const std::size_t step = frames * p.bufferCount;
  auto groupRequest = [&](std::size_t firstPacket) {
    return IsoGroupRequest(pipe, data.subspan(firstPacket * packetSize, frames * packetSize),
                           p.framesPerBuffer, p.packetSize);
  };

  // Packets that no request carries (removal cut the transfer short) say so.
  for (std::size_t i = 0; i < p.packetCount; ++i) {
    std::uint8_t* record = records.data() + i * kIsoPacketRecordSize;
    StoreLe32(record, static_cast<std::uint32_t>((i % frames) * packetSize));
    StoreLe32(record + 4, 0);
    StoreLe32(record + 8, USBD_STATUS_CANCELED);
  }

  std::vector<std::shared_ptr<usbhost::PendingTransfer>> inFlight(p.bufferCount);
  std::vector<std::size_t> firstPacket(p.bufferCount);
  for (std::size_t i = 0; i < inFlight.size(); ++i) {
    firstPacket[i] = i * frames;
    inFlight[i] = context.usb.Submit(groupRequest(firstPacket[i]));
    CancelIfRemoving(context, *inFlight[i]);
  }
  std::size_t remaining = inFlight.size();
  for (std::size_t i = 0; remaining > 0; i = (i + 1) % inFlight.size()) {
    if (!inFlight[i]) continue;
    inFlight[i]->Wait();
    const usbhost::TransferResult& result = inFlight[i]->Result();
    if (UsbdFailed(result.status)) context.state.lastUrbError.store(result.status);
    WriteIsoPacketRecords(
        result, p.framesPerBuffer, p.packetSize,
        records.subspan(firstPacket[i] * kIsoPacketRecordSize, frames * kIsoPacketRecordSize));
    firstPacket[i] += step;
    if (firstPacket[i] < p.packetCount && !context.state.ioRefs.Removing()) {
      inFlight[i] = context.usb.Submit(groupRequest(firstPacket[i]));
      CancelIfRemoving(context, *inFlight[i]);
    } else {
      inFlight[i].reset();
      --remaining;
    }
  }
}

}  // namespace

ControlResult IsoTransfer(const DeviceContext& context, InBuffer in, OutBuffer out) {
  IsoParameters p;
  if (!ReadIsoParameters(in, &p)) return {STATUS_INVALID_PARAMETER, 0};
  PipeInformation pipe;
  const std::uint32_t status = CheckIsoPipe(context, p, &pipe);
  if (NtFailed(status)) return {status, 0};
  if (!IsoShapeUsable(p)) return {STATUS_INVALID_PARAMETER, 0};
  const std::uint64_t group = std::uint64_t(p.framesPerBuffer) * p.bufferCount;
  if (p.packetCount % group != 0) return {STATUS_INVALID_PARAMETER, 0};
  // Nothing to carry: no request goes out (each would lie past the buffer).
  if (p.packetCount == 0) return {STATUS_SUCCESS, 0};
  // out.size() >= packetCount * (packetSize + 12), without overflowing.
  if (out.size() / p.packetCount < std::uint64_t(p.packetSize) + kIsoPacketRecordSize)
    return {STATUS_UNSUCCESSFUL, 0};
  if (!IsoInFlightBounded(p)) return {STATUS_INSUFFICIENT_RESOURCES, 0};

  const std::size_t dataBytes = std::size_t(p.packetCount) * p.packetSize;
  const std::size_t recordBytes = std::size_t(p.packetCount) * kIsoPacketRecordSize;
  RunIsoTransfer(context, pipe, p, out.first(dataBytes), out.subspan(dataBytes, recordBytes));
  // Information 0; the data and the packet records go back to the caller
  // all the same, as the reply's output bytes.
  return {STATUS_SUCCESS, 0, static_cast<std::uint32_t>(dataBytes + recordBytes)};
}

ControlResult ReadIsoStream(const DeviceContext& context, InBuffer in, OutBuffer out) {
  using R = IsoTransferRecord;
  if (in.size() != R::kSize) return {STATUS_INVALID_PARAMETER, 0};
  const std::size_t packetSize = LoadLe32(in.data() + R::kPacketSize);
  const std::size_t packetCount = LoadLe32(in.data() + R::kPacketCount);
  // out.size() == (packetSize + 12) * packetCount, without overflowing.
  const bool exact = packetCount == 0
                         ? out.empty()
                         : out.size() % packetCount == 0 &&
                               out.size() / packetCount == packetSize + R::kPacketStatusSize;
  if (!exact) return {STATUS_INVALID_PARAMETER, 0};
  const std::shared_ptr<ByteRing> dataRing = context.state.StreamDataRing();
  const std::shared_ptr<ByteRing> statusRing = context.state.StreamStatusRing();
  if (!dataRing || !statusRing) return {STATUS_UNSUCCESSFUL, 0};
  // The status bytes are counted in whole packets of this size.
  if (packetSize == 0) return {STATUS_INVALID_PARAMETER, 0};

  // Each connection may read: one at a time takes both its data and the
  // records that belong to it.
  const std::lock_guard reading(dataRing->ReaderMutex());
  const std::size_t read = dataRing->Read(out.first(packetCount * packetSize));
  const std::size_t statusBytes = read / packetSize * R::kPacketStatusSize;
  const std::size_t statusRead = statusRing->Read(out.subspan(read, statusBytes));
  return {STATUS_SUCCESS, static_cast<std::uint32_t>(read + statusRead)};
}

ControlResult StopIsoStream(const DeviceContext& context) {
  context.state.streamStop.store(true);
  return {STATUS_SUCCESS, 0};
}

}  // namespace vantrel::driver
