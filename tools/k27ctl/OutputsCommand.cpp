// outputs and lamp-test: the lamp and auxiliary outputs.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "Commands.h"
#include "SharedRecords.h"

namespace vantrel::ctl {

namespace {

constexpr char kOutputsHelp[] =
    "usage: k27ctl outputs get\n"
    "       k27ctl outputs set HEX          five bytes: lamps 0-31, then aux 0-5 in byte 4\n"
    "       k27ctl outputs on N...          switch outputs on (0-31 lamps, 32-37 aux 0-5)\n"
    "       k27ctl outputs off N...\n"
    "       k27ctl outputs brightness 0-10\n\n"
    "get shows the images last sent to the board for the lamps' on and off periods\n"
    "by any program, and says so. The board cannot report them: the library keeps\n"
    "them only while some program has it loaded (k27diag, a game, a k27ctl\n"
    "--watch); with none, get says that they are not known (and succeeds), and\n"
    "the others cannot show the outputs they leave alone.\n"
    "set, on and off change both periods and leave the other outputs as they\n"
    "are. brightness 10 shows the on image in both periods (it needs the image\n"
    "known); 1-9 dim it with a dark off period; 0 switches every output off.\n\n"
    "JSON: {\"known\":BOOL,\"on\":HEX10|null,\"off\":HEX10|null,\n"
    "  \"outputs_on\":[numbers on in the on period]|null}, after any change;\n"
    "  get adds \"source\":\"last-sent\"|\"none\" after \"known\"\n";

// Where the images that get shows come from.
constexpr char kKnownSource[] =
    "(the images last sent by a program through the library, which keeps them while a "
    "program has it loaded; the board cannot report its outputs)";
constexpr char kUnknownSource[] =
    "the outputs are not known: the board cannot report them, and the library keeps the images "
    "last sent only while a program has it loaded (k27diag, a game, k27ctl inputs --watch); none "
    "does now";

constexpr char kLampTestHelp[] =
    "usage: k27ctl lamp-test [--delay MS] [--lamps-only] [--restore HEX]\n\n"
    "Switches each lamp (0-31) and aux output (32-37) on alone, one after the\n"
    "other, for MS milliseconds each (default 250), then restores the images of\n"
    "both periods as they were before (when no program holds the images, see\n"
    "outputs --help, give them with --restore HEX, or every output is left off).\n"
    "Ctrl-C stops early and still restores.\n\n"
    "JSON: one {\"output\":N} per step, then "
    "{\"tested\":N,\"restored\":{\"on\":HEX10,\"off\":HEX10}}\n";

constexpr int kOutputCount = 38;

void SetBit(usbOutput& image, int output) {
  const int byte = output < 32 ? output / 8 : 4;
  const int bit = output < 32 ? output % 8 : output - 32;
  image.output[byte] = static_cast<unsigned char>(image.output[byte] | 1u << bit);
}

bool BitOf(const usbOutput& image, int output) {
  const int byte = output < 32 ? output / 8 : 4;
  const int bit = output < 32 ? output % 8 : output - 32;
  return (image.output[byte] >> bit & 1) != 0;
}

Json OutputsOn(const usbOutput& image) {
  Json on = Json::Array();
  for (int output = 0; output < kOutputCount; ++output)
    if (BitOf(image, output)) on.Push(std::int64_t(output));
  return on;
}

void PrintImages(const Invocation& invocation, const OutputImages& images, bool known) {
  if (!known) {
    if (invocation.json)
      PrintLine(Json::Object()
                    .Add("known", false)
                    .AddNull("on")
                    .AddNull("off")
                    .AddNull("outputs_on")
                    .Text());
    else
      PrintLine(
          "done; the outputs it left alone are not known (no program holds the library's output "
          "images)");
    return;
  }
  std::string list;
  for (int output = 0; output < kOutputCount; ++output)
    if (BitOf(images.on, output)) {
      list += ' ';
      list += std::to_string(output);
    }
  if (invocation.json) {
    PrintLine(Json::Object()
                  .Add("known", true)
                  .Add("on", Hex(images.on.output, 5))
                  .Add("off", Hex(images.off.output, 5))
                  .Add("outputs_on", OutputsOn(images.on))
                  .Text());
  } else {
    PrintLine("on period " + Hex(images.on.output, 5) + "  off period " +
              Hex(images.off.output, 5));
    PrintLine("outputs on:" + (list.empty() ? std::string(" none") : list));
  }
}

void SleepMs(int ms) {
  const timespec pause{ms / 1000, (ms % 1000) * 1000000L};
  ::nanosleep(&pause, nullptr);
}

}  // namespace

int RunOutputs(Invocation& invocation, const Args& args) {
  const ParsedArgs parsed = ParseOptions(args, "outputs", {}, kOutputsHelp);
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.empty()) throw UsageError("outputs needs get, set, on, off or brightness");
  const std::string& action = words[0];
  bool known = true;

