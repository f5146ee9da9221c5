// The bus side of a ccTalk message: draining, receiving and sending through
// the board's timestamped serial receive and its serial send.
#include <vantrel/VantrelUSB.h>

#include <algorithm>
#include <string>

#include "CcctalkMessage.h"
#include "BoardCallText.h"

namespace {

constexpr std::string_view kReceiveNoDevice =
    "CcctalkMessage::receive () { unable to access device }";
constexpr std::string_view kReceiveFailed =
    "CcctalkMessage::receive () { Vantrel.ReceiveByteWithTimestamp (} = error:";
constexpr std::string_view kNoPower = "CcctalkMessage::receive () { error: no 12V power } ";
constexpr std::string_view kClearFailed =
    "CcctalkMessage::ClearPort () { Vantrel.ReceiveByteWithTimestamp (} = error:";
constexpr std::string_view kSendNoDevice = "CcctalkMessage::send () { unable to access device }";
constexpr std::string_view kSendFailed = "CcctalkMessage::send () { Vantrel.Send (} = error:";
constexpr std::string_view kEchoExpected =
    "CcctalkMessage::send () { error: local echo expected - ";
constexpr std::string_view kEchoDiffers = "received unequivalent data }";
constexpr std::string_view kClose = " }";

// The echo of every send of the program, received into one message whose
// error text collects every echo failure of the run.
CcctalkMessage& SharedEcho() {
  static CcctalkMessage echo;
  return echo;
}

// "<prefix><error name> }" with the board's current error.
std::string BoardError(std::string_view prefix, VantrelUSB* board) {
  std::string text(prefix);
  text += vantrel::diag::LastErrorName(board);
  text += kClose;
  return text;
}

}  // namespace

CcctalkMessage::Result CcctalkMessage::ClearPort(VantrelUSB* board, _usbSerialPort port,
                                                 int* drained) {
  if (board == nullptr) {
    appendError(kReceiveNoDevice);
    return kFail;
  }
  // The bytes go to a scratch byte rather than into the frame, which may
  // already be full.
  int count = 0;
  for (;;) {
    unsigned char discarded = 0;
    unsigned char time = 0;
    int hasByte = 0;
    if (board->ReceiveByteWithTimestamp(port, &discarded, &time, &hasByte) == 0) {
      appendError(BoardError(kClearFailed, board));
      return kFail;
    }
    if (hasByte == 0) break;
    ++count;
  }
  if (drained != nullptr) *drained = count;
  return kOk;
}

CcctalkMessage::Result CcctalkMessage::receive(VantrelUSB* board, _usbSerialPort port,
                                               std::uint16_t timeout, int mode, bool powerCheck) {
  length_ = 0;
  if (board == nullptr) {
    appendError(kReceiveNoDevice);
    return kFail;
  }
  if (timeout == 0) {
    timeout = 65535;
    mode = kTotalTime;
  }
  std::size_t expected = kMinimumLength;
  for (bool first = true;; first = false) {
    // length_ < expected <= 260 here, so the byte lands inside the frame.
    unsigned char time = 0;
    int hasByte = 0;
    if (board->ReceiveByteWithTimestamp(port, &bytes_[length_], &time, &hasByte) == 0) {
      appendError(BoardError(kReceiveFailed, board));
      return kFail;
    }
    if (powerCheck && first) {
      // The bus echoes the host's own bytes at once; nothing at all means
      // the bus has no supply.
      if (hasByte == 0) {
        appendError(kNoPower);
        return kFail;
      }
      time = 0;
    }
    elapsed_ += time;
    if (mode == kTotalTime && elapsed_ >= timeout) return kOk;
    if (mode == kSingleGap && time >= timeout) return kOk;
    if (hasByte != 0) {
      ++length_;
      if (length_ == 2) expected += bytes_[1];
    }
    if (length_ >= expected) return kOk;
  }
}

CcctalkMessage::Result CcctalkMessage::send(VantrelUSB* board, _usbSerialPort port) {
  elapsed_ = 0;
  echoLength_ = 0;
  if (board == nullptr) {
    appendError(kSendNoDevice);
    return kFail;
  }
  if (board->Send(port, bytes_.data(), length_) == 0) {
    appendError(BoardError(kSendFailed, board));
    return kFail;
  }
  CcctalkMessage& echo = SharedEcho();
  const Result received = echo.receive(board, port, kEchoTimeout, kSingleGap, true);
  std::copy_n(echo.bytes_.begin(), echo.length_, echoBytes_.begin());
  echoLength_ = static_cast<std::int32_t>(echo.length_);
  if (received < 0) {
    std::string text(kEchoExpected);
    text += echo.errorText();
    text += kClose;
    appendError(text);
    return kFail;
  }
  if (echo == *this) return kOk;
  std::string text(kEchoExpected);
  text += kEchoDiffers;
  appendError(text);
  return kFail;
}
