// k27ctl: every board function from a shell script.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "ErrorReport.h"
#include "GlobalOptions.h"

namespace {

using namespace vantrel::ctl;

struct Command {
  const char* name;
  int (*run)(Invocation&, const Args&);
  const char* summary;
};

constexpr Command kCommands[] = {
    {"list", RunList, "the boards present: instance, address, versions, serial number, EEPROM"},
    {"inputs", RunInputs, "read the inputs once, or --watch them for changes"},
    {"wait-input", RunWaitInput, "wait until an input reads a value, --within a time"},
    {"dips", RunDips, "read the dip switches and the board address"},
    {"hoppers", RunHoppers, "parallel hopper status, and coin payout"},
    {"outputs", RunOutputs, "get|set HEX|on N...|off N...|brightness 0-10"},
    {"lamp-test", RunLampTest, "walk every lamp and aux output, then restore the pattern"},
    {"reels", RunReels, "configure|spin|status [--watch]"},
    {"eeprom", RunEeprom, "read|dump|load|compare the EEPROM"},
    {"sram", RunSram, "read|dump|load|compare the SRAM"},
    {"clock", RunClock, "get|set the real-time clock"},
    {"security", RunSecurity, "read|flags|clear the security switches"},
    {"random", RunRandom, "random numbers from the board's generator"},
    {"spi", RunSpi, "enable|disable|transfer|sec on the SPI link"},
    {"serial", RunSerial, "PORT config|send|receive on serial port A or B"},
    {"cctalk", RunCcTalk, "one ccTalk transaction, scan, or poll"},
};

constexpr char kUsageHead[] =
    "usage: k27ctl [OPTIONS] COMMAND [ARGS] [OPTIONS]\n"
    "       k27ctl COMMAND --help\n"
    "       k27ctl --help | --version\n\n"
    "Every board function from a shell script. Board N is the socket ezusb-N in\n"
    "$VANTREL_DEVICE_DIR (default /run/vantrel), served by vantrelio.\n\n"
    "Options (anywhere on the line; after a command that has an option of the\n"
    "same name, such as inputs --timeout, that one is the command's):\n"
    "  -b, --board N         the board instance, 0-7 (default 0)\n"
    "      --address A       the first board whose address switches (dips 0-2)\n"
    "                        read A, 0-7\n"
    "      --serial S        the board with PIC serial number S: its text\n"
    "                        (K2700001) or 16 hex digits, as k27ctl list shows it\n"
    "  -j, --json            one JSON object per result on standard output (keys\n"
    "                        in each command's --help); a failure is\n"
    "                        {\"error\":{\"code\":N|null,\"name\":NAME,\"message\":TEXT}}\n"
    "  -t, --timeout SECONDS how long to wait for the daemon to answer (default\n"
    "                        15, or $VANTREL_REPLY_TIMEOUT_MS); -t and\n"
    "                        --reply-timeout are this option after any command\n"
    "  -h, --help            this text\n"
    "  -V, --version         the version\n\n"
    "Commands:\n";

constexpr char kUsageTail[] =
    "\nNumbers are decimal or 0x hex. FILE - is standard input or output.\n\n"
    "Exit status:\n"
    "  0  success; also a watch or receive that ran until its --timeout without\n"
    "     a --count, or until SIGINT or SIGTERM\n"
    "  1  failure: the board or a device on it (the error is named on standard\n"
    "     error, as USB_DEVICE_BYTE_COUNT_ERROR), no daemon, no permission, no\n"
    "     answer, a check that found a difference, a --count not reached within\n"
    "     --timeout, a file that cannot be read or written, or standard output\n"
    "     that cannot be written\n"
    "  2  usage: a bad command line or the contents of an input file are\n"
    "     invalid; nothing was sent to the board\n";

void PrintUsage() {
  std::string text = kUsageHead;
  for (const auto& command : kCommands) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-10s %s\n", command.name, command.summary);
    text += line;
  }
  text += kUsageTail;
  PrintBytes(text.data(), text.size());
}

// The options before the command; the index of the command, or -1 when
// --help or --version has been answered.
int ParseLeadingOptions(Invocation& invocation, std::vector<std::string>& words) {
  enum : int { kHelp = 'h', kVersion = 'V' };
  std::vector<option> options = GlobalOptionTable();
  options.push_back({"help", no_argument, nullptr, kHelp});
  options.push_back({"version", no_argument, nullptr, kVersion});
  const std::vector<std::string> given(words.begin() + 1, words.end());
  const auto spelled = SpellShortOptionsLong(given, options);
  words.resize(1);
  words.insert(words.end(), spelled.begin(), spelled.end());
  options.push_back({nullptr, 0, nullptr, 0});
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int count = static_cast<int>(words.size());
  optind = 0;
  opterr = 0;
  for (;;) {
    // '+': these options end at the command's name.
    const int code = getopt_long(count, argv.data(), "+:hV", options.data(), nullptr);
    if (code == -1) break;
    const std::string word = code == '?' && optopt != 0       ? std::string("-") + char(optopt)
                             : optind >= 1 && optind <= count ? words[std::size_t(optind - 1)]
                                                              : "";
    if (code == kHelp) {
      PrintUsage();
      return -1;
    }
    if (code == kVersion) {
      PrintLine(std::string("k27ctl ") + K27CTL_VERSION);
      return -1;
    }
    if (code == ':') throw UsageError("option '" + word + "' needs a value");
    if (code == '?' || !ApplyGlobalOption(invocation, code, optarg))
      throw UsageError("unknown option '" + word + "'");
  }
  return optind;
}

// A failure report in JSON belongs to a --json anywhere on the line, even
// when the line failed before getopt reached it.
bool AsksForJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") return false;
    if (word == "--json" || word == "-j") return true;
  }
  return false;
}

int Run(Invocation& invocation, int argc, char** argv) {
  std::vector<std::string> words(argv, argv + argc);
  const int at = ParseLeadingOptions(invocation, words);
  if (at < 0) return kExitOk;
  invocation.CheckOptions();
  if (at >= static_cast<int>(words.size())) throw UsageError("no command given");
  const std::string& name = words[std::size_t(at)];
  const Args args(words.begin() + at + 1, words.end());
  for (const auto& command : kCommands)
    if (name == command.name) return command.run(invocation, args);
  throw UsageError("unknown command '" + name + "'");
}

// Before any initialiser of the libraries runs: they open shared memory,
// which must not land on a closed descriptor 0-2.
void GuardAtLoad(int, char**, char**) { GuardStandardStreams(); }
__attribute__((section(".preinit_array"), used)) void (*const kGuardAtLoad)(int, char**,
                                                                            char**) = GuardAtLoad;

}  // namespace

int main(int argc, char** argv) {
  Invocation invocation;
  BindGlobalOptions(invocation);
  int status = kExitOk;
  try {
    status = Run(invocation, argc, argv);
  } catch (const UsageError& error) {
    status = ReportUsageError(invocation.json || AsksForJson(argc, argv), error.what());
  } catch (const Failure& error) {
    status = ReportFailure(invocation.json, error);
  }
  try {
    FinishStandardOutput();
  } catch (const OutputFailure& error) {
    // A result that never reached its reader is no success.
    std::fprintf(stderr, "k27ctl: %s\n", error.what());
    if (status == kExitOk) status = kExitFailure;
  }
  return status;
}
