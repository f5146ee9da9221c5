// Build-time generator of the loader's 8051 images: turns each image's
// source (the project's own segment description, or the maker's Intel HEX)
// into an array of 22-byte download records ended by an end record, and
// writes the arrays' record counts into a header.
//
// Segment description, one statement a line, '#' starts a comment:
//   fill SEED              code bytes not placed below come from a 16-bit LFSR
//                          seeded with SEED (hex), address by address upwards
//   expect RECORDS BYTES   the image must come out with this many data records
//                          and data bytes, or the generator fails
//   segments A-B ...       program segments, inclusive hex address ranges; the
//                          image stores them in the order listed, each as
//                          16-byte records from its start, the last one shorter
//   @ADDR: ITEM...         bytes at an address (hex) inside the segments
//   + ITEM...              more bytes right after the previous line's
// Items: HH a byte; $NAME a 16-bit value from --set NAME=VALUE, low byte
// first; "text" ASCII text as UTF-16LE.
#include <getopt.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "IntelHex.h"

namespace {

using vantrel::fw::ImageError;

struct Segment {
  unsigned first = 0, last = 0;
  int line = 0;
};

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

long ParseCount(const std::string& text, const std::string& where) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    throw ImageError(where + "'" + text + "' is not a count");
  return std::stol(text);
}

unsigned ParseHex(const std::string& text, unsigned limit, const std::string& where,
                  const char* what) {
  if (text.empty() || text.size() > 8 ||
      text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    throw ImageError(where + std::string(what) + " '" + text + "' is not a hex number");
  const unsigned long value = std::stoul(text, nullptr, 16);
  if (value > limit) throw ImageError(where + std::string(what) + " '" + text + "' is too large");
  return static_cast<unsigned>(value);
}

// Splits a line into words; a quoted text is one word (quotes kept) and
// '#' outside quotes ends the line.
std::vector<std::string> Words(const std::string& line, const std::string& where) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '#') break;
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    std::size_t end = i;
    if (c == '"') {
      end = line.find('"', i + 1);
      if (end == std::string::npos) throw ImageError(where + "text without its closing quote");
      ++end;
    } else {
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r' &&
             line[end] != '#')
        ++end;
    }
    words.push_back(line.substr(i, end - i));
    i = end;
  }
  return words;
}

