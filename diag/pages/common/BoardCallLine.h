// The board call lines of the pages as Qt strings: see BoardCallText.h.
#pragma once

#include <QString>

#include "BoardCallText.h"

class VantrelUSB;

// The name of the board's last error.
inline QString LastErrorNameText(VantrelUSB* board) {
  return QString::fromLatin1(vantrel::diag::LastErrorName(board));
}
// "<call> = success".
inline QString CallSucceededLine(const QString& call) {
  return QString::fromStdString(vantrel::diag::CallSucceededText(call.toStdString()));
}
// "<call> = error: <why>".
inline QString CallFailedLine(const QString& call, const QString& why) {
  return QString::fromStdString(
      vantrel::diag::CallFailedText(call.toStdString(), why.toStdString()));
}
// "<call> = error: <name of the board's last error>".
inline QString CallFailedLine(const QString& call, VantrelUSB* board) {
  return QString::fromStdString(vantrel::diag::CallFailedText(call.toStdString(), board));
}
