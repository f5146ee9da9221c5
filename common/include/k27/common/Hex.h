// Bytes as hex digit pairs and back, as the traces, the simulator console
// and the ccTalk dumps write them; the one reading of a hex digit that every
// parser of the project shares.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::common {

enum class HexCase { kUpper, kLower };

// Appends two digits per byte, each pair followed by `separator` (none by
// default: "0AFF").
void AppendHex(std::string& text, std::span<const std::uint8_t> bytes,
               HexCase letters = HexCase::kUpper, std::string_view separator = {});

std::string ToHex(std::span<const std::uint8_t> bytes, HexCase letters = HexCase::kUpper);

// The value of one hex digit, 0-9, a-f or A-F; none for any other character
// (a char32_t takes a char, a char16_t or a QChar's unicode() alike).
std::optional<std::uint8_t> HexDigitValue(char32_t c);

inline bool IsHexDigit(char32_t c) { return HexDigitValue(c).has_value(); }

// Digit pairs of either case, with nothing between them; none for an odd
// count or any other character. Empty text gives no bytes.
std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text);

}  // namespace vantrel::common
