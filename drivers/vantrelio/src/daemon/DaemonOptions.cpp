#include "daemon/DaemonOptions.h"

#include <getopt.h>

#include "k27/common/OptionText.h"

#include <chrono>
#include <string_view>

namespace vantrel::driver {
namespace {

constexpr const char* kUsage =
    "Usage: vantrelio [OPTIONS]\n"
    "       vantrelio --simulate [OPTIONS]\n"
    "       vantrelio --help | --version\n"
    "\n"
    "The K27 driver daemon: owns every K27 board on the USB, loads the firmware\n"
    "into each bare EZ-USB part that arrives, and serves each board's control\n"
    "requests on the socket ezusb-N (N = 0 to 7, the lowest free at arrival) in\n"
    "the device folder, for any number of clients.\n"
    "With --simulate, k27simctl drives the simulated boards through the socket\n"
    "k27sim-control in the same folder; board N reads N on dip switches 0-2.\n"
    "\n"
    "Options:\n"
    "  --simulate           serve simulated boards (real time) instead of the USB\n"
    "  --device-dir DIR     folder of the sockets (default: $VANTREL_DEVICE_DIR,\n"
    "                       else /run/vantrel); created when missing\n"
    "  --boards N           number of simulated boards, 1 to 8 (default 1)\n"
    "  --iso-devices N      with --simulate, also N simulated isochronous devices,\n"
    "                       0 to 7 (default 0): served after the boards, with an\n"
    "                       isochronous IN pipe 0 (counting pattern, 256-byte\n"
    "                       packets, one per 1 ms frame) and OUT pipe 1 (a sink)\n"
    "  --eeprom-bytes N     EEPROM capacity of each simulated board, a power of two\n"
    "                       from 128 to 65536 (default 32768)\n"
    "  --trace FILE         append one line per bulk exchange to FILE:\n"
    "                       ezusb-N ch=C out=HEX in=HEX\n"
    "  --capture FILE       write every USB transfer to FILE in the usbmon pcap\n"
    "                       format (Wireshark, tshark -r FILE)\n"
    "  --group NAME         group whose members may use the boards: it owns the\n"
    "                       sockets (0660) and a device folder the daemon creates\n"
    "                       (0770); default vantrel, or with --simulate the\n"
    "                       daemon's own group\n"
    "  --user NAME          started as root: become NAME (with its groups and the\n"
    "                       board group) once the device folder, the trace and\n"
    "                       the capture are open. Started by systemd as root,\n"
    "                       the daemon refuses to serve without it\n"
    "  --admin-group NAME   group whose members may also use the maintenance codes\n"
    "                       (raw pipe reads and writes, vendor and control\n"
    "                       requests, 8051 memory downloads, pipe and port\n"
    "                       resets, isochronous transfers), which are otherwise\n"
    "                       for root and the daemon's own user; the board group\n"
    "                       gets the board protocol only (interface selection,\n"
    "                       bulk exchanges, descriptors, versions, the pipe\n"
    "                       table) and STATUS_ACCESS_DENIED (0xC0000022) for the\n"
    "                       rest. Default: none\n"
    "  --verbose            report connections (with the client's pid and uid) and\n"
    "                       exchanges on standard error\n"
    "  --quiet              write only errors and warnings on standard error\n"
    "  --max-connections-per-board N\n"
    "                       connections each board serves at once (default 64;\n"
    "                       0: no limit)\n"
    "  --max-connections-per-user N\n"
    "                       connections each client user holds at once across\n"
    "                       all boards (default 256; 0: no limit). A connection\n"
    "                       over a limit is closed after one reply that names\n"
    "                       the limit: 0xC000011F (STATUS_TOO_MANY_OPENED_FILES)\n"
    "                       for the board's, 0xC0000044 (STATUS_QUOTA_EXCEEDED)\n"
    "                       for the user's, with the limit as the information.\n"
    "                       The first refusal of each kind is logged, then a\n"
    "                       count every 10 s while they go on\n"
    "  --max-connections-per-user-per-board N\n"
    "                       connections each client user holds at once on one\n"
    "                       board (default three quarters of the board's limit:\n"
    "                       48 of 64, so that one user's idle connections leave\n"
    "                       16 for everybody else; 0: no limit). One over it is\n"
    "                       refused with 0xC00000CE (STATUS_TOO_MANY_SESSIONS),\n"
    "                       the limit as the information\n"
    "  --poll SECONDS       also look at the bus every SECONDS (1 to 3600), for\n"
    "                       machines where USB hotplug events never come (such as\n"
    "                       containers without udev); without it the daemon\n"
    "                       looks every second only when hotplug is unavailable\n"
    "  --help               show this text and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "A firmware load that fails is logged as an error and tried again after 2, 4\n"
    "and 8 s; each request of a load has 5 s. On SIGHUP the daemon looks at the\n"
    "bus again and tries again every load that failed, without a replug. Stops on\n"
    "SIGINT or SIGTERM and removes its sockets. Exit status: 0 after a clean\n"
    "stop, 1 when serving fails, 2 for a usage error.\n";

// Long options without a short form get codes past every character.
enum Code : int {
  kHelp = 'h',
  kSimulate = 256,
  kVerbose,
  kQuiet,
  kUnlockedExchanges,
  kGroup,
  kAdminGroup,
  kUser,
  kNoImplicitAdmins,
  kDeviceDir,
  kTrace,
  kCapture,
  kBoards,
  kIsoDevices,
  kEepromBytes,
  kConnectionsPerBoard,
  kConnectionsPerUser,
  kConnectionsPerUserPerBoard,
  kPoll,
  kLoadRequestLimit,
  kLoadRetries,
  kLoadBackoff,
  kBoardWait,
  kExternalTestRecords,
  kVersion,
};

const option kOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"simulate", no_argument, nullptr, kSimulate},
    {"verbose", no_argument, nullptr, kVerbose},
    {"quiet", no_argument, nullptr, kQuiet},
    // Not in the help: only the test that shows what the locks prevent.
    {"unlocked-exchanges", no_argument, nullptr, kUnlockedExchanges},
    {"group", required_argument, nullptr, kGroup},
    {"admin-group", required_argument, nullptr, kAdminGroup},
    {"user", required_argument, nullptr, kUser},
    // Not in the help: only the tests that must be ordinary clients of a
    // daemon they run as their own user.
    {"no-implicit-admins", no_argument, nullptr, kNoImplicitAdmins},
    {"device-dir", required_argument, nullptr, kDeviceDir},
    {"trace", required_argument, nullptr, kTrace},
    {"capture", required_argument, nullptr, kCapture},
    {"boards", required_argument, nullptr, kBoards},
    {"iso-devices", required_argument, nullptr, kIsoDevices},
    {"eeprom-bytes", required_argument, nullptr, kEepromBytes},
    {"max-connections-per-board", required_argument, nullptr, kConnectionsPerBoard},
    {"max-connections-per-user", required_argument, nullptr, kConnectionsPerUser},
    {"max-connections-per-user-per-board", required_argument, nullptr, kConnectionsPerUserPerBoard},
    {"poll", required_argument, nullptr, kPoll},
    // Not in the help: the tests' shorter firmware-load limits (in ms), and
    // stand-in records that make the load's external-memory pass run.
    {"load-request-limit-ms", required_argument, nullptr, kLoadRequestLimit},
    {"load-retries", required_argument, nullptr, kLoadRetries},
    {"load-backoff-ms", required_argument, nullptr, kLoadBackoff},
    {"board-wait-ms", required_argument, nullptr, kBoardWait},
    {"external-test-records", no_argument, nullptr, kExternalTestRecords},
    {nullptr, 0, nullptr, 0},
};

