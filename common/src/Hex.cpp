#include "k27/common/Hex.h"

namespace vantrel::common {

namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

}  // namespace

std::optional<std::uint8_t> HexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9') return std::uint8_t(c - U'0');
  if (c >= U'a' && c <= U'f') return std::uint8_t(c - U'a' + 10);
  if (c >= U'A' && c <= U'F') return std::uint8_t(c - U'A' + 10);
  return std::nullopt;
}

void AppendHex(std::string& text, std::span<const std::uint8_t> bytes, HexCase letters,
               std::string_view separator) {
  const char* digits = letters == HexCase::kUpper ? kUpperDigits : kLowerDigits;
  text.reserve(text.size() + bytes.size() * (2 + separator.size()));
  for (const std::uint8_t b : bytes) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 0x0F]);
    text.append(separator);
  }
}

std::string ToHex(std::span<const std::uint8_t> bytes, HexCase letters) {
  std::string text;
  AppendHex(text, bytes, letters);
  return text;
}

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const auto high = HexDigitValue(text[i]);
    const auto low = HexDigitValue(text[i + 1]);
    if (!high || !low) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
  }
  return bytes;
}

}  // namespace vantrel::common
