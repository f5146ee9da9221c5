// The simulated daemon's console socket, through which k27simctl drives and
// inspects the simulated boards. One control request per command:
//   code kSimConsoleCode; input: the board number, then each word of the
//   command, every item followed by '\n';
//   output: a status byte ('0' done, '1' failed, '2' usage error), then the text.
// The console's commands are listed here too, so that a client can explain
// them without the simulator that runs them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {

constexpr const char* kSimConsoleSocket = "k27sim-control";
constexpr std::uint32_t kSimConsoleCode = CtlCode(0xA00, 0);
constexpr std::uint32_t kSimConsoleReplyMax = 64 * 1024;

// One command of the console: its first word, how it is written, and what
// it does.
struct SimConsoleCommand {
  const char* name;
  const char* usage;
  const char* what;
};

// Every command, in the order the summary lists them.
std::span<const SimConsoleCommand> SimConsoleCommands();

// The command whose first word is `name`; none when there is no such command.
const SimConsoleCommand* FindSimConsoleCommand(std::string_view name);

// Two lines per command, its usage and then what it does, each indented.
std::string SimConsoleSummary();

}  // namespace vantrel::driver
