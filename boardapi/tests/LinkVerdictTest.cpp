// What the library makes of every way a request on a board's link can end:
// init's first request (a refused connection, a board that is leaving, a
// daemon that does not answer) and an exchange.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <vantrel/VantrelUSB.h>
#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/testsupport/InProcessDeviceLink.h>

#include "board/LinkVerdict.h"

namespace vantrel {
namespace {

namespace drv = vantrel::driver;

struct Case {
  const char* name;
  LinkResult result;
  usbErrorCode initError;
  const char* message;
};

// A refused connection carries the limit it reached as its information.
const Case kCases[] = {
    {"board limit", LinkResult::Failed(drv::STATUS_TOO_MANY_OPENED_FILES, 64),
     USB_DEVICE_READ_ERROR,
     "refused the connection: the board serves 64 connections, the daemon's limit per board"},
    {"board limit unnamed", LinkResult::Failed(drv::STATUS_TOO_MANY_OPENED_FILES, 0),
     USB_DEVICE_READ_ERROR,
     "refused the connection: the board serves as many connections as the daemon's limit per "
     "board allows"},
    {"user limit", LinkResult::Failed(drv::STATUS_QUOTA_EXCEEDED, 256), USB_DEVICE_READ_ERROR,
     "refused the connection: your user holds 256 connections to the boards, the daemon's limit "
     "per user"},
    {"user limit unnamed", LinkResult::Failed(drv::STATUS_QUOTA_EXCEEDED, 0), USB_DEVICE_READ_ERROR,
     "refused the connection: your user holds as many connections to the boards as the daemon's "
     "limit per user allows"},
    {"user's share of the board", LinkResult::Failed(drv::STATUS_TOO_MANY_SESSIONS, 48),
     USB_DEVICE_READ_ERROR,
     "refused the connection: your user holds 48 connections to this board, the daemon's limit "
     "per user and board"},
    {"user's share of the board unnamed", LinkResult::Failed(drv::STATUS_TOO_MANY_SESSIONS, 0),
     USB_DEVICE_READ_ERROR,
     "refused the connection: your user holds as many connections to this board as the daemon's "
     "limit per user and board allows"},
    {"no thread", LinkResult::Failed(drv::STATUS_INSUFFICIENT_RESOURCES, 0), USB_DEVICE_READ_ERROR,
     "refused the connection: the daemon has no room for another connection (out of threads or "
     "memory)"},
    {"access denied", LinkResult::Failed(drv::STATUS_ACCESS_DENIED, 0), USB_DEVICE_READ_ERROR,
     "refused the connection: the daemon does not let this user make the library's requests"},
    // A board being removed is as good as absent: no code, nothing said.
    {"board leaving", LinkResult::Failed(drv::STATUS_DELETE_PENDING, 0),
     USB_MESSAGE_EXECUTION_SUCCESS, ""},
    {"unsuccessful", LinkResult::Failed(drv::STATUS_UNSUCCESSFUL, 0), USB_MESSAGE_EXECUTION_SUCCESS,
     "did not select its interface (status 0xC0000001)"},
    {"invalid parameter", LinkResult::Failed(drv::STATUS_INVALID_PARAMETER, 0),
     USB_MESSAGE_EXECUTION_SUCCESS, "did not select its interface (status 0xC000000D)"},
    {"stall", LinkResult::Failed(drv::USBD_STATUS_STALL_PID, 0), USB_MESSAGE_EXECUTION_SUCCESS,
     "did not select its interface (status 0xC0000004)"},
    {"no reply", LinkResult::NoReply(), USB_MESSAGE_EXECUTION_SUCCESS,
     "did not answer in time: the daemon is stuck or overloaded"},
    // Closed without a word: a board not started yet, or gone.
    {"lost", LinkResult::Lost(), USB_MESSAGE_EXECUTION_SUCCESS, ""},
};

TEST(LinkVerdictTest, EveryFailureOfInitsFirstRequestHasItsCodeAndMessage) {
  const LinkVerdict completed =
      ReadLinkResult(LinkResult::Completed(drv::STATUS_SUCCESS, 0), LinkRequest::kConnect);
  EXPECT_TRUE(completed.proceed);
  EXPECT_EQ(completed.message, "");
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const LinkVerdict verdict = ReadLinkResult(c.result, LinkRequest::kConnect);
    EXPECT_FALSE(verdict.proceed);
    EXPECT_EQ(verdict.error, c.initError);
    EXPECT_EQ(verdict.message, c.message);
  }
}

TEST(LinkVerdictTest, AnExchangeThatDoesNotCompleteIsAWriteErrorAndSaysNothing) {
  EXPECT_TRUE(
      ReadLinkResult(LinkResult::Completed(drv::STATUS_SUCCESS, 144), LinkRequest::kExchange)
          .proceed);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const LinkVerdict verdict = ReadLinkResult(c.result, LinkRequest::kExchange);
    EXPECT_FALSE(verdict.proceed);
    EXPECT_EQ(verdict.error, USB_DEVICE_WRITE_ERROR);
    EXPECT_EQ(verdict.message, "");
  }
}

// A daemon that answers the interface selection with `status`.
class AnsweringBoard final : public drv::ControlHandler {
 public:
  AnsweringBoard(std::uint32_t status, std::uint32_t information)
      : status_(status), information_(information) {}
  drv::ControlResult Control(std::uint32_t, std::span<const std::uint8_t>,
                             std::span<std::uint8_t>) override {
    ++requests;
    return {status_, information_};
  }
  int requests = 0;

 private:
  std::uint32_t status_, information_;
};

TEST(LinkVerdictTest, InitFailsWithTheVerdictsCodeAndGoesNoFurther) {
  for (const Case& c : kCases) {
    if (c.result.kind != LinkResult::Kind::kFailed) continue;
    SCOPED_TRACE(c.name);
    auto board = std::make_shared<AnsweringBoard>(c.result.status, c.result.information);
    SetDeviceOpener([board](int) { return std::make_unique<InProcessDeviceLink>(board); });
    VantrelUSB connection;
    EXPECT_EQ(connection.init(0), 0);
    EXPECT_EQ(connection.GetLastError(), c.initError);
    EXPECT_EQ(board->requests, 1);
  }
  // No board at all: no code either.
  SetDeviceOpener([](int) -> std::unique_ptr<DeviceLink> { return nullptr; });
  VantrelUSB connection;
  EXPECT_EQ(connection.init(0), 0);
  EXPECT_EQ(connection.GetLastError(), USB_MESSAGE_EXECUTION_SUCCESS);
  SetDeviceOpener({});
}

}  // namespace
}  // namespace vantrel
