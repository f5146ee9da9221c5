// A software K27 board: what the host can observe behind the board's seven
// endpoint pairs. Command bytes plus payload go in on a channel, a reply comes
// out. Thread-safe: every public member may be called from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "k27sim/SerialPeer.h"

namespace vantrel::sim {

// Faults that tests inject per command byte of a channel.
enum class FaultKind {
  NoReply,    // the command is taken but no reply is queued
  Short,      // reply cut to its first byte
  Long,       // reply padded to 70 bytes (longer than one packet)
  WrongEcho,  // echo byte differs from the command byte
  Status,     // reply carries `status` and no data
  Stall,      // the IN endpoint stalls
  Corrupt,    // the reply's last data byte inverted: good framing, wrong data
};

struct Fault {
  FaultKind kind = FaultKind::NoReply;
  std::uint8_t status = 0;  // for FaultKind::Status
  int count = 1;            // how many commands it hits; negative: every one
};

// The outcome of reading an IN endpoint.
struct SimReply {
  enum class Outcome { Data, NoReply, Stall };
  Outcome outcome = Outcome::NoReply;
  std::vector<std::uint8_t> bytes;
};

struct SimBoardOptions {
  // 128 to 65,536, a power of two; a value outside that range is clamped to
  // it, and one in range that is not a power of two is rounded up to the next.
  std::uint32_t eepromBytes = 32768;
  std::uint32_t eepromSeed = 0x4B32;     // content of the used part differs per seed
  bool realTime = false;                 // clock follows the wall clock (the demo)
  std::uint32_t roundTripMicros = 1000;  // virtual time each exchange takes
  // The board's address, 0-7: dip switches 0-2 (bits 0-2 of input byte 3) at
  // power-up, so that board k of a multi-board set-up can be given k.
  std::uint8_t boardAddress = 0;
  // The PIC's serial number until the host sets another (eight bytes,
  // "K2700001"); each board of a multi-board set-up gets its own.
  std::array<std::uint8_t, 8> serialNumber{'K', '2', '7', '0', '0', '0', '0', '1'};
};

// "K27" and five decimal digits of `number` (1 to 99999): a factory serial
// number of the kind the boards carry.
std::array<std::uint8_t, 8> FactorySerialNumber(unsigned number);

// Serial ports: 0 is port A (channel 3), 1 is port B (channel 4).
inline constexpr int kPortA = 0;
inline constexpr int kPortB = 1;

// A reel as the status command (channel 1, 0x5C) reports it.
struct ReelState {
  std::uint16_t position = 0;  // half-steps, modulo the half-steps per rotation
  std::uint16_t error = 0;     // always 0: a simulated reel loses no steps
  bool busy = false;           // stepping
  bool sync = false;           // has reached or passed position 0 since its sync enable

  bool operator==(const ReelState&) const = default;
};

// One SPI transfer (channel 7, 0x60) as the host sent it.
struct SpiTransfer {
  std::uint8_t sendBits = 0;
  std::uint8_t receiveBits = 0;
  std::uint8_t option = 0;
  std::vector<std::uint8_t> data;

  bool operator==(const SpiTransfer&) const = default;
};

class SimBoard {
 public:
  explicit SimBoard(SimBoardOptions options = {});
  ~SimBoard();
  SimBoard(const SimBoard&) = delete;
  SimBoard& operator=(const SimBoard&) = delete;

  // Endpoint level: a command written to endpoint `channel` OUT queues its
  // reply for endpoint `channel` IN, where Read takes it (at most `maxLength`
  // bytes). Channels outside 1..7 take nothing and answer nothing.
  void Write(int channel, std::span<const std::uint8_t> command);
  SimReply Read(int channel, std::size_t maxLength);
  // Write followed by Read on the same channel.
  SimReply Exchange(int channel, std::span<const std::uint8_t> command, std::size_t maxLength = 64);

  // A channel outside 1..7 here, or a port other than kPortA and kPortB in
  // the members below, throws std::out_of_range.
  void InjectFault(int channel, std::uint8_t command, Fault fault);
  void ClearFaults();

  // Time: microseconds since the board was made.
  std::uint64_t NowMicros() const;
  void AdvanceMicros(std::uint64_t micros);

