#include "IsoStreamRunner.h"

#include <new>
#include <vector>

#include "device/ByteRing.h"
#include "IsoRequests.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

namespace {

// Larger areas or rings than this are refused as an allocation failure.
constexpr std::uint64_t kMaxStreamBytes = 64ull << 20;

}  // namespace

struct IsoStreamRunner::Stream {
  PipeInformation pipe;
  IsoParameters parameters;
  std::vector<std::uint8_t> area;  // B x F x S bytes, one slice per request
  std::shared_ptr<ByteRing> dataRing;
  std::shared_ptr<ByteRing> statusRing;
  std::vector<std::shared_ptr<usbhost::PendingTransfer>> inFlight;

  std::span<std::uint8_t> Slice(std::size_t request) {
    const std::size_t bytes = std::size_t(parameters.framesPerBuffer) * parameters.packetSize;
    return std::span<std::uint8_t>(area).subspan(request * bytes, bytes);
  }
  usbhost::TransferRequest Request(std::size_t request) {
    return IsoGroupRequest(pipe, Slice(request), parameters.framesPerBuffer, parameters.packetSize);
  }
};

IsoStreamRunner::~IsoStreamRunner() {
  std::unique_lock lock(mutex_);
  ending_ = true;
  // Aborting until the worker has seen it: a request it sends after one
  // abort is cancelled by the next.
  while (running_) {
    if (usb_ != nullptr) usb_->AbortEndpoint(endpoint_);
    ended_.wait_for(lock, std::chrono::milliseconds(10));
  }
  lock.unlock();
  if (worker_.joinable()) worker_.join();
}

bool IsoStreamRunner::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

ControlResult IsoStreamRunner::Start(const DeviceContext& context, InBuffer in) {
  IsoParameters p;
  if (!ReadIsoParameters(in, &p)) return {STATUS_INVALID_PARAMETER, 0};
  auto stream = std::make_shared<Stream>();
  const std::uint32_t status = CheckIsoPipe(context, p, &stream->pipe);
  if (NtFailed(status)) return {status, 0};
  if (!IsoShapeUsable(p)) return {STATUS_INVALID_PARAMETER, 0};
  stream->parameters = p;

  std::lock_guard lock(mutex_);
  if (running_) return {STATUS_DEVICE_BUSY, 0};
  if (worker_.joinable()) worker_.join();  // a stream that has ended

  const std::uint64_t areaBytes = std::uint64_t(p.packetSize) * p.framesPerBuffer * p.bufferCount;
  const std::uint64_t dataBytes = std::uint64_t(p.packetCount) * p.packetSize;
  const std::uint64_t statusBytes = std::uint64_t(p.packetCount) * kIsoPacketRecordSize;
  if (!IsoInFlightBounded(p) || areaBytes / p.bufferCount / p.framesPerBuffer != p.packetSize ||
      areaBytes > kMaxStreamBytes || dataBytes > kMaxStreamBytes || statusBytes > kMaxStreamBytes)
    return {STATUS_INSUFFICIENT_RESOURCES, 0};
  try {
    stream->area.assign(areaBytes, 0);
    stream->inFlight.resize(p.bufferCount);
  } catch (const std::bad_alloc&) {
    return {STATUS_INSUFFICIENT_RESOURCES, 0};
  }
  stream->dataRing = ByteRing::Create(dataBytes);
  stream->statusRing = ByteRing::Create(statusBytes);
  if (!stream->dataRing || !stream->statusRing) return {STATUS_INSUFFICIENT_RESOURCES, 0};
  // The stream's own work reference, given back when its last request ends.
  if (!context.state.ioRefs.Acquire()) return {STATUS_DELETE_PENDING, 0};

  context.state.SetStreamRings(stream->dataRing, stream->statusRing);
  context.state.streamStop.store(false);
  for (std::size_t i = 0; i < stream->inFlight.size(); ++i) {
    stream->inFlight[i] = context.usb.Submit(stream->Request(i));
    if (context.state.ioRefs.Removing()) stream->inFlight[i]->Cancel();
  }
  running_ = true;
  usb_ = &context.usb;
  endpoint_ = stream->pipe.endpointAddress;
  try {
    worker_ = std::thread([this, context, stream] { Run(context, stream); });
  } catch (...) {
    // Nothing may outlive the area the requests write into.
    for (auto& transfer : stream->inFlight) {
      transfer->Cancel();
      transfer->Wait();
    }
    running_ = false;
    context.state.SetStreamRings(nullptr, nullptr);
    context.state.ioRefs.Release();
    throw;
  }
  return {STATUS_SUCCESS, 0};
}

void IsoStreamRunner::Run(DeviceContext context, std::shared_ptr<Stream> stream) {
  BoardDeviceState& state = context.state;
  const IsoParameters& p = stream->parameters;
  const std::size_t recordBytes = std::size_t(p.framesPerBuffer) * kIsoPacketRecordSize;
  std::vector<std::uint8_t> records(recordBytes);
  auto mustEnd = [&] {
    if (state.streamStop.load() || state.ioRefs.Removing()) return true;
    std::lock_guard lock(mutex_);
    return ending_;
  };

  std::size_t remaining = stream->inFlight.size();
  for (std::size_t i = 0; remaining > 0; i = (i + 1) % stream->inFlight.size()) {
    std::shared_ptr<usbhost::PendingTransfer>& transfer = stream->inFlight[i];
    if (!transfer) continue;
    transfer->Wait();
    const usbhost::TransferResult& result = transfer->Result();
    WriteIsoPacketRecords(result, p.framesPerBuffer, p.packetSize, records);
    // Records and data go in together or not at all, so that the reader
    // always finds each packet's record beside its data.
    const std::span<std::uint8_t> data = stream->Slice(i);
    if (stream->statusRing->Fits(records.size()) && stream->dataRing->Fits(data.size())) {
      stream->statusRing->Write(records);
      stream->dataRing->Write(data);
    }
    const bool failed = UsbdFailed(result.status);
    if (failed) state.lastUrbError.store(result.status);
    if (failed || mustEnd()) {
      transfer.reset();
      --remaining;
      continue;
    }
    transfer = context.usb.Submit(stream->Request(i));
    // Removal or the runner's end may have aborted the pipe just before.
    if (state.ioRefs.Removing()) transfer->Cancel();
    {
      std::lock_guard lock(mutex_);
      if (ending_) transfer->Cancel();
    }
  }

  {
    std::lock_guard lock(mutex_);
    running_ = false;
    usb_ = nullptr;
    ended_.notify_all();
  }
  // A stream started after this one has rings of its own.
  if (state.StreamDataRing() == stream->dataRing) state.SetStreamRings(nullptr, nullptr);
  stream.reset();
  state.ioRefs.Release();
}

}  // namespace vantrel::driver
