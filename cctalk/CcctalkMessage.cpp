// The frame side of a ccTalk message: building, checking, reading, dumping.
// Nothing here talks to the board.
#include "CcctalkMessage.h"

#include <algorithm>
#include <span>

#include "k27/common/Hex.h"

namespace {

constexpr std::string_view kIncomplete = "CcctalkMessage::validate () { incomplete message }";
constexpr std::string_view kChecksumError = "CcctalkMessage::validate () { checksum error }";

}  // namespace

std::uint8_t CcctalkMessage::Checksum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(0u - sum);
}

// Sets the data count byte, the length and the checksum after the data.
void CcctalkMessage::SealFrame(std::size_t dataCount) {
  bytes_[1] = static_cast<std::uint8_t>(dataCount);
  const std::size_t checksumAt = kHeaderLength + dataCount;
  bytes_[checksumAt] = Checksum({bytes_.data(), checksumAt});
  length_ = static_cast<std::uint32_t>(checksumAt + 1);
}

CcctalkMessage::Result CcctalkMessage::build(std::uint8_t destination, std::uint8_t count,
                                             std::uint8_t source, std::uint8_t header,
                                             std::span<const std::uint8_t> data) {
  bytes_[0] = destination;
  bytes_[2] = source;
  bytes_[3] = header;
  const std::size_t given = std::min<std::size_t>(count, data.size());
  std::copy_n(data.begin(), given, bytes_.begin() + kHeaderLength);
  std::fill_n(bytes_.begin() + kHeaderLength + given, count - given, std::uint8_t{0});
  SealFrame(count);
  return kOk;
}

CcctalkMessage::Result CcctalkMessage::setData(std::span<const std::uint8_t> data) {
  if (data.size() > kMaximumData) return kFail;
  std::copy(data.begin(), data.end(), bytes_.begin() + kHeaderLength);
  SealFrame(data.size());
  return kOk;
}

CcctalkMessage::Result CcctalkMessage::assign(std::span<const std::uint8_t> raw) {
  if (raw.size() > kMaximumLength) return kFail;
  std::copy(raw.begin(), raw.end(), bytes_.begin());
  length_ = static_cast<std::uint32_t>(raw.size());
  return kOk;
}

bool CcctalkMessage::operator==(const CcctalkMessage& other) const {
  return length_ == other.length_ &&
         std::equal(bytes().begin(), bytes().end(), other.bytes().begin());
}

void CcctalkMessage::appendError(std::string_view text) {
  if (!anyError_) {
    errorText_.clear();
    anyError_ = true;
  }
  errorText_.append(text);
}

CcctalkMessage::Result CcctalkMessage::validate() {
  if (length_ < kMinimumLength || length_ != bytes_[1] + kMinimumLength) {
    appendError(kIncomplete);
    return kFail;
  }
  const std::size_t last = length_ - 1;
  if (bytes_[last] != Checksum({bytes_.data(), last})) {
    appendError(kChecksumError);
    return kFail;
  }
  return kOk;
}

std::string CcctalkMessage::dump() const {
  std::string out;
  const std::size_t perLine = kDumpBytesPerLine;
  const bool padRuns = length_ > perLine;
  // Each line: 3 per byte of hex, "- ", 1 per byte of characters, line feed.
  out.reserve((length_ / perLine + 1) * (perLine * 4 + 3));
  for (std::size_t start = 0; start < length_; start += perLine) {
    const std::size_t run = std::min<std::size_t>(perLine, length_ - start);
    vantrel::common::AppendHex(out, std::span<const std::uint8_t>(bytes_.data() + start, run),
                               vantrel::common::HexCase::kLower, " ");
    if (padRuns) out.append(3 * (perLine - run), ' ');
    out.append("- ");
    for (std::size_t i = 0; i < run; ++i) {
      const std::uint8_t b = bytes_[start + i];
      out.push_back(b < 0x20 ? '.' : static_cast<char>(b));
    }
    out.push_back('\n');
  }
  return out;
}

CcctalkMessage CcctalkMessage::echo() const {
  CcctalkMessage message;
  const std::size_t n = static_cast<std::size_t>(
      std::clamp<std::int32_t>(echoLength_, 0, static_cast<std::int32_t>(kMaximumLength)));
  std::copy_n(echoBytes_.begin(), n, message.bytes_.begin());
  message.length_ = static_cast<std::uint32_t>(n);
  return message;
}