struct UsageError {
  std::string message;
};

std::string NameOf(int code) {
  if (code == kHelp) return "--help";
  return vantrel::common::OptionName(kOptions, code);
}

unsigned ParseNumber(int code, const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
    throw UsageError{NameOf(code) + " needs a decimal number, not '" + text + "'"};
  return static_cast<unsigned>(std::stoul(text));
}

// A time limit of 1 ms to 10 minutes.
std::chrono::milliseconds Milliseconds(int code, const std::string& text) {
  const unsigned ms = ParseNumber(code, text);
  if (ms < 1 || ms > 600000)
    throw UsageError{NameOf(code) + " must be 1 to 600000 ms, not " + std::to_string(ms)};
  return std::chrono::milliseconds(ms);
}

std::string NonEmpty(int code, const char* value, std::string_view what) {
  if (value == nullptr || *value == '\0')
    throw UsageError{NameOf(code) + " needs " + std::string(what)};
  return value;
}

void Apply(int code, const char* value, CommandLine& line) {
  DaemonOptions& o = line.options;
  switch (code) {
    case kHelp:
      line.action = CommandLine::Action::ShowHelp;
      break;
    case kVersion:
      if (line.action != CommandLine::Action::ShowHelp)
        line.action = CommandLine::Action::ShowVersion;
      break;
    case kSimulate:
      o.simulate = true;
      break;
    case kVerbose:
      o.verbose = true;
      break;
    case kQuiet:
      o.quiet = true;
      break;
    case kUnlockedExchanges:
      o.exchangeLocks = false;
      break;
    case kGroup:
      o.group = NonEmpty(code, value, "a group name");
      break;
    case kAdminGroup:
      o.adminGroup = NonEmpty(code, value, "a group name");
      break;
    case kUser:
      o.user = NonEmpty(code, value, "a user name");
      break;
    case kNoImplicitAdmins:
      o.implicitAdmins = false;
      break;
    case kDeviceDir:
      o.deviceDir = NonEmpty(code, value, "a folder");
      break;
    case kTrace:
      o.tracePath = NonEmpty(code, value, "a file name");
      break;
    case kCapture:
      o.capturePath = NonEmpty(code, value, "a file name");
      break;
    case kBoards:
      o.boards = ParseNumber(code, value);
      if (o.boards < 1 || o.boards > 8)
        throw UsageError{"--boards must be 1 to 8, not " + std::to_string(o.boards)};
      break;
    case kIsoDevices:
      o.isoDevices = ParseNumber(code, value);
      if (o.isoDevices > 7)
        throw UsageError{"--iso-devices must be 0 to 7, not " + std::to_string(o.isoDevices)};
      break;
    case kEepromBytes: {
      const unsigned n = ParseNumber(code, value);
      if (n < 128 || n > 65536 || (n & (n - 1)) != 0)
        throw UsageError{"--eeprom-bytes must be a power of two from 128 to 65536, not " +
                         std::to_string(n)};
      o.eepromBytes = n;
      break;
    }
    case kConnectionsPerBoard:
      o.connectionsPerBoard = ParseNumber(code, value);
      break;
    case kConnectionsPerUser:
      o.connectionsPerUser = ParseNumber(code, value);
      break;
    case kConnectionsPerUserPerBoard:
      o.connectionsPerUserPerBoard = ParseNumber(code, value);
      break;
    case kPoll:
      o.pollSeconds = ParseNumber(code, value);
      if (o.pollSeconds < 1 || o.pollSeconds > 3600)
        throw UsageError{"--poll must be 1 to 3600 seconds, not " + std::to_string(o.pollSeconds)};
      break;
    case kLoadRequestLimit:
      o.loads.requestTimeLimit = Milliseconds(code, value);
      break;
    case kLoadRetries:
      o.loads.retries = ParseNumber(code, value);
      if (o.loads.retries > 10)
        throw UsageError{"--load-retries must be 0 to 10, not " + std::to_string(o.loads.retries)};
      break;
    case kLoadBackoff:
      o.loads.backoff = Milliseconds(code, value);
      break;
    case kBoardWait:
      o.loads.boardWait = Milliseconds(code, value);
      break;
    case kExternalTestRecords:
      o.externalTestRecords = true;
      break;
    default:
      throw UsageError{"unknown option '" + NameOf(code) + "'"};
  }
}

}  // namespace

