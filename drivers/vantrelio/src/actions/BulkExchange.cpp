// IOCTL_VIO_BULK_EXCHANGE: a command transfer and a reply transfer through
// one BulkExchangeBlock, on one channel's OUT and IN pipes.
#include <algorithm>
#include <vector>

#include "ControlActions.h"
#include "usb/UsbRequests.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

namespace {

// The command goes to a channel's OUT endpoint and the reply comes from the
// IN endpoint of the same number: a pair that spans two channels would hold
// both, and one whose directions are swapped would read another caller's
// reply as its command.
bool OneChannelsPair(const PipeInformation& out, const PipeInformation& in) {
  return !out.IsIn() && in.IsIn() && (out.endpointAddress & 0x0F) == (in.endpointAddress & 0x0F);
}

}  // namespace

ControlResult BulkExchange(const DeviceContext& context, ChannelLocks& channels,
                           const ExchangeHook& hook, InBuffer in, OutBuffer out) {
  using B = BulkExchangeBlock;
  // The block comes in with its header and goes back whole.
  if (in.size() < B::kHeaderSize || out.size() < B::kSize) return {STATUS_INVALID_PARAMETER, 0};
  const std::uint32_t outLength = LoadLe32(in.data() + B::kOutLength);
  const std::uint32_t inLength = LoadLe32(in.data() + B::kInLength);

  const PipeTablePtr table = context.state.PipeTable();
  PipeInformation first, second;
  std::uint32_t status = LookupPipe(table, LoadLe32(in.data() + B::kOutPipe), &first);
  if (!NtFailed(status)) status = LookupPipe(table, LoadLe32(in.data() + B::kInPipe), &second);
  if (NtFailed(status)) return {status, 0};
  if (first.pipeType != PipeType::Bulk && second.pipeType != PipeType::Bulk)
    return {STATUS_INVALID_PARAMETER, 0};
  if (!OneChannelsPair(first, second)) return {STATUS_INVALID_PARAMETER, 0};
  if (!first.pipeHandle || !second.pipeHandle) return {STATUS_UNSUCCESSFUL, 0};
  if (outLength > first.maximumTransferSize) return {STATUS_INVALID_PARAMETER, 0};
  // The command must be all in the input, and the reply must fit the
  // block's data room, which is all that goes back.
  if (std::size_t{outLength} > in.size() - B::kHeaderSize || inLength > B::kDataSize)
    return {STATUS_INVALID_PARAMETER, 0};

  std::vector<std::uint8_t> block(std::max(in.size(), B::kSize));
  std::copy(in.begin(), in.end(), block.begin());
  const std::span<std::uint8_t> data = std::span(block).subspan(B::kHeaderSize);

  UrbResult reply{};
  {
    const ChannelLocks::Held held = channels.Lock(first.endpointAddress);
    const UrbResult command = PipeTransfer(context, first, data.first(outLength));
    ExchangeRecord record;
    if (hook) {
      record.instance = context.state.instance;
      record.channel = first.endpointAddress & 0x0F;
      record.out.assign(data.begin(), data.begin() + command.transferred);
    }
    // The reply is asked for whatever became of the command.
    reply = PipeTransfer(context, second, data.first(inLength));
    // A stalled pipe refuses everybody's transfers until it is reset: the
    // next exchange on the channel, whoever makes it, must find it working.
    ResetIfStalled(context, first, command);
    ResetIfStalled(context, second, reply);
    if (hook) {
      if (!NtFailed(reply.status))
        record.in.emplace(data.begin(), data.begin() + reply.transferred);
      hook(record);
    }
  }
  if (NtFailed(reply.status)) return {reply.status, 0};
  StoreLe32(block.data() + B::kInLength, static_cast<std::uint32_t>(reply.transferred));
  std::copy_n(block.begin(), B::kSize, out.begin());
  return {STATUS_SUCCESS, static_cast<std::uint32_t>(B::kSize)};
}

}  // namespace vantrel::driver
