// inputs, dips and hoppers: what the board reads.
#include <time.h>

#include <array>
#include <cstdio>
#include <optional>
#include <string>

#include "Commands.h"
#include "Watch.h"

namespace vantrel::ctl {

namespace {

constexpr char kInputsHelp[] =
    "usage: k27ctl inputs [--watch [--count N] [--timeout S]]\n\n"
    "Reads the five input bytes once: switch inputs 0-23, dip switches, byte 4.\n"
    "With --watch, polls every 10 ms and prints one line per change with the\n"
    "CLOCK_MONOTONIC time in ms and each changed bit named (input0-input23,\n"
    "dip0-dip7, byte4.bit0-byte4.bit7) with its new value; ends after --count N\n"
    "changes (a time-out before that fails), after --timeout S seconds, or on\n"
    "Ctrl-C.\n\n"
    "JSON, once: {\"raw\":HEX10,\"inputs\":HEX6,\"dips\":HEX2,\"address\":N,\"byte4\":HEX2,\n"
    "  \"low\":[input numbers whose bit reads 0]}\n"
    "JSON, per change: "
    "{\"time_ms\":N,\"raw\":HEX10,\"changed\":[{\"name\":\"input3\",\"bit\":3,\"value\":0}]}\n";

constexpr char kDipsHelp[] =
    "usage: k27ctl dips\n\n"
    "Reads the dip switches (input byte 3); switches 0-2 are the board address.\n\n"
    "JSON: {\"dips\":HEX2,\"address\":N,\"switches\":[8 bit values, switch 0 first]}\n";

constexpr char kHoppersHelp[] =
    "usage: k27ctl hoppers INPUT...\n"
    "       k27ctl hoppers pay INPUT OUTPUT COINS [--setting-a N] [--setting-b N]\n"
    "                          [--active low|high]\n\n"
    "Reads the payout status of the parallel hoppers named by their inputs (0-32),\n"
    "or starts a payout of COINS (0-65535) on the hopper at INPUT driven by\n"
    "OUTPUT (0-37). The setting bytes (default 0) go to the board unchanged; the\n"
    "hopper input is active low unless --active high.\n\n"
    "JSON: {\"hoppers\":[{\"input\":N,\"status\":N,\"count\":N}]}; pay: {\"paying\":true}\n";

constexpr char kWaitInputHelp[] =
    "usage: k27ctl wait-input N VALUE --within SECONDS\n\n"
    "A fixture check: polls the inputs every 10 ms until input bit N reads VALUE\n"
    "(0 or 1) and exits 0 as soon as it does (at once when it already does), or\n"
    "exits 1 when SECONDS (fractions allowed, up to 3600) pass first. N counts\n"
    "over the input bytes as inputs --watch names the bits: 0-23 the switch\n"
    "inputs (a closed switch reads 0), 24-31 dip switches 0-7, 32-39 byte 4.\n\n"
    "JSON: {\"input\":N,\"name\":\"input3\",\"value\":V,\"reached\":BOOL,\"after_ms\":N,\n"
    "  \"reads\":V} (after_ms: when it was reached, else the time waited; reads:\n"
    "  the value last read)\n";

std::string BitName(int bit) {
  if (bit < 24) return "input" + std::to_string(bit);
  if (bit < 32) return "dip" + std::to_string(bit - 24);
  return "byte4.bit" + std::to_string(bit - 32);
}

usbInput ReadInputs(Invocation& invocation) {
  usbInput inputs{};
  invocation.Check(invocation.Board().GetInputs(&inputs), "GetInputs");
  return inputs;
}

void PrintInputs(const Invocation& invocation, const usbInput& inputs) {
  const std::uint8_t* b = inputs.input;
  Json low = Json::Array();
  std::string lowText;
  for (int bit = 0; bit < 24; ++bit)
    if ((b[bit / 8] >> (bit % 8) & 1) == 0) {
      low.Push(std::int64_t(bit));
      lowText += ' ';
      lowText += std::to_string(bit);
    }
  if (invocation.json) {
    PrintLine(Json::Object()
                  .Add("raw", Hex(b, 5))
                  .Add("inputs", Hex(b, 3))
                  .Add("dips", Hex(b + 3, 1))
                  .Add("address", int(b[3] & 7))
                  .Add("byte4", Hex(b + 4, 1))
                  .Add("low", low)
                  .Text());
    return;
  }
  PrintLine("inputs " + Hex(b, 3) + "  dips " + Hex(b + 3, 1) + "  address " +
            std::to_string(b[3] & 7) + "  byte4 " + Hex(b + 4, 1));
  PrintLine("inputs reading 0:" + (lowText.empty() ? std::string(" none") : lowText));
}

}  // namespace

int RunInputs(Invocation& invocation, const Args& args) {
  WatchLimits limits;
  const ParsedArgs parsed =
      ParseOptions(args, "inputs", WatchLimits::Options(), kInputsHelp,
                   [&](int code, const char* value) { limits.Handle(code, value); });
  if (parsed.helpShown) return kExitOk;
  if (!parsed.operands.empty()) throw UsageError("inputs takes no arguments");
  if ((limits.count || limits.timeout) && !limits.watch)
    throw UsageError("--count and --timeout go with --watch");

  usbInput last = ReadInputs(invocation);
  if (!limits.watch) {
    PrintInputs(invocation, last);
    return kExitOk;
  }
  return RunWatch(limits, 10, [&]() {
    const usbInput now = ReadInputs(invocation);
    Json changed = Json::Array();
    std::string text;
    int changes = 0;
    for (int bit = 0; bit < 40; ++bit) {
      const int before = last.input[bit / 8] >> (bit % 8) & 1;
      const int after = now.input[bit / 8] >> (bit % 8) & 1;
      if (before == after) continue;
      ++changes;
      changed.Push(Json::Object().Add("name", BitName(bit)).Add("bit", bit).Add("value", after));
      text += ' ';
      text += BitName(bit);
      text += '=';
      text += std::to_string(after);
    }
    last = now;
    if (changes == 0) return 0;
    const std::int64_t time = MonotonicMs();
    if (invocation.json)
      PrintLine(Json::Object()
                    .Add("time_ms", time)
                    .Add("raw", Hex(now.input, 5))
                    .Add("changed", changed)
                    .Text());
    else
      PrintLine(std::to_string(time) + " ms " + Hex(now.input, 5) + text);
    return 1;
  });
}

int RunWaitInput(Invocation& invocation, const Args& args) {
  std::optional<double> within;
  const ParsedArgs parsed =
      ParseOptions(args, "wait-input", {{"within", required_argument, nullptr, 'w'}},
                   kWaitInputHelp, [&](int code, const char* value) {
                     if (code == 'w') within = ParseSeconds(value, 3600, "--within");
                   });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.size() != 2) throw UsageError("wait-input takes N VALUE --within SECONDS");
  const int bit = static_cast<int>(ParseNumber(words[0], 0, 39, "N"));
  const int value = static_cast<int>(ParseNumber(words[1], 0, 1, "VALUE"));
  if (!within) throw UsageError("wait-input needs --within SECONDS");

