// eeprom and sram: read, dump to a file, load from a file, compare.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "Commands.h"
#include "MemoryFile.h"
#include "Progress.h"
#include "SharedRecords.h"

namespace k27ctl {

namespace {

using memfile::FileFormat;
using memfile::Segment;

constexpr std::uint32_t kChunk = 256;  // bytes per library call: the bar moves, the calls stay few

std::string HelpFor(const std::string& name) {
  const bool eeprom = name == "eeprom";
  return "usage: k27ctl " + name + " read ADDR COUNT\n" + "       k27ctl " + name +
         " dump FILE [--address A] [--count N] [--format bin|hex]\n" + "       k27ctl " + name +
         " load FILE [--verify] [--address A] [--format bin|hex]\n" + "       k27ctl " + name +
         " compare FILE [--address A] [--format bin|hex]\n\n" +
         (eeprom ? "The EEPROM from address 8 (0-7 are not the library's to touch) up to the\n"
                   "end the library allows for the probed device.\n"
                 : "The 64 KiB SRAM, addresses 0 to 0xFFFF.\n") +
         "FILE is raw binary, or Intel HEX when it ends in .hex, .ihex or .ihx (or\n"
         "with --format). dump writes the whole memory unless --address/--count\n"
         "narrow it; a raw image loads at --address (default the memory's first\n"
         "address), Intel HEX at the addresses it holds. A file is checked whole\n"
         "before anything is written. --verify reads the load back and names the\n"
         "first differing address. compare fails when the memory differs.\n"
         "A progress bar shows on a terminal, never in a pipe.\n\n"
         "JSON: read: {\"address\":N,\"count\":N,\"bytes\":HEX}\n"
         "  dump: {\"file\":PATH,\"address\":N,\"count\":N,\"format\":\"bin\"|\"hex\"}\n"
         "  load: {\"file\":PATH,\"written\":N,\"verified\":BOOL}\n"
         "  compare: {\"file\":PATH,\"compared\":N,\"equal\":BOOL,\"differences\":N,\n"
         "    \"first_difference\":ADDRESS|null}\n";
}

// One of the two memories, with the range its transfers may cover.
class Memory {
 public:
  Memory(Invocation& invocation, bool eeprom) : invocation_(invocation), eeprom_(eeprom) {}

  std::uint32_t First() const { return eeprom_ ? 8 : 0; }
  // One past the last address a transfer may touch; connects to find out.
  std::uint32_t End() {
    if (!eeprom_) return 0x10000;
    invocation_.Board();
    const std::uint32_t last = ReadEepromLastAddress(invocation_.Instance());
    return std::max(last, First());
  }
  const char* Name() const { return eeprom_ ? "EEPROM" : "SRAM"; }

  void CheckRange(std::uint32_t address, std::uint64_t count) {
    if (address < First() || address + count > End()) {
      char text[160];
      std::snprintf(text, sizeof text, "0x%04X..0x%04llX is outside the %s's range 0x%04X..0x%04X",
                    address, static_cast<unsigned long long>(address + count - (count > 0 ? 1 : 0)),
                    Name(), First(), End() - 1);
      throw UsageError(text);
    }
  }

  std::vector<std::uint8_t> Read(std::uint32_t address, std::uint32_t count, Progress& progress,
                                 std::uint64_t& done) {
    std::vector<std::uint8_t> bytes(count);
    for (std::uint32_t offset = 0; offset < count; offset += kChunk) {
      const std::uint32_t n = std::min(kChunk, count - offset);
      const auto at = static_cast<unsigned short>(address + offset);
      VantrelUSB& board = invocation_.Board();
      const int ok = eeprom_ ? board.ReadEEPROM(at, bytes.data() + offset, n)
                             : board.ReadSRAM(at, bytes.data() + offset, n);
      if (!ok)
        invocation_.BoardFailed(std::string(eeprom_ ? "ReadEEPROM" : "ReadSRAM") + " at " +
                                HexAddress(at));
      done += n;
      progress.Update(done);
    }
    return bytes;
  }

  void Write(std::uint32_t address, std::vector<std::uint8_t>& bytes, Progress& progress,
             std::uint64_t& done) {
    const auto count = static_cast<std::uint32_t>(bytes.size());
    for (std::uint32_t offset = 0; offset < count; offset += kChunk) {
      const std::uint32_t n = std::min(kChunk, count - offset);
      const auto at = static_cast<unsigned short>(address + offset);
      VantrelUSB& board = invocation_.Board();
      const int ok = eeprom_ ? board.WriteEEPROM(at, bytes.data() + offset, n)
                             : board.WriteSRAM(at, bytes.data() + offset, n);
      if (!ok)
        invocation_.BoardFailed(std::string(eeprom_ ? "WriteEEPROM" : "WriteSRAM") + " at " +
                                HexAddress(at));
      done += n;
      progress.Update(done);
    }
  }

