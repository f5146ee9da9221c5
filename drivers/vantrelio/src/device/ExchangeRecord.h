// What one bulk exchange did, for tracing: the bytes of the first transfer
// and, when the second one moved data, its bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vantrel::driver {

struct ExchangeRecord {
  int instance = 0;
  int channel = 0;  // endpoint number of the first transfer's pipe
  std::vector<std::uint8_t> out;
  std::optional<std::vector<std::uint8_t>> in;
};

using ExchangeHook = std::function<void(const ExchangeRecord&)>;

}  // namespace vantrel::driver
