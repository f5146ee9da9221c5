// The simulator's command language, for driving and inspecting simulated
// boards from outside: tests, demos and technicians' dry runs.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::sim {

class SimBoard;
class CcTalkDevicePeer;

struct ConsoleReply {
  enum Status { kOk = 0, kFailed = 1, kUsage = 2 };
  int status = kOk;
  std::string text;  // what to print; ends with a newline when not empty
};

class SimConsole {
 public:
  // The boards are not owned and must outlive the console.
  explicit SimConsole(std::vector<SimBoard*> boards);
  ~SimConsole();

  // Runs one command (its words) on board `board`. Thread-safe.
  ConsoleReply Run(int board, const std::vector<std::string>& words);

  // What `unplug` and `plug` do to board N's place on the simulated bus;
  // false when it cannot (already out, already in). Without hooks the two
  // commands fail.
  struct PlugHooks {
    std::function<bool(int board)> unplug;
    std::function<bool(int board)> plug;
  };
  void SetPlugHooks(PlugHooks hooks);

 private:
  ConsoleReply Serial(SimBoard& board, int boardIndex, const std::vector<std::string>& words);

  std::vector<SimBoard*> boards_;
  PlugHooks plugHooks_;
  // ccTalk devices attached by `serial ... attach cctalk`, for `serial ... power`.
  std::map<std::pair<int, int>, std::shared_ptr<CcTalkDevicePeer>> ccTalk_;
};

}  // namespace vantrel::sim
