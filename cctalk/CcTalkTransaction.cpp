#include "CcTalkTransaction.h"

#include <algorithm>
#include <array>

#include <k27/common/Hex.h>
#include <vantrel/VantrelUSB.h>

namespace {

std::string HexOf(const CcctalkMessage& message) { return vantrel::common::ToHex(message.bytes()); }

// Sends the frame and reads its local echo back, as CcctalkMessage::send
// does, but into an echo message of this transaction: the program-wide one of
// send() keeps every echo error of the run, which grows without bound over a
// long poll. Fills in what was wrong with the echo, or the failed call.
void SendAndCheckEcho(VantrelUSB& board, _usbSerialPort port, CcTalkTransaction& transaction) {
  const CcctalkMessage& message = transaction.request;
  std::array<std::uint8_t, CcctalkMessage::kMaximumLength> frame{};
  std::copy(message.bytes().begin(), message.bytes().end(), frame.begin());
  if (!board.Send(port, frame.data(), message.length())) {
    transaction.failedCall = "Send";
    return;
  }
  CcctalkMessage echo;
  if (echo.receive(&board, port, CcctalkMessage::kEchoTimeout, CcctalkMessage::kSingleGap, true) <
      0) {
    if (echo.errorText().find("no 12V power") == std::string::npos) {
      transaction.failedCall = "ReceiveByteWithTimestamp";
      return;
    }
    transaction.error =
        "no local echo of the request: the ccTalk bus has no 12V power, or nothing is attached";
    return;
  }
  if (echo == message) return;
  transaction.error = "the local echo differs from the request: sent " + HexOf(message) +
                      ", read back " + (echo.length() == 0 ? std::string("nothing") : HexOf(echo));
}

}  // namespace

std::span<const std::uint8_t> CcTalkDataOf(const CcctalkMessage& message) {
  const auto bytes = message.bytes();
  if (bytes.size() < CcctalkMessage::kMinimumLength) return {};
  return bytes.subspan(CcctalkMessage::kHeaderLength,
                       bytes.size() - CcctalkMessage::kHeaderLength - 1);
}

CcTalkTransaction RunCcTalkTransaction(VantrelUSB& board, _usbSerialPort port, std::uint8_t source,
                                       std::uint8_t destination, std::uint8_t header,
                                       std::span<const std::uint8_t> data) {
  CcTalkTransaction transaction;
  CcctalkMessage message;
  if (message.ClearPort(&board, port, &transaction.drained) < 0) {
    transaction.failedCall = "ReceiveByteWithTimestamp";
    return transaction;
  }
  message.build(destination, 0, source, header);
  message.setData(data);
  transaction.request = message;
  SendAndCheckEcho(board, port, transaction);
  if (transaction.failedCall != nullptr) return transaction;
  if (!transaction.error.empty()) {
    transaction.outcome = CcTalkTransaction::Outcome::kInvalid;
    transaction.echoFault = true;
    return transaction;
  }
  if (message.receive(&board, port, CcctalkMessage::kReplyTimeout, CcctalkMessage::kSingleGap,
                      false) < 0) {
    transaction.failedCall = "ReceiveByteWithTimestamp";
    return transaction;
  }
  transaction.reply = message;
  transaction.replied = message.length() > 0;
  using Outcome = CcTalkTransaction::Outcome;
  if (message.length() == 0) {
    transaction.outcome = Outcome::kTimedOut;
    transaction.error = "no reply from address " + std::to_string(destination) + " (timed out)";
  } else if (message.validate() < 0) {
    transaction.outcome = Outcome::kInvalid;
    transaction.error = "invalid reply from address " + std::to_string(destination) + ": " +
                        (message.length() < CcctalkMessage::kMinimumLength ||
                                 message.length() != message.dataCount() + 5u
                             ? "cut short"
                             : "bad checksum") +
                        " (" + HexOf(message) + ")";
  } else if (message.destination() != source || message.source() != destination) {
    transaction.outcome = Outcome::kInvalid;
    transaction.error = "the reply is addressed from " + std::to_string(message.source()) + " to " +
                        std::to_string(message.destination());
  } else {
    transaction.outcome = Outcome::kGood;
  }
  return transaction;
}
