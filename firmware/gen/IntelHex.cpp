#include "IntelHex.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include <k27/common/Hex.h>

namespace vantrel::fw {
namespace {

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::vector<FirmwareRecord> ReadIntelHex(std::istream& in, const std::string& name) {
  std::vector<FirmwareRecord> records;
  // Which line wrote each address (0: none yet).
  auto writtenBy = std::make_unique<int[]>(0x10000);
  std::uint32_t base = 0;
  int endLine = 0;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    const std::string where = name + ":" + std::to_string(lineNo) + ": ";
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    if (line.empty()) continue;
    if (endLine != 0)
      throw ImageError(where + "text after the end record of line " + std::to_string(endLine));
    if (line[0] != ':') throw ImageError(where + "a record starts with ':'");
    if ((line.size() - 1) % 2 != 0) throw ImageError(where + "odd number of hex digits");
    const auto parsed = vantrel::common::ParseHex(std::string_view(line).substr(1));
    if (!parsed) throw ImageError(where + "not a hex digit");
    const std::vector<std::uint8_t>& bytes = *parsed;
    if (bytes.size() < 5) throw ImageError(where + "record too short");
    const std::size_t count = bytes[0];
    if (bytes.size() != count + 5)
      throw ImageError(where + "length field says " + std::to_string(count) +
                       " data bytes, the record has " + std::to_string(bytes.size() - 5));
    unsigned sum = 0;
    for (auto byte : bytes) sum += byte;
    if ((sum & 0xFFu) != 0) throw ImageError(where + "checksum mismatch");
    const unsigned offset = bytes[1] * 256u + bytes[2];
    const unsigned type = bytes[3];
    const std::uint8_t* data = bytes.data() + 4;
    switch (type) {
      case 0x00: {
        if (count == 0) break;
        const std::uint32_t first = base + offset;
        const std::uint32_t last = first + static_cast<std::uint32_t>(count) - 1;
        if (last > 0xFFFF)
          throw ImageError(where + "data runs to address " + Hex(last) + ", beyond 0xFFFF");
        for (std::uint32_t address = first; address <= last; ++address) {
          if (writtenBy[address] != 0)
            throw ImageError(where + "address " + Hex(address) + " was already written by line " +
                             std::to_string(writtenBy[address]));
          writtenBy[address] = lineNo;
        }
        // At most 16 bytes a record, and no record running from internal
        // into external memory: the two go by different requests.
        std::uint32_t address = first;
        while (address <= last) {
          std::uint32_t end =
              std::min(last + 1, address + static_cast<std::uint32_t>(kFirmwareRecordMaxData));
          if (address <= kInternalMemoryTop)
            end = std::min(end, std::uint32_t{kInternalMemoryTop + 1});
          FirmwareRecord record{};
          record.length = static_cast<std::uint8_t>(end - address);
          record.address = static_cast<std::uint16_t>(address);
          record.type = kFirmwareRecordData;
          std::copy(data + (address - first), data + (end - first), record.data);
          records.push_back(record);
          address = end;
        }
        break;
      }
      case 0x01:
        if (count != 0) throw ImageError(where + "end record with data");
        endLine = lineNo;
        break;
      case 0x02:
      case 0x04: {
        if (count != 2) throw ImageError(where + "extended address record needs 2 data bytes");
        const std::uint32_t value = data[0] * 256u + data[1];
        if (type == 0x04 && value != 0)
          throw ImageError(where + "extended linear address " + Hex(value) +
                           " leaves the 16-bit address space");
        base = type == 0x02 ? value << 4 : 0;
        break;
      }
      default: {
        char text[4];
        std::snprintf(text, sizeof text, "%02X", type);
        throw ImageError(where + "record type " + text +
                         " is not supported (00 data, 01 end, 02/04 address)");
      }
    }
  }
  if (endLine == 0) throw ImageError(name + ": no end record (type 01)");
  return records;
}

}  // namespace vantrel::fw