  static std::string HexAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", address);
    return text;
  }

 private:
  Invocation& invocation_;
  bool eeprom_;
};

// --format bin|hex, else by the file's extension.
FileFormat FormatFor(const std::string& path, const std::optional<std::string>& format) {
  if (format) {
    if (*format == "bin" || *format == "binary" || *format == "raw") return FileFormat::kBinary;
    if (*format == "hex" || *format == "ihex") return FileFormat::kIntelHex;
    throw UsageError("--format is bin or hex, not '" + *format + "'");
  }
  return memfile::FormatByExtension(path);
}

// A corrupt file is a usage error: nothing has been sent.
std::vector<Segment> ReadImageOrRefuse(const std::string& path, FileFormat format,
                                       std::uint32_t binaryAddress) {
  RequireReadable(path);  // a file that cannot be read is an I/O failure, not a usage error
  try {
    return memfile::ReadImageFile(path, format, binaryAddress);
  } catch (const memfile::FileError& error) {
    throw UsageError(error.what());
  }
}

void WriteImageOrFail(const std::string& path, FileFormat format, std::uint32_t address,
                      const std::vector<std::uint8_t>& bytes) {
  try {
    memfile::WriteImageFile(path, format, address, bytes);
  } catch (const memfile::WriteError& error) {
    throw OutputFailure(error.what());
  }
}

std::uint64_t TotalBytes(const std::vector<Segment>& segments) {
  std::uint64_t total = 0;
  for (const auto& segment : segments) total += segment.bytes.size();
  return total;
}

void PrintDump(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t row = 0; row < bytes.size(); row += 16) {
    const std::size_t n = std::min<std::size_t>(16, bytes.size() - row);
    std::string line = Memory::HexAddress(address + static_cast<std::uint32_t>(row)) + ":";
    for (std::size_t i = 0; i < 16; ++i) {
      if (i < n) {
        line += ' ';
        line += Hex(&bytes[row + i], 1);
      } else {
        line += "   ";
      }
    }
    PrintLine(line + "  |" + Printable(&bytes[row], n) + "|");
  }
}

