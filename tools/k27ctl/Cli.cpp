#include "Cli.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <k27/common/Hex.h>

#include "GlobalOptions.h"
#include "Reach.h"
#include "UsbErrorNames.h"

namespace vantrel::ctl {

namespace {

std::atomic<bool> interrupted{false};

void OnSignal(int) { interrupted = true; }

// The value of a digit of `base` (10 or 16); none for anything else.
std::optional<int> DigitOf(char c, int base) {
  const auto value = vantrel::common::HexDigitValue(c);
  if (!value || *value >= base) return std::nullopt;
  return *value;
}

}  // namespace

// ---- Board -----------------------------------------------------------------

std::string ErrorName(usbErrorCode code) {
  // The diagnostics program's table shows no name for 11; a script needs one.
  if (code == USB_MESSAGE_ILLEGAL_PORT) return "USB_MESSAGE_ILLEGAL_PORT";
  const std::string name = vantrel::diag::UsbErrorName(code);
  if (name != vantrel::diag::kUnknownErrorName) return name;
  return "USB_UNKNOWN_ERROR_" + std::to_string(static_cast<int>(code));
}

void Invocation::CheckOptions() const {
  if (int(boardIndex.has_value()) + int(boardAddress.has_value()) + int(boardSerial.has_value()) >
      1)
    throw UsageError("--board, --address and --serial exclude each other");
}

VantrelUSB& Invocation::FindBoard(const std::function<bool(VantrelUSB&)>& matches,
                                  const std::string& what) {
  // The board's own slot follows its instance, so that the records the
  // library shares per board (output images, EEPROM geometry) are its own.
  for (int instance = 0; instance < 8; ++instance) {
    if (board_.init(instance) && matches(board_)) {
      connected_ = true;
      instance_ = instance;
      return board_;
    }
    board_.close();
  }
  throw Failure("no board with " + what + " among boards 0-7 (see k27ctl list)");
}

VantrelUSB& Invocation::Board() {
  if (connected_) return board_;
  CheckOptions();
  if (boardAddress)
    return FindBoard(
        [&](VantrelUSB& board) {
          usbInput inputs{};
          return board.GetInputs(&inputs) && (inputs.input[3] & 0x07) == *boardAddress;
        },
        "address " + std::to_string(*boardAddress));
  if (boardSerial)
    return FindBoard(
        [&](VantrelUSB& board) {
          unsigned char serial[64]{};  // the getter copies the whole reply
          if (!board.GetPICSerialNumber(serial)) return false;
          std::size_t length = 0;
          while (length < 8 && serial[length] != 0) ++length;
          return *boardSerial == Hex(serial, 8) ||
                 *boardSerial == std::string(reinterpret_cast<const char*>(serial), length);
        },
        "serial number " + *boardSerial);
  instance_ = boardIndex.value_or(0);
  const std::int64_t start = MonotonicMs();
  if (!board_.init(instance_)) {
    const usbErrorCode code = board_.GetLastError();
    if (code == USB_MESSAGE_EXECUTION_SUCCESS)
      throw WhyUnreachable(instance_, MonotonicMs() - start);
    throw Failure("board " + std::to_string(instance_) + ": connection failed: " + ErrorName(code),
                  ErrorName(code), static_cast<int>(code));
  }
  connected_ = true;
  return board_;
}

void Invocation::BoardFailed(const std::string& what) {
  const usbErrorCode code = board_.GetLastError();
  throw Failure(what + ": " + ErrorName(code), ErrorName(code), static_cast<int>(code));
}

// ---- Parsing ---------------------------------------------------------------

std::int64_t ParseNumber(const std::string& text, std::int64_t low, std::int64_t high,
                         const std::string& what) {
  const std::string range = " (" + std::to_string(low) + " to " + std::to_string(high) + ")";
  std::string digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.erase(0, 1);
  }
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  const std::string notNumber = what + " must be a number" + range + ", not '" + text + "'";
  if (digits.empty()) throw UsageError(notNumber);
  for (const char c : digits)
    if (!DigitOf(c, base)) throw UsageError(notNumber);
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
  // Longer than this is beyond every range here, and would overflow.
  if (digits.size() > (base == 16 ? 15u : 18u))
    throw UsageError(what + " is out of range" + range + ": " + text);
  std::int64_t value = 0;
  for (const char c : digits) value = value * base + *DigitOf(c, base);
  if (negative) value = -value;
  if (value < low || value > high)
    throw UsageError(what + " is out of range" + range + ": " + text);
  return value;
}

