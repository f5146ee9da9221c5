// cctalk: transactions with ccTalk devices on a board serial port, with the
// frames and dictionaries k27diag uses.
#include <time.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "CcctalkMessage.h"
#include "CcTalkDictionary.h"
#include "CcTalkTransaction.h"
#include "Commands.h"
#include "ErrorReport.h"
#include "Progress.h"

namespace vantrel::ctl {

namespace {

constexpr char kHelp[] =
    "usage: k27ctl cctalk [OPTIONS] DEST HEADER|NAME [DATA...]\n"
    "       k27ctl cctalk [OPTIONS] scan [--first N] [--last N]\n"
    "       k27ctl cctalk [OPTIONS] poll [DEST] [--header HEADER|NAME] [--repeat N]\n"
    "                                    [--interval MS]\n"
    "       k27ctl cctalk [--dictionaries DIR] names\n\n"
    "One transaction: sends header HEADER (0-255) or the command NAME from the\n"
    "transaction dictionaries (\"simple poll\" or simple-poll) to address DEST\n"
    "(0-255) with the DATA bytes, and prints the decoded reply. A command whose\n"
    "dictionary entry has a fixed data length needs exactly that many bytes.\n"
    "scan polls every address from --first (1) to --last (255) but the source\n"
    "and lists the devices found with their category and product code.\n"
    "poll sends HEADER (default 254, simple poll) to DEST (default 2) --repeat\n"
    "times (default 10), --interval ms apart (default 100), and counts good,\n"
    "timed-out and invalid replies (a local echo that is missing or differs from\n"
    "the request, a bad checksum, a reply from or to another address) and goes\n"
    "on; it fails unless every reply was good. A board failure ends it, with\n"
    "the counts so far.\n"
    "names lists the commands of the dictionaries, \"HEADER NAME\" a line.\n\n"
    "Options:\n"
    "  --port A|B            the board's serial port (default B)\n"
    "  --source N            the host's address (default 1)\n"
    "  --baud N              the line speed (default 9600)\n"
    "  --dictionaries DIR    read the dictionaries below DIR (repeatable) instead\n"
    "                        of the installed ones (share/k27diag/dictionaries\n"
    "                        beside the program's folder)\n\n"
    "Exit status 1 also when no reply came, or an invalid one, and when no\n"
    "dictionary is found to look a NAME up in; a NAME the dictionaries do not\n"
    "know is a usage error (2), naming the folders searched.\n\n"
    "JSON: transaction: {\"request\":FRAME,\"reply\":FRAME|null,\"error\":TEXT|null},\n"
    "  also on a time-out or a bad echo (reply null), where\n"
    "  FRAME is {\"destination\":N,\"source\":N,\"header\":N,\"name\":TEXT,\"data\":HEX,\n"
    "  \"text\":TEXT,\"frame\":HEX}; a reply FRAME also has \"layout\":TEXT\n"
    "  scan: {\"devices\":[{\"address\":N,\"category\":TEXT,\"product\":TEXT}],\"polled\":N}\n"
    "  poll: {\"sent\":N,\"good\":N,\"timed_out\":N,\"invalid\":N}\n"
    "  names: {\"commands\":[{\"header\":N,\"name\":TEXT}]}\n";

struct Options {
  _usbSerialPort port = USB_SERIAL_PORT_B;
  std::uint8_t source = 1;
  std::uint32_t baud = 9600;
  std::vector<std::filesystem::path> folders;
  int first = 1, last = 255;
  std::optional<std::string> header;
  long repeat = 10;
  int intervalMs = 100;
};

using Outcome = CcTalkTransaction::Outcome;
using Exchange = CcTalkTransaction;

class Bus {
 public:
  Bus(Invocation& invocation, const Options& options)
      : invocation_(invocation), options_(options) {}

  // Sets the port to ccTalk at the chosen speed; once per run.
  void Configure() {
    _DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = options_.baud;
    dcb.ByteSize = 8;
    invocation_.Check(invocation_.Board().SetConfig(options_.port, &dcb, USB_PORT_TYPE_CCTALK),
                      "SetConfig");
  }

