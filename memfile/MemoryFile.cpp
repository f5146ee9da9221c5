#include "MemoryFile.h"

#include "ImageOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string_view>

#include <k27/common/Hex.h>

namespace vantrel::memfile {

namespace {

constexpr std::uint32_t kAddressSpace = 0x10000;
constexpr std::uintmax_t kMaxFileBytes = 4u * 1024u * 1024u;  // far above any image of 64 KiB

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FileError("cannot read " + path + ": " + std::strerror(errno));
  std::string data;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    data.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (data.size() > kMaxFileBytes)
      throw FileError(path + " is too large for a board memory image");
  }
  return data;
}

std::vector<Segment> ParseIntelHex(const std::string& path, const std::string& text) {
  std::map<std::uint32_t, std::uint8_t> bytes;
  std::uint32_t base = 0;
  bool ended = false;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = path + " line " + std::to_string(number) + ": ";
    auto bad = [&where, number](const std::string& what) {
      return FileError(where + what, number);
    };
    if (line.empty()) continue;
    if (ended) throw bad("data after the end-of-file record");
    if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0)
      throw bad("not an Intel HEX record");
    // The digit count after ':' is even, as checked above.
    const auto parsed = vantrel::common::ParseHex(std::string_view(line).substr(1));
    if (!parsed) throw bad("not an Intel HEX record (bad hex digit)");
    const std::vector<std::uint8_t>& record = *parsed;
    const std::size_t count = record[0];
    if (record.size() != count + 5) throw bad("the record's length does not match its byte count");
    unsigned sum = 0;
    for (const std::uint8_t b : record) sum += b;
    if ((sum & 0xFF) != 0) throw bad("checksum error");
    const std::uint32_t offset = std::uint32_t(record[1]) << 8 | record[2];
    const std::uint8_t type = record[3];
    const std::uint8_t* data = record.data() + 4;
    switch (type) {
      case 0x00:
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint32_t address = base + offset + static_cast<std::uint32_t>(i);
          if (address >= kAddressSpace) throw bad("address beyond 0xFFFF");
          const auto [it, inserted] = bytes.emplace(address, data[i]);
          if (!inserted && it->second != data[i])
            throw bad("gives address " + std::to_string(address) + " a second, different value");
        }
        break;
      case 0x01:
        if (count != 0) throw bad("end-of-file record with data");
        ended = true;
        break;
      case 0x02:
        if (count != 2) throw bad("segment address record of the wrong length");
        base = (std::uint32_t(data[0]) << 8 | data[1]) << 4;
        break;
      case 0x04:
        if (count != 2) throw bad("linear address record of the wrong length");
        base = (std::uint32_t(data[0]) << 8 | data[1]) << 16;
        break;
      case 0x03:
      case 0x05:
        break;  // start addresses mean nothing to a memory
      default:
        throw bad("unknown record type " + std::to_string(type));
    }
  }
  if (!ended) throw FileError(path + ": no end-of-file record (the file is cut short)", number + 1);
  std::vector<Segment> segments;
  for (const auto& [address, value] : bytes) {
    if (segments.empty() || segments.back().address + segments.back().bytes.size() != address)
      segments.push_back({address, {}});
    segments.back().bytes.push_back(value);
  }
  return segments;
}

}  // namespace

FileFormat FormatByExtension(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return EndsWith(lower, ".hex") || EndsWith(lower, ".ihex") || EndsWith(lower, ".ihx")
             ? FileFormat::kIntelHex
             : FileFormat::kBinary;
}

std::vector<Segment> ReadImageFile(const std::string& path, FileFormat format,
                                   std::uint32_t binaryAddress) {
  const std::string data = ReadWholeFile(path);
  if (format == FileFormat::kIntelHex) return ParseIntelHex(path, data);
  if (data.empty()) return {};
  return {Segment{binaryAddress, std::vector<std::uint8_t>(data.begin(), data.end())}};
}

std::string IntelHexText(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char field[8];
  for (std::size_t done = 0; done < bytes.size();) {
    const std::size_t count = std::min<std::size_t>(16, bytes.size() - done);
    const std::uint32_t at = (address + static_cast<std::uint32_t>(done)) & 0xFFFF;
    unsigned sum = static_cast<unsigned>(count) + (at >> 8) + (at & 0xFF);
    std::snprintf(field, sizeof field, ":%02X", static_cast<unsigned>(count));
    text += field;
    std::snprintf(field, sizeof field, "%04X00", at);
    text += field;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t b = bytes[done + i];
      sum += b;
      std::snprintf(field, sizeof field, "%02X", b);
      text += field;
    }
    std::snprintf(field, sizeof field, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += field;
    done += count;
  }
  return text + ":00000001FF\n";
}

void WriteImageFile(const std::string& path, FileFormat format, std::uint32_t address,
                    const std::vector<std::uint8_t>& bytes) {
  const std::string content = format == FileFormat::kIntelHex
                                  ? IntelHexText(address, bytes)
                                  : std::string(bytes.begin(), bytes.end());
  // In place, never over a device, FIFO or link, keeping the file's mode
  // and owner: the same rules as the tools' dumps.
  ImageOutput(path).Write(content);
}

}  // namespace vantrel::memfile
