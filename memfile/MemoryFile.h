// Memory images on disk: raw binary, or Intel HEX (data, end-of-file and
// address records, each with its checksum). Board memories have 16-bit
// addresses, so an image never reaches beyond 0xFFFF.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantrel::memfile {

enum class FileFormat { kBinary, kIntelHex };

// By extension: .hex, .ihex and .ihx (any case) are Intel HEX, anything
// else raw binary.
FileFormat FormatByExtension(const std::string& path);

// A file that cannot be read or is not a valid image. The text names the
// file and, for a bad record, its line (line() is 0 otherwise).
class FileError : public std::runtime_error {
 public:
  explicit FileError(const std::string& what, int line = 0)
      : std::runtime_error(what), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// An image that could not be written.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Segment {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
};

// Reads the whole file and checks it before anything is done with it: a
// corrupt or unreadable file throws FileError naming the line. Raw binary
// is one segment at `binaryAddress`. Intel HEX gives its contiguous runs in
// address order; two records that give one address different bytes are
// refused.
std::vector<Segment> ReadImageFile(const std::string& path, FileFormat format,
                                   std::uint32_t binaryAddress);

// The Intel HEX text of `bytes` at `address`: 16 bytes per data record,
// then the end-of-file record.
std::string IntelHexText(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

// Writes the image through ImageOutput: an existing regular file in place
// (its mode, owner and links stay; its space is taken before it is
// changed, so a full disk leaves it as it was), a new file, never a device,
// FIFO or link to one; throws WriteError.
void WriteImageFile(const std::string& path, FileFormat format, std::uint32_t address,
                    const std::vector<std::uint8_t>& bytes);

}  // namespace vantrel::memfile