  WatchSignals();
  const std::int64_t start = MonotonicMs();
  const auto limit = static_cast<std::int64_t>(*within * 1000);
  int reads = 0;
  bool reached = false;
  for (;;) {
    const usbInput now = ReadInputs(invocation);
    reads = now.input[bit / 8] >> (bit % 8) & 1;
    reached = reads == value;
    if (reached || Interrupted() || MonotonicMs() - start >= limit) break;
    const timespec pause{0, 10 * 1000000L};
    ::nanosleep(&pause, nullptr);
  }
  const std::int64_t after = MonotonicMs() - start;
  if (invocation.json)
    PrintLine(Json::Object()
                  .Add("input", bit)
                  .Add("name", BitName(bit))
                  .Add("value", value)
                  .Add("reached", reached)
                  .Add("after_ms", after)
                  .Add("reads", reads)
                  .Text());
  else if (reached)
    PrintLine(BitName(bit) + " reads " + std::to_string(value) + " after " + std::to_string(after) +
              " ms");
  if (!reached) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", *within);
    throw Failure(BitName(bit) + " did not read " + std::to_string(value) + " within " + seconds +
                  " s (it reads " + std::to_string(reads) + " after " + std::to_string(after) +
                  " ms" + (Interrupted() ? "; interrupted" : "") + ")");
  }
  return kExitOk;
}

