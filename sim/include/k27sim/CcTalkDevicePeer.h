// A ccTalk coin acceptor on a single-wire bus: the bus echoes every byte the
// host sends (the host reads its own frame back first), and the device
// answers the frames addressed to it.
//
// Frames: destination, data count, source, header, data..., checksum, where
// the checksum makes all bytes of the frame sum to 0 modulo 256. The device
// answers to the frame's source, from its own address, after
// `replyDelayMicros`. Frames with a bad checksum and frames for other
// addresses get no answer; a gap of more than 50 ms inside a frame drops the
// bytes gathered so far. Headers answered:
//   254 simple poll, 1 reset, 231 modify inhibit status (2 bytes),
//   228 modify master inhibit (1 byte): ACK (header 0, no data)
//   253 address poll (also when sent to address 0) and 252 address clash:
//       no frame; the device puts its address on the bus as one raw byte,
//       4 x address milliseconds after the request
//   246 manufacturer id, 245 equipment category, 244 product code,
//   241 software revision: the texts of the options
//   242 serial number: 3 bytes, least significant first
//   229 read buffered credit: event counter, then five (credit, error)
//       pairs, newest first
//   230 request inhibit status: 2 bytes (coins 1-8, coins 9-16)
//   227 request master inhibit: 1 byte (bit 0 set: accepting)
//   4 request comms revision: 3 bytes
// Every other header, and a modify command with the wrong data count, gets
// a NAK (header 5).
//
// The device hangs on the ccTalk single wire, which the board drives only in
// the ccTalk mode (port type 2): sent in another mode, bytes never reach it.
//
// A damaged line (SetLineFault) changes the last byte of each send (a whole
// frame, for the frames the ccTalk tool sends) on the wire:
// lost, or with its bits inverted. The host reads back what is on the wire,
// and the device hears the same, so the frame gets no answer.
//
// A faulty device (SetReplyFault) answers with a wrong checksum, or from an
// address that is not its own (as a second device on the address would).
//
// Without its 12 V supply (SetPowered(false)) the bus is dead: no echo and no
// answer, and bytes sent meanwhile are lost. The host's first timestamped
// receive after its send then finds no byte, only a time value, which the
// ccTalk tool reports as "no 12V power".
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "k27sim/SerialPeer.h"

namespace vantrel::sim {

struct CcTalkDeviceOptions {
  std::uint8_t address = 2;
  std::string equipmentCategory = "Coin Acceptor";
  std::string manufacturerId = "SIM";
  std::string productCode = "K27SimCoin";
  std::array<std::uint8_t, 3> serialNumber{0x01, 0x02, 0x03};  // least significant first
  std::string softwareRevision = "1.00";
  std::array<std::uint8_t, 3> commsRevision{1, 4, 2};  // level, major, minor
  std::uint64_t replyDelayMicros = 2000;               // from the request's last byte
};

class CcTalkDevicePeer final : public SerialPeer {
 public:
  static constexpr std::uint8_t kAck = 0;
  static constexpr std::uint8_t kNak = 5;
  static constexpr std::uint64_t kResyncGapMicros = 50'000;
  static constexpr std::uint8_t kCcTalkPortType = 2;
  // Delay of the raw address answers, per unit of the address.
  static constexpr std::uint64_t kAddressDelayMicros = 4'000;

  enum class LineFault { kNone, kLastByteLost, kLastByteInverted };
  enum class ReplyFault { kNone, kBadChecksum, kWrongSource };

  explicit CcTalkDevicePeer(CcTalkDeviceOptions options = {});

  std::vector<LineByte> Transfer(std::span<const LineByte> sent, std::uint32_t baud) override;

  bool ListensTo(std::uint8_t portType) const override { return portType == kCcTalkPortType; }

  void SetPowered(bool powered);
  bool Powered() const;
  void SetLineFault(LineFault fault);
  void SetReplyFault(ReplyFault fault);

  // A coin or error event for read buffered credit: the event counter moves
  // on (1 to 255, then 1 again; 0 only after power-up or reset).
  void AddEvent(std::uint8_t credit, std::uint8_t error = 0);

  // What the host has set.
  std::array<std::uint8_t, 2> InhibitStatus() const;
  std::uint8_t MasterInhibit() const;
  // How many frames the device has answered (ACK, data or NAK).
  std::uint64_t FramesAnswered() const;

 private:
  // The answer's header and data, or nothing when the frame gets no answer.
  struct Answer {
    std::uint8_t header = kAck;
    std::vector<std::uint8_t> data;
    bool raw = false;  // data alone, unframed, after rawDelayMicros
    std::uint64_t rawDelayMicros = 0;
  };
  std::optional<Answer> AnswerFor(const std::vector<std::uint8_t>& frame);
  void Reset();

  const CcTalkDeviceOptions options_;
  mutable std::mutex mutex_;
  bool powered_ = true;
  LineFault lineFault_ = LineFault::kNone;
  ReplyFault replyFault_ = ReplyFault::kNone;
  std::vector<std::uint8_t> frame_;  // bytes of the frame being received
  std::uint64_t lastByteMicros_ = 0;
  std::uint8_t eventCounter_ = 0;
  std::array<std::uint8_t, 10> events_{};  // five (credit, error) pairs, newest first
  std::array<std::uint8_t, 2> inhibit_{};
  std::uint8_t masterInhibit_ = 0;
  std::uint64_t framesAnswered_ = 0;
};

}  // namespace vantrel::sim
