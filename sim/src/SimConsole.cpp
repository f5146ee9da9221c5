#include "k27sim/SimConsole.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <sstream>

#include "k27/common/Hex.h"
#include "k27sim/CcTalkDevicePeer.h"
#include "k27sim/LoopbackPeer.h"
#include "k27sim/SilentPeer.h"
#include "k27sim/SimBoard.h"
#include "vantrel/protocol/SimConsoleProtocol.h"

namespace vantrel::sim {
namespace {

// The commands, their usage and help are the console protocol's.
using vantrel::driver::FindSimConsoleCommand;
using vantrel::driver::SimConsoleCommand;
using vantrel::driver::SimConsoleSummary;

ConsoleReply Ok(std::string text = {}) { return {ConsoleReply::kOk, std::move(text)}; }
ConsoleReply Usage(const std::string& text) { return {ConsoleReply::kUsage, text + "\n"}; }

ConsoleReply HelpFor(const SimConsoleCommand& command) {
  return Ok(std::string("usage: ") + command.usage + "\n  " + command.what + "\n");
}

ConsoleReply BadUsage(const SimConsoleCommand& command, const std::string& why) {
  return Usage(why + " (usage: " + command.usage + ")");
}

// Digit pairs, at least one.
std::optional<std::vector<std::uint8_t>> ParseHex(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return vantrel::common::ParseHex(text);
}

std::optional<long> ParseNumber(const std::string& text, long low, long high, int base = 10) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, base);
  if (*end != '\0' || value < low || value > high) return std::nullopt;
  return value;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  return vantrel::common::ToHex({bytes, count});
}

std::optional<int> ParsePort(const std::string& text) {
  if (text == "A" || text == "a") return kPortA;
  if (text == "B" || text == "b") return kPortB;
  return std::nullopt;
}

std::mutex& ConsoleMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

SimConsole::SimConsole(std::vector<SimBoard*> boards) : boards_(std::move(boards)) {}
SimConsole::~SimConsole() = default;

void SimConsole::SetPlugHooks(PlugHooks hooks) {
  std::lock_guard lock(ConsoleMutex());
  plugHooks_ = std::move(hooks);
}