  // What a test can see and set.
  bool ApplicationRunning() const;  // the download-end command has run
  void SetApplicationRunning(bool running);
  std::uint32_t EepromBytes() const;
  std::vector<std::uint8_t> Eeprom() const;  // the whole part
  void SetEeprom(std::uint32_t address, std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> Sram(std::uint32_t address, std::uint32_t length) const;
  std::array<std::uint8_t, 8> PicSerialNumber() const;
  std::uint32_t ClockValue() const;  // as GetClock would read it
  struct SecurityRecord {
    std::uint32_t time;
    std::uint8_t state;
  };
  void SetSecurityRecords(std::vector<SecurityRecord> records);
  void SetSecurityFlags(std::uint8_t first, std::uint8_t second);
  std::uint64_t CommandCount(int channel) const;  // commands written so far

  // The application image's channels (1, 3, 4, 7) answer once it runs; what
  // follows sees and sets the board behind them whether it runs or not.
  // Everything that moves over time (pulses, payouts, reels, serial lines,
  // polled messages) is brought to the board's time by each command and by
  // each member below that reads or changes it.

  // Channel 1, inputs. Power-up: switch inputs and byte 4 read 0xFF (open),
  // byte 3 reads the dip switches, 0xF8 | boardAddress.
  using InputBytes = std::array<std::uint8_t, 5>;
  // The snapshot (0x4B), all five bytes. Changed inputs (0x51) report every
  // bit that has changed since the last 0x51 read, even one that has changed
  // back since; the read clears them.
  void SetInputs(const InputBytes& inputs);
  InputBytes Inputs() const;
  void SetDipSwitches(std::uint8_t switches);  // byte 3 of the snapshot
  // Raw inputs (0x52) read the snapshot unless given a state of their own
  // here (contacts that bounce before the firmware's filter passes them);
  // std::nullopt makes them follow the snapshot again.
  void SetRawInputs(std::optional<InputBytes> raw);
  // Multiplexed inputs (0x73), read while multiplexing (0x72) is on.
  void SetMultiplexedInputs(const std::array<std::uint8_t, 13>& inputs);
  bool InputMultiplexing() const;
  // Pulses reaching input bit 0-39: counted (up to 255) while that input's
  // check (0x6C) is on, lost otherwise.
  void InjectPulses(int input, int count);
  std::uint8_t PulseCount(int input) const;

  // Channel 1, outputs: the two images as the board holds them (pulses and
  // hopper motors included) and the brightness level.
  using OutputImage = std::array<std::uint8_t, 5>;
  OutputImage OnPeriodOutputs() const;
  OutputImage OffPeriodOutputs() const;
  std::uint8_t OutputBrightness() const;
  // An output pulse (0x4E, 0x4F) lasts its time byte × this.
  static constexpr std::uint64_t kPulseUnitMicros = 10'000;

  // Channel 1, parallel hoppers (0x70, 0x71), named by their coin input. A
  // payout switches its motor output on and pays one coin per
  // kHopperCoinMicros. Its status is the state (0 idle, 1 paying, 2 done,
  // 3 failed) and the coins paid so far, saturating at 255. An empty hopper
  // fails a payout after kHopperEmptyCoinPeriods coin periods without a coin.
  static constexpr std::uint64_t kHopperCoinMicros = 200'000;
  static constexpr int kHopperEmptyCoinPeriods = 5;
  void SetHopperEmpty(int input, bool empty);

  // Channel 1, reels 0-2. A step takes kReelStepMicros, or the time of its
  // ramp table entry (in milliseconds) while the spin ramps up or down.
  static constexpr std::uint64_t kReelStepMicros = 2'000;
  ReelState Reel(int reel) const;
  int ReelCount() const;  // as configured, 0 before
  std::uint16_t ReelHalfStepsPerRotation() const;
  std::array<std::uint8_t, 3> ReelDutyCycle() const;

  // Channels 3 and 4, serial ports kPortA and kPortB; other port numbers
  // throw std::out_of_range. A port without a peer swallows what it sends. A send is
  // answered once its bytes have left the port (10 bits per byte at the
  // configured rate; 9600 baud at power-up), so the board's time moves on by
  // their line time (in real-time mode it then runs that much ahead of the
  // wall clock); a peer's echo of them is then waiting.
  void AttachPeer(int port, std::shared_ptr<SerialPeer> peer);  // nullptr detaches
  // Bytes that arrive at the port: the first `delayMicros` from now (or once
  // the bytes before it have arrived), each next one a byte's line time
  // later. The timestamped receive (0x66) gives each byte the whole
  // milliseconds since the byte before it, saturating at 255, and, when no
  // byte has arrived, one value alone: the milliseconds since the last one.
  void PushReceived(int port, std::span<const std::uint8_t> bytes, std::uint64_t delayMicros = 0);
  // What the host has sent (0x62), oldest first; the last 65,536 bytes.
  std::vector<std::uint8_t> SentBytes(int port) const;
  void ClearSentBytes(int port);
  std::array<std::uint8_t, 6> LineConfiguration(int port) const;  // as last sent (0x61)
  std::uint32_t BaudRate(int port) const;
  void SetParityErrors(int port, std::uint16_t count);  // read by 0x64, which keeps them
  struct TimeoutMessage {
    std::uint8_t time = 0;  // units of 30 ms
    std::vector<std::uint8_t> message;
  };
  TimeoutMessage SerialTimeoutMessage(int port) const;  // as last set (0x65)
  // Polled messages: the board sends a slot's messages (0x67) every poll
  // time (its byte 6) × 10 ms and keeps what comes back, without the echo
  // of the message, for 0x69, whose status byte is 1 when answers were lost
  // to a full slot (255 bytes) since the last read, else 0. This returns a
  // slot's configuration request as sent, nothing when the slot holds none.
  std::optional<std::vector<std::uint8_t>> PolledMessageConfiguration(int port, int slot) const;

  // Channel 7, SPI. A transfer answers with the next queued reply, or else
  // echoes the bytes it sent, cut or padded with 0xFF to its receive length.
  bool SpiEnabled() const;
  void QueueSpiReply(std::vector<std::uint8_t> bytes);
  std::vector<SpiTransfer> SpiTransfers() const;  // the last 4,096, oldest first

 private:
  struct State;
  std::unique_ptr<State> state_;
  mutable std::mutex mutex_;
};

}  // namespace vantrel::sim
