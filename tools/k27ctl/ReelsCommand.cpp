// reels: configure, spin and watch the three stepper reels.
#include <array>
#include <string>

#include "Commands.h"
#include "Watch.h"

namespace vantrel::ctl {

namespace {

constexpr char kHelp[] =
    "usage: k27ctl reels configure REELS STEPS [--third N] [--ramp-up B,B,...]\n"
    "                                         [--ramp-down B,B,...] [--sync]\n"
    "       k27ctl reels spin REEL STEPS [--direction -2|-1|1|2]\n"
    "       k27ctl reels status [--watch [--count N] [--timeout S]]\n\n"
    "configure: REELS 1-3 reels of STEPS half-steps per turn (0-65535); the third\n"
    "configuration byte (default 0); ramp tables of up to 61 entries (0-255) for\n"
    "every configured reel; --sync enables synchronisation on each of them.\n"
    "spin: REEL 0-2 by STEPS (0-65535) in DIRECTION (default 1).\n"
    "status: position, error, busy and sync of each reel; --watch prints one\n"
    "line (or JSON object) per change, every 50 ms, with CLOCK_MONOTONIC ms.\n\n"
    "JSON: status: {\"reels\":[{\"reel\":0,\"position\":N,\"error\":N,\"busy\":N,\"sync\":N}]};\n"
    "  --watch: the same with \"time_ms\":N first; configure and spin: {\"done\":true}\n";

usbRampTable ParseRamp(const std::string& text, const std::string& what) {
  usbRampTable table{};
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string entry =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (table.count >= 61) throw UsageError(what + " holds at most 61 entries");
    table.steps[table.count++] =
        static_cast<unsigned char>(ParseNumber(entry, 0, 255, what + " entry"));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return table;
}

Json StatusJson(const ReelStatusEx& status) {
  Json reels = Json::Array();
  for (int reel = 0; reel < 3; ++reel)
    reels.Push(Json::Object()
                   .Add("reel", reel)
                   .Add("position", int(status.position[reel]))
                   .Add("error", int(status.error[reel]))
                   .Add("busy", int(status.busy[reel]))
                   .Add("sync", int(status.sync[reel])));
  return reels;
}

std::string StatusLine(const ReelStatusEx& status, int reel) {
  return "reel " + std::to_string(reel) + ": position " + std::to_string(status.position[reel]) +
         "  error " + std::to_string(status.error[reel]) + "  busy " +
         std::to_string(status.busy[reel]) + "  sync " + std::to_string(status.sync[reel]);
}

bool operator!=(const ReelStatusEx& a, const ReelStatusEx& b) {
  for (int reel = 0; reel < 3; ++reel)
    if (a.position[reel] != b.position[reel] || a.error[reel] != b.error[reel] ||
        a.busy[reel] != b.busy[reel] || a.sync[reel] != b.sync[reel])
      return true;
  return false;
}

}  // namespace

int RunReels(Invocation& invocation, const Args& args) {
  WatchLimits limits;
  int third = 0, direction = 1;
  bool sync = false;
  std::optional<usbRampTable> rampUp, rampDown;
  auto options = WatchLimits::Options();
  options.push_back({"third", required_argument, nullptr, '3'});
  options.push_back({"ramp-up", required_argument, nullptr, 'u'});
  options.push_back({"ramp-down", required_argument, nullptr, 'd'});
  options.push_back({"sync", no_argument, nullptr, 's'});
  options.push_back({"direction", required_argument, nullptr, 'D'});
  const ParsedArgs parsed =
      ParseOptions(args, "reels", options, kHelp, [&](int code, const char* value) {
        if (limits.Handle(code, value)) return;
        if (code == '3') third = static_cast<int>(ParseNumber(value, 0, 255, "--third"));
        if (code == 'u') rampUp = ParseRamp(value, "--ramp-up");
        if (code == 'd') rampDown = ParseRamp(value, "--ramp-down");
        if (code == 's') sync = true;
        if (code == 'D') {
          direction = static_cast<int>(ParseNumber(value, -2, 2, "--direction"));
          if (direction == 0) throw UsageError("--direction is -2, -1, 1 or 2");
        }
      });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.empty()) throw UsageError("reels needs configure, spin or status");
  const std::string& action = words[0];
  if (action != "status" && (limits.watch || limits.count || limits.timeout))
    throw UsageError("--watch, --count and --timeout go with reels status");
  if ((limits.count || limits.timeout) && !limits.watch)
    throw UsageError("--count and --timeout go with --watch");

  if (action == "configure") {
    if (words.size() != 3) throw UsageError("reels configure takes REELS STEPS");
    const auto reels = static_cast<int>(ParseNumber(words[1], 1, 3, "REELS"));
    const auto steps = static_cast<unsigned short>(ParseNumber(words[2], 0, 65535, "STEPS"));
    VantrelUSB& board = invocation.Board();
    invocation.Check(board.ConfigureReelsEx(static_cast<unsigned char>(reels), steps,
                                            static_cast<unsigned char>(third)),
                     "ConfigureReelsEx");
    for (int reel = 0; reel < reels; ++reel) {
      const auto r = static_cast<unsigned char>(reel);
      if (rampUp) invocation.Check(board.SpinRampUp(r, *rampUp), "SpinRampUp");
      if (rampDown) invocation.Check(board.SpinRampDown(r, *rampDown), "SpinRampDown");
      if (sync) invocation.Check(board.ReelSynchroniseEnable(r), "ReelSynchroniseEnable");
    }
  } else if (action == "spin") {
    if (words.size() != 3) throw UsageError("reels spin takes REEL STEPS");
    const auto reel = static_cast<unsigned char>(ParseNumber(words[1], 0, 2, "REEL"));
    const auto steps = static_cast<unsigned short>(ParseNumber(words[2], 0, 65535, "STEPS"));
    invocation.Check(
        invocation.Board().SpinReels(reel, static_cast<unsigned char>(direction), steps),
        "SpinReels");
  } else if (action == "status") {
    if (words.size() != 1) throw UsageError("reels status takes no arguments");
    VantrelUSB& board = invocation.Board();
    ReelStatusEx last{};
    invocation.Check(board.GetReelStatusEx(&last), "GetReelStatusEx");
    if (!limits.watch) {
      if (invocation.json)
        PrintLine(Json::Object().Add("reels", StatusJson(last)).Text());
      else
        for (int reel = 0; reel < 3; ++reel) PrintLine(StatusLine(last, reel));
      return kExitOk;
    }
    return RunWatch(limits, 50, [&]() {
      ReelStatusEx now{};
      invocation.Check(board.GetReelStatusEx(&now), "GetReelStatusEx");
      if (!(now != last)) return 0;
      const std::int64_t time = MonotonicMs();
      if (invocation.json) {
        PrintLine(Json::Object().Add("time_ms", time).Add("reels", StatusJson(now)).Text());
      } else {
        std::string line = std::to_string(time) + " ms";
        for (int reel = 0; reel < 3; ++reel)
          line += "  reel " + std::to_string(reel) + " " + std::to_string(now.position[reel]) +
                  "/" + std::to_string(now.error[reel]) + "/" + std::to_string(now.busy[reel]) +
                  "/" + std::to_string(now.sync[reel]);
        PrintLine(line + "  (position/error/busy/sync)");
      }
      last = now;
      return 1;
    });
  } else {
    throw UsageError("unknown reels action '" + action + "'");
  }
  PrintLine(invocation.json ? Json::Object().Add("done", true).Text() : "done");
  return kExitOk;
}

}  // namespace vantrel::ctl