  // One request and its reply. A line fault (a missing or wrong echo, no
  // reply, a bad one) is the exchange's outcome; a board call that fails
  // throws, since no transaction can run without the board.
  Exchange Run(std::uint8_t destination, std::uint8_t header,
               const std::vector<std::uint8_t>& data) {
    Exchange exchange = RunCcTalkTransaction(invocation_.Board(), options_.port, options_.source,
                                             destination, header, data);
    if (exchange.drained > 0 && !invocation_.json)
      std::fprintf(stderr, "k27ctl: cleared %d byte(s) of unexpected data from the port\n",
                   exchange.drained);
    if (exchange.failedCall != nullptr) invocation_.BoardFailed(exchange.failedCall);
    return exchange;
  }

 private:
  Invocation& invocation_;
  const Options& options_;
};

std::vector<std::uint8_t> DataOf(const CcctalkMessage& message) {
  const auto data = CcTalkDataOf(message);
  return {data.begin(), data.end()};
}

Json FrameJson(const CcctalkMessage& message, const std::string& name) {
  const auto data = DataOf(message);
  return Json::Object()
      .Add("destination", int(message.destination()))
      .Add("source", int(message.source()))
      .Add("header", int(message.header()))
      .Add("name", name)
      .Add("data", Hex(data))
      .Add("text", Printable(data.data(), data.size()))
      .Add("frame", Hex(message.bytes().data(), message.length()));
}

std::string FrameLine(const std::string& label, const CcctalkMessage& message,
                      const std::string& name) {
  const auto data = DataOf(message);
  std::string line =
      label + " " + (name.empty() ? "header" : name) + " [" + std::to_string(message.header()) +
      "] from " + std::to_string(message.source()) + " to " + std::to_string(message.destination());
  if (data.empty())
    line += ", no data";
  else
    line += ", data " + Hex(data) + " |" + Printable(data.data(), data.size()) + "|";
  return line;
}

// The folders searched, for the messages.
std::string FolderList(const std::vector<std::filesystem::path>& folders) {
  std::string list;
  for (const auto& folder : folders) list += (list.empty() ? "" : ", ") + folder.string();
  return list;
}

// HEADER|NAME to a header and its dictionary entry (null for a bare number
// the dictionaries do not know).
std::pair<std::uint8_t, const CcTalkCommand*> Resolve(
    const CcTalkDictionary& dictionary, const std::vector<std::filesystem::path>& folders,
    const std::string& word) {
  if (!word.empty() && std::isdigit(static_cast<unsigned char>(word[0]))) {
    const auto header = static_cast<std::uint8_t>(ParseNumber(word, 0, 255, "HEADER"));
    return {header, dictionary.FindHeader(header)};
  }
  const CcTalkCommand* command = dictionary.Find(word);
  if (command != nullptr) return {command->header, command};
  // Nothing to look the name up in is the installation's fault, not the line's.
  if (dictionary.Size() == 0)
    throw Failure("no ccTalk dictionary found in " + FolderList(folders) + " to look up '" + word +
                  "' (install k27-cctalk-dictionaries, give --dictionaries DIR, or give the "
                  "header as a number)");
  throw UsageError("no ccTalk command named '" + word + "' in the dictionaries in " +
                   FolderList(folders) + " (" + std::to_string(dictionary.Size()) +
                   " commands read)");
}

// The ASCII reply of `header` from a device found by the scan.
std::string AskText(Bus& bus, std::uint8_t address, std::uint8_t header) {
  const Exchange exchange = bus.Run(address, header, {});
  if (exchange.outcome != Outcome::kGood) return "";
  const auto data = DataOf(exchange.reply);
  return Printable(data.data(), data.size());
}

int Scan(Invocation& invocation, const Options& options, Bus& bus) {
  Json devices = Json::Array();
  int polled = 0;
  WatchSignals();
  {
    Progress progress("scanning", static_cast<std::uint64_t>(options.last - options.first + 1),
                      "addresses", 1);
    for (int address = options.first; address <= options.last && !Interrupted(); ++address) {
      progress.Update(static_cast<std::uint64_t>(address - options.first));
      if (address == options.source) continue;
      ++polled;
      const auto target = static_cast<std::uint8_t>(address);
      const Exchange poll = bus.Run(target, 254, {});
      // A bus that does not echo cannot answer from any address.
      if (poll.echoFault) throw Failure(poll.error);
      if (poll.outcome != Outcome::kGood) continue;
      const std::string category = AskText(bus, target, 245);
      const std::string product = AskText(bus, target, 244);
      if (invocation.json)
        devices.Push(Json::Object()
                         .Add("address", address)
                         .Add("category", category)
                         .Add("product", product));
      else {
        progress.Clear();
        PrintLine("address " + std::to_string(address) + ": " +
                  (category.empty() ? "?" : category) + ", product " +
                  (product.empty() ? "?" : product));
      }
    }
  }
  if (invocation.json)
    PrintLine(Json::Object().Add("devices", devices).Add("polled", polled).Text());
  return kExitOk;
}

}  // namespace

int RunCcTalk(Invocation& invocation, const Args& args) {
  Options options;
  const ParsedArgs parsed = ParseOptions(
      args, "cctalk",
      {{"port", required_argument, nullptr, 'p'},
       {"source", required_argument, nullptr, 's'},
       {"baud", required_argument, nullptr, 'b'},
       {"dictionaries", required_argument, nullptr, 'd'},
       {"first", required_argument, nullptr, 'f'},
       {"last", required_argument, nullptr, 'l'},
       {"header", required_argument, nullptr, 'H'},
       {"repeat", required_argument, nullptr, 'r'},
       {"interval", required_argument, nullptr, 'i'}},
      kHelp, [&](int code, const char* value) {
        if (code == 'p') options.port = ParsePort(value);
        if (code == 's')
          options.source = static_cast<std::uint8_t>(ParseNumber(value, 0, 255, "--source"));
        if (code == 'b')
          options.baud = static_cast<std::uint32_t>(ParseNumber(value, 1, 1000000, "--baud"));
        if (code == 'd') options.folders.emplace_back(value);
        if (code == 'f') options.first = static_cast<int>(ParseNumber(value, 1, 255, "--first"));
        if (code == 'l') options.last = static_cast<int>(ParseNumber(value, 1, 255, "--last"));
        if (code == 'H') options.header = value;
        if (code == 'r')
          options.repeat = static_cast<long>(ParseNumber(value, 1, 1000000, "--repeat"));
        if (code == 'i')
          options.intervalMs = static_cast<int>(ParseNumber(value, 0, 3600000, "--interval"));
      });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.empty()) throw UsageError("cctalk needs DEST HEADER|NAME, scan or poll");
  if (options.first > options.last) throw UsageError("--first is above --last");
  if (options.folders.empty()) options.folders.push_back(CcTalkDictionary::InstalledFolder());
  const CcTalkDictionary dictionary(options.folders);
  for (const auto& warning : dictionary.Warnings())
    std::fprintf(stderr, "k27ctl: dictionary: %s\n", warning.c_str());
  if (words[0] == "names") {
    if (words.size() != 1) throw UsageError("cctalk names takes no arguments");
    return PrintCcTalkNames(invocation.json, dictionary);
  }
  Bus bus(invocation, options);