std::vector<FirmwareRecord> ReadDescription(const std::string& path,
                                            const std::map<std::string, unsigned>& values) {
  std::ifstream in(path);
  if (!in) throw ImageError(path + ": cannot open");
  std::vector<Segment> segments;
  std::uint16_t lfsr = 0;
  long expectRecords = -1, expectBytes = -1;
  std::vector<std::pair<unsigned, std::uint8_t>> placed;
  std::vector<int> placedLine;
  long next = -1;  // address after the last placed byte, for '+'
  std::string line;
  for (int lineNo = 1; std::getline(in, line); ++lineNo) {
    const std::string where = path + ":" + std::to_string(lineNo) + ": ";
    const auto words = Words(line, where);
    if (words.empty()) continue;
    const std::string& word = words[0];
    if (word == "fill") {
      if (words.size() != 2) throw ImageError(where + "fill takes one seed");
      lfsr = static_cast<std::uint16_t>(ParseHex(words[1], 0xFFFF, where, "seed"));
      if (lfsr == 0) throw ImageError(where + "the fill seed must not be 0");
    } else if (word == "expect") {
      if (words.size() != 3)
        throw ImageError(where + "expect takes a record count and a byte count");
      expectRecords = ParseCount(words[1], where);
      expectBytes = ParseCount(words[2], where);
    } else if (word == "segments") {
      for (std::size_t i = 1; i < words.size(); ++i) {
        const auto dash = words[i].find('-');
        if (dash == std::string::npos) throw ImageError(where + "a segment is FIRST-LAST");
        Segment segment{ParseHex(words[i].substr(0, dash), 0xFFFF, where, "address"),
                        ParseHex(words[i].substr(dash + 1), 0xFFFF, where, "address"), lineNo};
        if (segment.last < segment.first)
          throw ImageError(where + "segment " + words[i] + " ends before it starts");
        segments.push_back(segment);
      }
    } else if ((word[0] == '@' && word.size() > 2 && word.back() == ':') || word == "+") {
      if (word == "+") {
        if (next < 0) throw ImageError(where + "'+' continues a placed line, there is none before");
      } else {
        next = ParseHex(word.substr(1, word.size() - 2), 0xFFFF, where, "address");
      }
      auto put = [&](unsigned byte) {
        if (next > 0xFFFF) throw ImageError(where + "bytes beyond address 0xFFFF");
        placed.emplace_back(static_cast<unsigned>(next++), static_cast<std::uint8_t>(byte));
        placedLine.push_back(lineNo);
      };
      for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& item = words[i];
        if (item[0] == '$') {
          auto value = values.find(item.substr(1));
          if (value == values.end()) throw ImageError(where + "no value for " + item + " (--set)");
          put(value->second & 0xFFu);
          put(value->second >> 8);
        } else if (item[0] == '"') {
          for (std::size_t c = 1; c + 1 < item.size(); ++c) {
            const auto ch = static_cast<unsigned char>(item[c]);
            if (ch < 0x20 || ch > 0x7E) throw ImageError(where + "text is printable ASCII");
            put(ch);
            put(0);
          }
        } else {
          if (item.size() != 2)
            throw ImageError(where + "a byte is two hex digits, not '" + item + "'");
          put(ParseHex(item, 0xFF, where, "byte"));
        }
      }
    } else {
      throw ImageError(where + "unknown statement '" + word + "'");
    }
  }
  if (segments.empty()) throw ImageError(path + ": no segments");

  // Which segment line covers each address (0: none).
  auto owner = std::make_unique<int[]>(0x10000);
  for (const auto& segment : segments)
    for (unsigned address = segment.first; address <= segment.last; ++address) {
      if (owner[address] != 0)
        throw ImageError(path + ":" + std::to_string(segment.line) +
                         ": segments overlap at address " + Hex(address) + " (also line " +
                         std::to_string(owner[address]) + ")");
      owner[address] = segment.line;
    }
  std::vector<std::uint8_t> memory(0x10000);
  if (lfsr != 0) {
    for (unsigned address = 0; address < 0x10000; ++address) {
      if (owner[address] == 0) continue;
      // Galois LFSR, taps 16 14 13 11, clocked once per bit of the byte.
      for (int bit = 0; bit < 8; ++bit) {
        const bool out = lfsr & 1u;
        lfsr = static_cast<std::uint16_t>(lfsr >> 1);
        if (out) lfsr ^= 0xB400u;
      }
      memory[address] = static_cast<std::uint8_t>(lfsr);
    }
  }
  std::vector<bool> given(0x10000);
  for (std::size_t i = 0; i < placed.size(); ++i) {
    const auto [address, value] = placed[i];
    const std::string where = path + ":" + std::to_string(placedLine[i]) + ": ";
    if (owner[address] == 0) throw ImageError(where + "byte placed outside every segment");
    if (given[address]) throw ImageError(where + "byte placed twice at the same address");
    given[address] = true;
    memory[address] = value;
  }

  std::vector<FirmwareRecord> records;
  for (const auto& segment : segments)
    for (unsigned address = segment.first; address <= segment.last;) {
      const unsigned end = std::min(segment.last + 1, address + unsigned{kFirmwareRecordMaxData});
      FirmwareRecord record{};
      record.length = static_cast<std::uint8_t>(end - address);
      record.address = static_cast<std::uint16_t>(address);
      record.type = kFirmwareRecordData;
      std::copy(memory.begin() + address, memory.begin() + end, record.data);
      records.push_back(record);
      address = end;
    }
  long bytes = 0;
  for (const auto& record : records) bytes += record.length;
  if (expectRecords >= 0 &&
      (static_cast<long>(records.size()) != expectRecords || bytes != expectBytes))
    throw ImageError(path + ": comes out with " + std::to_string(records.size()) + " records and " +
                     std::to_string(bytes) + " bytes, expected " + std::to_string(expectRecords) +
                     " and " + std::to_string(expectBytes));
  return records;
}

// What the loader relies on, whatever the source: 1 to 16 bytes a record,
// no record running from internal into external memory or past 0xFFFF.
void CheckRecords(const std::vector<FirmwareRecord>& records, const std::string& name) {
  for (const auto& record : records) {
    const unsigned last = record.address + record.length - 1u;
    if (record.length == 0 || record.length > kFirmwareRecordMaxData || last > 0xFFFF ||
        (record.address <= vantrel::fw::kInternalMemoryTop &&
         last > vantrel::fw::kInternalMemoryTop))
      throw ImageError(name + ": malformed record at address " + Hex(record.address));
  }
}

// The USB device descriptor that a board firmware presents, from the
// descriptor block at 0x0D6B: its identifiers must be the ones the daemon
// serves, or the board it loads is never found.
constexpr unsigned kDescriptorBlock = 0x0D6B;