std::vector<std::uint8_t> ParseHexBytes(const std::string& text, const std::string& what) {
  std::string digits;
  std::size_t start = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) start = 2;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == ':' || c == '-') continue;
    if (!vantrel::common::IsHexDigit(c))
      throw UsageError(what + " must be hex bytes, not '" + text + "'");
    digits += c;
  }
  if (digits.empty() || digits.size() % 2 != 0)
    throw UsageError(what + " must be whole hex bytes (two digits each), not '" + text + "'");
  return *vantrel::common::ParseHex(digits);
}

std::string ParseSerialNumber(const std::string& text) {
  bool hex = text.size() == 16;
  for (const char c : text) hex = hex && vantrel::common::IsHexDigit(c);
  if (hex) {
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
  }
  bool printable = !text.empty() && text.size() <= 8;
  for (const char c : text) printable = printable && c > 0x20 && c < 0x7F;
  if (!printable)
    throw UsageError(
        "--serial is a serial number of up to 8 characters (K2700001) or 16 hex "
        "digits, not '" +
        text + "'");
  return text;
}

_usbSerialPort ParsePort(const std::string& text) {
  if (text == "A" || text == "a") return USB_SERIAL_PORT_A;
  if (text == "B" || text == "b") return USB_SERIAL_PORT_B;
  throw UsageError("the port is A or B, not '" + text + "'");
}

double ParseSeconds(const std::string& text, double high, const std::string& what) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || errno != 0 || !(value >= 0) || value > high)
    throw UsageError(what + " must be seconds from 0 to " + std::to_string(static_cast<int>(high)) +
                     ", not '" + text + "'");
  return value;
}

ParsedArgs ParseOptions(const std::vector<std::string>& args, const std::string& command,
                        std::vector<option> options, const std::string& help,
                        const std::function<void(int code, const char* value)>& handle) {
  // The global options may follow the command too, unless it has its own
  // of the same name.
  const auto globals = GlobalOptionTable(options);
  options.insert(options.end(), globals.begin(), globals.end());
  options.push_back({"help", no_argument, nullptr, 'h'});
  std::vector<std::string> words{"k27ctl " + command};
  const auto spelled = SpellShortOptionsLong(args, options);
  words.insert(words.end(), spelled.begin(), spelled.end());
  options.push_back({nullptr, 0, nullptr, 0});
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  ParsedArgs parsed;
  optind = 0;  // glibc: start over, for every command
  opterr = 0;
  const int count = static_cast<int>(words.size());
  for (;;) {
    const int code = getopt_long(count, argv.data(), ":h", options.data(), nullptr);
    if (code == -1) break;
    if (code == 'h') {
      PrintBytes(help.data(), help.size());
      parsed.helpShown = true;
      return parsed;
    }
    // An unknown short option is named by itself, not by the word it sits in.
    const std::string word = code == '?' && optopt != 0 ? std::string("-") + char(optopt)
                             : optind >= 1 && optind <= count
                                 ? words[static_cast<std::size_t>(optind - 1)]
                                 : "";
    if (code == '?') throw UsageError("unknown option '" + word + "' for " + command);
    if (code == ':') throw UsageError("option '" + word + "' needs a value");
    Invocation* invocation = BoundInvocation();
    if (invocation != nullptr && ApplyGlobalOption(*invocation, code, optarg)) continue;
    if (handle) handle(code, optarg);
  }
  if (BoundInvocation() != nullptr) BoundInvocation()->CheckOptions();
  // getopt_long has moved the operands to the end, in their order.
  for (int i = optind; i < count; ++i) parsed.operands.push_back(argv[static_cast<std::size_t>(i)]);
  return parsed;
}

// ---- Output ----------------------------------------------------------------

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::string Printable(const std::uint8_t* bytes, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i)
    text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? char(bytes[i]) : '.';
  return text;
}

std::int64_t MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void WatchSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() { return interrupted.load(); }

}  // namespace vantrel::ctl