  if (words[0] == "scan") {
    if (words.size() != 1) throw UsageError("cctalk scan takes no arguments");
    bus.Configure();
    return Scan(invocation, options, bus);
  }

  if (words[0] == "poll") {
    if (words.size() > 2) throw UsageError("cctalk poll takes at most DEST");
    const auto destination =
        static_cast<std::uint8_t>(words.size() == 2 ? ParseNumber(words[1], 0, 255, "DEST") : 2);
    const auto [header, command] =
        Resolve(dictionary, options.folders, options.header.value_or("254"));
    if (command != nullptr && command->dataLength > 0)
      throw UsageError("poll sends no data, and " + command->name + " needs " +
                       std::to_string(command->dataLength) + " bytes");
    WatchSignals();
    long good = 0, timedOut = 0, invalid = 0, sent = 0;
    std::string lastFault;
    std::optional<Failure> stopped;
    try {
      bus.Configure();
      for (; sent < options.repeat && !Interrupted();) {
        if (sent > 0 && options.intervalMs > 0) {
          const timespec pause{options.intervalMs / 1000, (options.intervalMs % 1000) * 1000000L};
          ::nanosleep(&pause, nullptr);
        }
        const Exchange exchange = bus.Run(destination, header, {});
        ++sent;
        if (exchange.outcome == Outcome::kGood)
          ++good;
        else if (exchange.outcome == Outcome::kTimedOut)
          ++timedOut;
        else
          ++invalid;
        if (exchange.outcome != Outcome::kGood) lastFault = exchange.error;
      }
    } catch (const Failure& failure) {
      stopped.emplace(std::string(failure.what()) + " (the poll stopped after " +
                          std::to_string(sent) + " of " + std::to_string(options.repeat) + ")",
                      failure.Name(), failure.BoardCode());
    }
    // The counts, whatever ended the poll.
    if (invocation.json) {
      Json counts = Json::Object()
                        .Add("sent", std::int64_t(sent))
                        .Add("good", std::int64_t(good))
                        .Add("timed_out", std::int64_t(timedOut))
                        .Add("invalid", std::int64_t(invalid));
      if (stopped)
        counts.Add("error", ErrorDetail(*stopped));
      else
        counts.AddNull("error");
      PrintLine(counts.Text());
    } else
      PrintLine("sent " + std::to_string(sent) + "  good " + std::to_string(good) + "  timed out " +
                std::to_string(timedOut) + "  invalid " + std::to_string(invalid));
    if (stopped) throw stopped->InResult();
    if (good != sent)
      throw Failure(std::to_string(sent - good) + " of " + std::to_string(sent) +
                    " polls got no good reply; the last: " + lastFault)
          .InResult();
    return kExitOk;
  }

