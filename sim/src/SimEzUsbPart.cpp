// The bare EZ-USB part: its own descriptors, the firmware-load and
// external-memory requests, the 8051's reset, and the re-enumeration as the
// board once the board firmware runs.
#include "k27sim/SimEzUsbPart.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "EzUsbMemory.h"
#include "UsbStandardRequests.h"
#include "k27sim/SimUsbBoard.h"
#include "k27sim/UsbDescriptorBlock.h"

namespace vantrel::sim {

namespace {

constexpr std::uint8_t kRequestKindMask = 0x60;
constexpr std::uint8_t kStandard = 0x00;
constexpr std::uint8_t kVendor = 0x40;
constexpr std::uint8_t kRecipientMask = 0x1F;
constexpr std::uint8_t kDirectionIn = 0x80;
constexpr std::uint8_t kLoaderMemoryRequest = 0xA2;  // served by the loader like 0xA3

constexpr UsbTransferOutcome kStall{UsbOutcome::Stall, 0};

// The part's built-in descriptors: a vendor-class device with one
// configuration of one interface without endpoints, and no strings.
UsbDescriptors BareDescriptors(std::uint16_t vendorId, std::uint16_t productId) {
  const std::vector<std::uint8_t> block{18,
                                        1,
                                        0x00,
                                        0x01,
                                        0xFF,
                                        0xFF,
                                        0xFF,
                                        64,
                                        static_cast<std::uint8_t>(vendorId),
                                        static_cast<std::uint8_t>(vendorId >> 8),
                                        static_cast<std::uint8_t>(productId),
                                        static_cast<std::uint8_t>(productId >> 8),
                                        0x01,
                                        0x00,
                                        0,
                                        0,
                                        0,
                                        1,
                                        9,
                                        2,
                                        18,
                                        0,
                                        1,
                                        1,
                                        0,
                                        0x80,
                                        50,
                                        9,
                                        4,
                                        0,
                                        0,
                                        0,
                                        0xFF,
                                        0xFF,
                                        0xFF,
                                        0,
                                        0,
                                        0};
  return *ParseDescriptorBlock(block);
}

}  // namespace

struct SimEzUsbPart::State {
  State(std::uint16_t vendorId, std::uint16_t productId)
      : requests(BareDescriptors(vendorId, productId)) {}

  enum class Running { Nothing, Loader, BoardFirmware };