void CheckDeviceIds(const std::vector<FirmwareRecord>& records, const std::string& name,
                    unsigned vendorId, unsigned productId) {
  std::vector<int> memory(0x10000, -1);
  for (const auto& record : records)
    for (unsigned i = 0; i < record.length; ++i)
      memory[(record.address + i) & 0xFFFFu] = record.data[i];
  std::uint8_t descriptor[18];
  for (unsigned i = 0; i < sizeof descriptor; ++i) {
    if (memory[kDescriptorBlock + i] < 0)
      throw ImageError(name + ": no device descriptor at " + Hex(kDescriptorBlock) +
                       " (the image does not cover it), so its USB identifiers are unknown");
    descriptor[i] = static_cast<std::uint8_t>(memory[kDescriptorBlock + i]);
  }
  if (descriptor[0] != 18 || descriptor[1] != 1)
    throw ImageError(name + ": no device descriptor at " + Hex(kDescriptorBlock) +
                     ", so its USB identifiers are unknown");
  const unsigned vendor = descriptor[8] | (descriptor[9] << 8);
  const unsigned product = descriptor[10] | (descriptor[11] << 8);
  if (vendor == vendorId && product == productId) return;
  char text[320];
  std::snprintf(text, sizeof text,
                "%s: the board firmware presents itself as %04x:%04x (its device descriptor at "
                "0x%04X), but this build serves boards with %04x:%04x: configure with "
                "-DK27_BOARD_VENDOR_ID=0x%04x -DK27_BOARD_PRODUCT_ID=0x%04x",
                name.c_str(), vendor, product, kDescriptorBlock, vendorId, productId, vendor,
                product);
  throw ImageError(text);
}

void WriteOutputs(const std::string& sourcePath, const std::string& sizesPath,
                  const std::string& header,
                  const std::vector<std::pair<std::string, std::vector<FirmwareRecord>>>& images) {
  std::ofstream source(sourcePath);
  if (!source) throw ImageError(sourcePath + ": cannot write");
  source << "// Generated by recordgen; do not edit.\n#include <" << header << ">\n";
  std::ofstream sizes(sizesPath);
  if (!sizes) throw ImageError(sizesPath + ": cannot write");
  sizes << "// Generated by recordgen; do not edit.\n#pragma once\n\n#include <cstddef>\n\n";
  for (const auto& [name, records] : images) {
    // Data records and the end record.
    const std::size_t count = records.size() + 1;
    sizes << "inline constexpr std::size_t k" << name << "Records = " << count << ";\n";
    source << "\nconst FirmwareRecord " << name << "[" << count << "] = {\n";
    for (const auto& record : records) {
      char text[32];
      std::snprintf(text, sizeof text, "  {%u, 0, 0x%04X, 0, {", record.length, record.address);
      source << text;
      for (std::size_t i = 0; i < kFirmwareRecordMaxData; ++i) {
        std::snprintf(text, sizeof text, "%s0x%02X", i ? ", " : "", record.data[i]);
        source << text;
      }
      source << "}, 0},\n";
    }
    source << "  {0, 0, 0x0000, 1, {}, 0},\n};\n";
  }
  if (!source || !sizes) throw ImageError("writing the outputs failed");
}

constexpr const char* kUsage =
    "usage: recordgen [--set NAME=VALUE]... (--description IMAGE=FILE | --hex "
    "IMAGE=FILE)...\n"
    "                 [--device-ids IMAGE=VENDOR:PRODUCT]...\n"
    "                 --header HEADER --out FILE.cpp --sizes FILE.h\n"
    "       recordgen --help | --version\n"
    "Writes each IMAGE as an array of 22-byte download records ended by an end\n"
    "record, from a segment description or from Intel HEX, and the record\n"
    "counts as constants kIMAGERecords. --set gives the 16-bit values that a\n"
    "description refers to as $NAME.\n"
    "\n"
    "Options:\n"
    "  --set NAME=VALUE          a 16-bit value (decimal, 0x hex or 0 octal)\n"
    "  --description IMAGE=FILE  image IMAGE from a segment description\n"
    "  --hex IMAGE=FILE          image IMAGE from Intel HEX\n"
    "  --device-ids IMAGE=VENDOR:PRODUCT\n"
    "                            fail unless the device descriptor at 0x0D6B in\n"
    "                            IMAGE carries these identifiers (16-bit numbers)\n"
    "  --header HEADER           header the source includes, as <HEADER>\n"
    "  --out FILE.cpp            the source to write\n"
    "  --sizes FILE.h            the header of record counts to write\n"
    "  --help                    show this text and exit\n"
    "  --version                 show the version and exit\n"
    "Exit status: 0 written, 1 failed, 2 for a usage error.\n";

