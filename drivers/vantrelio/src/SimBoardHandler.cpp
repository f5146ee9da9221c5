#include "SimBoardHandler.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "k27sim/SimBoard.h"

namespace vantrel::driver {

namespace {

constexpr int EndpointNumber(const PipeRecord& pipe) { return pipe.endpointAddress & 0x0F; }
constexpr bool IsInEndpoint(const PipeRecord& pipe) { return (pipe.endpointAddress & 0x80) != 0; }

}  // namespace

SimBoardHandler::SimBoardHandler(k27sim::SimBoard& board, int instance)
    : board_(board), instance_(instance), pipes_(BoardPipeTable()) {}

std::vector<PipeRecord> SimBoardHandler::BoardPipeTable() {
  std::vector<PipeRecord> pipes;
  pipes.reserve(14);
  for (std::uint8_t k = 0; k < 7; ++k) {
    pipes.push_back({std::uint8_t(0x81 + k), kPipeTypeBulk, kMaximumTransferSize, true});
    pipes.push_back({std::uint8_t(0x01 + k), kPipeTypeBulk, kMaximumTransferSize, true});
  }
  return pipes;
}

std::vector<PipeRecord> SimBoardHandler::PipeTable() const { return pipes_; }

void SimBoardHandler::SetExchangeHook(ExchangeHook hook) { hook_ = std::move(hook); }

ControlResult SimBoardHandler::Control(std::uint32_t code, std::span<const std::uint8_t> in,
                                       std::span<std::uint8_t> out) {
  switch (code) {
    case IOCTL_VIO_BULK_EXCHANGE:
      return BulkExchange(in, out);
    case IOCTL_VIO_SELECT_INTERFACE:
      return SelectInterface(in);
    default:
      return {STATUS_INVALID_PARAMETER, 0};
  }
}

ControlResult SimBoardHandler::SelectInterface(std::span<const std::uint8_t> in) {
  if (in.size() < InterfaceSelectRecord::kSize) return {STATUS_INVALID_PARAMETER, 0};
  // The board's configuration describes interface 0 with alternate setting 0
  // only. Selecting that setting again yields the same pipes; any other
  // setting is not found, and the table of the last selection stays. The
  // request succeeds either way.
  return {STATUS_SUCCESS, 0};
}

std::mutex& SimBoardHandler::ChannelMutex(const PipeRecord& pipe) {
  return channelMutex_[static_cast<std::size_t>(EndpointNumber(pipe))];
}

SimBoardHandler::Transfer SimBoardHandler::DoTransfer(const PipeRecord& pipe,
                                                      std::span<std::uint8_t> data) {
  const int channel = EndpointNumber(pipe);
  if (!IsInEndpoint(pipe)) {
    board_.Write(channel, data);
    return {STATUS_SUCCESS, static_cast<std::uint32_t>(data.size()), false};
  }
  k27sim::SimReply reply = board_.Read(channel, data.size());
  switch (reply.outcome) {
    case k27sim::SimReply::Outcome::Data: {
      const std::size_t n = std::min(reply.bytes.size(), data.size());
      std::copy_n(reply.bytes.begin(), n, data.begin());
      return {STATUS_SUCCESS, static_cast<std::uint32_t>(n), true};
    }
    case k27sim::SimReply::Outcome::NoReply:
      // Nothing arrives within the transfer's time limit: the request is
      // cancelled after that time has passed on the board.
      board_.AdvanceMicros(kTransferTimeoutMicros);
      lastUrbError_.store(USBD_STATUS_CANCELED);
      return {STATUS_CANCELLED, 0, false};
    case k27sim::SimReply::Outcome::Stall:
      break;
  }
  lastUrbError_.store(USBD_STATUS_STALL_PID);
  return {STATUS_UNSUCCESSFUL, 0, false};
}

ControlResult SimBoardHandler::BulkExchange(std::span<const std::uint8_t> in,
                                            std::span<std::uint8_t> out) {
  using B = BulkExchangeBlock;
  // The whole block comes in and goes back out; the data room of the reply
  // is the block's 128 bytes.
  if (in.size() < B::kSize || out.size() < B::kSize) return {STATUS_INVALID_PARAMETER, 0};

  const std::uint32_t outPipeIndex = LoadLe32(in.data() + B::kOutPipe);
  const std::uint32_t inPipeIndex = LoadLe32(in.data() + B::kInPipe);
  const std::uint32_t outLength = LoadLe32(in.data() + B::kOutLength);
  const std::uint32_t inLength = LoadLe32(in.data() + B::kInLength);

  if (outPipeIndex >= pipes_.size() || inPipeIndex >= pipes_.size())
    return {STATUS_INVALID_PARAMETER, 0};
  const PipeRecord& first = pipes_[outPipeIndex];
  const PipeRecord& second = pipes_[inPipeIndex];
  if (first.pipeType != kPipeTypeBulk && second.pipeType != kPipeTypeBulk)
    return {STATUS_INVALID_PARAMETER, 0};
  if (!first.hasHandle || !second.hasHandle) return {STATUS_UNSUCCESSFUL, 0};
  if (outLength > first.maximumTransferSize) return {STATUS_INVALID_PARAMETER, 0};
  // The first transfer's bytes must all be in the caller's input, and the
  // second transfer's must fit the block's data room.
  if (in.size() < B::kHeaderSize + std::size_t{outLength} || inLength > B::kDataSize)
    return {STATUS_INVALID_PARAMETER, 0};

  // The request's own buffer: the input, at least one whole block long.
  std::vector<std::uint8_t> block(std::max(in.size(), B::kSize));
  std::copy(in.begin(), in.end(), block.begin());
  const std::span<std::uint8_t> data = std::span(block).subspan(B::kHeaderSize);

  std::mutex& firstMutex = ChannelMutex(first);
  std::mutex& secondMutex = ChannelMutex(second);
  std::unique_lock<std::mutex> lockFirst(firstMutex, std::defer_lock);
  std::unique_lock<std::mutex> lockSecond(secondMutex, std::defer_lock);
  if (&firstMutex == &secondMutex)
    lockFirst.lock();
  else
    std::lock(lockFirst, lockSecond);

  const Transfer one = DoTransfer(first, data.first(outLength));
  ExchangeRecord record;
  if (hook_) {
    record.instance = instance_;
    record.channel = EndpointNumber(first);
    record.out.assign(data.begin(), data.begin() + one.moved);
  }
  // The second transfer is made whatever the first one's outcome.
  const Transfer two = DoTransfer(second, data.first(inLength));
  if (hook_) {
    if (two.gotData) record.in.emplace(data.begin(), data.begin() + two.moved);
    hook_(record);
  }
  if (lockSecond.owns_lock()) lockSecond.unlock();
  lockFirst.unlock();

  if (NtFailed(two.status)) return {two.status, 0};
  StoreLe32(block.data() + B::kInLength, two.moved);
  std::copy_n(block.begin(), B::kSize, out.begin());
  return {two.status, static_cast<std::uint32_t>(B::kSize)};
}

}  // namespace vantrel::driver
