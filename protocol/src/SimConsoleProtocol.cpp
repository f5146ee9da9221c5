#include "vantrel/protocol/SimConsoleProtocol.h"

namespace vantrel::driver {
namespace {

constexpr SimConsoleCommand kCommands[] = {
    {"inputs", "inputs [HEX]",
     "show or set the five input bytes, as the board sends them (10 hex digits)"},
    {"dips", "dips HEX", "set the dip switches (byte 3 of the inputs, 2 hex digits)"},
    {"outputs", "outputs", "print on=HEX off=HEX brightness=N"},
    {"reels", "reels", "print each reel's position, error, busy and sync"},
    {"serial",
     "serial A|B attach loopback|silent|cctalk|none | push HEX | sent | power on|off | echo "
     "normal|short|altered | reply normal|checksum|address",
     "attach a peer to a port, queue bytes for it to receive, show what it sent, "
     "switch the ccTalk device's 12 V, damage the last byte of each send on its wire (lost or "
     "inverted), make the ccTalk device answer with a bad checksum or from another address"},
    {"pulse", "pulse INPUT COUNT", "inject COUNT pulses on input bit INPUT (0-39)"},
    {"fault", "fault CH CMD none|noreply|short|long|echo|stall|corrupt|status=N [COUNT]",
     "damage the replies of command CMD (hex) on channel CH, COUNT times (default: until none)"},
    {"unplug", "unplug", "pull the board out of the simulated bus"},
    {"plug", "plug", "plug the board back in; it starts again as a bare part and is loaded"},
    {"time", "time", "print the board's time in microseconds"},
    {"advance", "advance MS", "move the board's time on by MS milliseconds"},
};

}  // namespace

std::span<const SimConsoleCommand> SimConsoleCommands() { return kCommands; }

const SimConsoleCommand* FindSimConsoleCommand(std::string_view name) {
  for (const auto& command : kCommands)
    if (name == command.name) return &command;
  return nullptr;
}

std::string SimConsoleSummary() {
  std::string text;
  for (const auto& command : kCommands)
    text += std::string("  ") + command.usage + "\n      " + command.what + "\n";
  return text;
}

}  // namespace vantrel::driver