ConsoleReply SimConsole::Run(int boardIndex, const std::vector<std::string>& words) {
  std::lock_guard lock(ConsoleMutex());
  if (words.empty()) return Usage("no command given; commands:\n" + SimConsoleSummary());
  const SimConsoleCommand* command = FindSimConsoleCommand(words[0]);
  if (command == nullptr) return Usage("unknown command '" + words[0] + "'");
  for (const auto& word : words)
    if (word == "--help" || word == "-h") return HelpFor(*command);
  if (boardIndex < 0 || boardIndex >= static_cast<int>(boards_.size()))
    return Usage("no simulated board " + std::to_string(boardIndex) + " (there are " +
                 std::to_string(boards_.size()) + ")");
  SimBoard& board = *boards_[static_cast<std::size_t>(boardIndex)];
  const std::string& name = words[0];
  const std::size_t args = words.size() - 1;

  if (name == "inputs") {
    if (args == 0) {
      const auto inputs = board.Inputs();
      return Ok("inputs=" + Hex(inputs.data(), inputs.size()) + "\n");
    }
    const auto bytes = args == 1 ? ParseHex(words[1]) : std::nullopt;
    if (!bytes || bytes->size() != 5) return BadUsage(*command, "inputs take 10 hex digits");
    SimBoard::InputBytes inputs;
    std::copy(bytes->begin(), bytes->end(), inputs.begin());
    board.SetInputs(inputs);
    return Ok();
  }
  if (name == "dips") {
    const auto bytes = args == 1 ? ParseHex(words[1]) : std::nullopt;
    if (!bytes || bytes->size() != 1) return BadUsage(*command, "dips take 2 hex digits");
    board.SetDipSwitches((*bytes)[0]);
    return Ok();
  }
  if (name == "outputs") {
    if (args != 0) return BadUsage(*command, "outputs takes no argument");
    const auto on = board.OnPeriodOutputs();
    const auto off = board.OffPeriodOutputs();
    return Ok("on=" + Hex(on.data(), on.size()) + " off=" + Hex(off.data(), off.size()) +
              " brightness=" + std::to_string(board.OutputBrightness()) + "\n");
  }
  if (name == "reels") {
    if (args != 0) return BadUsage(*command, "reels takes no argument");
    std::string text;
    for (int reel = 0; reel < 3; ++reel) {
      const ReelState state = board.Reel(reel);
      text += "reel " + std::to_string(reel) + ": position=" + std::to_string(state.position) +
              " error=" + std::to_string(state.error) + " busy=" + std::to_string(state.busy) +
              " sync=" + std::to_string(state.sync) + "\n";
    }
    return Ok(text);
  }
  if (name == "serial") return Serial(board, boardIndex, words);
  if (name == "pulse") {
    const auto input = args == 2 ? ParseNumber(words[1], 0, 39) : std::nullopt;
    const auto count = args == 2 ? ParseNumber(words[2], 1, 65535) : std::nullopt;
    if (!input || !count) return BadUsage(*command, "needs an input 0-39 and a count 1-65535");
    board.InjectPulses(static_cast<int>(*input), static_cast<int>(*count));
    return Ok();
  }
  if (name == "fault") {
    if (args < 3 || args > 4) return BadUsage(*command, "needs a channel, a command and a fault");
    const auto channel = ParseNumber(words[1], 1, 7);
    const auto cmd = ParseNumber(words[2], 0, 255, 16);
    if (!channel) return BadUsage(*command, "channel must be 1-7");
    if (!cmd) return BadUsage(*command, "command must be a hex byte");
    Fault fault;
    fault.count = -1;
    const std::string& kind = words[3];
    if (kind == "none")
      fault.count = 0;
    else if (kind == "noreply")
      fault.kind = FaultKind::NoReply;
    else if (kind == "short")
      fault.kind = FaultKind::Short;
    else if (kind == "long")
      fault.kind = FaultKind::Long;
    else if (kind == "echo")
      fault.kind = FaultKind::WrongEcho;
    else if (kind == "stall")
      fault.kind = FaultKind::Stall;
    else if (kind == "corrupt")
      fault.kind = FaultKind::Corrupt;
    else if (kind.rfind("status=", 0) == 0) {
      const auto status = ParseNumber(kind.substr(7), 0, 255);
      if (!status) return BadUsage(*command, "status=N needs N from 0 to 255");
      fault.kind = FaultKind::Status;
      fault.status = static_cast<std::uint8_t>(*status);
    } else {
      return BadUsage(*command, "unknown fault '" + kind + "'");
    }
    if (args == 4) {
      if (fault.count == 0) return BadUsage(*command, "none takes no count");
      const auto count = ParseNumber(words[4], 1, 1000000);
      if (!count) return BadUsage(*command, "count must be a positive number");
      fault.count = static_cast<int>(*count);
    }
    board.InjectFault(static_cast<int>(*channel), static_cast<std::uint8_t>(*cmd), fault);
    return Ok();
  }
  if (name == "unplug" || name == "plug") {
    if (args != 0) return BadUsage(*command, name + " takes no argument");
    const auto& hook = name == "unplug" ? plugHooks_.unplug : plugHooks_.plug;
    if (!hook) return {ConsoleReply::kFailed, "this daemon cannot " + name + " boards\n"};
    if (!hook(boardIndex))
      return {ConsoleReply::kFailed, name == "unplug" ? "the board is not plugged in\n"
                                                      : "the board is plugged in already\n"};
    return Ok();
  }
  if (name == "time") {
    if (args != 0) return BadUsage(*command, "time takes no argument");
    return Ok(std::to_string(board.NowMicros()) + "\n");
  }
  if (name == "advance") {
    const auto ms = args == 1 ? ParseNumber(words[1], 0, 86'400'000) : std::nullopt;
    if (!ms) return BadUsage(*command, "needs milliseconds, 0 to 86400000");
    board.AdvanceMicros(static_cast<std::uint64_t>(*ms) * 1000);
    return Ok();
  }
  return Usage("unknown command '" + name + "'");
}

