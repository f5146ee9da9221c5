// The isochronous codes. Transfers and the stream are not served yet: a
// request that passes the pipe check is refused.
#include "ControlActions.h"
#include "vantrel/driver/ControlCodes.h"

namespace vantrel::driver {

namespace {

// The pipe of an IsoTransferRecord must exist, be isochronous and usable.
std::uint32_t CheckIsoPipe(const DeviceContext& context, InBuffer in) {
  using R = IsoTransferRecord;
  if (in.size() < R::kSize) return STATUS_INVALID_PARAMETER;
  PipeInformation pipe;
  const std::uint32_t status =
      LookupPipe(context.state.PipeTable(), LoadLe32(in.data() + R::kPipeIndex), &pipe);
  if (NtFailed(status)) return status;
  if (pipe.pipeType != PipeType::Isochronous) return STATUS_INVALID_PARAMETER;
  if (!pipe.pipeHandle) return STATUS_UNSUCCESSFUL;
  return STATUS_SUCCESS;
}

}  // namespace

ControlResult IsoTransfer(const DeviceContext& context, InBuffer in, OutBuffer /*out*/) {
  const std::uint32_t status = CheckIsoPipe(context, in);
  if (NtFailed(status)) return {status, 0};
  return {STATUS_INVALID_PARAMETER, 0};
}

ControlResult ReadIsoStream(const DeviceContext& context, InBuffer in, OutBuffer out) {
  using R = IsoTransferRecord;
  if (in.size() != R::kSize) return {STATUS_INVALID_PARAMETER, 0};
  const std::size_t packetSize = LoadLe32(in.data() + R::kPacketSize);
  const std::size_t packetCount = LoadLe32(in.data() + R::kPacketCount);
  // out.size() == (packetSize + 12) * packetCount, without overflowing.
  const bool exact =
      packetCount == 0 ? out.empty()
                       : out.size() % packetCount == 0 &&
                             out.size() / packetCount == packetSize + R::kPacketStatusSize;
  if (!exact) return {STATUS_INVALID_PARAMETER, 0};
  if (!context.state.StreamDataRing() || !context.state.StreamStatusRing())
    return {STATUS_UNSUCCESSFUL, 0};
  return {STATUS_INVALID_PARAMETER, 0};
}

ControlResult StopIsoStream(const DeviceContext& context) {
  context.state.streamStop.store(true);
  return {STATUS_SUCCESS, 0};
}

}  // namespace vantrel::driver
