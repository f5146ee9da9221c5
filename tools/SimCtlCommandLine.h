// k27simctl's command line: the options before the command, and the command
// words that go to the simulator's console unchanged.
#pragma once

#include <string>
#include <vector>

namespace vantrel::simctl {

inline constexpr int kUsageError = 2;

struct SimCtlCommandLine {
  enum class Action { Run, ShowHelp, ShowVersion, Refuse };
  Action action = Action::Run;
  std::string deviceDir;
  std::string board = "0";
  // The command and its arguments, each without a line break.
  std::vector<std::string> words;
  // Refuse only: what is wrong, in one line.
  std::string error;
};

// Reads the arguments after the program name; `deviceDir` is the folder used
// without --device-dir. Options end at the first command word, so that
// "COMMAND --help" reaches the console. Not reentrant (getopt_long).
SimCtlCommandLine ParseSimCtlCommandLine(int argc, char** argv, std::string deviceDir);

}  // namespace vantrel::simctl
