// serial: plain bytes on serial port A or B.
#include <time.h>

#include <string>

#include "Commands.h"

namespace vantrel::ctl {

namespace {

constexpr char kHelp[] =
    "usage: k27ctl serial PORT config [--baud N] [--parity none|odd|even] [--rts 0-3]\n"
    "                                 [--cts] [--type rs232|cctalk|0-3]\n"
    "       k27ctl serial PORT send HEX | --text STR\n"
    "       k27ctl serial PORT receive [--timeout S] [--count N]\n\n"
    "PORT is A or B. config sets the line (default 9600 baud, no parity, RTS 0\n"
    "(disable), no CTS flow control, type rs232); port A takes 1200-62500 baud,\n"
    "port B 110-62500. send sends bytes given in hex or as text. receive prints\n"
    "what the port has received; with --timeout it keeps collecting for S\n"
    "seconds, or until --count bytes have come. Fewer than --count bytes by the\n"
    "end is a failure (exit status 1, after the bytes received are printed).\n\n"
    "JSON: config: {\"port\":\"A\",\"baud\":N}; send: {\"port\":\"A\",\"sent\":N};\n"
    "  receive: {\"port\":\"A\",\"count\":N,\"bytes\":HEX,\"text\":TEXT}\n";

constexpr int kPollMs = 10;

// The speeds each port's divisor table holds; anything else is refused here,
// as a usage error, rather than by the library.
bool BaudAllowed(_usbSerialPort port, std::uint32_t baud) {
  static constexpr std::uint32_t kPortA[] = {1200, 2400, 4800, 9600, 19200, 38400, 62500};
  static constexpr std::uint32_t kPortB[] = {110,  300,   600,   1200,  2400,  4800,
                                             9600, 14400, 19200, 38400, 57600, 62500};
  if (port == USB_SERIAL_PORT_A) {
    for (const auto rate : kPortA)
      if (rate == baud) return true;
  } else {
    for (const auto rate : kPortB)
      if (rate == baud) return true;
  }
  return false;
}

}  // namespace

int RunSerial(Invocation& invocation, const Args& args) {
  std::uint32_t baud = 9600;
  int parity = 0, rts = 0, type = USB_PORT_TYPE_RS232;
  bool cts = false, configOption = false;
  std::optional<std::string> text;
  std::optional<double> timeout;
  std::optional<long> count;
  const ParsedArgs parsed =
      ParseOptions(args, "serial",
                   {{"baud", required_argument, nullptr, 'b'},
                    {"parity", required_argument, nullptr, 'p'},
                    {"rts", required_argument, nullptr, 'r'},
                    {"cts", no_argument, nullptr, 'c'},
                    {"type", required_argument, nullptr, 'y'},
                    {"text", required_argument, nullptr, 'x'},
                    {"timeout", required_argument, nullptr, 't'},
                    {"count", required_argument, nullptr, 'n'}},
                   kHelp, [&](int code, const char* value) {
                     const std::string v = value ? value : "";
                     configOption = configOption || code == 'b' || code == 'p' || code == 'r' ||
                                    code == 'c' || code == 'y';
                     if (code == 'b')
                       baud = static_cast<std::uint32_t>(ParseNumber(v, 1, 1000000, "--baud"));
                     if (code == 'p') {
                       if (v == "none")
                         parity = 0;
                       else if (v == "odd")
                         parity = 1;
                       else if (v == "even")
                         parity = 2;
                       else
                         throw UsageError("--parity is none, odd or even");
                     }
                     if (code == 'r') rts = static_cast<int>(ParseNumber(v, 0, 3, "--rts"));
                     if (code == 'c') cts = true;
                     if (code == 'y') {
                       if (v == "rs232")
                         type = USB_PORT_TYPE_RS232;
                       else if (v == "cctalk")
                         type = USB_PORT_TYPE_CCTALK;
                       else
                         type = static_cast<int>(ParseNumber(v, 0, 3, "--type"));
                     }
                     if (code == 'x') text = v;
                     if (code == 't') timeout = ParseSeconds(v, 3600, "--timeout");
                     if (code == 'n')
                       count = static_cast<long>(ParseNumber(v, 1, 1000000, "--count"));
                   });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.size() < 2) throw UsageError("serial needs PORT and config, send or receive");
  const _usbSerialPort port = ParsePort(words[0]);
  const std::string portName = port == USB_SERIAL_PORT_A ? "A" : "B";
  const std::string& action = words[1];
  if (configOption && action != "config")
    throw UsageError("--baud, --parity, --rts, --cts and --type go with config");
  if (text && action != "send") throw UsageError("--text goes with send");
  if ((timeout || count) && action != "receive")
    throw UsageError("--timeout and --count go with receive");

