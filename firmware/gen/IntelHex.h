// Reader of the maker's 8051 images in Intel HEX, for the build-time
// generator of the loader's record arrays.
#pragma once

#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include <k27fw/FirmwareRecord.h>

namespace vantrel::fw {

// A fault in an image source; the message names the file and, where there
// is one, the line ("file:line: what").
class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The last address of the part's internal memory; above it lies external
// memory, which only the running first-stage loader writes.
inline constexpr unsigned kInternalMemoryTop = 0x1B3F;

// Reads Intel HEX text into data records in file order (`name` names the
// source in messages). Accepted: data records (00), one end record (01) at
// the end, and extended address records (02, 04) only while every data byte
// stays within the 16-bit address space. Data records longer than 16 bytes,
// or running from internal into external memory, are split. Refused, with
// an ImageError: bad characters or lengths, bad checksums, other record
// types, addresses beyond 0xFFFF, an address written twice, anything after
// the end record, a missing end record.
std::vector<FirmwareRecord> ReadIntelHex(std::istream& in, const std::string& name);

}  // namespace vantrel::fw