unsigned ConnectionsPerUserPerBoard(const DaemonOptions& options) {
  if (options.connectionsPerUserPerBoard) return *options.connectionsPerUserPerBoard;
  return static_cast<unsigned>(UserShareOfBoard(options.connectionsPerBoard));
}

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  // From the start, with getopt's own messages off: the refusals are ours.
  optind = 0;
  opterr = 0;
  try {
    for (;;) {
      // '+': stop at the first argument that is not an option; ':': a
      // missing value is told apart from an unknown option.
      const int code = getopt_long(argc, argv, "+:h", kOptions, nullptr);
      if (code == -1) break;
      if (code == '?' || code == ':')
        throw UsageError{vantrel::common::OptionRefusal(kOptions, code, argv)};
      Apply(code, optarg, line);
    }
    if (optind < argc) throw UsageError{"unexpected argument '" + std::string(argv[optind]) + "'"};
    if (line.options.boards + line.options.isoDevices > 8)
      throw UsageError{"--boards and --iso-devices together must be at most 8"};
    if (line.options.simulate && line.options.pollSeconds != 0)
      throw UsageError{"--poll looks at the USB; a --simulate daemon has none"};
  } catch (const UsageError& e) {
    line.action = CommandLine::Action::Refuse;
    line.error = e.message;
  }
  return line;
}

std::optional<int> AnswerCommandLine(const CommandLine& line, std::ostream& out,
                                     std::ostream& err) {
  switch (line.action) {
    case CommandLine::Action::Serve:
      return std::nullopt;
    case CommandLine::Action::ShowHelp:
      out << kUsage;
      return 0;
    case CommandLine::Action::ShowVersion:
      out << "vantrelio " << VANTRELIO_VERSION << "\n";
      return 0;
    case CommandLine::Action::Refuse:
      break;
  }
  err << "vantrelio: " << line.error << "\nTry 'vantrelio --help'.\n";
  return kUsageError;
}

}  // namespace vantrel::driver
