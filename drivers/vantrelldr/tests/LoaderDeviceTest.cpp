// The loader's download against a recording part: the order of the reset
// writes and record requests, how failures end passes, and the removal.
#include "vantrel/loader/LoaderDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <algorithm>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <k27fw/LoaderImages.h>

namespace vantrel::loader {
namespace {

using namespace std::chrono_literals;
using usbhost::TransferRequest;
using usbhost::TransferResult;
using Strings = std::vector<std::string>;

struct Sent {
  TransferRequest request;
  std::vector<std::uint8_t> data;
};

class DoneTransfer : public usbhost::PendingTransfer {
 public:
  explicit DoneTransfer(std::uint32_t status, std::size_t transferred) {
    result_.status = status;
    result_.transferred = transferred;
  }
  bool WaitFor(std::chrono::milliseconds) override { return true; }
  void Wait() override {}
  void Cancel() override {}
  bool Completed() const override { return true; }
  const TransferResult& Result() const override { return result_; }

 private:
  TransferResult result_;
};

// Completes once the test opens the gate.
class Gate {
 public:
  void Enter() {
    std::unique_lock lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  void WaitEntered() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return entered_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false, open_ = false;
};

class GatedTransfer : public usbhost::PendingTransfer {
 public:
  explicit GatedTransfer(Gate& gate) : gate_(gate) {}
  bool WaitFor(std::chrono::milliseconds) override { return false; }
  void Wait() override { gate_.Enter(); }
  void Cancel() override {}
  bool Completed() const override { return false; }
  const TransferResult& Result() const override { return result_; }

 private:
  Gate& gate_;
  TransferResult result_;
};

// Never answered: ends only when cancelled, with USBD_STATUS_CANCELED.
class UnansweredTransfer : public usbhost::PendingTransfer {
 public:
  bool WaitFor(std::chrono::milliseconds timeout) override {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, timeout, [this] { return completed_; });
  }
  void Wait() override {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return completed_; });
  }
  void Cancel() override {
    std::lock_guard lock(mutex_);
    cancelled = true;
    result_.status = usbhost::USBD_STATUS_CANCELED;
    completed_ = true;
    done_.notify_all();
  }
  bool Completed() const override {
    std::lock_guard lock(mutex_);
    return completed_;
  }
  const TransferResult& Result() const override { return result_; }
  bool cancelled = false;

 private:
  mutable std::mutex mutex_;
  std::condition_variable done_;
  bool completed_ = false;
  TransferResult result_;
};

// A bare part that records every transfer and completes it at once, with the
// status that `answer` gives for it and its position (success by default).
class RecordingPart : public usbhost::UsbDevice {
 public:
  using Answer = std::function<std::uint32_t(const Sent&, std::size_t position)>;
  Answer answer;
  Gate* gateFirst = nullptr;  // the first transfer waits for this gate
  // The transfer at this position is never answered.
  std::optional<std::size_t> unansweredAt;
  std::shared_ptr<UnansweredTransfer> unanswered;

  std::vector<Sent> Requests() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }

  usbhost::DeviceIdentity Identity() const override { return {}; }
  std::shared_ptr<usbhost::PendingTransfer> Submit(TransferRequest request) override {
    std::lock_guard lock(mutex_);
    Sent sent{request, {request.data.begin(), request.data.end()}};
    sent_.push_back(sent);
    if (gateFirst && sent_.size() == 1) return std::make_shared<GatedTransfer>(*gateFirst);
    if (unansweredAt && sent_.size() - 1 == *unansweredAt) {
      unanswered = std::make_shared<UnansweredTransfer>();
      return unanswered;
    }
    const std::uint32_t status =
        answer ? answer(sent, sent_.size() - 1) : usbhost::USBD_STATUS_SUCCESS;
    return std::make_shared<DoneTransfer>(status,
                                          usbhost::UsbdFailed(status) ? 0 : request.data.size());
  }
  std::uint32_t SelectConfiguration(std::uint8_t, std::uint8_t, std::uint8_t,
                                    usbhost::InterfaceInfo*) override {
    return usbhost::USBD_STATUS_SUCCESS;
  }
  std::uint32_t Deconfigure() override { return usbhost::USBD_STATUS_SUCCESS; }
  std::uint32_t SelectInterface(std::uint8_t, std::uint8_t, usbhost::InterfaceInfo*) override {
    return usbhost::USBD_STATUS_SUCCESS;
  }
  void AbortEndpoint(std::uint8_t) override {}
  std::uint32_t ResetEndpoint(std::uint8_t) override { return usbhost::USBD_STATUS_SUCCESS; }
  std::uint32_t ResetPort() override { return usbhost::USBD_STATUS_SUCCESS; }
  std::optional<std::uint32_t> CurrentFrameNumber() override { return std::nullopt; }

 private:
  mutable std::mutex mutex_;
  std::vector<Sent> sent_;
};

