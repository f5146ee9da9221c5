// eeprom and sram: read, dump to a file, load from a file, compare.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "Commands.h"
#include "ImageDigest.h"
#include "ImageOutput.h"
#include "MemoryFile.h"
#include "Progress.h"
#include "SharedRecords.h"

namespace vantrel::ctl {

namespace {

using vantrel::memfile::FileFormat;
using vantrel::memfile::Segment;

constexpr std::uint32_t kChunk = 256;  // bytes per library call: the bar moves, the calls stay few

std::string HelpFor(const std::string& name) {
  const bool eeprom = name == "eeprom";
  return "usage: k27ctl " + name + " read ADDR COUNT\n" + "       k27ctl " + name +
         " dump FILE|- [--address A] [--count N] [--format bin|hex]\n" + "       k27ctl " + name +
         " load FILE [--no-verify] [--address A] [--format bin|hex]\n" + "       k27ctl " + name +
         " compare FILE [--address A] [--format bin|hex]\n\n" +
         (eeprom ? "The EEPROM from address 8 (0-7 are not the library's to touch) up to the\n"
                   "end the library allows for the probed device.\n"
                 : "The 64 KiB SRAM, addresses 0 to 0xFFFF.\n") +
         "FILE is raw binary, or Intel HEX when it ends in .hex, .ihex or .ihx (or\n"
         "with --format). dump writes the whole memory unless --address/--count\n"
         "narrow it, and only once all of it has been read: an existing FILE is\n"
         "rewritten in place and keeps its mode and owner, a new one is made with\n"
         "mode 0666 less the umask, and - is standard output (the summary then goes\n"
         "to standard error). A FILE that is not a regular file (a device, a FIFO, a\n"
         "link to one) is refused. A raw image loads at --address (default the\n"
         "memory's first address), Intel HEX at the addresses it holds. A file is\n"
         "checked whole before anything is written. load reads the memory back and\n"
         "fails naming the first differing address (--no-verify skips that).\n"
         "compare fails when the memory differs. sha256 is the SHA-256 of the\n"
         "image's bytes in address order (of a raw file, its sha256sum).\n"
         "A progress bar shows on a terminal, never in a pipe.\n\n"
         "JSON: read: {\"address\":N,\"count\":N,\"bytes\":HEX}\n"
         "  dump: {\"file\":PATH,\"address\":N,\"count\":N,\"format\":\"bin\"|\"hex\",\n"
         "    \"sha256\":HEX}\n"
         "  load: "
         "{\"file\":PATH,\"written\":N,\"verified\":BOOL,\"first_difference\":ADDRESS|null,\n"
         "    \"sha256\":HEX}\n"
         "  compare: {\"file\":PATH,\"compared\":N,\"equal\":BOOL,\"differences\":N,\n"
         "    \"first_difference\":ADDRESS|null,\"sha256\":HEX}\n";
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
  return vantrel::memfile::FormatByExtension(path);
}

// A corrupt file is a usage error: nothing has been sent.
std::vector<Segment> ReadImageOrRefuse(const std::string& path, FileFormat format,
                                       std::uint32_t binaryAddress) {
  RequireReadable(path);  // a file that cannot be read is an I/O failure, not a usage error
  try {
    return vantrel::memfile::ReadImageFile(path, format, binaryAddress);
  } catch (const vantrel::memfile::FileError& error) {
    throw UsageError(error.what());
  }
}

// The dump's target, checked before the memory is read.
std::unique_ptr<vantrel::memfile::ImageOutput> OpenOutputOrFail(const std::string& path) {
  try {
    return std::make_unique<vantrel::memfile::ImageOutput>(path);
  } catch (const vantrel::memfile::WriteError& error) {
    throw OutputFailure(error.what());
  }
}

void WriteImageOrFail(vantrel::memfile::ImageOutput& output, FileFormat format,
                      std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  try {
    output.Write(format == FileFormat::kIntelHex ? vantrel::memfile::IntelHexText(address, bytes)
                                                 : std::string(bytes.begin(), bytes.end()));
  } catch (const vantrel::memfile::WriteError& error) {
    throw Failure(error.what());
  }
}

std::string Sha256Of(const std::vector<Segment>& segments) {
  ImageDigest digest;
  for (const auto& segment : segments) digest.Add(segment.bytes);
  return digest.Hex();
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
  bool verify = true, verifyGiven = false, noVerifyGiven = false;
  const ParsedArgs parsed = ParseOptions(
      args, name,
      {{"address", required_argument, nullptr, 'a'},
       {"count", required_argument, nullptr, 'n'},
       {"format", required_argument, nullptr, 'f'},
       {"verify", no_argument, nullptr, 'v'},
       {"no-verify", no_argument, nullptr, 'V'}},
      HelpFor(name), [&](int code, const char* value) {
        if (code == 'a')
          address = static_cast<std::uint32_t>(ParseNumber(value, 0, 0xFFFF, "--address"));
        if (code == 'n')
          count = static_cast<std::uint32_t>(ParseNumber(value, 1, 0x10000, "--count"));
        if (code == 'f') format = value;
        // Loads are verified anyway; --verify stays for the scripts that give it.
        if (code == 'v') verifyGiven = true;
        if (code == 'V') noVerifyGiven = true;
      });
  if (parsed.helpShown) return kExitOk;
  const auto& words = parsed.operands;
  if (words.empty()) throw UsageError(name + " needs read, dump, load or compare");
  const std::string& action = words[0];
  Memory memory(invocation, name == "eeprom");
  if ((verifyGiven || noVerifyGiven) && action != "load")
    throw UsageError(std::string(verifyGiven ? "--verify" : "--no-verify") + " goes with load");
  if (verifyGiven && noVerifyGiven) throw UsageError("--verify and --no-verify exclude each other");
  verify = !noVerifyGiven;
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
    // The target is checked before the read and written only after all of it.
    const auto output = OpenOutputOrFail(path);
    Progress progress(std::string("dumping ") + memory.Name(), n);
    std::uint64_t done = 0;
    const auto bytes = memory.Read(at, n, progress, done);
    progress.Done();
    WriteImageOrFail(*output, fileFormat, at, bytes);
    const std::string sha256 = Sha256Of({Segment{at, bytes}});
    const std::string report =
        invocation.json
            ? Json::Object()
                  .Add("file", path)
                  .Add("address", std::int64_t(at))
                  .Add("count", std::int64_t(n))
                  .Add("format", formatName)
                  .Add("sha256", sha256)
                  .Text()
            : "dumped " + std::to_string(n) + " bytes from " + Memory::HexAddress(at) + " to " +
                  (output->IsStandardOutput() ? "standard output" : path) + ", sha256 " + sha256;
    // Standard output holds the image itself.
    if (output->IsStandardOutput())
      std::fprintf(stderr, "%s\n", report.c_str());
    else
      PrintLine(report);
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
    std::optional<std::uint32_t> first;
    std::string mismatch;
    if (verify) {
      Progress progress(std::string("verifying ") + memory.Name(), total);
      std::uint64_t done = 0;
      for (const auto& segment : segments) {
        if (first) break;
        const auto back = memory.Read(
            segment.address, static_cast<std::uint32_t>(segment.bytes.size()), progress, done);
        for (std::size_t i = 0; i < back.size() && !first; ++i)
          if (back[i] != segment.bytes[i]) {
            first = segment.address + static_cast<std::uint32_t>(i);
            mismatch = "verify failed at " + Memory::HexAddress(*first) + ": wrote 0x" +
                       Hex(&segment.bytes[i], 1) + ", read 0x" + Hex(&back[i], 1);
          }
      }
      progress.Done();
    }
    const std::string sha256 = Sha256Of(segments);
    if (invocation.json) {
      Json result = Json::Object()
                        .Add("file", path)
                        .Add("written", std::int64_t(total))
                        .Add("verified", verify && !first);
      if (first)
        result.Add("first_difference", std::int64_t(*first));
      else
        result.AddNull("first_difference");
      PrintLine(result.Add("sha256", sha256).Text());
    } else if (!first) {
      PrintLine("loaded " + std::to_string(total) + " bytes from " + path +
                (verify ? ", verified" : ", not verified") + ", sha256 " + sha256);
    }
    if (first) throw Failure(mismatch).InResult();
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
    PrintLine(result.Add("sha256", Sha256Of(segments)).Text());
  } else if (!first) {
    PrintLine(std::string("the ") + memory.Name() + " matches " + path + " (" +
              std::to_string(total) + " bytes, sha256 " + Sha256Of(segments) + ")");
  }
  if (first)
    throw Failure(std::string("the ") + memory.Name() + " differs from " + path + " at " +
                  Memory::HexAddress(*first) + ": file 0x" + Hex(&fileByte, 1) + ", board 0x" +
                  Hex(&boardByte, 1) + " (" + std::to_string(differences) + " bytes differ)")
        .InResult();
  return kExitOk;
}

}  // namespace

int RunEeprom(Invocation& invocation, const Args& args) {
  return RunMemory(invocation, args, "eeprom");
}
int RunSram(Invocation& invocation, const Args& args) {
  return RunMemory(invocation, args, "sram");
}

}  // namespace vantrel::ctl
