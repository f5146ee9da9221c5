// The board itself: routes each command to the firmware code of its channel,
// frames the reply, applies injected faults and keeps the board's time.
#include "k27sim/SimBoard.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "ChannelHandler.h"
#include "SimEeprom.h"
#include "SimFaults.h"
#include "SimIoChannel.h"
#include "SimMemoryChannel.h"
#include "SimPic.h"
#include "SimSerialPort.h"
#include "SimSpiChannel.h"

namespace vantrel::sim {

namespace {

constexpr int kChannels = 7;
constexpr int kIoChannel = 1;
constexpr int kEepromChannel = 2;
constexpr int kPortAChannel = 3;
constexpr int kPortBChannel = 4;
constexpr int kPicChannel = 5;
constexpr int kMemoryChannel = 6;
constexpr int kSpiChannel = 7;
constexpr std::size_t kMaxCommandBytes = 64;

bool ValidChannel(int channel) { return channel >= 1 && channel <= kChannels; }
bool ValidPort(int port) { return port == kPortA || port == kPortB; }

// What a test sees and sets names a channel or port the board has: one that
// it does not have is a mistake of the test, which an empty answer would hide.
void RequireChannel(int channel, const char* member) {
  if (!ValidChannel(channel))
    throw std::out_of_range(std::string("SimBoard::") + member + ": there is no channel " +
                            std::to_string(channel) + " (the board has channels 1 to 7)");
}
void RequirePort(int port, const char* member) {
  if (!ValidPort(port))
    throw std::out_of_range(std::string("SimBoard::") + member + ": there is no serial port " +
                            std::to_string(port) + " (0 is port A, 1 is port B)");
}

static_assert(SimBoard::kHopperCoinMicros == SimHoppers::kCoinMicros);
static_assert(SimBoard::kHopperEmptyCoinPeriods == SimHoppers::kEmptyCoinPeriods);
static_assert(SimBoard::kReelStepMicros == SimReels::kStepMicros);
static_assert(SimBoard::kPulseUnitMicros == SimOutputs::kPulseUnitMicros);

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

// A channel the running firmware has no code for.
class NotServed final : public ChannelHandler {
 public:
  Response Handle(const Request&) override { return Response::Status(status::kNotRecognised); }
};

}  // namespace

struct SimBoard::State {
  explicit State(const SimBoardOptions& opts)
      : options(opts),
        start(std::chrono::steady_clock::now()),
        eeprom(opts.eepromBytes, opts.eepromSeed),
        pic(opts.serialNumber) {
    io = Install(kIoChannel, std::make_unique<SimIoChannel>(opts.boardAddress));
    ports[kPortA] = Install(kPortAChannel, std::make_unique<SimSerialPort>(false));
    ports[kPortB] = Install(kPortBChannel, std::make_unique<SimSerialPort>(true));
    spi = Install(kSpiChannel, std::make_unique<SimSpiChannel>());
  }

  template <typename Handler>
  Handler* Install(int channel, std::unique_ptr<Handler> handler) {
    Handler* raw = handler.get();
    applicationHandlers[channel] = std::move(handler);
    return raw;
  }

  // Brings what moves over time to the board's time, and returns that time.
  std::uint64_t Settle() {
    const std::uint64_t now = Now();
    io->AdvanceTo(now);
    for (SimSerialPort* port : ports) port->AdvanceTo(now);
    return now;
  }

  std::uint64_t Now() const {
    if (!options.realTime) return advancedMicros;
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    return SaturatingAdd(static_cast<std::uint64_t>(elapsed.count()), advancedMicros);
  }

  // Channels 2, 5 and 6 are served by the firmware the loader installs.
  // Channels 1, 3, 4 and 7 are served only by the application image, once
  // it runs and once it has code for them (applicationHandlers).
  ChannelHandler& HandlerFor(int channel) {
    switch (channel) {
      case kEepromChannel:
        return eeprom;
      case kPicChannel:
        return pic;
      case kMemoryChannel:
        return memory;
      default:
        if (memory.ApplicationRunning() && applicationHandlers[channel]) {
          return *applicationHandlers[channel];
        }
        return notServed;
    }
  }