bool IsReset(const Sent& sent) {
  return sent.request.setup.request == kFirmwareLoadRequest &&
         sent.request.setup.value == kCpuCsAddress;
}

// "hold", "run", or "A0 0100/16" (request, address, data bytes).
std::string Name(const Sent& sent) {
  if (IsReset(sent) && sent.data.size() == 1 && sent.data[0] <= 1)
    return sent.data[0] ? "hold" : "run";
  char text[32];
  std::snprintf(text, sizeof text, "%02X %04X/%zu", sent.request.setup.request,
                sent.request.setup.value, sent.data.size());
  return text;
}

Strings Log(const RecordingPart& part) {
  Strings names;
  for (const auto& sent : part.Requests()) names.push_back(Name(sent));
  return names;
}

FirmwareRecord Record(std::uint16_t address, std::uint8_t length,
                      std::uint8_t type = kFirmwareRecordData) {
  FirmwareRecord record{};
  record.length = length;
  record.address = address;
  record.type = type;
  for (std::uint8_t i = 0; i < length && i < 16; ++i)
    record.data[i] = static_cast<std::uint8_t>(address + i * 7);
  return record;
}

// Data records followed by the end record.
std::vector<FirmwareRecord> Image(std::vector<FirmwareRecord> records) {
  records.push_back(Record(0, 0, kFirmwareRecordEnd));
  return records;
}

RecordingPart::Answer FailAt(std::uint8_t request, std::uint16_t address,
                             std::uint32_t status = usbhost::USBD_STATUS_STALL_PID) {
  return [=](const Sent& sent, std::size_t) {
    return sent.request.setup.request == request && sent.request.setup.value == address
               ? status
               : std::uint32_t{usbhost::USBD_STATUS_SUCCESS};
  };
}

TEST(LoaderSequence, StartWritesBothImagesBetweenTheFourResetSteps) {
  auto part = std::make_shared<RecordingPart>();
  const auto loader = Image({Record(0x0000, 3), Record(0x1100, 16)});
  const auto board = Image({Record(0x0D6B, 16), Record(0x0000, 3), Record(0x0023, 3)});
  LoaderDevice device(part, {loader, board});
  const auto result = device.Start();
  EXPECT_EQ(result.status, kStatusSuccess);
  ASSERT_TRUE(result.report);
  EXPECT_TRUE(result.report->Complete());
  EXPECT_EQ(result.report->loader.internal.sent, 2u);
  EXPECT_EQ(result.report->board.internal.sent, 3u);

  // The sequence's own steps are hold, run, hold, run; each image also holds
  // once between its two passes.
  EXPECT_EQ(Log(*part), (Strings{"hold",                                          // step 1
                                 "hold", "A0 0000/3", "A0 1100/16",               // loader image
                                 "run",                                           // step 3
                                 "hold", "A0 0D6B/16", "A0 0000/3", "A0 0023/3",  // board firmware
                                 "hold", "run"}));                                // steps 5, 6
  for (const auto& sent : part->Requests()) {
    EXPECT_EQ(sent.request.type, usbhost::TransferType::Control);
    EXPECT_EQ(sent.request.endpoint, 0);
    EXPECT_EQ(sent.request.setup.requestType, kVendorHostToDevice);
    EXPECT_EQ(sent.request.setup.index, 0);
    EXPECT_EQ(sent.request.setup.length, sent.data.size());
  }
}