  if (words.size() < 2) throw UsageError("cctalk needs DEST HEADER|NAME [DATA...]");
  const auto destination = static_cast<std::uint8_t>(ParseNumber(words[0], 0, 255, "DEST"));
  const auto [header, command] = Resolve(dictionary, options.folders, words[1]);
  std::vector<std::uint8_t> data;
  for (std::size_t i = 2; i < words.size(); ++i)
    data.push_back(static_cast<std::uint8_t>(ParseNumber(words[i], 0, 255, "DATA")));
  if (data.size() > CcctalkMessage::kMaximumData)
    throw UsageError("a ccTalk frame carries at most 255 data bytes");
  if (command != nullptr && command->dataLength > 0 && data.size() != command->dataLength)
    throw UsageError(command->name + " takes " + std::to_string(command->dataLength) +
                     " data byte(s): " + command->data);

  bus.Configure();
  const Exchange exchange = bus.Run(destination, header, data);
  const std::string requestName = command != nullptr ? command->name : "";
  const std::string replyName = CcTalkDictionary::ReplyName(command, exchange.reply.header());
  const CcTalkReply* reply = CcTalkDictionary::Reply(command, exchange.reply.header());
  const std::string layout = reply != nullptr ? reply->data : "";
  if (invocation.json) {
    Json result = Json::Object().Add("request", FrameJson(exchange.request, requestName));
    if (!exchange.replied)
      result.AddNull("reply");
    else
      result.Add("reply", FrameJson(exchange.reply, replyName).Add("layout", layout));
    if (exchange.error.empty())
      result.AddNull("error");
    else
      result.Add("error", exchange.error);
    PrintLine(result.Text());
  } else {
    PrintLine(FrameLine("request", exchange.request, requestName) + ": " +
              Hex(exchange.request.bytes().data(), exchange.request.length()));
    if (exchange.replied) {
      PrintLine(FrameLine("reply  ", exchange.reply, replyName) + ": " +
                Hex(exchange.reply.bytes().data(), exchange.reply.length()));
      if (!layout.empty()) PrintLine("        data layout: " + layout);
    }
  }
  if (exchange.outcome != Outcome::kGood) {
    Failure failure(exchange.error);
    if (invocation.json) failure.InResult();  // the result's "error" says it
    throw failure;
  }
  return kExitOk;
}

}  // namespace vantrel::ctl