  void Write(int channel, std::span<const std::uint8_t> command) {
    if (!ValidChannel(channel)) return;
    ++commandCounts[channel];
    const std::uint64_t now = Settle();
    if (!options.realTime) advancedMicros = SaturatingAdd(advancedMicros, options.roundTripMicros);

    SimReply& pending = pendingReplies[channel];
    pending = SimReply{};
    if (command.empty()) return;

    const std::uint8_t code = command[0];
    const std::optional<Fault> fault = faults.Take(channel, code);
    if (fault && fault->kind == FaultKind::Status) {
      pending = SimReply{SimReply::Outcome::Data, {code, fault->status}};
      return;
    }

    // A command must fit in one packet; the firmware takes no partial ones.
    const Response response =
        command.size() > kMaxCommandBytes
            ? Response::Status(status::kLengthError)
            : HandlerFor(channel).Handle(Request{code, command.subspan(1), now});
    // The time the command kept the firmware busy passes before the next
    // one; in real-time mode the board's time then runs that much ahead of
    // the wall clock.
    advancedMicros = SaturatingAdd(advancedMicros, response.busyMicros);

    std::vector<std::uint8_t> framed{code, response.status};
    const std::size_t dataBytes = std::min(response.data.size(), kMaxReplyData);
    framed.insert(framed.end(), response.data.begin(),
                  response.data.begin() + static_cast<std::ptrdiff_t>(dataBytes));
    pending = fault ? DamageReply(*fault, std::move(framed))
                    : SimReply{SimReply::Outcome::Data, std::move(framed)};
  }

  SimReply Read(int channel, std::size_t maxLength) {
    if (!ValidChannel(channel)) return SimReply{};
    SimReply reply = std::exchange(pendingReplies[channel], SimReply{});
    if (reply.bytes.size() > maxLength) reply.bytes.resize(maxLength);
    return reply;
  }

  SimBoardOptions options;
  std::chrono::steady_clock::time_point start;
  // Virtual time; in real-time mode only what AdvanceMicros added.
  std::uint64_t advancedMicros = 0;

  SimEeprom eeprom;
  SimPic pic;
  SimMemoryChannel memory;
  NotServed notServed;
  std::array<std::unique_ptr<ChannelHandler>, kChannels + 1> applicationHandlers;
  SimIoChannel* io = nullptr;
  std::array<SimSerialPort*, 2> ports{};
  SimSpiChannel* spi = nullptr;

