#include "GlobalOptions.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Cli.h"

namespace vantrel::ctl {

namespace {

// Above every code a command uses for its own options.
enum Code : int {
  kBoard = 0x1000,
  kAddress,
  kSerial,
  kJson,
  kTimeout,
  kReplyTimeout,
};

const option kGlobal[] = {
    {"board", required_argument, nullptr, kBoard},
    {"address", required_argument, nullptr, kAddress},
    {"serial", required_argument, nullptr, kSerial},
    {"json", no_argument, nullptr, kJson},
    {"timeout", required_argument, nullptr, kTimeout},
    {"reply-timeout", required_argument, nullptr, kReplyTimeout},
};

struct ShortForm {
  char letter;
  const char* longName;
  bool takesValue;
};
constexpr ShortForm kShort[] = {
    {'j', "--json", false},
    {'b', "--board", true},
    {'t', "--reply-timeout", true},
};

Invocation* bound = nullptr;

// True when `word` is a long option of `table` that takes the next word as
// its value.
bool TakesNextWord(const std::string& word, const std::vector<option>& table) {
  if (word.rfind("--", 0) != 0 || word.find('=') != std::string::npos) return false;
  const std::string name = word.substr(2);
  for (const auto& entry : table)
    if (entry.name != nullptr && name == entry.name) return entry.has_arg == required_argument;
  return false;
}

}  // namespace

std::vector<option> GlobalOptionTable(const std::vector<option>& commandOptions) {
  std::vector<option> table;
  for (const auto& global : kGlobal) {
    bool taken = false;
    for (const auto& own : commandOptions)
      taken = taken || (own.name != nullptr && std::strcmp(own.name, global.name) == 0);
    if (!taken) table.push_back(global);
  }
  return table;
}

std::vector<std::string> SpellShortOptionsLong(const std::vector<std::string>& words,
                                               const std::vector<option>& table) {
  std::vector<std::string> out;
  bool valueNext = false, ended = false;
  for (const auto& word : words) {
    const bool plain = ended || valueNext || word == "--" || word.size() < 2 || word[0] != '-';
    if (plain || word[1] == '-') {
      if (!ended && !valueNext && word == "--") ended = true;
      valueNext = !plain && TakesNextWord(word, table);
      out.push_back(word);
      continue;
    }
    // A cluster of global short options, such as -jb1 or -jt 2; any other
    // letter leaves the word to getopt, which names it.
    std::vector<std::string> spelled;
    bool known = true, wantsValue = false;
    for (std::size_t i = 1; i < word.size() && known; ++i) {
      const ShortForm* form = nullptr;
      for (const auto& candidate : kShort)
        if (word[i] == candidate.letter) form = &candidate;
      known = form != nullptr;
      if (!known) break;
      if (!form->takesValue) {
        spelled.push_back(form->longName);
      } else if (i + 1 < word.size()) {
        spelled.push_back(std::string(form->longName) + "=" + word.substr(i + 1));
        break;
      } else {
        spelled.push_back(form->longName);
        wantsValue = true;
      }
    }
    if (!known) {
      out.push_back(word);
      continue;
    }
    out.insert(out.end(), spelled.begin(), spelled.end());
    valueNext = wantsValue;
  }
  return out;
}

bool ApplyGlobalOption(Invocation& invocation, int code, const char* value) {
  switch (code) {
    case kBoard:
      invocation.boardIndex = static_cast<int>(ParseNumber(value, 0, 7, "--board"));
      return true;
    case kAddress:
      invocation.boardAddress = static_cast<int>(ParseNumber(value, 0, 7, "--address"));
      return true;
    case kSerial:
      invocation.boardSerial = ParseSerialNumber(value);
      return true;
    case kJson:
      invocation.json = true;
      return true;
    case kTimeout:
    case kReplyTimeout: {
      const double seconds = ParseSeconds(value, 3600, "--timeout");
      if (seconds < 0.001)
        throw UsageError("--timeout must be above 0, not '" + std::string(value) + "'");
      invocation.replyTimeoutMs = static_cast<int>(std::lround(seconds * 1000));
      // The library reads its reply wait from the environment at each connection.
      ::setenv("VANTREL_REPLY_TIMEOUT_MS", std::to_string(*invocation.replyTimeoutMs).c_str(), 1);
      return true;
    }
    default:
      return false;
  }
}

void BindGlobalOptions(Invocation& invocation) { bound = &invocation; }
Invocation* BoundInvocation() { return bound; }

}  // namespace vantrel::ctl
