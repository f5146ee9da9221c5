// clock, security and random: the PIC's channel.
#include <ctime>
#include <string>

#include "Commands.h"

namespace vantrel::ctl {

namespace {

constexpr char kClockHelp[] =
    "usage: k27ctl clock get\n"
    "       k27ctl clock set VALUE | --from-system\n\n"
    "The board's real-time clock, a 32-bit number the board counts by itself.\n"
    "--from-system sets it to the system time in seconds since 1970 (UTC).\n\n"
    "JSON: {\"clock\":N}\n";

constexpr char kSecurityHelp[] =
    "usage: k27ctl security read\n"
    "       k27ctl security flags [--cached]\n"
    "       k27ctl security clear\n\n"
    "read lists the security switch records (time and state) the board holds,\n"
    "until the board reports no more; flags reads and resets the two flag bytes\n"
    "(--cached: the board's cached copy); clear clears the records.\n\n"
    "JSON: read: {\"records\":[{\"time\":N,\"state\":N}]}; flags: {\"flags\":[N,N]};\n"
    "  clear: {\"cleared\":true}\n";

constexpr char kRandomHelp[] =
    "usage: k27ctl random [N] [--seed VALUE]\n"
    "       k27ctl random disable\n\n"
    "Reads N (default 1, at most 10000) 16-bit random numbers from the board's\n"
    "generator. A board starts with its generator disabled: --seed first enables\n"
    "it with the 32-bit VALUE (its meaning is the board's firmware's), and it\n"
    "stays enabled until disable.\n\n"
    "JSON: {\"numbers\":[N,...]}; disable: {\"disabled\":true}\n";

constexpr int kMaxRecords = 1024;  // a board that never says "no more" cannot loop us forever

}  // namespace

int RunClock(Invocation& invocation, const Args& args) {
  bool fromSystem = false;
  const ParsedArgs parsed =
      ParseOptions(args, "clock", {{"from-system", no_argument, nullptr, 's'}}, kClockHelp,
                   [&](int code, const char*) { fromSystem = fromSystem || code == 's'; });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.empty()) throw UsageError("clock needs get or set");
  unsigned long value = 0;
  if (words[0] == "get") {
    if (words.size() != 1 || fromSystem) throw UsageError("clock get takes no arguments");
    invocation.Check(invocation.Board().GetClock(&value), "GetClock");
  } else if (words[0] == "set") {
    if (fromSystem == (words.size() == 2) || words.size() > 2)
      throw UsageError("clock set takes VALUE or --from-system");
    value = fromSystem
                ? static_cast<unsigned long>(std::time(nullptr)) & 0xFFFFFFFFul
                : static_cast<unsigned long>(ParseNumber(words[1], 0, 0xFFFFFFFFll, "VALUE"));
    invocation.Check(invocation.Board().SetClock(value), "SetClock");
  } else {
    throw UsageError("unknown clock action '" + words[0] + "'");
  }
  PrintLine(invocation.json ? Json::Object().Add("clock", std::int64_t(value)).Text()
                            : "clock " + std::to_string(value));
  return kExitOk;
}

