#include "SimPolledMessages.h"

#include <algorithm>

namespace vantrel::sim {

namespace {

constexpr std::size_t kHeaderBytes = 13;
constexpr std::size_t kPollTimeByte = 6;
constexpr std::size_t kFirstLengthByte = 11;
constexpr std::size_t kSecondLengthByte = 12;
constexpr std::uint64_t kPollUnitMicros = 10'000;

}  // namespace

Response SimPolledMessages::Configure(std::span<const std::uint8_t> payload,
                                      std::uint64_t nowMicros) {
  if (payload.size() < kHeaderBytes ||
      payload.size() != kHeaderBytes + payload[kFirstLengthByte] + payload[kSecondLengthByte]) {
    return Response::Status(status::kLengthError);
  }
  if (payload[0] >= kSlots) return Response::Status(status::kExecutionFailure);

  Slot slot;
  slot.configuration.assign(payload.begin(), payload.end());
  const auto first = payload.begin() + kHeaderBytes;
  const auto second = first + payload[kFirstLengthByte];
  slot.messages[0].assign(first, second);
  slot.messages[1].assign(second, payload.end());
  slot.periodMicros = payload[kPollTimeByte] * kPollUnitMicros;
  slot.nextMicros = nowMicros + slot.periodMicros;
  slots_[payload[0]] = std::move(slot);
  return Response::Ok();
}

std::optional<SimPolledMessages::Slot>* SimPolledMessages::SlotFor(
    std::span<const std::uint8_t> payload, std::uint8_t& statusOut) {
  if (payload.size() != 1) {
    statusOut = status::kLengthError;
    return nullptr;
  }
  if (payload[0] >= kSlots) {
    statusOut = status::kExecutionFailure;
    return nullptr;
  }
  return &slots_[payload[0]];
}

Response SimPolledMessages::Empty(std::span<const std::uint8_t> payload) {
  std::uint8_t code = status::kSuccess;
  std::optional<Slot>* slot = SlotFor(payload, code);
  if (slot == nullptr) return Response::Status(code);
  if (*slot) {
    (*slot)->answers.clear();
    (*slot)->lost = false;
  }
  return Response::Ok();
}

Response SimPolledMessages::Delete(std::span<const std::uint8_t> payload) {
  std::uint8_t code = status::kSuccess;
  std::optional<Slot>* slot = SlotFor(payload, code);
  if (slot == nullptr) return Response::Status(code);
  slot->reset();
  return Response::Ok();
}

Response SimPolledMessages::Receive(std::span<const std::uint8_t> payload,
                                    std::uint64_t nowMicros) {
  std::uint8_t code = status::kSuccess;
  std::optional<Slot>* slot = SlotFor(payload, code);
  if (slot == nullptr) return Response::Status(code);
  if (!*slot) return Response::Ok({0, 0});

  Slot& s = **slot;
  std::vector<std::uint8_t> data{static_cast<std::uint8_t>(s.lost ? 1 : 0), 0};
  s.lost = false;
  auto arrived = [&] { return !s.answers.empty() && s.answers.front().atMicros <= nowMicros; };
  while (data.size() < 2 + kMaxReceiveChunk && arrived()) {
    data.push_back(s.answers.front().value);
    s.answers.pop_front();
  }
  data[1] = arrived() ? 1 : 0;
  return Response::Ok(std::move(data));
}

std::optional<std::vector<std::uint8_t>> SimPolledMessages::Configuration(std::size_t slot) const {
  if (slot >= kSlots || !slots_[slot]) return std::nullopt;
  return slots_[slot]->configuration;
}

void SimPolledMessages::AdvanceTo(std::uint64_t nowMicros, const Transmitter& transmit) {
  auto due = [&]() -> Slot* {
    Slot* earliest = nullptr;
    for (std::optional<Slot>& slot : slots_) {
      if (!slot || slot->periodMicros == 0 || slot->nextMicros > nowMicros) continue;
      if (earliest == nullptr || slot->nextMicros < earliest->nextMicros) earliest = &*slot;
    }
    return earliest;
  };
  int rounds = 0;
  while (Slot* slot = due()) {
    if (++rounds > kMaxRoundsAtOnce) {
      for (std::optional<Slot>& s : slots_) {
        if (!s || s->periodMicros == 0 || s->nextMicros > nowMicros) continue;
        s->nextMicros += ((nowMicros - s->nextMicros) / s->periodMicros + 1) * s->periodMicros;
      }
      return;
    }
    RunRound(*slot, transmit);
    slot->nextMicros += slot->periodMicros;
  }
}

void SimPolledMessages::RunRound(Slot& slot, const Transmitter& transmit) {
  if (slot.answers.size() >= kBufferBytes) {
    slot.lost = true;
    return;
  }
  std::uint64_t at = slot.nextMicros;
  for (const std::vector<std::uint8_t>& message : slot.messages) {
    if (message.empty()) continue;
    Transmission sent = transmit(message, at);
    std::span<const LineByte> answer(sent.answer);
    const bool echoed = answer.size() >= message.size() &&
                        std::equal(message.begin(), message.end(), answer.begin(),
                                   [](std::uint8_t m, const LineByte& b) { return m == b.value; });
    at = std::max(sent.sentMicros, answer.empty() ? 0 : answer.back().atMicros);
    if (echoed) answer = answer.subspan(message.size());
    for (const LineByte& byte : answer) {
      if (slot.answers.size() >= kBufferBytes) {
        slot.lost = true;
        break;
      }
      slot.answers.push_back(byte);
    }
  }
}

}  // namespace vantrel::sim