TEST(LoaderSequence, BuiltInImagesGoWholeByTheFirmwareLoadRequest) {
  auto part = std::make_shared<RecordingPart>();
  LoaderDevice device(part);
  const auto report = *device.Start().report;
  EXPECT_EQ(report.loader.internal.sent, 138u);
  EXPECT_EQ(report.loader.external.sent, 0u);
  EXPECT_EQ(report.board.internal.sent, 521u);
  EXPECT_EQ(report.board.external.sent, 0u);

  const auto requests = part->Requests();
  ASSERT_EQ(requests.size(), 6u + 138u + 521u);
  std::size_t resets = 0, bytes = 0, next = 0;
  for (const auto& sent : requests) {
    EXPECT_EQ(sent.request.setup.request, kFirmwareLoadRequest);
    if (IsReset(sent)) {
      ++resets;
      continue;
    }
    // Record by record, in stored order: the loader's then the board's.
    const FirmwareRecord& record = next < 138 ? LoaderImage[next] : BoardFirmwareImage[next - 138];
    ++next;
    EXPECT_EQ(sent.request.setup.value, record.address);
    EXPECT_EQ(sent.data, std::vector<std::uint8_t>(record.data, record.data + record.length));
    bytes += sent.data.size();
  }
  EXPECT_EQ(resets, 6u);
  EXPECT_EQ(bytes, 1664u + 6813u);
}

TEST(LoaderSequence, FailureInPassTwoStopsThatImageAndTheSequenceGoesOn) {
  auto part = std::make_shared<RecordingPart>();
  part->answer = FailAt(kFirmwareLoadRequest, 0x1100);
  const auto loader = Image({Record(0x0000, 3), Record(0x1100, 16), Record(0x1110, 16)});
  const auto board = Image({Record(0x0D6B, 16)});
  LoaderDevice device(part, {loader, board});
  const auto result = device.Start();
  EXPECT_EQ(result.status, kStatusSuccess);
  EXPECT_EQ(Log(*part), (Strings{"hold", "hold", "A0 0000/3", "A0 1100/16", "run", "hold",
                                 "A0 0D6B/16", "hold", "run"}));
  const auto& report = *result.report;
  EXPECT_EQ(report.loader.status, usbhost::USBD_STATUS_STALL_PID);
  EXPECT_EQ(report.loader.internal.sent, 2u);
  EXPECT_EQ(report.loader.internal.failedAddress, 0x1100);
  EXPECT_EQ(report.board.status, usbhost::USBD_STATUS_SUCCESS);
  EXPECT_FALSE(report.Complete());
  EXPECT_NE(report.Describe().find("0x1100"), std::string::npos) << report.Describe();
}

TEST(LoaderSequence, FailedWritesNeverStopTheSequenceAndTheFinalRunMayFail) {
  // A part that has gone: every request fails at once, every step is still
  // tried, and each image stops at its first record.
  auto gone = std::make_shared<RecordingPart>();
  gone->answer = [](const Sent&, std::size_t) {
    return std::uint32_t{usbhost::USBD_STATUS_DEVICE_GONE};
  };
  const auto loader = Image({Record(0x0000, 3), Record(0x1100, 16)});
  const auto board = Image({Record(0x0D6B, 16), Record(0x0000, 3)});
  LoaderDevice device(gone, {loader, board});
  EXPECT_EQ(device.Start().status, kStatusSuccess);
  EXPECT_EQ(Log(*gone),
            (Strings{"hold", "hold", "A0 0000/3", "run", "hold", "A0 0D6B/16", "hold", "run"}));

  // The part leaves the bus as the board firmware starts: tolerated.
  auto leaving = std::make_shared<RecordingPart>();
  leaving->answer = [](const Sent& sent, std::size_t position) {
    const bool last = position == 9 && IsReset(sent) && sent.data[0] == 0;
    return std::uint32_t{last ? usbhost::USBD_STATUS_DEVICE_GONE : usbhost::USBD_STATUS_SUCCESS};
  };
  LoaderDevice second(leaving, {loader, board});
  const auto report = *second.Start().report;
  EXPECT_EQ(report.runBoard, usbhost::USBD_STATUS_DEVICE_GONE);
  EXPECT_TRUE(report.Complete());
  EXPECT_TRUE(report.Failure().empty());
  EXPECT_FALSE(report.PartLeft());
  EXPECT_NE(report.Describe().find("tolerated"), std::string::npos) << report.Describe();
}

