// One request and its reply on the ccTalk bus, as the service tools run it:
// stray bytes drained, the frame sent with its echo check, the reply received
// within the page's reply limit, and the round-trip time measured.
#pragma once

#include <string>

#include <vantrel/VantrelTypes.h>

#include "CcctalkMessage.h"

class VantrelUSB;

struct CcTalkExchangeResult {
  enum class Outcome { kGood, kTimeout, kInvalid, kFailed };
  Outcome outcome = Outcome::kFailed;
  CcctalkMessage reply;    // what came back (empty on a time-out)
  double roundTripMs = 0;  // from the send to the end of the receive
  std::string error;       // the failure's text, for kFailed
  bool timedOut = false;   // kFailed after the daemon's time limit: the board is mute
};

CcTalkExchangeResult ExchangeCcTalkFrame(VantrelUSB* board, _usbSerialPort port,
                                         const CcctalkMessage& request);

// The frame's data bytes.
std::string CcTalkData(const CcctalkMessage& message);
