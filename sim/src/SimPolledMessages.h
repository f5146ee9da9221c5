// The polled messages of one serial port: up to four slots, each with two
// stored messages that the board sends by itself every poll time, collecting
// what comes back for the host to read later.
//
// A slot's messages go out every poll time (request byte 6) × 10 ms from its
// configuration on, the first one, then the second once the answer to the
// first has come in; a poll time of 0 stores the messages without sending
// them. The answers are kept per slot without the echo of the message when
// they start with it (the single-wire bus of ccTalk). A slot keeps at most
// kBufferBytes; a poll round that finds the slot full is skipped, and the
// next receive reports the loss in its status byte (1; otherwise 0).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "ChannelHandler.h"
#include "k27sim/SerialPeer.h"

namespace vantrel::sim {

class SimPolledMessages {
 public:
  static constexpr std::size_t kSlots = 4;
  static constexpr std::size_t kBufferBytes = 255;
  static constexpr std::size_t kMaxReceiveChunk = 60;
  // Overdue rounds run at once at most; older ones are skipped.
  static constexpr int kMaxRoundsAtOnce = 1000;

  // What sending a message on the port's line gives: the peer's bytes, and
  // the time at which the message's last byte has left.
  struct Transmission {
    std::vector<LineByte> answer;
    std::uint64_t sentMicros = 0;
  };
  using Transmitter =
      std::function<Transmission(std::span<const std::uint8_t> message, std::uint64_t atMicros)>;

  Response Configure(std::span<const std::uint8_t> payload, std::uint64_t nowMicros);
  Response Empty(std::span<const std::uint8_t> payload);
  Response Receive(std::span<const std::uint8_t> payload, std::uint64_t nowMicros);
  Response Delete(std::span<const std::uint8_t> payload);

  // Runs the rounds that fell due up to `nowMicros`, in order of time.
  void AdvanceTo(std::uint64_t nowMicros, const Transmitter& transmit);

  // The configuration request of a slot as the host sent it.
  std::optional<std::vector<std::uint8_t>> Configuration(std::size_t slot) const;

 private:
  struct Slot {
    std::vector<std::uint8_t> configuration;
    std::array<std::vector<std::uint8_t>, 2> messages;
    std::uint64_t periodMicros = 0;
    std::uint64_t nextMicros = 0;
    std::deque<LineByte> answers;
    bool lost = false;
  };

  // The slot named by a one-byte payload, or the status to answer.
  std::optional<Slot>* SlotFor(std::span<const std::uint8_t> payload, std::uint8_t& statusOut);
  void RunRound(Slot& slot, const Transmitter& transmit);

  std::array<std::optional<Slot>, kSlots> slots_;
};

}  // namespace vantrel::sim