int RunSecurity(Invocation& invocation, const Args& args) {
  bool cached = false;
  const ParsedArgs parsed =
      ParseOptions(args, "security", {{"cached", no_argument, nullptr, 'c'}}, kSecurityHelp,
                   [&](int code, const char*) { cached = cached || code == 'c'; });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.size() != 1) throw UsageError("security needs read, flags or clear");
  if (cached && words[0] != "flags") throw UsageError("--cached goes with flags");
  VantrelUSB* board = nullptr;
  if (words[0] == "read") {
    board = &invocation.Board();
    invocation.Check(board->StartSecuritySwitchRead(), "StartSecuritySwitchRead");
    Json records = Json::Array();
    int count = 0;
    for (; count < kMaxRecords; ++count) {
      unsigned long time = 0;
      unsigned char state = 0;
      if (!board->NextSecuritySwitchRead(&time, &state)) {
        // The board ends the pass by refusing the next record.
        if (board->GetLastError() == USB_MESSAGE_EXECUTION_FAILURE) break;
        invocation.BoardFailed("NextSecuritySwitchRead");
      }
      if (invocation.json)
        records.Push(Json::Object().Add("time", std::int64_t(time)).Add("state", int(state)));
      else
        PrintLine("time " + std::to_string(time) + "  state " + std::to_string(state));
    }
    board->ClearErrors();
    if (invocation.json)
      PrintLine(Json::Object().Add("records", records).Text());
    else if (count == 0)
      PrintLine("no security switch records");
  } else if (words[0] == "flags") {
    unsigned char first = 0, second = 0;
    board = &invocation.Board();
    if (cached)
      invocation.Check(board->CachedReadAndResetSecuritySwitchFlags(&first, &second),
                       "CachedReadAndResetSecuritySwitchFlags");
    else
      invocation.Check(board->ReadAndResetSecuritySwitchFlags(&first, &second),
                       "ReadAndResetSecuritySwitchFlags");
    if (invocation.json)
      PrintLine(
          Json::Object()
              .Add("flags", Json::Array().Push(std::int64_t(first)).Push(std::int64_t(second)))
              .Text());
    else
      PrintLine("flags " + Hex(&first, 1) + " " + Hex(&second, 1));
  } else if (words[0] == "clear") {
    invocation.Check(invocation.Board().ClearSecuritySwitches(), "ClearSecuritySwitches");
    PrintLine(invocation.json ? Json::Object().Add("cleared", true).Text()
                              : "security switches cleared");
  } else {
    throw UsageError("unknown security action '" + words[0] + "'");
  }
  return kExitOk;
}

int RunRandom(Invocation& invocation, const Args& args) {
  std::optional<unsigned long> seed;
  const ParsedArgs parsed = ParseOptions(
      args, "random", {{"seed", required_argument, nullptr, 's'}}, kRandomHelp,
      [&](int code, const char* value) {
        if (code == 's')
          seed = static_cast<unsigned long>(ParseNumber(value, 0, 0xFFFFFFFFll, "--seed"));
      });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.size() == 1 && words[0] == "disable") {
    if (seed) throw UsageError("--seed does not go with disable");
    invocation.Check(invocation.Board().DisableRandomNumberGenerator(),
                     "DisableRandomNumberGenerator");
    PrintLine(invocation.json ? Json::Object().Add("disabled", true).Text()
                              : "random number generator disabled");
    return kExitOk;
  }
  if (words.size() > 1) throw UsageError("random takes at most a count");
  const long count = words.empty() ? 1 : static_cast<long>(ParseNumber(words[0], 1, 10000, "N"));
  VantrelUSB& board = invocation.Board();
  if (seed)
    invocation.Check(board.EnableRandomNumberGenerator(*seed), "EnableRandomNumberGenerator");
  Json numbers = Json::Array();
  for (long i = 0; i < count; ++i) {
    unsigned short number = 0;
    if (!board.GetRandomNumber(&number)) {
      // What a fresh board answers: say how to switch the generator on.
      if (board.GetLastError() == USB_MESSAGE_EXECUTION_FAILURE && !seed)
        throw Failure(
            "the board's random number generator is disabled (GetRandomNumber: "
            "USB_MESSAGE_EXECUTION_FAILURE): enable it with 'k27ctl random --seed VALUE', any "
            "32-bit VALUE; it stays enabled until 'k27ctl random disable'");
      invocation.BoardFailed("GetRandomNumber");
    }
    if (invocation.json)
      numbers.Push(std::int64_t(number));
    else
      PrintLine(std::to_string(number));
  }
  if (invocation.json) PrintLine(Json::Object().Add("numbers", numbers).Text());
  return kExitOk;
}

}  // namespace vantrel::ctl
