#include "IsoRequests.h"

#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

bool ReadIsoParameters(InBuffer in, IsoParameters* parameters) {
  using R = IsoTransferRecord;
  if (in.size() < R::kSize) return false;
  parameters->pipeIndex = LoadLe32(in.data() + R::kPipeIndex);
  parameters->packetSize = LoadLe32(in.data() + R::kPacketSize);
  parameters->packetCount = LoadLe32(in.data() + R::kPacketCount);
  parameters->framesPerBuffer = LoadLe32(in.data() + R::kFramesPerBuffer);
  parameters->bufferCount = LoadLe32(in.data() + R::kBufferCount);
  return true;
}

std::uint32_t CheckIsoPipe(const DeviceContext& context, const IsoParameters& parameters,
                           PipeInformation* pipe) {
  const std::uint32_t status = LookupPipe(context.state.PipeTable(), parameters.pipeIndex, pipe);
  if (NtFailed(status)) return status;
  if (pipe->pipeType != PipeType::Isochronous) return STATUS_INVALID_PARAMETER;
  if (!pipe->pipeHandle) return STATUS_UNSUCCESSFUL;
  return STATUS_SUCCESS;
}

bool IsoShapeUsable(const IsoParameters& parameters) {
  return parameters.packetSize != 0 && parameters.framesPerBuffer != 0 &&
         parameters.bufferCount != 0;
}

bool IsoInFlightBounded(const IsoParameters& parameters) {
  return parameters.bufferCount <= kMaxIsoRequestsInFlight &&
         std::uint64_t(parameters.bufferCount) * parameters.framesPerBuffer <=
             kMaxIsoPacketsInFlight;
}

usbhost::TransferRequest IsoGroupRequest(const PipeInformation& pipe, std::span<std::uint8_t> data,
                                         std::uint32_t frames, std::uint32_t packetSize) {
  usbhost::TransferRequest request;
  request.type = usbhost::TransferType::Isochronous;
  request.endpoint = pipe.endpointAddress;
  request.data = data;
  request.shortTransferOk = true;
  request.startAsap = true;
  request.isoPackets.resize(frames);
  for (std::uint32_t j = 0; j < frames; ++j) {
    request.isoPackets[j].offset = j * packetSize;
    request.isoPackets[j].length = packetSize;
  }
  return request;
}

void WriteIsoPacketRecords(const usbhost::TransferResult& result, std::uint32_t frames,
                           std::uint32_t packetSize, std::span<std::uint8_t> out) {
  const bool failed = UsbdFailed(result.status);
  for (std::uint32_t j = 0; j < frames; ++j) {
    std::uint32_t length = 0;
    std::uint32_t status = result.status;
    if (j < result.isoPackets.size()) {
      const usbhost::IsoPacket& packet = result.isoPackets[j];
      length = packet.actualLength;
      status = packet.status;
      if (failed && length == 0 && !UsbdFailed(status)) status = result.status;
    } else if (!failed) {
      status = USBD_STATUS_ISO_NOT_ACCESSED_BY_HW;
    }
    std::uint8_t* record = out.data() + std::size_t(j) * kIsoPacketRecordSize;
    StoreLe32(record, j * packetSize);
    StoreLe32(record + 4, length);
    StoreLe32(record + 8, status);
  }
}

}  // namespace vantrel::driver