ConsoleReply SimConsole::Serial(SimBoard& board, int boardIndex,
                                const std::vector<std::string>& words) {
  const SimConsoleCommand& command = *FindSimConsoleCommand("serial");
  const auto port = words.size() >= 3 ? ParsePort(words[1]) : std::nullopt;
  if (!port) return BadUsage(command, "needs port A or B and an action");
  const std::string& action = words[2];
  const auto key = std::make_pair(boardIndex, *port);
  if (action == "attach" && words.size() == 4) {
    const std::string& peer = words[3];
    std::shared_ptr<SerialPeer> attached;
    ccTalk_.erase(key);
    if (peer == "loopback")
      attached = std::make_shared<LoopbackPeer>();
    else if (peer == "silent")
      attached = std::make_shared<SilentPeer>();
    else if (peer == "cctalk") {
      auto device = std::make_shared<CcTalkDevicePeer>();
      ccTalk_[key] = device;
      attached = device;
    } else if (peer != "none") {
      return BadUsage(command, "unknown peer '" + peer + "'");
    }
    board.AttachPeer(*port, attached);
    return Ok();
  }
  if (action == "push" && words.size() == 4) {
    const auto bytes = ParseHex(words[3]);
    if (!bytes) return BadUsage(command, "push takes hex digit pairs");
    board.PushReceived(*port, *bytes);
    return Ok();
  }
  if (action == "sent" && words.size() == 3) {
    const auto sent = board.SentBytes(*port);
    return Ok("sent=" + Hex(sent.data(), sent.size()) + "\n");
  }
  if (action == "power" && words.size() == 4 && (words[3] == "on" || words[3] == "off")) {
    auto device = ccTalk_.find(key);
    if (device == ccTalk_.end()) return {ConsoleReply::kFailed, "no ccTalk device on that port\n"};
    device->second->SetPowered(words[3] == "on");
    return Ok();
  }
  if (action == "echo" && words.size() == 4) {
    using Fault = CcTalkDevicePeer::LineFault;
    const std::string& mode = words[3];
    const std::optional<Fault> fault = mode == "normal"    ? std::optional(Fault::kNone)
                                       : mode == "short"   ? std::optional(Fault::kLastByteLost)
                                       : mode == "altered" ? std::optional(Fault::kLastByteInverted)
                                                           : std::nullopt;
    if (!fault) return BadUsage(command, "echo is normal, short or altered");
    auto device = ccTalk_.find(key);
    if (device == ccTalk_.end()) return {ConsoleReply::kFailed, "no ccTalk device on that port\n"};
    device->second->SetLineFault(*fault);
    return Ok();
  }
  if (action == "reply" && words.size() == 4) {
    using Fault = CcTalkDevicePeer::ReplyFault;
    const std::string& mode = words[3];
    const std::optional<Fault> fault = mode == "normal"     ? std::optional(Fault::kNone)
                                       : mode == "checksum" ? std::optional(Fault::kBadChecksum)
                                       : mode == "address"  ? std::optional(Fault::kWrongSource)
                                                            : std::nullopt;
    if (!fault) return BadUsage(command, "reply is normal, checksum or address");
    auto device = ccTalk_.find(key);
    if (device == ccTalk_.end()) return {ConsoleReply::kFailed, "no ccTalk device on that port\n"};
    device->second->SetReplyFault(*fault);
    return Ok();
  }
  return BadUsage(command, "unknown serial action");
}

}  // namespace vantrel::sim
