// How one control request ended, as its reply carries it: the status, the
// code's information count and the output bytes that go back.
#pragma once

#include <cstdint>
#include <optional>

namespace vantrel::driver {

struct ControlResult {
  std::uint32_t status;
  // The code's information count; unless `outputBytes` says otherwise, also
  // the bytes of `out` that are valid on success.
  std::uint32_t information;
  // For codes whose information is not a byte count of the output (the
  // isochronous transfers report 0): the bytes of `out` that go back.
  std::optional<std::uint32_t> outputBytes = std::nullopt;

  // The bytes of `out` that go back to the caller on success.
  std::uint32_t OutputBytes() const { return outputBytes.value_or(information); }
};

}  // namespace vantrel::driver