  if (action == "config") {
    if (words.size() != 2) throw UsageError("serial config takes options only");
    if (!BaudAllowed(port, baud))
      throw UsageError("port " + portName + " does not run at " + std::to_string(baud) + " baud");
    _DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baud;
    dcb.fParity = parity != 0;
    dcb.Parity = static_cast<std::uint8_t>(parity);
    dcb.fRtsControl = static_cast<std::uint32_t>(rts) & 3u;
    dcb.fOutxCtsFlow = cts ? 1u : 0u;
    dcb.ByteSize = 8;
    invocation.Check(invocation.Board().SetConfig(port, &dcb, static_cast<_usbPortType>(type)),
                     "SetConfig");
    PrintLine(invocation.json
                  ? Json::Object().Add("port", portName).Add("baud", std::int64_t(baud)).Text()
                  : "port " + portName + " configured at " + std::to_string(baud) + " baud");
    return kExitOk;
  }
  if (action == "send") {
    std::vector<std::uint8_t> bytes;
    if (text) {
      if (words.size() != 2) throw UsageError("serial send takes HEX or --text, not both");
      bytes.assign(text->begin(), text->end());
      if (bytes.empty()) throw UsageError("--text is empty");
    } else {
      if (words.size() != 3) throw UsageError("serial send takes HEX or --text STR");
      bytes = ParseHexBytes(words[2], "the bytes");
    }
    invocation.Check(
        invocation.Board().Send(port, bytes.data(), static_cast<std::uint32_t>(bytes.size())),
        "Send");
    PrintLine(
        invocation.json
            ? Json::Object().Add("port", portName).Add("sent", std::int64_t(bytes.size())).Text()
            : "sent " + std::to_string(bytes.size()) + " bytes on port " + portName);
    return kExitOk;
  }
  if (action == "receive") {
    if (words.size() != 2) throw UsageError("serial receive takes options only");
    VantrelUSB& board = invocation.Board();
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> buffer(VANTREL_RECEIVE_LIMIT);
    const std::int64_t start = MonotonicMs();
    WatchSignals();
    for (;;) {
      unsigned long length = 0;
      invocation.Check(board.Receive(port, buffer.data(), &length), "Receive");
      bytes.insert(bytes.end(), buffer.begin(),
                   buffer.begin() +
                       static_cast<std::ptrdiff_t>(std::min<unsigned long>(length, buffer.size())));
      if (count && static_cast<long>(bytes.size()) >= *count) break;
      if (!timeout || Interrupted() ||
          MonotonicMs() - start >= static_cast<std::int64_t>(*timeout * 1000))
        break;
      const timespec pause{0, kPollMs * 1000000L};
      ::nanosleep(&pause, nullptr);
    }
    if (invocation.json) {
      PrintLine(Json::Object()
                    .Add("port", portName)
                    .Add("count", std::int64_t(bytes.size()))
                    .Add("bytes", Hex(bytes))
                    .Add("text", Printable(bytes.data(), bytes.size()))
                    .Text());
    } else if (bytes.empty()) {
      PrintLine("nothing received on port " + portName);
    } else {
      PrintLine(Hex(bytes) + "  |" + Printable(bytes.data(), bytes.size()) + "|");
    }
    // Too little by the end is a failure, as for a watch that misses its --count.
    if (count && static_cast<long>(bytes.size()) < *count && !Interrupted())
      throw Failure("received " + std::to_string(bytes.size()) + " of " + std::to_string(*count) +
                        " bytes on port " + portName +
                        (timeout ? " within the --timeout" : " (no --timeout to wait for more)"),
                    "TIMED_OUT");
    return kExitOk;
  }
  throw UsageError("unknown serial action '" + action + "'");
}

}  // namespace vantrel::ctl
