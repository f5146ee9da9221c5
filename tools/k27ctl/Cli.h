// What every k27ctl command shares: the invocation (board, output form),
// the connection, argument parsing and the two ways a command fails.
#pragma once

#include <getopt.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <vantrel/VantrelUSB.h>

#include "Failure.h"
#include "Json.h"
#include "Output.h"

namespace vantrel::ctl {

// The command line around the command, and the board it names.
class Invocation {
 public:
  std::optional<int> boardIndex;           // --board
  std::optional<int> boardAddress;         // --address
  std::optional<std::string> boardSerial;  // --serial, as ParseSerialNumber left it
  bool json = false;
  std::optional<int> replyTimeoutMs;  // --timeout

  // --board and --address together are a usage error.
  void CheckOptions() const;

  // Connects on first use: every command parses all of its arguments
  // before it asks for the board, so a usage error sends nothing.
  VantrelUSB& Board();
  int Instance() const { return instance_; }

  // Throws a Failure naming the board's last error: "WHAT: NAME".
  [[noreturn]] void BoardFailed(const std::string& what);
  // Runs a board call; on failure throws as BoardFailed.
  void Check(int result, const std::string& what) {
    if (result == 0) BoardFailed(what);
  }

 private:
  // Connects to the first of boards 0-7 for which `matches` holds.
  VantrelUSB& FindBoard(const std::function<bool(VantrelUSB&)>& matches, const std::string& what);

  VantrelUSB board_;
  bool connected_ = false;
  int instance_ = 0;
};

// The name of a board error code; never a bare number.
std::string ErrorName(usbErrorCode code);

// ---- Argument parsing -------------------------------------------------------

// A number in decimal or with 0x in hex, within [low, high].
std::int64_t ParseNumber(const std::string& text, std::int64_t low, std::int64_t high,
                         const std::string& what);
// Hex bytes: pairs of digits, optionally separated by blanks, ':' or '-',
// with an optional leading 0x.
std::vector<std::uint8_t> ParseHexBytes(const std::string& text, const std::string& what);
// A board's serial number for --serial: up to 8 printable characters, or
// 16 hex digits (made upper case).
std::string ParseSerialNumber(const std::string& text);
// A serial port: A or B (either case).
_usbSerialPort ParsePort(const std::string& text);
// Seconds, fractions allowed, 0 to `high`.
double ParseSeconds(const std::string& text, double high, const std::string& what);

// One command's options through getopt_long. `handle` gets each option's
// code and argument; returns the operands. --help (-h) prints `help` and
// makes the result empty with `helpShown` set.
struct ParsedArgs {
  std::vector<std::string> operands;
  bool helpShown = false;
};
ParsedArgs ParseOptions(const std::vector<std::string>& args, const std::string& command,
                        std::vector<option> options, const std::string& help,
                        const std::function<void(int code, const char* value)>& handle = {});

// ---- Output ----------------------------------------------------------------

std::string Hex(const std::uint8_t* bytes, std::size_t count);
inline std::string Hex(const std::vector<std::uint8_t>& bytes) {
  return Hex(bytes.data(), bytes.size());
}
// Printable ASCII kept, every other byte as '.'.
std::string Printable(const std::uint8_t* bytes, std::size_t count);
// Milliseconds of CLOCK_MONOTONIC, the time base of every --watch line.
std::int64_t MonotonicMs();
// True once SIGINT or SIGTERM has arrived (after WatchSignals).
void WatchSignals();
bool Interrupted();

}  // namespace vantrel::ctl