int RunDips(Invocation& invocation, const Args& args) {
  const ParsedArgs parsed = ParseOptions(args, "dips", {}, kDipsHelp);
  if (parsed.helpShown) return kExitOk;
  if (!parsed.operands.empty()) throw UsageError("dips takes no arguments");
  const std::uint8_t dips = ReadInputs(invocation).input[3];
  Json switches = Json::Array();
  std::string text;
  for (int bit = 0; bit < 8; ++bit) {
    switches.Push(std::int64_t(dips >> bit & 1));
    text += std::to_string(dips >> bit & 1);
  }
  if (invocation.json)
    PrintLine(Json::Object()
                  .Add("dips", Hex(&dips, 1))
                  .Add("address", int(dips & 7))
                  .Add("switches", switches)
                  .Text());
  else
    PrintLine("dips " + Hex(&dips, 1) + "  address " + std::to_string(dips & 7) +
              "  switches 0-7: " + text);
  return kExitOk;
}

int RunHoppers(Invocation& invocation, const Args& args) {
  int settingA = 0, settingB = 0;
  ActiveState level = ACTIVE_LOW;
  const ParsedArgs parsed =
      ParseOptions(args, "hoppers",
                   {{"setting-a", required_argument, nullptr, 'A'},
                    {"setting-b", required_argument, nullptr, 'B'},
                    {"active", required_argument, nullptr, 'L'}},
                   kHoppersHelp, [&](int code, const char* value) {
                     if (code == 'A')
                       settingA = static_cast<int>(ParseNumber(value, 0, 255, "--setting-a"));
                     if (code == 'B')
                       settingB = static_cast<int>(ParseNumber(value, 0, 255, "--setting-b"));
                     if (code == 'L') {
                       const std::string text = value;
                       if (text != "low" && text != "high")
                         throw UsageError("--active is low or high");
                       level = text == "high" ? ACTIVE_HIGH : ACTIVE_LOW;
                     }
                   });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.empty()) throw UsageError("hoppers needs INPUT... or pay INPUT OUTPUT COINS");

  if (words[0] == "pay") {
    if (words.size() != 4) throw UsageError("hoppers pay takes INPUT OUTPUT COINS");
    const auto input = static_cast<_usbInputBitId>(ParseNumber(words[1], 0, 32, "INPUT"));
    const auto output = static_cast<_usbOutputBitId>(ParseNumber(words[2], 0, 37, "OUTPUT"));
    const auto coins = static_cast<unsigned short>(ParseNumber(words[3], 0, 65535, "COINS"));
    invocation.Check(invocation.Board().ReleaseParallelHopperCoins(
                         input, static_cast<unsigned char>(settingA), level, output, coins,
                         static_cast<unsigned char>(settingB)),
                     "ReleaseParallelHopperCoins");
    PrintLine(invocation.json
                  ? Json::Object().Add("paying", true).Text()
                  : "paying " + words[3] + " coin(s) on the hopper at input " + words[1]);
    return kExitOk;
  }

  std::vector<int> inputs;
  for (const auto& word : words)
    inputs.push_back(static_cast<int>(ParseNumber(word, 0, 32, "INPUT")));
  Json hoppers = Json::Array();
  for (const int input : inputs) {
    ReleaseHopperCoinsStatus status{};
    unsigned char count = 0;
    invocation.Check(invocation.Board().GetParallelHopperStatus(static_cast<_usbInputBitId>(input),
                                                                &status, &count),
                     "GetParallelHopperStatus");
    if (invocation.json)
      hoppers.Push(
          Json::Object().Add("input", input).Add("status", int(status)).Add("count", int(count)));
    else
      PrintLine("hopper at input " + std::to_string(input) + ": status " +
                std::to_string(int(status)) + "  count " + std::to_string(count));
  }
  if (invocation.json) PrintLine(Json::Object().Add("hoppers", hoppers).Text());
  return kExitOk;
}

}  // namespace vantrel::ctl
