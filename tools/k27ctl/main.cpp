// k27ctl: every board function from a shell script.
#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"

namespace {

using namespace k27ctl;

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
    {"cctalk", RunCctalk, "one ccTalk transaction, scan, or poll"},
};

void PrintUsage(std::FILE* to) {
  std::fputs(
      "usage: k27ctl [--board N | --address A | --serial S] [--json] COMMAND [ARGS]\n"
      "       k27ctl COMMAND --help\n\n"
      "Every board function from a shell script. Board N is the socket ezusb-N in\n"
      "$VANTREL_DEVICE_DIR (default /run/vantrel), served by vantrelio.\n\n"
      "Options:\n"
      "  --board N     the board instance, 0-7 (default 0)\n"
      "  --address A   the first board whose address switches (dips 0-2) read A, 0-7\n"
      "  --serial S    the board with PIC serial number S: its text (K2700001) or\n"
      "                16 hex digits, as k27ctl list shows it\n"
      "  --json        one JSON object per result on standard output (keys in each\n"
      "                command's --help)\n"
      "  --help        this text\n\n"
      "Commands:\n",
      to);
  for (const auto& command : kCommands)
    std::fprintf(to, "  %-10s %s\n", command.name, command.summary);
  std::fputs(
      "\nNumbers are decimal or 0x hex.\n"
      "Exit status: 0 success; 1 failure (a board error is named on standard error,\n"
      "as USB_DEVICE_BYTE_COUNT_ERROR); 2 usage error (nothing was sent to the board).\n",
      to);
}

// Long only: no short letter to clash with.
constexpr int kSerialOption = 0x100;

int Usage(const std::string& message) {
  std::fprintf(stderr, "k27ctl: %s (see k27ctl --help)\n", message.c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  Invocation invocation;
  static const option kOptions[] = {
      {"board", required_argument, nullptr, 'b'},
      {"address", required_argument, nullptr, 'a'},
      {"serial", required_argument, nullptr, kSerialOption},
      {"json", no_argument, nullptr, 'j'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  try {
    for (;;) {
      // '+': the options end at the command's name.
      const int code = getopt_long(argc, argv, "+:h", kOptions, nullptr);
      if (code == -1) break;
      const std::string word = optind >= 1 && optind <= argc ? argv[optind - 1] : "";
      switch (code) {
        case 'b':
          invocation.boardIndex = static_cast<int>(ParseNumber(optarg, 0, 7, "--board"));
          break;
        case 'a':
          invocation.boardAddress = static_cast<int>(ParseNumber(optarg, 0, 7, "--address"));
          break;
        case kSerialOption:
          invocation.boardSerial = ParseSerialNumber(optarg);
          break;
        case 'j':
          invocation.json = true;
          break;
        case 'h':
          PrintUsage(stdout);
          return kExitOk;
        case ':':
          return Usage("option '" + word + "' needs a value");
        default:
          return Usage("unknown option '" + word + "'");
      }
    }
    if (int(invocation.boardIndex.has_value()) + int(invocation.boardAddress.has_value()) +
            int(invocation.boardSerial.has_value()) >
        1)
      return Usage("--board, --address and --serial exclude each other");
    if (optind >= argc) return Usage("no command given");
    const std::string name = argv[optind];
    const Args args(argv + optind + 1, argv + argc);
    for (const auto& command : kCommands)
      if (name == command.name) return command.run(invocation, args);
    return Usage("unknown command '" + name + "'");
  } catch (const UsageError& error) {
    return Usage(error.what());
  } catch (const Failure& error) {
    std::fprintf(stderr, "k27ctl: %s\n", error.what());
    return kExitFailure;
  }
}