  if (action == "get") {
    if (words.size() != 1) throw UsageError("outputs get takes no arguments");
    invocation.Board();
    const bool imagesKnown = OutputImagesKnown();
    const OutputImages images = ReadOutputImages(invocation.Instance());
    if (invocation.json) {
      Json result = Json::Object()
                        .Add("known", imagesKnown)
                        .Add("source", imagesKnown ? "last-sent" : "none");
      if (imagesKnown)
        result.Add("on", Hex(images.on.output, 5))
            .Add("off", Hex(images.off.output, 5))
            .Add("outputs_on", OutputsOn(images.on));
      else
        result.AddNull("on").AddNull("off").AddNull("outputs_on");
      PrintLine(result.Text());
    } else if (imagesKnown) {
      PrintImages(invocation, images, true);
      PrintLine(kKnownSource);
    } else {
      PrintLine(kUnknownSource);
    }
    return kExitOk;
  }
  if (action == "set") {
    if (words.size() != 2) throw UsageError("outputs set takes one HEX image");
    auto image = ParseHexBytes(words[1], "the image");
    if (image.size() != 5) throw UsageError("the image is five bytes (10 hex digits)");
    if (image[4] & 0xC0)
      throw UsageError("byte 4 holds aux outputs 0-5 only (bits 6 and 7 must be 0)");
    invocation.Check(invocation.Board().SetOutputs(image.data()), "SetOutputs");
  } else if (action == "on" || action == "off") {
    if (words.size() < 2) throw UsageError("outputs " + action + " needs output numbers (0-37)");
    usbOutput mask{}, none{};
    for (std::size_t i = 1; i < words.size(); ++i)
      SetBit(mask, static_cast<int>(ParseNumber(words[i], 0, 37, "output")));
    VantrelUSB& board = invocation.Board();
    known = OutputImagesKnown();
    invocation.Check(
        action == "on" ? board.ModifyOutputs(&none, &mask) : board.ModifyOutputs(&mask, &none),
        "ModifyOutputs");
  } else if (action == "brightness") {
    if (words.size() != 2) throw UsageError("outputs brightness takes a level 0-10");
    const auto level = static_cast<int>(ParseNumber(words[1], 0, 10, "the brightness"));
    VantrelUSB& board = invocation.Board();
    const OutputImages images = ReadOutputImages(invocation.Instance());
    const usbOutput dark{};
    known = OutputImagesKnown();
    if (level == 10 && !known)
      throw Failure(
          "brightness 10 needs the on image, which is not known (no program holds the library's "
          "copies)");
    if (level == 0) known = true;
    if (level == 10) {
      invocation.Check(board.SetOffPeriodOutputs(images.on), "SetOffPeriodOutputs");
      invocation.Check(board.SetOutputBrightness(10), "SetOutputBrightness");
    } else if (level == 0) {
      invocation.Check(board.SetOnPeriodOutputs(dark), "SetOnPeriodOutputs");
      invocation.Check(board.SetOffPeriodOutputs(dark), "SetOffPeriodOutputs");
    } else {
      invocation.Check(board.SetOffPeriodOutputs(dark), "SetOffPeriodOutputs");
      invocation.Check(board.SetOutputBrightness(static_cast<unsigned char>(level)),
                       "SetOutputBrightness");
    }
  } else {
    throw UsageError("unknown outputs action '" + action + "'");
  }
  PrintImages(invocation, ReadOutputImages(invocation.Instance()), known);
  return kExitOk;
}

int RunLampTest(Invocation& invocation, const Args& args) {
  int delayMs = 250;
  bool lampsOnly = false;
  std::optional<usbOutput> restore;
  const ParsedArgs parsed =
      ParseOptions(args, "lamp-test",
                   {{"delay", required_argument, nullptr, 'd'},
                    {"lamps-only", no_argument, nullptr, 'l'},
                    {"restore", required_argument, nullptr, 'r'}},
                   kLampTestHelp, [&](int code, const char* value) {
                     if (code == 'd')
                       delayMs = static_cast<int>(ParseNumber(value, 0, 60000, "--delay"));
                     if (code == 'l') lampsOnly = true;
                     if (code == 'r') {
                       const auto image = ParseHexBytes(value, "--restore");
                       if (image.size() != 5 || (image[4] & 0xC0) != 0)
                         throw UsageError("--restore takes a five-byte output image");
                       usbOutput pattern{};
                       std::copy(image.begin(), image.end(), pattern.output);
                       restore = pattern;
                     }
                   });
  if (parsed.helpShown) return kExitOk;
  if (!parsed.operands.empty()) throw UsageError("lamp-test takes no arguments");

  VantrelUSB& board = invocation.Board();
  OutputImages before = ReadOutputImages(invocation.Instance());
  if (restore) {
    before.on = *restore;
    before.off = *restore;
  } else if (!OutputImagesKnown()) {
    std::fprintf(
        stderr,
        "k27ctl: the outputs before the test are not known (no program holds the library's "
        "output images); every output is left off\n");
  }
  WatchSignals();
  const int last = lampsOnly ? 32 : kOutputCount;
  int tested = 0;
  std::string failure;
  for (int output = 0; output < last && !Interrupted(); ++output) {
    usbOutput image{};
    SetBit(image, output);
    if (!board.SetOutputs(image.output)) {
      failure = "SetOutputs: " + ErrorName(board.GetLastError());
      break;
    }
    ++tested;
    PrintLine(invocation.json ? Json::Object().Add("output", output).Text()
                              : (output < 32 ? "lamp " + std::to_string(output)
                                             : "aux " + std::to_string(output - 32) + " (output " +
                                                   std::to_string(output) + ")"));
    SleepMs(delayMs);
  }
  // Restored whatever happened above.
  const bool restored =
      board.SetOnPeriodOutputs(before.on) && board.SetOffPeriodOutputs(before.off);
  if (!restored)
    failure += (failure.empty() ? "" : "; ") + std::string("restoring the outputs: ") +
               ErrorName(board.GetLastError());
  if (!failure.empty()) throw Failure(failure);
  if (invocation.json)
    PrintLine(Json::Object()
                  .Add("tested", tested)
                  .Add("restored", Json::Object()
                                       .Add("on", Hex(before.on.output, 5))
                                       .Add("off", Hex(before.off.output, 5)))
                  .Text());
  else
    PrintLine("tested " + std::to_string(tested) + " outputs; restored on " +
              Hex(before.on.output, 5) + " off " + Hex(before.off.output, 5));
  return kExitOk;
}

}  // namespace vantrel::ctl
