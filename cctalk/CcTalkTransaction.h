// One ccTalk transaction on a board serial port already set to ccTalk: clear
// stray bytes, send the request, check its local echo, receive the reply and
// judge it. What k27ctl and the Python module run for each request.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "CcctalkMessage.h"

class VantrelUSB;

struct CcTalkTransaction {
  // kGood: a valid reply from the destination to the source; kTimedOut: no
  // reply byte came; kInvalid: a missing or wrong echo, a short frame, a bad
  // checksum, or a reply between other addresses.
  enum class Outcome { kGood, kTimedOut, kInvalid };

  Outcome outcome = Outcome::kTimedOut;
  CcctalkMessage request, reply;
  bool replied = false;    // a reply (good or not) was read
  bool echoFault = false;  // the request's local echo was missing or wrong
  int drained = 0;         // stray bytes thrown away before the request
  std::string error;       // what was wrong, for a person; empty when good
  // The board call that failed, which ended the transaction (the board's
  // error code says why); null when every board call succeeded.
  const char* failedCall = nullptr;
};

// The data bytes of a frame (none for a frame shorter than a header and a
// checksum).
std::span<const std::uint8_t> CcTalkDataOf(const CcctalkMessage& message);

CcTalkTransaction RunCcTalkTransaction(VantrelUSB& board, _usbSerialPort port, std::uint8_t source,
                                       std::uint8_t destination, std::uint8_t header,
                                       std::span<const std::uint8_t> data);
