// Memory images on disk: raw binary, or Intel HEX (data, end-of-file and
// address records, each with its checksum). Board memories have 16-bit
// addresses, so an image never reaches beyond 0xFFFF.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace k27ctl {

enum class FileFormat { kBinary, kIntelHex };

// --format bin|hex, else by extension: .hex, .ihex and .ihx are Intel HEX.
FileFormat FormatFor(const std::string& path, const std::optional<std::string>& format);

struct Segment {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
};

// Reads the whole file and checks it before anything is done with it: a
// corrupt or unreadable file throws UsageError naming the line. Raw binary
// is one segment at `binaryAddress`. Intel HEX gives its contiguous runs in
// address order; two records that give one address different bytes are
// refused.
std::vector<Segment> ReadImageFile(const std::string& path, FileFormat format,
                                   std::uint32_t binaryAddress);

// The Intel HEX text of `bytes` at `address`: 16 bytes per data record,
// then the end-of-file record.
std::string IntelHexText(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

// Writes the image whole or not at all (a temporary file renamed into
// place); throws Failure.
void WriteImageFile(const std::string& path, FileFormat format, std::uint32_t address,
                    const std::vector<std::uint8_t>& bytes);

}  // namespace k27ctl