TEST(LoaderOutcome, OnlyAFailedFinalRunWriteIsTolerated) {
  const auto loader = Image({Record(0x0000, 3), Record(0x1100, 16)});
  const auto board = Image({Record(0x0D6B, 16), Record(0x0000, 3)});
  // A part that has gone from the first request on: every request fails,
  // the last one too, and nothing of that is tolerated.
  auto gone = std::make_shared<RecordingPart>();
  gone->answer = [](const Sent&, std::size_t) {
    return std::uint32_t{usbhost::USBD_STATUS_DEVICE_GONE};
  };
  const auto all = *LoaderDevice(gone, {loader, board}).Start().report;
  EXPECT_FALSE(all.Complete());
  EXPECT_TRUE(all.PartLeft());
  EXPECT_EQ(all.Describe().find("tolerated"), std::string::npos) << all.Describe();
  EXPECT_EQ(all.Failure(),
            "holding the 8051 in reset: request 0xA0 at address 0x7F92, USB status 0xC0007000");

  // One failure before the end, the final run write failing too: the load
  // failed, at that request.
  auto stalls = std::make_shared<RecordingPart>();
  stalls->answer = [](const Sent& sent, std::size_t position) {
    const bool fails = sent.request.setup.value == 0x0000 && position > 4;  // board's 0x0000
    const bool last = position == 9;
    return std::uint32_t{fails || last ? usbhost::USBD_STATUS_STALL_PID
                                       : usbhost::USBD_STATUS_SUCCESS};
  };
  const auto stalled = *LoaderDevice(stalls, {loader, board}).Start().report;
  EXPECT_FALSE(stalled.Complete());
  EXPECT_FALSE(stalled.PartLeft());
  EXPECT_EQ(stalled.Failure(),
            "writing the board firmware into internal memory: request 0xA0 at address 0x0000, "
            "USB status 0xC0000004");
  EXPECT_EQ(stalled.Describe().find("tolerated"), std::string::npos) << stalled.Describe();

  // The hold before the board firmware starts is not the last request.
  auto holdFails = std::make_shared<RecordingPart>();
  holdFails->answer = [](const Sent&, std::size_t position) {
    return std::uint32_t{position == 8 ? usbhost::USBD_STATUS_DEVICE_GONE
                                       : usbhost::USBD_STATUS_SUCCESS};
  };
  const auto held = *LoaderDevice(holdFails, {loader, board}).Start().report;
  EXPECT_FALSE(held.Complete());
  EXPECT_TRUE(held.PartLeft());
  EXPECT_NE(held.Failure().find("before the board firmware starts"), std::string::npos)
      << held.Failure();
}

