// The simulated daemon's console socket, through which k27simctl drives and
// inspects the simulated boards. One control request per command:
//   code kSimConsoleCode; input: the board number, then each word of the
//   command, every item followed by '\n';
//   output: a status byte ('0' done, '1' failed, '2' usage error), then the text.
#pragma once

#include <cstdint>

#include "vantrel/driver/ControlCodes.h"

namespace vantrel::driver {

constexpr const char* kSimConsoleSocket = "k27sim-control";
constexpr std::uint32_t kSimConsoleCode = CtlCode(0xA00, 0);
constexpr std::uint32_t kSimConsoleReplyMax = 64 * 1024;

}  // namespace vantrel::driver