  mutable std::mutex mutex;
  UsbStandardRequests requests;
  EzUsbMemory memory;
  bool held = true;
  bool codeLoaded = false;  // the internal memory has been written
  Running running = Running::Nothing;
  std::vector<CpuControl> cpuWrites;
  std::deque<VendorRequestRecord> log;
};

SimEzUsbPart::SimEzUsbPart(std::shared_ptr<SimBoard> board, SimEzUsbPartOptions options)
    : board_(std::move(board)),
      options_(options),
      state_(std::make_unique<State>(options.vendorId, options.productId)) {}

SimEzUsbPart::~SimEzUsbPart() = default;

std::uint16_t SimEzUsbPart::VendorId() const { return options_.vendorId; }
std::uint16_t SimEzUsbPart::ProductId() const { return options_.productId; }

UsbTransferOutcome SimEzUsbPart::Control(const UsbSetup& setup, std::span<std::uint8_t> data) {
  if (LeftBus()) return {UsbOutcome::Gone, 0};
  const std::span<std::uint8_t> stage =
      data.first(std::min<std::size_t>(data.size(), setup.length));
  const bool in = (setup.requestType & kDirectionIn) != 0;
  const std::uint32_t address = setup.value;

  std::optional<UsbDescriptors> boardDescriptors;
  UsbTransferOutcome outcome = kStall;
  {
    std::lock_guard lock(state_->mutex);
    if ((setup.requestType & kRequestKindMask) == kStandard)
      return state_->requests.Handle(setup, data);
    if ((setup.requestType & kRequestKindMask) != kVendor) return kStall;

    const bool toDevice = (setup.requestType & kRecipientMask) == 0 && setup.index == 0;
    if (toDevice && setup.request == kFirmwareLoadRequest &&
        EzUsbMemory::PartRange(address, stage.size())) {
      if (in) {
        state_->memory.ReadPart(address, stage);
        if (address <= kCpuControlAddress && kCpuControlAddress - address < stage.size())
          stage[kCpuControlAddress - address] = state_->held ? 1 : 0;
      } else {
        state_->memory.WritePart(address, stage);
        if (EzUsbMemory::InternalRange(address, stage.size()) && !stage.empty())
          state_->codeLoaded = true;
        if (address <= kCpuControlAddress && kCpuControlAddress - address < stage.size())
          boardDescriptors = WriteCpuControl(stage[kCpuControlAddress - address]);
      }
      outcome = {UsbOutcome::Ack, stage.size()};
    } else if (toDevice &&
               (setup.request == kExternalMemoryRequest || setup.request == kLoaderMemoryRequest) &&
               state_->running == State::Running::Loader && !state_->held &&
               EzUsbMemory::ExternalRange(address, stage.size())) {
      if (in)
        state_->memory.ReadExternal(address, stage);
      else
        state_->memory.WriteExternal(address, stage);
      outcome = {UsbOutcome::Ack, stage.size()};
    }
    if (boardDescriptors && options_.runWriteFails) outcome = {UsbOutcome::Gone, 0};

    VendorRequestRecord record{setup, {}, outcome.outcome};
    if (!in || outcome.outcome == UsbOutcome::Ack) {
      const std::size_t logged = std::min(in ? outcome.length : stage.size(), kLoggedDataBytes);
      record.data.assign(stage.begin(), stage.begin() + static_cast<std::ptrdiff_t>(logged));
    }
    state_->log.push_back(std::move(record));
    if (state_->log.size() > kLoggedRequests) state_->log.pop_front();
  }

  if (boardDescriptors) {
    // Not under the part's lock: the bus reports the change from here.
    auto successor = std::make_shared<SimUsbBoard>(board_, std::move(*boardDescriptors));
    ReEnumerateAs(std::move(successor), options_.reEnumerationDelay);
  }
  return outcome;
}

// Under the lock. Returns the board's descriptors when this starts the
// board firmware.
std::optional<UsbDescriptors> SimEzUsbPart::WriteCpuControl(std::uint8_t value) {
  const bool hold = (value & 1) != 0;
  state_->cpuWrites.push_back(hold ? CpuControl::Hold : CpuControl::Run);
  if (hold) {
    state_->held = true;
    state_->running = State::Running::Nothing;
    return std::nullopt;
  }
  if (!state_->held) return std::nullopt;
  state_->held = false;
  std::optional<UsbDescriptors> block =
      ParseDescriptorBlock(state_->memory.InternalFrom(kDescriptorBlockAddress));
  if (block &&
      (block->VendorId() != options_.vendorId || block->ProductId() != options_.productId)) {
    state_->running = State::Running::BoardFirmware;
    return block;
  }
  state_->running = state_->codeLoaded ? State::Running::Loader : State::Running::Nothing;
  return std::nullopt;
}

UsbTransferOutcome SimEzUsbPart::Out(std::uint8_t, std::span<const std::uint8_t>) {
  return LeftBus() ? UsbTransferOutcome{UsbOutcome::Gone, 0} : kStall;
}

UsbTransferOutcome SimEzUsbPart::In(std::uint8_t, std::span<std::uint8_t>) {
  return LeftBus() ? UsbTransferOutcome{UsbOutcome::Gone, 0} : kStall;
}

void SimEzUsbPart::PortReset() {
  std::lock_guard lock(state_->mutex);
  state_->requests.Reset();
}

bool SimEzUsbPart::CpuHeld() const {
  std::lock_guard lock(state_->mutex);
  return state_->held;
}

bool SimEzUsbPart::LoaderRunning() const {
  std::lock_guard lock(state_->mutex);
  return state_->running == State::Running::Loader;
}

bool SimEzUsbPart::BoardFirmwareStarted() const {
  std::lock_guard lock(state_->mutex);
  return state_->running == State::Running::BoardFirmware;
}

std::vector<CpuControl> SimEzUsbPart::CpuControlWrites() const {
  std::lock_guard lock(state_->mutex);
  return state_->cpuWrites;
}

std::vector<VendorRequestRecord> SimEzUsbPart::VendorRequests() const {
  std::lock_guard lock(state_->mutex);
  return {state_->log.begin(), state_->log.end()};
}

std::vector<std::uint8_t> SimEzUsbPart::InternalMemory(std::uint16_t address,
                                                       std::size_t length) const {
  std::lock_guard lock(state_->mutex);
  return state_->memory.Internal(address, length);
}

std::vector<std::uint8_t> SimEzUsbPart::ExternalMemory(std::uint16_t address,
                                                       std::size_t length) const {
  std::lock_guard lock(state_->mutex);
  return state_->memory.External(address, length);
}

}  // namespace vantrel::sim
