// The codes that address one pipe of the table: the table itself, reset,
// abort, and a single bulk or interrupt transfer.
#include "ControlActions.h"
#include "usb/UsbRequests.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

std::uint32_t LookupPipe(const PipeTablePtr& table, std::uint32_t index, PipeInformation* pipe) {
  if (!table) return STATUS_UNSUCCESSFUL;
  if (index >= table->pipes.size()) return STATUS_INVALID_PARAMETER;
  *pipe = table->pipes[index];
  return STATUS_SUCCESS;
}

namespace {

// The pipe named by a PipeIndexRecord input.
std::uint32_t PipeOfRecord(const DeviceContext& context, InBuffer in, PipeInformation* pipe) {
  if (in.size() < PipeIndexRecord::kSize) return STATUS_INVALID_PARAMETER;
  return LookupPipe(context.state.PipeTable(), LoadLe32(in.data()), pipe);
}

}  // namespace

ControlResult GetPipeTable(const DeviceContext& context, OutBuffer out) {
  const PipeTablePtr table = context.state.PipeTable();
  if (!table) return {STATUS_SUCCESS, 0};
  const std::size_t length = table->Length();
  if (out.size() < length) return {STATUS_INVALID_PARAMETER, 0};
  table->WriteImage(out);
  return {STATUS_SUCCESS, static_cast<std::uint32_t>(length)};
}

ControlResult ResetPipe(const DeviceContext& context, InBuffer in) {
  PipeInformation pipe;
  std::uint32_t status = PipeOfRecord(context, in, &pipe);
  if (NtFailed(status)) return {status, 0};
  if (!pipe.pipeHandle) return {STATUS_UNSUCCESSFUL, 0};
  return {ResetPipeEndpoint(context, pipe), 0};
}

ControlResult AbortPipe(const DeviceContext& context, InBuffer in) {
  PipeInformation pipe;
  const std::uint32_t status = PipeOfRecord(context, in, &pipe);
  if (NtFailed(status)) return {status, 0};
  // Success whatever the abort did.
  if (pipe.pipeHandle) context.usb.AbortEndpoint(pipe.endpointAddress);
  return {STATUS_SUCCESS, 0};
}

ControlResult PipeReadWrite(const DeviceContext& context, ChannelLocks& channels, InBuffer in,
                            OutBuffer out) {
  PipeInformation pipe;
  const std::uint32_t status = PipeOfRecord(context, in, &pipe);
  if (NtFailed(status)) return {status, 0};
  if (pipe.pipeType != PipeType::Bulk && pipe.pipeType != PipeType::Interrupt)
    return {STATUS_INVALID_PARAMETER, 0};
  if (!pipe.pipeHandle) return {STATUS_UNSUCCESSFUL, 0};
  if (out.size() > pipe.maximumTransferSize) return {STATUS_INVALID_PARAMETER, 0};
  UrbResult transfer{};
  {
    // A read between another caller's command and its reply would take
    // that reply; a write would put a command in between.
    const ChannelLocks::Held held = channels.Lock(pipe.endpointAddress);
    transfer = PipeTransfer(context, pipe, out);
    ResetIfStalled(context, pipe, transfer);
  }
  if (NtFailed(transfer.status)) return {transfer.status, 0};
  return {STATUS_SUCCESS, static_cast<std::uint32_t>(transfer.transferred)};
}

}  // namespace vantrel::driver
