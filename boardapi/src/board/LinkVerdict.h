// What the library makes of the outcome of a request on a board's link:
// whether the operation goes on, the error code a failure leaves, and what the
// user is told. Every status the daemon can answer is read here and nowhere
// else.
#pragma once

#include <string>

#include <vantrel/VantrelTypes.h>

#include "link/LinkResult.h"

namespace vantrel {

enum class LinkRequest {
  kConnect,   // init's first request on a new connection: selecting the interface
  kExchange,  // a command/response exchange with the board
};

struct LinkVerdict {
  bool proceed = false;
  // The code a failure leaves in lastError; USB_MESSAGE_EXECUTION_SUCCESS
  // leaves none, as for a board that is not there.
  usbErrorCode error = USB_MESSAGE_EXECUTION_SUCCESS;
  // What the user is told, to follow "board N "; empty: nothing.
  std::string message;
};

LinkVerdict ReadLinkResult(const LinkResult& result, LinkRequest request);

// The line logged for a verdict's message: the board, the message and the
// socket the library reached it by.
std::string BoardLogLine(int deviceIndex, const std::string& message);

}  // namespace vantrel