TEST(LoaderOutcome, UnansweredRequestIsCancelledAtTheLimitAndEndsTheDownload) {
  const auto loader = Image({Record(0x0000, 3), Record(0x1100, 16)});
  const auto board = Image({Record(0x0D6B, 16), Record(0x0000, 3)});
  // Position 6 is the board firmware's first record, 0x0D6B.
  auto part = std::make_shared<RecordingPart>();
  part->unansweredAt = 6;
  LoaderDevice device(part, {loader, board}, 30ms);
  const auto report = *device.Start().report;
  ASSERT_TRUE(part->unanswered);
  EXPECT_TRUE(part->unanswered->cancelled);
  // Nothing after it was sent.
  EXPECT_EQ(Log(*part),
            (Strings{"hold", "hold", "A0 0000/3", "A0 1100/16", "run", "hold", "A0 0D6B/16"}));
  ASSERT_TRUE(report.unanswered);
  EXPECT_EQ(report.unanswered->address, 0x0D6B);
  EXPECT_EQ(report.stepsTried, 4);
  EXPECT_FALSE(report.Complete());
  EXPECT_FALSE(report.PartLeft());
  EXPECT_EQ(report.Failure(),
            "writing the board firmware: request 0xA0 at address 0x0D6B not answered within 30 ms "
            "(cancelled, USB status 0xC0010000)");
  EXPECT_NE(report.Describe().find("hold not tried; run not tried"), std::string::npos)
      << report.Describe();

  // The final run write going unanswered is no tolerated end: the part is
  // still there and silent.
  auto silentAtEnd = std::make_shared<RecordingPart>();
  silentAtEnd->unansweredAt = 9;
  const auto last = *LoaderDevice(silentAtEnd, {loader, board}, 10ms).Start().report;
  EXPECT_EQ(last.stepsTried, 6);
  EXPECT_FALSE(last.Complete());
  EXPECT_EQ(last.Describe().find("tolerated"), std::string::npos) << last.Describe();
  EXPECT_NE(last.Failure().find("starting the board firmware: request 0xA0 at address 0x7F92"),
            std::string::npos)
      << last.Failure();

  // The next start begins afresh.
  part->unansweredAt.reset();
  EXPECT_TRUE(device.Start().report->Complete());
}

TEST(LoaderSequence, ExternalRecordsGoByTheExternalMemoryRequestWhileTheLoaderRuns) {
  auto part = std::make_shared<RecordingPart>();
  LoaderDevice device(part, LoaderDevice::BuiltInImagesWithExternalRecords());
  const auto report = *device.Start().report;
  EXPECT_TRUE(report.Complete());
  EXPECT_EQ(report.loader.external.sent, 0u);
  EXPECT_EQ(report.board.external.sent, kExternalMemoryTestImageRecords - 1);
  EXPECT_EQ(report.board.internal.sent, 521u);
  // Between the run of the first-stage loader and the board firmware's hold.
  const Strings log = Log(*part);
  const auto run = std::find(log.begin(), log.end(), "run");
  ASSERT_NE(run, log.end());
  for (std::size_t i = 0; i + 1 < kExternalMemoryTestImageRecords; ++i) {
    const std::string& name = *(run + 1 + static_cast<std::ptrdiff_t>(i));
    EXPECT_EQ(name.substr(0, 3), "A3 ") << name;
    EXPECT_GT(std::stoul(name.substr(3, 4), nullptr, 16), 0x1B3Fu) << name;
  }
  EXPECT_EQ(*(run + static_cast<std::ptrdiff_t>(kExternalMemoryTestImageRecords)), "hold");
}

TEST(DownloadImage, EndRecordFirstSendsNothingButTheHold) {
  auto part = std::make_shared<RecordingPart>();
  LoaderDevice device(part);
  const auto image = Image({});
  const auto report = device.DownloadImage(std::vector{image[0], Record(0x0100, 16)});
  EXPECT_EQ(Log(*part), (Strings{"hold"}));
  EXPECT_EQ(report.status, usbhost::USBD_STATUS_SUCCESS);
  EXPECT_EQ(report.external.sent + report.internal.sent, 0u);
}