int RunMemory(Invocation& invocation, const Args& args, const std::string& name) {
  std::optional<std::uint32_t> address, count;
  std::optional<std::string> format;
  bool verify = false;
  const ParsedArgs parsed = ParseOptions(
      args, name,
      {{"address", required_argument, nullptr, 'a'},
       {"count", required_argument, nullptr, 'n'},
       {"format", required_argument, nullptr, 'f'},
       {"verify", no_argument, nullptr, 'v'}},
      HelpFor(name), [&](int code, const char* value) {
        if (code == 'a')
          address = static_cast<std::uint32_t>(ParseNumber(value, 0, 0xFFFF, "--address"));
        if (code == 'n')
          count = static_cast<std::uint32_t>(ParseNumber(value, 1, 0x10000, "--count"));
        if (code == 'f') format = value;
        if (code == 'v') verify = true;
      });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.empty()) throw UsageError(name + " needs read, dump, load or compare");
  const std::string& action = words[0];
  Memory memory(invocation, name == "eeprom");
  if (verify && action != "load") throw UsageError("--verify goes with load");
  if (count && action != "dump") throw UsageError("--count goes with dump");
  if (format && action == "read") throw UsageError("--format goes with dump, load and compare");

  if (action == "read") {
    if (words.size() != 3 || address) throw UsageError(name + " read takes ADDR COUNT");
    const auto at =
        static_cast<std::uint32_t>(ParseNumber(words[1], memory.First(), 0xFFFF, "ADDR"));
    const auto n = static_cast<std::uint32_t>(ParseNumber(words[2], 1, 0x10000, "COUNT"));
    memory.CheckRange(at, n);
    Progress progress(std::string("reading ") + memory.Name(), n);
    std::uint64_t done = 0;
    const auto bytes = memory.Read(at, n, progress, done);
    progress.Done();
    if (invocation.json)
      PrintLine(Json::Object()
                    .Add("address", std::int64_t(at))
                    .Add("count", std::int64_t(n))
                    .Add("bytes", Hex(bytes))
                    .Text());
    else
      PrintDump(at, bytes);
    return kExitOk;
  }

  if (words.size() != 2) throw UsageError(name + " " + action + " takes FILE");
  const std::string& path = words[1];
  const FileFormat fileFormat = FormatFor(path, format);
  const char* formatName = fileFormat == FileFormat::kIntelHex ? "hex" : "bin";

  if (action == "dump") {
    const std::uint32_t at = address.value_or(memory.First());
    if (at < memory.First()) memory.CheckRange(at, 1);
    const std::uint32_t n = count.value_or(memory.End() > at ? memory.End() - at : 0);
    if (n == 0)
      throw Failure(std::string("the ") + memory.Name() + " has nothing to dump from " +
                    Memory::HexAddress(at));
    memory.CheckRange(at, n);
    Progress progress(std::string("dumping ") + memory.Name(), n);
    std::uint64_t done = 0;
    const auto bytes = memory.Read(at, n, progress, done);
    progress.Done();
    WriteImageOrFail(path, fileFormat, at, bytes);
    if (invocation.json)
      PrintLine(Json::Object()
                    .Add("file", path)
                    .Add("address", std::int64_t(at))
                    .Add("count", std::int64_t(n))
                    .Add("format", formatName)
                    .Text());
    else
      PrintLine("dumped " + std::to_string(n) + " bytes from " + Memory::HexAddress(at) + " to " +
                path);
    return kExitOk;
  }

  if (action != "load" && action != "compare")
    throw UsageError("unknown " + name + " action '" + action + "'");
  if (address && fileFormat == FileFormat::kIntelHex)
    throw UsageError("--address goes with raw binary files");
  // The whole file is read and checked before the board is asked anything.
  auto segments = ReadImageOrRefuse(path, fileFormat, address.value_or(memory.First()));
  if (segments.empty()) throw UsageError(path + " holds no data");
  for (const auto& segment : segments) memory.CheckRange(segment.address, segment.bytes.size());
  const std::uint64_t total = TotalBytes(segments);

  if (action == "load") {
    {
      Progress progress(std::string("writing ") + memory.Name(), total);
      std::uint64_t done = 0;
      for (auto& segment : segments) memory.Write(segment.address, segment.bytes, progress, done);
    }
    if (verify) {
      Progress progress(std::string("verifying ") + memory.Name(), total);
      std::uint64_t done = 0;
      for (const auto& segment : segments) {
        const auto back = memory.Read(
            segment.address, static_cast<std::uint32_t>(segment.bytes.size()), progress, done);
        for (std::size_t i = 0; i < back.size(); ++i)
          if (back[i] != segment.bytes[i])
            throw Failure("verify failed at " +
                          Memory::HexAddress(segment.address + static_cast<std::uint32_t>(i)) +
                          ": wrote 0x" + Hex(&segment.bytes[i], 1) + ", read 0x" +
                          Hex(&back[i], 1));
      }
    }
    if (invocation.json)
      PrintLine(Json::Object()
                    .Add("file", path)
                    .Add("written", std::int64_t(total))
                    .Add("verified", verify)
                    .Text());
    else
      PrintLine("loaded " + std::to_string(total) + " bytes from " + path +
                (verify ? ", verified" : ""));
    return kExitOk;
  }

  // compare
  Progress progress(std::string("comparing ") + memory.Name(), total);
  std::uint64_t done = 0, differences = 0;
  std::optional<std::uint32_t> first;
  std::uint8_t fileByte = 0, boardByte = 0;
  for (const auto& segment : segments) {
    const auto back = memory.Read(segment.address, static_cast<std::uint32_t>(segment.bytes.size()),
                                  progress, done);
    for (std::size_t i = 0; i < back.size(); ++i)
      if (back[i] != segment.bytes[i]) {
        ++differences;
        if (!first) {
          first = segment.address + static_cast<std::uint32_t>(i);
          fileByte = segment.bytes[i];
          boardByte = back[i];
        }
      }
  }
  progress.Done();
  if (invocation.json) {
    Json result = Json::Object()
                      .Add("file", path)
                      .Add("compared", std::int64_t(total))
                      .Add("equal", !first)
                      .Add("differences", std::int64_t(differences));
    if (first)
      result.Add("first_difference", std::int64_t(*first));
    else
      result.AddNull("first_difference");
    PrintLine(result.Text());
  } else if (!first) {
    PrintLine(std::string("the ") + memory.Name() + " matches " + path + " (" +
              std::to_string(total) + " bytes)");
  }
  if (first)
    throw Failure(std::string("the ") + memory.Name() + " differs from " + path + " at " +
                  Memory::HexAddress(*first) + ": file 0x" + Hex(&fileByte, 1) + ", board 0x" +
                  Hex(&boardByte, 1) + " (" + std::to_string(differences) + " bytes differ)");
  return kExitOk;
}

}  // namespace

int RunEeprom(Invocation& invocation, const Args& args) {
  return RunMemory(invocation, args, "eeprom");
}
int RunSram(Invocation& invocation, const Args& args) {
  return RunMemory(invocation, args, "sram");
}

}  // namespace k27ctl
