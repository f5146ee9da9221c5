#include "board/LinkVerdict.h"

#include <cstdio>

#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/protocol/ControlProtocol.h>

namespace vantrel {
namespace {

namespace drv = vantrel::driver;

// Numbers by snprintf: std::to_string would export one of the standard
// library's template instances from the shared library.
std::string Decimal(long long value) {
  char text[24];
  std::snprintf(text, sizeof text, "%lld", value);
  return text;
}

std::string Hex32(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Refused(const std::string& why) { return "refused the connection: " + why; }

// A refusal names the limit it reached; a daemon that left it out still
// names the kind of limit.
std::string Limit(std::uint32_t limit, const std::string& counted, const std::string& at,
                  const std::string& which) {
  if (limit == 0) return counted + " as many connections" + at + " as " + which + " allows";
  return counted + " " + Decimal(limit) + (limit == 1 ? " connection" : " connections") + at +
         ", " + which;
}

LinkVerdict ReadConnectFailure(const LinkResult& result) {
  constexpr usbErrorCode kRefused = USB_DEVICE_READ_ERROR;
  switch (result.status) {
    case drv::STATUS_TOO_MANY_OPENED_FILES:
      return {false, kRefused,
              Refused(Limit(result.information, "the board serves", "",
                            "the daemon's limit per board"))};
    case drv::STATUS_TOO_MANY_SESSIONS:
      return {false, kRefused,
              Refused(Limit(result.information, "your user holds", " to this board",
                            "the daemon's limit per user and board"))};
    case drv::STATUS_QUOTA_EXCEEDED:
      return {false, kRefused,
              Refused(Limit(result.information, "your user holds", " to the boards",
                            "the daemon's limit per user"))};
    case drv::STATUS_INSUFFICIENT_RESOURCES:
      return {false, kRefused,
              Refused("the daemon has no room for another connection (out of threads or memory)")};
    case drv::STATUS_ACCESS_DENIED:
      return {false, kRefused,
              Refused("the daemon does not let this user make the library's requests")};
    case drv::STATUS_DELETE_PENDING:
      // The board is leaving: as good as not there.
      return {false, USB_MESSAGE_EXECUTION_SUCCESS, ""};
    default:
      return {false, USB_MESSAGE_EXECUTION_SUCCESS,
              "did not select its interface (status " + Hex32(result.status) + ")"};
  }
}

}  // namespace

LinkVerdict ReadLinkResult(const LinkResult& result, LinkRequest request) {
  if (result.kind == LinkResult::Kind::kCompleted) return {true, USB_MESSAGE_EXECUTION_SUCCESS, ""};
  // Whatever went wrong, an exchange that did not complete is a failed write
  // to the board; the daemon keeps its own account of why.
  if (request == LinkRequest::kExchange) return {false, USB_DEVICE_WRITE_ERROR, ""};
  switch (result.kind) {
    case LinkResult::Kind::kFailed:
      return ReadConnectFailure(result);
    case LinkResult::Kind::kNoReply:
      return {false, USB_MESSAGE_EXECUTION_SUCCESS,
              "did not answer in time: the daemon is stuck or overloaded"};
    default:
      // The daemon closed the connection without a word: the board is not
      // started yet, or going.
      return {false, USB_MESSAGE_EXECUTION_SUCCESS, ""};
  }
}

std::string BoardLogLine(int deviceIndex, const std::string& message) {
  return "vantrelusb: board " + Decimal(deviceIndex) + " " + message + " (" +
         drv::ControlProtocol::DeviceDirectory() + "/" +
         drv::ControlProtocol::SocketName(deviceIndex) + ")";
}

}  // namespace vantrel