// A command line the generator refuses: exit status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A 16-bit number: decimal, 0x hex or 0 octal.
unsigned Number16(const std::string& text, const std::string& what) {
  std::size_t used = 0;
  unsigned long number = 0;
  try {
    number = std::stoul(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || text.empty() || number > 0xFFFF)
    throw UsageError(what + ": '" + text + "' is not a 16-bit number");
  return static_cast<unsigned>(number);
}

enum Code : int {
  kHelp = 'h',
  kSet = 256,
  kDescription,
  kHex,
  kDeviceIds,
  kOut,
  kSizes,
  kHeader,
  kVersion
};

const option kOptions[] = {
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, kVersion},
    {"set", required_argument, nullptr, kSet},
    {"description", required_argument, nullptr, kDescription},
    {"hex", required_argument, nullptr, kHex},
    {"device-ids", required_argument, nullptr, kDeviceIds},
    {"out", required_argument, nullptr, kOut},
    {"sizes", required_argument, nullptr, kSizes},
    {"header", required_argument, nullptr, kHeader},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, unsigned> values;
  std::map<std::string, std::pair<unsigned, unsigned>> deviceIds;  // image -> vendor, product
  std::vector<std::pair<std::string, std::string>> sources;        // name, "hex:" or "desc:" + path
  std::string output, sizesOutput, header;
  int failure = 1;
  try {
    opterr = 0;
    for (;;) {
      const int code = getopt_long(argc, argv, "+:h", kOptions, nullptr);
      if (code == -1) break;
      const std::string arg = argv[optind - 1];
      auto nameAndValue = [&]() {
        const std::string text = optarg;
        const auto equals = text.find('=');
        if (equals == std::string::npos || equals == 0)
          throw UsageError(arg + ": expects NAME=VALUE");
        return std::make_pair(text.substr(0, equals), text.substr(equals + 1));
      };
      switch (code) {
        case kHelp:
          std::cout << kUsage;
          return 0;
        case kVersion:
          std::cout << "recordgen " << K27_RECORDGEN_VERSION << "\n";
          return 0;
        case kSet: {
          auto [name, text] = nameAndValue();
          values[name] = Number16(text, "--set " + name);
          break;
        }
        case kDeviceIds: {
          auto [name, text] = nameAndValue();
          const auto colon = text.find(':');
          if (colon == std::string::npos)
            throw UsageError("--device-ids " + name + ": expects VENDOR:PRODUCT");
          deviceIds[name] = {Number16(text.substr(0, colon), "--device-ids " + name),
                             Number16(text.substr(colon + 1), "--device-ids " + name)};
          break;
        }
        case kDescription:
        case kHex: {
          auto [name, path] = nameAndValue();
          sources.emplace_back(name, (code == kHex ? "hex:" : "desc:") + path);
          break;
        }
        case kOut:
          output = optarg;
          break;
        case kSizes:
          sizesOutput = optarg;
          break;
        case kHeader:
          header = optarg;
          break;
        case ':':
          throw UsageError(arg + ": needs a value");
        default:
          throw UsageError(arg + ": unknown option (see --help)");
      }
    }
    if (optind < argc) throw UsageError(std::string(argv[optind]) + ": unexpected argument");
    if (output.empty() || sizesOutput.empty() || header.empty() || sources.empty())
      throw UsageError("needs --header, --out, --sizes and at least one image (see --help)");

    std::vector<std::pair<std::string, std::vector<FirmwareRecord>>> images;
    for (const auto& [name, source] : sources) {
      std::vector<FirmwareRecord> records;
      if (source.starts_with("hex:")) {
        const std::string path = source.substr(4);
        std::ifstream in(path);
        if (!in) throw ImageError(path + ": cannot open");
        records = vantrel::fw::ReadIntelHex(in, path);
      } else {
        records = ReadDescription(source.substr(5), values);
      }
      CheckRecords(records, name);
      if (auto ids = deviceIds.find(name); ids != deviceIds.end())
        CheckDeviceIds(records, name, ids->second.first, ids->second.second);
      images.emplace_back(name, std::move(records));
    }
    WriteOutputs(output, sizesOutput, header, images);
    return 0;
  } catch (const UsageError& error) {
    std::cerr << "recordgen: " << error.what() << "\n";
    failure = 2;
  } catch (const std::exception& error) {
    std::cerr << "recordgen: " << error.what() << "\n";
  }
  // No half-written outputs: the build must not go on with them.
  if (!output.empty()) std::remove(output.c_str());
  if (!sizesOutput.empty()) std::remove(sizesOutput.c_str());
  return failure;
}
