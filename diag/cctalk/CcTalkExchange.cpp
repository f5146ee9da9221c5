#include "cctalk/CcTalkExchange.h"

#include <QElapsedTimer>

#include "pages/common/CBoardConnection.h"
#include "cctalk/CcTalkErrorText.h"

CcTalkExchangeResult ExchangeCcTalkFrame(VantrelUSB* board, _usbSerialPort port,
                                         const CcctalkMessage& request) {
  CcTalkExchangeResult result;
  CcctalkMessage drain;
  QElapsedTimer step;
  step.start();
  if (drain.ClearPort(board, port) < 0) {
    result.error = ShownCcTalkError(drain.errorText()).toStdString();
    result.timedOut = CBoardConnection::TookTheTimeLimit(step.elapsed());
    return result;
  }
  CcctalkMessage message = request;
  QElapsedTimer clock;
  clock.start();
  if (message.send(board, port) < 0 || message.receive(board, port, CcctalkMessage::kReplyTimeout,
                                                       CcctalkMessage::kSingleGap, false) < 0) {
    result.error = ShownCcTalkError(message.errorText()).toStdString();
    result.timedOut = CBoardConnection::TookTheTimeLimit(clock.elapsed());
    return result;
  }
  result.roundTripMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  result.reply = message;
  CcctalkMessage check = message;
  if (check.validate() == CcctalkMessage::kOk)
    result.outcome = CcTalkExchangeResult::Outcome::kGood;
  else if (message.length() == 0)
    result.outcome = CcTalkExchangeResult::Outcome::kTimeout;
  else
    result.outcome = CcTalkExchangeResult::Outcome::kInvalid;
  return result;
}

std::string CcTalkData(const CcctalkMessage& message) {
  const auto bytes = message.bytes();
  if (bytes.size() < CcctalkMessage::kMinimumLength) return {};
  const std::size_t count = std::min<std::size_t>(message.dataCount(), bytes.size() - 5);
  return std::string(bytes.begin() + 4, bytes.begin() + 4 + static_cast<std::ptrdiff_t>(count));
}
