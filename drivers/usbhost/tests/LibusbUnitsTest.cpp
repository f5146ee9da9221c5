// The libusb backend's logic that needs no device: how libusb's results map
// to USBD status values, how arrivals and departures are de-duplicated by
// plug, and how access/busy failures are retried.
#include <gtest/gtest.h>

#include <libusb.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "libusb/BusyRetry.h"
#include "libusb/LibusbStatus.h"
#include "libusb/PlugTracker.h"
#include "vantrel/usbhost/UsbTypes.h"

namespace vantrel::usbhost {
namespace {

using namespace std::chrono_literals;

// ---- status mapping ----

TEST(LibusbStatus, CompletedTransferSucceeds) {
  EXPECT_EQ(LibusbTransferStatus(LIBUSB_TRANSFER_COMPLETED, true, true, 64, 64),
            USBD_STATUS_SUCCESS);
  EXPECT_EQ(LibusbTransferStatus(LIBUSB_TRANSFER_COMPLETED, false, false, 10, 10),
            USBD_STATUS_SUCCESS);
}

TEST(LibusbStatus, ShortInIsAnErrorOnlyWhenNotAllowed) {
  EXPECT_EQ(LibusbTransferStatus(LIBUSB_TRANSFER_COMPLETED, true, true, 3, 64),
            USBD_STATUS_SUCCESS);
  EXPECT_EQ(LibusbTransferStatus(LIBUSB_TRANSFER_COMPLETED, true, false, 3, 64),
            USBD_STATUS_ERROR_SHORT_TRANSFER);
  EXPECT_EQ(LibusbTransferStatus(LIBUSB_TRANSFER_COMPLETED, true, false, 0, 64),
            USBD_STATUS_ERROR_SHORT_TRANSFER);
  EXPECT_EQ(LibusbTransferStatus(LIBUSB_TRANSFER_COMPLETED, true, false, 64, 64),
            USBD_STATUS_SUCCESS);
  // OUT transfers are never short on the host's side.
  EXPECT_EQ(LibusbTransferStatus(LIBUSB_TRANSFER_COMPLETED, false, false, 3, 64),
            USBD_STATUS_SUCCESS);
}

TEST(LibusbStatus, FailedTransfers) {
  struct Case {
    libusb_transfer_status status;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {LIBUSB_TRANSFER_STALL, USBD_STATUS_STALL_PID},
      {LIBUSB_TRANSFER_NO_DEVICE, USBD_STATUS_DEVICE_GONE},
      {LIBUSB_TRANSFER_TIMED_OUT, USBD_STATUS_DEV_NOT_RESPONDING},
      {LIBUSB_TRANSFER_CANCELLED, USBD_STATUS_CANCELED},
      {LIBUSB_TRANSFER_OVERFLOW, USBD_STATUS_DATA_OVERRUN},
      {LIBUSB_TRANSFER_ERROR, USBD_STATUS_REQUEST_FAILED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    // The short-transfer rule never hides a failure.
    EXPECT_EQ(LibusbTransferStatus(c.status, true, false, 0, 64), c.expected);
    EXPECT_EQ(LibusbTransferStatus(c.status, false, true, 0, 64), c.expected);
    EXPECT_TRUE(UsbdFailed(c.expected));
  }
}

TEST(LibusbStatus, IsoPackets) {
  EXPECT_EQ(LibusbIsoPacketStatus(LIBUSB_TRANSFER_COMPLETED), USBD_STATUS_SUCCESS);
  EXPECT_EQ(LibusbIsoPacketStatus(LIBUSB_TRANSFER_ERROR), USBD_STATUS_ISO_TD_ERROR);
  EXPECT_EQ(LibusbIsoPacketStatus(LIBUSB_TRANSFER_STALL), USBD_STATUS_STALL_PID);
  EXPECT_EQ(LibusbIsoPacketStatus(LIBUSB_TRANSFER_NO_DEVICE), USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(LibusbIsoPacketStatus(LIBUSB_TRANSFER_TIMED_OUT), USBD_STATUS_DEV_NOT_RESPONDING);
  EXPECT_EQ(LibusbIsoPacketStatus(LIBUSB_TRANSFER_CANCELLED), USBD_STATUS_CANCELED);
  EXPECT_EQ(LibusbIsoPacketStatus(LIBUSB_TRANSFER_OVERFLOW), USBD_STATUS_DATA_OVERRUN);
}

TEST(LibusbStatus, Errors) {
  EXPECT_EQ(LibusbErrorStatus(LIBUSB_SUCCESS), USBD_STATUS_SUCCESS);
  EXPECT_EQ(LibusbErrorStatus(5), USBD_STATUS_SUCCESS);  // a byte count
  EXPECT_EQ(LibusbErrorStatus(LIBUSB_ERROR_NO_DEVICE), USBD_STATUS_DEVICE_GONE);
  EXPECT_EQ(LibusbErrorStatus(LIBUSB_ERROR_PIPE), USBD_STATUS_STALL_PID);
  EXPECT_EQ(LibusbErrorStatus(LIBUSB_ERROR_TIMEOUT), USBD_STATUS_DEV_NOT_RESPONDING);
  EXPECT_EQ(LibusbErrorStatus(LIBUSB_ERROR_OVERFLOW), USBD_STATUS_DATA_OVERRUN);
  EXPECT_EQ(LibusbErrorStatus(LIBUSB_ERROR_INVALID_PARAM), USBD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(LibusbErrorStatus(LIBUSB_ERROR_NOT_FOUND), USBD_STATUS_INVALID_PARAMETER);
  EXPECT_EQ(LibusbErrorStatus(LIBUSB_ERROR_NO_MEM), USBD_STATUS_NO_MEMORY);
  EXPECT_EQ(LibusbErrorStatus(LIBUSB_ERROR_INTERRUPTED), USBD_STATUS_CANCELED);
  for (int error : {LIBUSB_ERROR_IO, LIBUSB_ERROR_ACCESS, LIBUSB_ERROR_BUSY,
                    LIBUSB_ERROR_NOT_SUPPORTED, LIBUSB_ERROR_OTHER})
    EXPECT_EQ(LibusbErrorStatus(error), USBD_STATUS_REQUEST_FAILED) << error;
}

// ---- de-duplication by plug ----

TEST(PlugTracker, ArrivalReportedTwiceIsOneDevice) {
  PlugTracker tracker;
  EXPECT_EQ(tracker.Arrive({"1-3", 5}), PlugTracker::Arrival::New);
  EXPECT_EQ(tracker.Arrive({"1-3", 5}), PlugTracker::Arrival::Duplicate);
  EXPECT_TRUE(tracker.Depart({"1-3", 5}));
  EXPECT_FALSE(tracker.Depart({"1-3", 5}));  // reported once only
  EXPECT_TRUE(tracker.Empty());
}

TEST(PlugTracker, DepartureWithoutArrivalIsIgnored) {
  PlugTracker tracker;
  EXPECT_FALSE(tracker.Depart({"1-3", 5}));
  EXPECT_TRUE(tracker.Empty());
  EXPECT_EQ(tracker.Arrive({"1-3", 5}), PlugTracker::Arrival::New);
}

TEST(PlugTracker, PlugsAreIndependent) {
  PlugTracker tracker;
  EXPECT_EQ(tracker.Arrive({"1-3", 5}), PlugTracker::Arrival::New);
  EXPECT_EQ(tracker.Arrive({"1-3.2", 5}), PlugTracker::Arrival::New);
  EXPECT_EQ(tracker.Arrive({"2-3", 5}), PlugTracker::Arrival::New);
  EXPECT_TRUE(tracker.Depart({"1-3.2", 5}));
  EXPECT_EQ(tracker.Arrive({"1-3", 5}), PlugTracker::Arrival::Duplicate);
}

TEST(PlugTracker, ReEnumerationOnTheSamePlug) {
  PlugTracker tracker;
  EXPECT_EQ(tracker.Arrive({"1-3", 5}), PlugTracker::Arrival::New);
  // Departure and arrival in order: a new device.
  EXPECT_TRUE(tracker.Depart({"1-3", 5}));
  EXPECT_EQ(tracker.Arrive({"1-3", 6}), PlugTracker::Arrival::New);
  // A later device without the departure of the one before: that one left.
  EXPECT_EQ(tracker.Arrive({"1-3", 7}), PlugTracker::Arrival::Replaces);
  // The late departure of an older device does not end the current one.
  EXPECT_FALSE(tracker.Depart({"1-3", 6}));
  EXPECT_EQ(tracker.Arrive({"1-3", 7}), PlugTracker::Arrival::Duplicate);
  EXPECT_TRUE(tracker.Depart({"1-3", 7}));
}

TEST(PlugTracker, DroppedArrivalIsNotRetriedUntilItLeaves) {
  PlugTracker tracker;
  EXPECT_EQ(tracker.Arrive({"1-3", 5}), PlugTracker::Arrival::New);
  tracker.Drop({"1-3", 5});
  EXPECT_EQ(tracker.Arrive({"1-3", 5}), PlugTracker::Arrival::Duplicate);
  // Its departure reports nothing: it was never reported.
  EXPECT_FALSE(tracker.Depart({"1-3", 5}));
  EXPECT_EQ(tracker.Arrive({"1-3", 5}), PlugTracker::Arrival::New);
  // A dropped device replaced by another one: a plain arrival.
  tracker.Drop({"1-3", 5});
  EXPECT_EQ(tracker.Arrive({"1-3", 9}), PlugTracker::Arrival::New);
}

TEST(PlugTracker, MissingFindsWhatAPollNoLongerSees) {
  PlugTracker tracker;
  tracker.Arrive({"1-1", 2});
  tracker.Arrive({"1-2", 3});
  tracker.Arrive({"1-4", 4});
  tracker.Drop({"1-4", 4});
  // 1-2 re-enumerated (new address), 1-4 was unplugged.
  const std::vector<Plug> missing = tracker.Missing({{"1-1", 2}, {"1-2", 8}});
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing[0].location, "1-2");
  EXPECT_EQ(missing[0].address, 3);
  EXPECT_EQ(missing[1].location, "1-4");
  EXPECT_TRUE(tracker.Missing({{"1-1", 2}, {"1-2", 3}, {"1-4", 4}}).empty());
}

// ---- access/busy retries ----

// A clock that only moves when the retry loop sleeps.
struct FakeClock {
  RetryClock::time_point now{};
  std::vector<std::chrono::milliseconds> pauses;
  bool stop = false;
  std::function<RetryClock::time_point()> Now() {
    return [this] { return now; };
  }
  std::function<bool(std::chrono::milliseconds)> Sleep() {
    return [this](std::chrono::milliseconds pause) {
      pauses.push_back(pause);
      now += pause;
      return !stop;
    };
  }
};

TEST(BusyRetry, SuccessAtOnceDoesNotWait) {
  FakeClock clock;
  int calls = 0;
  const int result = RetryWhileBusy([&] { return ++calls, LIBUSB_SUCCESS; }, clock.now + 2000ms,
                                    100ms, clock.Sleep(), clock.Now());
  EXPECT_EQ(result, LIBUSB_SUCCESS);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(clock.pauses.empty());
}

TEST(BusyRetry, AccessAndBusyAreRetriedUntilTheySucceed) {
  FakeClock clock;
  std::vector<int> results = {LIBUSB_ERROR_ACCESS, LIBUSB_ERROR_BUSY, LIBUSB_ERROR_ACCESS,
                              LIBUSB_SUCCESS};
  std::size_t next = 0;
  const int result = RetryWhileBusy([&] { return results[next++]; }, clock.now + 2000ms, 100ms,
                                    clock.Sleep(), clock.Now());
  EXPECT_EQ(result, LIBUSB_SUCCESS);
  EXPECT_EQ(next, 4u);
  EXPECT_EQ(clock.pauses, (std::vector<std::chrono::milliseconds>{100ms, 100ms, 100ms}));
}

TEST(BusyRetry, GivesUpAfterTheWindow) {
  FakeClock clock;
  const auto start = clock.now;
  int calls = 0;
  const int result = RetryWhileBusy([&] { return ++calls, LIBUSB_ERROR_BUSY; }, start + 2000ms,
                                    300ms, clock.Sleep(), clock.Now());
  EXPECT_EQ(result, LIBUSB_ERROR_BUSY);
  // Attempts at 0, 300, ..., 1800 and a last one at the deadline itself.
  EXPECT_EQ(calls, 8);
  EXPECT_EQ(clock.now - start, 2000ms);
  EXPECT_EQ(clock.pauses.back(), 200ms);  // never beyond the deadline
}

TEST(BusyRetry, OtherFailuresAreNotRetried) {
  FakeClock clock;
  for (int failure : {LIBUSB_ERROR_NO_DEVICE, LIBUSB_ERROR_IO, LIBUSB_ERROR_NOT_FOUND}) {
    int calls = 0;
    EXPECT_EQ(RetryWhileBusy([&] { return ++calls, failure; }, clock.now + 2000ms, 100ms,
                             clock.Sleep(), clock.Now()),
              failure);
    EXPECT_EQ(calls, 1);
  }
  // A busy result followed by another failure ends with that failure.
  std::vector<int> results = {LIBUSB_ERROR_BUSY, LIBUSB_ERROR_NO_DEVICE, LIBUSB_SUCCESS};
  std::size_t next = 0;
  EXPECT_EQ(RetryWhileBusy([&] { return results[next++]; }, clock.now + 2000ms, 100ms,
                           clock.Sleep(), clock.Now()),
            LIBUSB_ERROR_NO_DEVICE);
  EXPECT_EQ(next, 2u);
}

TEST(BusyRetry, StoppingEndsTheRetries) {
  FakeClock clock;
  clock.stop = true;
  int calls = 0;
  EXPECT_EQ(RetryWhileBusy([&] { return ++calls, LIBUSB_ERROR_ACCESS; }, clock.now + 2000ms, 100ms,
                           clock.Sleep(), clock.Now()),
            LIBUSB_ERROR_ACCESS);
  EXPECT_EQ(calls, 1);
}

TEST(BusyRetry, PastDeadlineMeansOneAttempt) {
  FakeClock clock;
  int calls = 0;
  EXPECT_EQ(RetryWhileBusy([&] { return ++calls, LIBUSB_ERROR_BUSY; }, clock.now - 1ms, 100ms,
                           clock.Sleep(), clock.Now()),
            LIBUSB_ERROR_BUSY);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(clock.pauses.empty());
}

TEST(BusyRetry, WithTheRealClock) {
  int calls = 0;
  const auto start = RetryClock::now();
  EXPECT_EQ(RetryWhileBusy([&] { return ++calls < 3 ? LIBUSB_ERROR_BUSY : LIBUSB_SUCCESS; },
                           start + kBusyRetryWindow, 5ms,
                           [](std::chrono::milliseconds pause) {
                             std::this_thread::sleep_for(pause);
                             return true;
                           }),
            LIBUSB_SUCCESS);
  EXPECT_EQ(calls, 3);
  EXPECT_GE(RetryClock::now() - start, 10ms);
}

}  // namespace
}  // namespace vantrel::usbhost