  std::array<SimReply, kChannels + 1> pendingReplies;
  std::array<std::uint64_t, kChannels + 1> commandCounts{};
  FaultTable faults;
};

SimBoard::SimBoard(SimBoardOptions options) : state_(std::make_unique<State>(options)) {}

SimBoard::~SimBoard() = default;

void SimBoard::Write(int channel, std::span<const std::uint8_t> command) {
  std::lock_guard lock(mutex_);
  state_->Write(channel, command);
}

SimReply SimBoard::Read(int channel, std::size_t maxLength) {
  std::lock_guard lock(mutex_);
  return state_->Read(channel, maxLength);
}

SimReply SimBoard::Exchange(int channel, std::span<const std::uint8_t> command,
                            std::size_t maxLength) {
  // One lock across both halves, so that a concurrent exchange on the same
  // channel cannot take this one's reply.
  std::lock_guard lock(mutex_);
  state_->Write(channel, command);
  return state_->Read(channel, maxLength);
}

void SimBoard::InjectFault(int channel, std::uint8_t command, Fault fault) {
  RequireChannel(channel, "InjectFault");
  std::lock_guard lock(mutex_);
  state_->faults.Inject(channel, command, fault);
}

void SimBoard::ClearFaults() {
  std::lock_guard lock(mutex_);
  state_->faults.Clear();
}

std::uint64_t SimBoard::NowMicros() const {
  std::lock_guard lock(mutex_);
  return state_->Now();
}

void SimBoard::AdvanceMicros(std::uint64_t micros) {
  std::lock_guard lock(mutex_);
  state_->advancedMicros = SaturatingAdd(state_->advancedMicros, micros);
}

bool SimBoard::ApplicationRunning() const {
  std::lock_guard lock(mutex_);
  return state_->memory.ApplicationRunning();
}

void SimBoard::SetApplicationRunning(bool running) {
  std::lock_guard lock(mutex_);
  state_->memory.SetApplicationRunning(running);
}

std::uint32_t SimBoard::EepromBytes() const {
  std::lock_guard lock(mutex_);
  return state_->eeprom.Capacity();
}

std::vector<std::uint8_t> SimBoard::Eeprom() const {
  std::lock_guard lock(mutex_);
  return state_->eeprom.Content();
}

void SimBoard::SetEeprom(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  state_->eeprom.Store(address, bytes);
}

std::vector<std::uint8_t> SimBoard::Sram(std::uint32_t address, std::uint32_t length) const {
  std::lock_guard lock(mutex_);
  return state_->memory.Copy(address, length);
}

std::array<std::uint8_t, 8> FactorySerialNumber(unsigned number) {
  std::array<std::uint8_t, 8> serial{'K', '2', '7', '0', '0', '0', '0', '0'};
  for (std::size_t digit = serial.size(); digit-- > 3; number /= 10)
    serial[digit] = static_cast<std::uint8_t>('0' + number % 10);
  return serial;
}

std::array<std::uint8_t, 8> SimBoard::PicSerialNumber() const {
  std::lock_guard lock(mutex_);
  return state_->pic.SerialNumber();
}

std::uint32_t SimBoard::ClockValue() const {
  std::lock_guard lock(mutex_);
  return state_->pic.ClockAt(state_->Now());
}

void SimBoard::SetSecurityRecords(std::vector<SecurityRecord> records) {
  std::vector<SecuritySwitchRecord> converted;
  converted.reserve(records.size());
  for (const SecurityRecord& r : records) converted.push_back({r.time, r.state});
  std::lock_guard lock(mutex_);
  state_->pic.SetRecords(std::move(converted));
}

void SimBoard::SetSecurityFlags(std::uint8_t first, std::uint8_t second) {
  std::lock_guard lock(mutex_);
  state_->pic.SetFlags(first, second);
}

std::uint64_t SimBoard::CommandCount(int channel) const {
  RequireChannel(channel, "CommandCount");
  std::lock_guard lock(mutex_);
  return state_->commandCounts[channel];
}

void SimBoard::SetInputs(const InputBytes& inputs) {
  std::lock_guard lock(mutex_);
  state_->Settle();
  state_->io->Inputs().SetSnapshot(inputs);
}

SimBoard::InputBytes SimBoard::Inputs() const {
  std::lock_guard lock(mutex_);
  return state_->io->Inputs().Snapshot();
}

void SimBoard::SetDipSwitches(std::uint8_t switches) {
  std::lock_guard lock(mutex_);
  state_->io->Inputs().SetDipSwitches(switches);
}

void SimBoard::SetRawInputs(std::optional<InputBytes> raw) {
  std::lock_guard lock(mutex_);
  state_->io->Inputs().SetRaw(raw);
}

void SimBoard::SetMultiplexedInputs(const std::array<std::uint8_t, 13>& inputs) {
  std::lock_guard lock(mutex_);
  state_->io->Inputs().SetMultiplexed(inputs);
}

bool SimBoard::InputMultiplexing() const {
  std::lock_guard lock(mutex_);
  return state_->io->Inputs().MultiplexingOn();
}

void SimBoard::InjectPulses(int input, int count) {
  std::lock_guard lock(mutex_);
  state_->io->Inputs().InjectPulses(input, count);
}

std::uint8_t SimBoard::PulseCount(int input) const {
  std::lock_guard lock(mutex_);
  return state_->io->Inputs().PulseCount(input);
}

SimBoard::OutputImage SimBoard::OnPeriodOutputs() const {
  std::lock_guard lock(mutex_);
  state_->Settle();
  return state_->io->Outputs().OnPeriod();
}

SimBoard::OutputImage SimBoard::OffPeriodOutputs() const {
  std::lock_guard lock(mutex_);
  state_->Settle();
  return state_->io->Outputs().OffPeriod();
}

std::uint8_t SimBoard::OutputBrightness() const {
  std::lock_guard lock(mutex_);
  return state_->io->Outputs().Brightness();
}

void SimBoard::SetHopperEmpty(int input, bool empty) {
  std::lock_guard lock(mutex_);
  state_->Settle();
  state_->io->Hoppers().SetEmpty(input, empty);
}

ReelState SimBoard::Reel(int reel) const {
  std::lock_guard lock(mutex_);
  state_->Settle();
  return state_->io->Reels().State(reel);
}

int SimBoard::ReelCount() const {
  std::lock_guard lock(mutex_);
  return state_->io->Reels().Count();
}

std::uint16_t SimBoard::ReelHalfStepsPerRotation() const {
  std::lock_guard lock(mutex_);
  return state_->io->Reels().HalfStepsPerRotation();
}

std::array<std::uint8_t, 3> SimBoard::ReelDutyCycle() const {
  std::lock_guard lock(mutex_);
  return state_->io->Reels().DutyCycle();
}

void SimBoard::AttachPeer(int port, std::shared_ptr<SerialPeer> peer) {
  RequirePort(port, "AttachPeer");
  std::lock_guard lock(mutex_);
  state_->Settle();
  state_->ports[port]->AttachPeer(std::move(peer));
}

void SimBoard::PushReceived(int port, std::span<const std::uint8_t> bytes,
                            std::uint64_t delayMicros) {
  RequirePort(port, "PushReceived");
  std::lock_guard lock(mutex_);
  const std::uint64_t now = state_->Settle();
  state_->ports[port]->PushReceived(bytes, SaturatingAdd(now, delayMicros));
}

std::vector<std::uint8_t> SimBoard::SentBytes(int port) const {
  RequirePort(port, "SentBytes");
  std::lock_guard lock(mutex_);
  const std::deque<std::uint8_t>& sent = state_->ports[port]->Sent();
  return {sent.begin(), sent.end()};
}

void SimBoard::ClearSentBytes(int port) {
  RequirePort(port, "ClearSentBytes");
  std::lock_guard lock(mutex_);
  state_->ports[port]->ClearSent();
}

std::array<std::uint8_t, 6> SimBoard::LineConfiguration(int port) const {
  RequirePort(port, "LineConfiguration");
  std::lock_guard lock(mutex_);
  return state_->ports[port]->LineConfiguration();
}

std::uint32_t SimBoard::BaudRate(int port) const {
  RequirePort(port, "BaudRate");
  std::lock_guard lock(mutex_);
  return state_->ports[port]->Baud();
}

void SimBoard::SetParityErrors(int port, std::uint16_t count) {
  RequirePort(port, "SetParityErrors");
  std::lock_guard lock(mutex_);
  state_->ports[port]->SetParityErrors(count);
}

SimBoard::TimeoutMessage SimBoard::SerialTimeoutMessage(int port) const {
  RequirePort(port, "SerialTimeoutMessage");
  std::lock_guard lock(mutex_);
  const SimSerialPort& p = *state_->ports[port];
  return TimeoutMessage{p.TimeoutTime(), p.TimeoutMessage()};
}

std::optional<std::vector<std::uint8_t>> SimBoard::PolledMessageConfiguration(int port,
                                                                              int slot) const {
  RequirePort(port, "PolledMessageConfiguration");
  if (slot < 0) return std::nullopt;
  std::lock_guard lock(mutex_);
  return state_->ports[port]->PolledConfiguration(static_cast<std::size_t>(slot));
}

bool SimBoard::SpiEnabled() const {
  std::lock_guard lock(mutex_);
  return state_->spi->Enabled();
}

void SimBoard::QueueSpiReply(std::vector<std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  state_->spi->QueueReply(std::move(bytes));
}

std::vector<SpiTransfer> SimBoard::SpiTransfers() const {
  std::lock_guard lock(mutex_);
  const std::deque<SpiTransfer>& transfers = state_->spi->Transfers();
  return {transfers.begin(), transfers.end()};
}

}  // namespace vantrel::sim
