#include "SimCtlCommandLine.h"

#include <getopt.h>

#include "k27/common/OptionText.h"

namespace vantrel::simctl {
namespace {

enum Code : int { kHelp = 'h', kDeviceDir = 256, kBoard, kVersion };

const option kOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"device-dir", required_argument, nullptr, kDeviceDir},
    {"board", required_argument, nullptr, kBoard},
    {nullptr, 0, nullptr, 0},
};

std::string NameOf(int code) { return vantrel::common::OptionName(kOptions, code); }

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
    if (code == '?' || code == ':')
      return Refuse(std::move(line), vantrel::common::OptionRefusal(kOptions, code, argv));
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

}  // namespace vantrel::simctl