TEST(DownloadImage, RecordsGoByTheirAddressAndPassesEndAtTheFirstNonDataRecord) {
  auto part = std::make_shared<RecordingPart>();
  LoaderDevice device(part);
  const auto image =
      Image({Record(0x1B3F, 1), Record(0x1B40, 16), Record(0x0100, 16), Record(0x8000, 5),
             Record(0x0200, 4, 2), Record(0x0300, 4), Record(0x9000, 4)});
  device.DownloadImage(image);
  EXPECT_EQ(Log(*part), (Strings{"A3 1B40/16", "A3 8000/5", "hold", "A0 1B3F/1", "A0 0100/16"}));
  // Each request carries exactly its record's bytes.
  const auto requests = part->Requests();
  EXPECT_EQ(requests[0].data, std::vector<std::uint8_t>(image[1].data, image[1].data + 16));
  EXPECT_EQ(requests[3].data, std::vector<std::uint8_t>{image[0].data[0]});
}

TEST(DownloadImage, FailureInPassOneStillLetsPassTwoRun) {
  auto part = std::make_shared<RecordingPart>();
  part->answer = FailAt(kExternalMemoryRequest, 0x2000);
  LoaderDevice device(part);
  auto report = device.DownloadImage(
      Image({Record(0x2000, 8), Record(0x0100, 16), Record(0x3000, 8), Record(0x0200, 2)}));
  EXPECT_EQ(Log(*part), (Strings{"A3 2000/8", "hold", "A0 0100/16", "A0 0200/2"}));
  EXPECT_EQ(report.external.failure, usbhost::USBD_STATUS_STALL_PID);
  EXPECT_EQ(report.external.failedAddress, 0x2000);
  EXPECT_EQ(report.internal.sent, 2u);
  // The result is the last request's.
  EXPECT_EQ(report.status, usbhost::USBD_STATUS_SUCCESS);
  report = device.DownloadImage(Image({Record(0x2000, 8)}));
  EXPECT_EQ(report.status, usbhost::USBD_STATUS_STALL_PID);
}

TEST(DownloadImage, RecordWithMoreThanSixteenBytesIsNotSentAndFailsItsPass) {
  auto part = std::make_shared<RecordingPart>();
  LoaderDevice device(part);
  const auto report =
      device.DownloadImage(Image({Record(0x4000, 0), Record(0x5000, 4), Record(0x0100, 2),
                                  Record(0x0110, 17), Record(0x0200, 2)}));
  EXPECT_EQ(Log(*part), (Strings{"hold", "A0 0100/2"}));
  EXPECT_EQ(report.external.failedAddress, 0x4000);
  EXPECT_EQ(report.internal.failedAddress, 0x0110);
  EXPECT_EQ(report.status, usbhost::USBD_STATUS_INVALID_PARAMETER);
}

TEST(LoaderRemoval, RemoveWaitsForTheStartInFlightAndRefusesLaterStarts) {
  auto part = std::make_shared<RecordingPart>();
  Gate gate;
  part->gateFirst = &gate;
  const auto empty = Image({});
  LoaderDevice device(part, {empty, empty});
  auto start = std::async(std::launch::async, [&] { return device.Start(); });
  gate.WaitEntered();
  auto remove = std::async(std::launch::async, [&] { device.Remove(); });
  EXPECT_EQ(remove.wait_for(50ms), std::future_status::timeout);
  gate.Open();
  EXPECT_EQ(start.get().status, kStatusSuccess);
  remove.get();

  const auto sent = part->Requests().size();
  const auto refused = device.Start();
  EXPECT_EQ(refused.status, kStatusDeletePending);
  EXPECT_FALSE(refused.report);
  EXPECT_EQ(part->Requests().size(), sent);
  device.Remove();  // again: returns at once
}

TEST(IoRefCount, RemovalRefusesNewReferencesAndWaitsForHeldOnes) {
  IoRefCount refs;
  auto held = std::make_unique<IoRef>(refs);
  ASSERT_TRUE(held->Held());
  auto remove = std::async(std::launch::async, [&] { refs.RemoveAndWait(); });
  while (!refs.Removing()) std::this_thread::yield();
  EXPECT_FALSE(IoRef(refs).Held());
  EXPECT_EQ(remove.wait_for(20ms), std::future_status::timeout);
  held.reset();
  remove.get();
  EXPECT_FALSE(refs.Acquire());
}

}  // namespace
}  // namespace vantrel::loader
