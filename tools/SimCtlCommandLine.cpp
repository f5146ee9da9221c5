#include "SimCtlCommandLine.h"

#include <getopt.h>

namespace k27::simctl {
namespace {

enum Code : int { kHelp = 'h', kDeviceDir = 256, kBoard, kVersion };

const option kOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"device-dir", required_argument, nullptr, kDeviceDir},
    {"board", required_argument, nullptr, kBoard},
    {nullptr, 0, nullptr, 0},
};

std::string NameOf(int code) {
  for (const option& o : kOptions)
    if (o.name != nullptr && o.val == code) return std::string("--") + o.name;
  return "-" + std::string(1, static_cast<char>(code));
}

// What getopt_long refused: argv[optind - 1] for an unknown long option,
// optopt for a short one or a known option used wrongly.
std::string Refusal(int result, char** argv) {
  if (result == ':') return NameOf(optopt) + " needs a value";
  if (optopt != 0) {
    for (const option& o : kOptions)
      if (o.name != nullptr && o.val == optopt) return NameOf(optopt) + " takes no value";
    return "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'";
  }
  return "unknown option '" + std::string(argv[optind - 1]) + "'";
}

SimCtlCommandLine Refuse(SimCtlCommandLine line, std::string error) {
  line.action = SimCtlCommandLine::Action::Refuse;
  line.error = std::move(error);
  return line;
}

}  // namespace

SimCtlCommandLine ParseSimCtlCommandLine(int argc, char** argv, std::string deviceDir) {
  SimCtlCommandLine line;
  line.deviceDir = std::move(deviceDir);
  // From the start, with getopt's own messages off: the refusals are ours.
  optind = 0;
  opterr = 0;
  for (;;) {
    // '+': the options end at the first command word.
    const int code = getopt_long(argc, argv, "+:h", kOptions, nullptr);
    if (code == -1) break;
    if (code == '?' || code == ':') return Refuse(std::move(line), Refusal(code, argv));
    switch (code) {
      case kHelp:
        // The help is given as soon as it is asked for, as it always was.
        line.action = SimCtlCommandLine::Action::ShowHelp;
        return line;
      case kVersion:
        line.action = SimCtlCommandLine::Action::ShowVersion;
        return line;
      case kDeviceDir:
        line.deviceDir = optarg;
        break;
      case kBoard: {
        const std::string value = optarg;
        if (value.empty() || value.size() > 2 ||
            value.find_first_not_of("0123456789") != std::string::npos)
          return Refuse(std::move(line), "--board needs a board number");
        line.board = value;
        break;
      }
      default:
        return Refuse(std::move(line), "unknown option '" + NameOf(code) + "'");
    }
  }
  for (int i = optind; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.find('\n') != std::string::npos)
      return Refuse(std::move(line), "arguments cannot hold line breaks");
    line.words.push_back(word);
  }
  if (line.words.empty()) return Refuse(std::move(line), "no command given");
  return line;
}

}  // namespace k27::simctl
