// How a board call is reported: the name of the board's last error, and the
// "<call> = success" and "<call> = error: <why>" lines of the logs, titles
// and messages of the diagnostics pages and the tools.
#pragma once

#include <string>
#include <string_view>

class VantrelUSB;

namespace vantrel::diag {

// The name of the board's last error (see UsbErrorName); "Unknown error"
// without a board.
const char* LastErrorName(VantrelUSB* board);

// "<call> = success".
std::string CallSucceededText(std::string_view call);
// "<call> = error: <why>", where why is an error name or the reason the call
// was not made.
std::string CallFailedText(std::string_view call, std::string_view why);
// "<call> = error: <name of the board's last error>".
std::string CallFailedText(std::string_view call, VantrelUSB* board);

}  // namespace vantrel::diag
