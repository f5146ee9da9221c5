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

namespace k27sim {

// Faults that tests inject per command byte of a channel.
enum class FaultKind {
  NoReply,    // the command is taken but no reply is queued
  Short,      // reply cut to its first byte
  Long,       // reply padded to 70 bytes (longer than one packet)
  WrongEcho,  // echo byte differs from the command byte
  Status,     // reply carries `status` and no data
  Stall,      // the IN endpoint stalls
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
  std::uint32_t eepromSeed = 0x4B32;  // content of the used part differs per seed
  bool realTime = false;              // clock follows the wall clock (the demo)
  std::uint32_t roundTripMicros = 1000;  // virtual time each exchange takes
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
  SimReply Exchange(int channel, std::span<const std::uint8_t> command,
                    std::size_t maxLength = 64);

  void InjectFault(int channel, std::uint8_t command, Fault fault);
  void ClearFaults();

  // Time: microseconds since the board was made.
  std::uint64_t NowMicros() const;
  void AdvanceMicros(std::uint64_t micros);

  // What a test can see and set.
  bool ApplicationRunning() const;   // the download-end command has run
  void SetApplicationRunning(bool running);
  std::uint32_t EepromBytes() const;
  std::vector<std::uint8_t> Eeprom() const;            // the whole part
  void SetEeprom(std::uint32_t address, std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> Sram(std::uint32_t address, std::uint32_t length) const;
  std::array<std::uint8_t, 8> PicSerialNumber() const;
  std::uint32_t ClockValue() const;                    // as GetClock would read it
  struct SecurityRecord { std::uint32_t time; std::uint8_t state; };
  void SetSecurityRecords(std::vector<SecurityRecord> records);
  void SetSecurityFlags(std::uint8_t first, std::uint8_t second);
  std::uint64_t CommandCount(int channel) const;        // commands written so far

 private:
  struct State;
  std::unique_ptr<State> state_;
  mutable std::mutex mutex_;
};

}  // namespace k27sim
