// spi: the SPI link and the SEC frames sent over it.
#include <algorithm>
#include <string>

#include "Commands.h"

namespace vantrel::ctl {

namespace {

constexpr char kHelp[] =
    "usage: k27ctl spi enable | disable\n"
    "       k27ctl spi transfer BITS [HEX] [--receive BITS] [--option N]\n"
    "       k27ctl spi sec FIRST SECOND [HEX] [--reply-count N] [--option N]\n\n"
    "transfer sends BITS (0-255) bits taken from HEX (exactly BITS/8 bytes, rounded\n"
    "up) and receives --receive bits (default 0). sec sends a SEC frame with the\n"
    "two header bytes and up to 27 data bytes and receives --reply-count (0-27)\n"
    "data bytes with the frame around them. The option byte defaults to 0.\n\n"
    "JSON: transfer and sec: {\"received\":HEX}; enable/disable: {\"done\":true}\n";

}  // namespace

int RunSpi(Invocation& invocation, const Args& args) {
  int receiveBits = 0, option = 0, replyCount = 0;
  const ParsedArgs parsed =
      ParseOptions(args, "spi",
                   {{"receive", required_argument, nullptr, 'r'},
                    {"option", required_argument, nullptr, 'o'},
                    {"reply-count", required_argument, nullptr, 'c'}},
                   kHelp, [&](int code, const char* value) {
                     if (code == 'r')
                       receiveBits = static_cast<int>(ParseNumber(value, 0, 255, "--receive"));
                     if (code == 'o')
                       option = static_cast<int>(ParseNumber(value, 0, 255, "--option"));
                     if (code == 'c')
                       replyCount = static_cast<int>(ParseNumber(value, 0, 27, "--reply-count"));
                   });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.empty()) throw UsageError("spi needs enable, disable, transfer or sec");
  const std::string& action = words[0];

  if (action == "enable" || action == "disable") {
    if (words.size() != 1) throw UsageError("spi " + action + " takes no arguments");
    VantrelUSB& board = invocation.Board();
    invocation.Check(action == "enable" ? board.EnableSPI() : board.DisableSPI(),
                     action == "enable" ? "EnableSPI" : "DisableSPI");
    PrintLine(invocation.json ? Json::Object().Add("done", true).Text() : "SPI " + action + "d");
    return kExitOk;
  }

  unsigned char received[64]{};  // the library writes up to 62 bytes
  std::size_t shown = 0;
  if (action == "transfer") {
    if (words.size() < 2 || words.size() > 3) throw UsageError("spi transfer takes BITS [HEX]");
    const auto bits = static_cast<int>(ParseNumber(words[1], 0, 255, "BITS"));
    const std::size_t bytes = static_cast<std::size_t>((bits + 7) / 8);
    std::vector<std::uint8_t> data =
        words.size() == 3 ? ParseHexBytes(words[2], "HEX") : std::vector<std::uint8_t>{};
    if (data.size() != bytes)
      throw UsageError(std::to_string(bits) + " bits take " + std::to_string(bytes) +
                       " data bytes, not " + std::to_string(data.size()));
    data.resize(32);
    invocation.Check(invocation.Board().SendSPI(static_cast<unsigned char>(bits), data.data(),
                                                static_cast<unsigned char>(option),
                                                static_cast<unsigned char>(receiveBits), received),
                     "SendSPI");
    shown = static_cast<std::size_t>((receiveBits + 7) / 8);
  } else if (action == "sec") {
    if (words.size() < 3 || words.size() > 4) throw UsageError("spi sec takes FIRST SECOND [HEX]");
    const auto first = static_cast<unsigned char>(ParseNumber(words[1], 0, 255, "FIRST"));
    const auto second = static_cast<unsigned char>(ParseNumber(words[2], 0, 255, "SECOND"));
    std::vector<std::uint8_t> data =
        words.size() == 4 ? ParseHexBytes(words[3], "HEX") : std::vector<std::uint8_t>{};
    if (data.size() > 27) throw UsageError("a SEC frame carries at most 27 data bytes");
    const auto count = static_cast<unsigned char>(data.size());
    data.resize(27);
    invocation.Check(invocation.Board().SendSEC(first, second, count, data.data(),
                                                static_cast<unsigned char>(option),
                                                static_cast<unsigned char>(replyCount), received),
                     "SendSEC");
    shown = static_cast<std::size_t>(replyCount + 4);
  } else {
    throw UsageError("unknown spi action '" + action + "'");
  }
  shown = std::min<std::size_t>(shown, 62);
  PrintLine(invocation.json
                ? Json::Object().Add("received", Hex(received, shown)).Text()
                : "received " + (shown ? Hex(received, shown) : std::string("nothing")));
  return kExitOk;
}

}  // namespace vantrel::ctl
