#include "BoardCallText.h"

#include <vantrel/VantrelUSB.h>

#include "UsbErrorNames.h"

namespace vantrel::diag {

const char* LastErrorName(VantrelUSB* board) {
  return board != nullptr ? UsbErrorName(board->GetLastError()) : kUnknownErrorName;
}

std::string CallSucceededText(std::string_view call) {
  std::string text(call);
  text += " = success";
  return text;
}

std::string CallFailedText(std::string_view call, std::string_view why) {
  std::string text(call);
  text += " = error: ";
  text += why;
  return text;
}

std::string CallFailedText(std::string_view call, VantrelUSB* board) {
  return CallFailedText(call, LastErrorName(board));
}

}  // namespace vantrel::diag
