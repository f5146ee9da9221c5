// The board itself: routes each command to the firmware code of its channel,
// frames the reply, applies injected faults and keeps the board's time.
#include "k27sim/SimBoard.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

#include "ChannelHandler.h"
#include "SimEeprom.h"
#include "SimFaults.h"
#include "SimMemoryChannel.h"
#include "SimPic.h"

namespace k27sim {

namespace {

constexpr int kChannels = 7;
constexpr int kEepromChannel = 2;
constexpr int kPicChannel = 5;
constexpr int kMemoryChannel = 6;
constexpr std::size_t kMaxCommandBytes = 64;

bool ValidChannel(int channel) { return channel >= 1 && channel <= kChannels; }

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max()
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
      : options(opts), start(std::chrono::steady_clock::now()), eeprom(opts.eepromBytes, opts.eepromSeed) {}

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
    const std::uint64_t now = Now();
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

SimReply SimBoard::Exchange(int channel, std::span<const std::uint8_t> command, std::size_t maxLength) {
  // One lock across both halves, so that a concurrent exchange on the same
  // channel cannot take this one's reply.
  std::lock_guard lock(mutex_);
  state_->Write(channel, command);
  return state_->Read(channel, maxLength);
}

void SimBoard::InjectFault(int channel, std::uint8_t command, Fault fault) {
  if (!ValidChannel(channel)) return;
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
  if (!ValidChannel(channel)) return 0;
  std::lock_guard lock(mutex_);
  return state_->commandCounts[channel];
}

}  // namespace k27sim
