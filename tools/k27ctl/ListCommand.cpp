// list: every board present, with what identifies it.
#include <cstdio>
#include <optional>
#include <string>

#include "Commands.h"
#include "Reach.h"

namespace vantrel::ctl {

namespace {

constexpr char kHelp[] =
    "usage: k27ctl list\n\n"
    "The boards present among instances 0-7: instance, address switches, library,\n"
    "8051 and PIC versions, serial number and EEPROM geometry. Fails when there is\n"
    "none. Connecting probes each board's EEPROM, as every program's start does.\n\n"
    "JSON: {\"boards\":[{\"instance\":0,\"address\":0,\"library\":\"35.28\",\n"
    "  \"firmware_8051\":TEXT,\"pic\":TEXT,\"serial\":HEX,\"serial_text\":TEXT,\n"
    "  \"eeprom\":{\"bytes\":N,\"page_size\":N,\"address_bytes\":N,\"device_address\":N}}]}\n";

// A version reply as text: up to its first zero, unprintable bytes as '.'.
std::string VersionText(const unsigned char* bytes, std::size_t size) {
  std::size_t length = 0;
  while (length < size && bytes[length] != 0) ++length;
  return Printable(bytes, length);
}

struct BoardInfo {
  int instance = 0;
  int address = 0;
  std::string library, firmware, pic, serial, serialText;
  K27EEPROM eeprom{};
};

// Reads one board; a board that does not answer a step is reported by name.
BoardInfo Read(VantrelUSB& board, int instance) {
  BoardInfo info;
  info.instance = instance;
  const std::string where = "board " + std::to_string(instance);
  auto check = [&](int result, const char* what) {
    if (result == 0) throw Failure(where + ": " + what + ": " + ErrorName(board.GetLastError()));
  };
  usbInput inputs{};
  check(board.GetInputs(&inputs), "GetInputs");
  info.address = inputs.input[3] & 0x07;
  unsigned char dll[8]{}, product[8]{};
  board.GetDllVersion(dll);
  board.GetProductVersion(product);
  info.library = VersionText(dll, sizeof dll) + "." + VersionText(product, sizeof product);
  // The version getters copy the whole reply (up to 62 bytes).
  unsigned char text[64]{};
  check(board.Get8051Version(text), "Get8051Version");
  info.firmware = VersionText(text, sizeof text);
  unsigned char pic[64]{};
  check(board.GetPICVersion(pic), "GetPICVersion");
  info.pic = VersionText(pic, sizeof pic);
  unsigned char serial[64]{};
  check(board.GetPICSerialNumber(serial), "GetPICSerialNumber");
  info.serial = Hex(serial, 8);
  info.serialText = Printable(serial, 8);
  // The library has no getter for the geometry it found at connection:
  // probe again, and leave the board configured with the result as before.
  check(board.CheckEEPROM(&info.eeprom), "CheckEEPROM");
  check(board.ConfigureEEPROM(&info.eeprom), "ConfigureEEPROM");
  return info;
}

}  // namespace

int RunList(Invocation& invocation, const Args& args) {
  const ParsedArgs parsed = ParseOptions(args, "list", {}, kHelp);
  if (parsed.helpShown) return kExitOk;
  if (!parsed.operands.empty()) throw UsageError("list takes no arguments");

  Json boards = Json::Array();
  int found = 0;
  std::optional<Failure> firstMissing;  // why board 0 is not there, when none is
  for (int instance = 0; instance < 8; ++instance) {
    VantrelUSB board;
    const std::int64_t start = MonotonicMs();
    if (!board.init(instance)) {
      if (instance == 0) firstMissing = WhyUnreachable(0, MonotonicMs() - start);
      continue;
    }
    const BoardInfo info = Read(board, instance);
    board.close();
    ++found;
    const unsigned bytes = unsigned(info.eeprom.lastAddress) + 1;
    if (invocation.json) {
      boards.Push(Json::Object()
                      .Add("instance", info.instance)
                      .Add("address", info.address)
                      .Add("library", info.library)
                      .Add("firmware_8051", info.firmware)
                      .Add("pic", info.pic)
                      .Add("serial", info.serial)
                      .Add("serial_text", info.serialText)
                      .Add("eeprom", Json::Object()
                                         .Add("bytes", bytes)
                                         .Add("page_size", int(info.eeprom.pageSize))
                                         .Add("address_bytes", int(info.eeprom.addressBytes))
                                         .Add("device_address", int(info.eeprom.deviceAddress))));
    } else {
      char line[512];
      std::snprintf(
          line, sizeof line,
          "board %d: address %d  library %s  8051 %s  PIC %s  serial %s (%s)  EEPROM %u bytes "
          "(page %d, %d address bytes, device 0x%02X)",
          info.instance, info.address, info.library.c_str(), info.firmware.c_str(),
          info.pic.c_str(), info.serial.c_str(), info.serialText.c_str(), bytes,
          info.eeprom.pageSize, info.eeprom.addressBytes, info.eeprom.deviceAddress);
      PrintLine(line);
    }
  }
  if (invocation.json) PrintLine(Json::Object().Add("boards", boards).Text());
  if (found == 0)
    throw Failure("no board found: " + std::string(firstMissing ? firstMissing->what() : "?"),
                  firstMissing ? firstMissing->Name() : "NOT_THERE");
  return kExitOk;
}

}  // namespace vantrel::ctl
