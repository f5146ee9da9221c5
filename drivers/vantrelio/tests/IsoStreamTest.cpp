// The isochronous stream through the daemon's socket: its rings as a reader
// sees them (order, wrap-around, overflow), stop, one stream per device,
// removal while it runs, and ten seconds of frames read at two paces.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "usb/IsoRequests.h"
#include "IsoTestSupport.h"

namespace vantrel::driver::isotest {
namespace {

// One packet as a stream read returns it: its data's sequence number and
// its record.
struct StreamPacket {
  std::uint32_t sequence;
  PacketRecord record;
};

class IsoStreamTest : public IsoStackTest {
 protected:
  static constexpr std::uint32_t kSize = 16;
  static constexpr std::uint32_t kCount = 8;  // packets the rings hold
  static constexpr std::uint32_t kFrames = 2;
  static constexpr std::uint32_t kBuffers = 2;

  std::uint32_t Start(std::uint32_t size = kSize, std::uint32_t count = kCount,
                      std::uint32_t frames = kFrames, std::uint32_t buffers = kBuffers) {
    return Call(IOCTL_VIO_START_ISO_STREAM, IsoRecord(kInPipe, size, count, frames, buffers), 0)
        .status;
  }
  Reply ReadRaw(std::uint32_t count, std::uint32_t size = kSize) {
    return Call(IOCTL_VIO_READ_ISO_STREAM, IsoRecord(kInPipe, size, count, 0, 0),
                (size + std::uint32_t(kRecord)) * count);
  }
  // The packets one read returns; the data of n packets comes first, then
  // their n records.
  std::vector<StreamPacket> Read(std::uint32_t count, std::uint32_t size = kSize) {
    const Reply reply = ReadRaw(count, size);
    EXPECT_EQ(reply.status, STATUS_SUCCESS);
    const std::size_t n = reply.information / (size + kRecord);
    EXPECT_EQ(reply.information, n * (size + kRecord)) << "records do not match the data";
    std::vector<StreamPacket> packets;
    for (std::size_t i = 0; i < n; ++i)
      packets.push_back(
          {SequenceAt(reply.output, i * size), RecordAt(reply.output, n * size + i * kRecord)});
    return packets;
  }
  // Reads until something comes.
  std::vector<StreamPacket> ReadSome(std::uint32_t count) {
    std::vector<StreamPacket> packets;
    WaitFor([&] {
      packets = Read(count);
      return !packets.empty();
    });
    return packets;
  }
  static void ExpectGoodRecords(const std::vector<StreamPacket>& packets, std::uint32_t size,
                                std::uint32_t frames) {
    for (std::size_t i = 0; i < packets.size(); ++i) {
      EXPECT_EQ(packets[i].record.length, size);
      EXPECT_EQ(packets[i].record.status, usbhost::USBD_STATUS_SUCCESS);
      EXPECT_EQ(packets[i].record.offset % size, 0u);
      EXPECT_LT(packets[i].record.offset, size * frames);
    }
  }
};

TEST_F(IsoStreamTest, AReadOfAnEmptyStreamReturnsNothing) {
  ASSERT_EQ(Start(), STATUS_SUCCESS);
  const Reply reply = ReadRaw(kCount);
  EXPECT_EQ(reply.status, STATUS_SUCCESS);
  EXPECT_EQ(reply.information, 0u);
  // The output length must be exactly what the record asks for.
  EXPECT_EQ(Call(IOCTL_VIO_READ_ISO_STREAM, IsoRecord(kInPipe, kSize, kCount, 0, 0),
                 (kSize + 12) * kCount + 1)
                .status,
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(
      Call(IOCTL_VIO_READ_ISO_STREAM, IsoRecord(kInPipe, 0, kCount, 0, 0), 12 * kCount).status,
      STATUS_INVALID_PARAMETER);
}

TEST_F(IsoStreamTest, PacketsComeInOrderAcrossTheEndOfTheRings) {
  ASSERT_EQ(Start(), STATUS_SUCCESS);
  // 10 completions of 2 packets through rings of 8: the rings wrap twice.
  std::uint32_t expected = 0;
  for (std::uint32_t round = 1; round <= 10; ++round) {
    bus_.AdvanceFrames(kFrames);
    const std::vector<StreamPacket> packets = ReadSome(kFrames);
    ASSERT_EQ(packets.size(), kFrames) << "round " << round;
    for (const StreamPacket& p : packets) EXPECT_EQ(p.sequence, expected++);
    ExpectGoodRecords(packets, kSize, kFrames);
  }
}

TEST_F(IsoStreamTest, AReaderThatFallsBehindLosesWholeCompletions) {
  ASSERT_EQ(Start(), STATUS_SUCCESS);
  // 12 completions and no read: the rings take the first 4.
  for (std::uint32_t served = 1; served <= 12; ++served) ASSERT_TRUE(RunFrames(kFrames, served));
  const std::vector<StreamPacket> first = Read(kCount);
  ASSERT_EQ(first.size(), kCount);
  for (std::uint32_t i = 0; i < kCount; ++i) EXPECT_EQ(first[i].sequence, i);
  ExpectGoodRecords(first, kSize, kFrames);

  // What comes next follows a gap of whole completions, each packet still
  // beside its own record.
  bus_.AdvanceFrames(kFrames);
  const std::vector<StreamPacket> later = ReadSome(kCount);
  ASSERT_FALSE(later.empty());
  EXPECT_GT(later[0].sequence, kCount);
  EXPECT_EQ((later[0].sequence - kCount) % kFrames, 0u);
  for (std::size_t i = 1; i < later.size(); ++i)
    EXPECT_EQ(later[i].sequence, later[0].sequence + i);
  ExpectGoodRecords(later, kSize, kFrames);
}

TEST_F(IsoStreamTest, AfterAStopEachRequestEndsAtItsNextCompletion) {
  ASSERT_EQ(Start(), STATUS_SUCCESS);
  ASSERT_TRUE(RunFrames(kFrames, 1));
  EXPECT_EQ(Call(IOCTL_VIO_STOP_ISO_STREAM, {}, 0).status, STATUS_SUCCESS);
  // Until both requests have ended, the stream still runs: no new one.
  EXPECT_EQ(Start(), STATUS_DEVICE_BUSY);
  ASSERT_TRUE(WaitFor([&] {
    bus_.AdvanceFrames(1);
    return ReadRaw(kCount).status == STATUS_UNSUCCESSFUL;
  }));
  // Each request completed at most once more after the stop (request 0 may
  // have seen the stop at the completion before), and then no more.
  const std::uint32_t served = iso_->TransfersServed();
  EXPECT_GE(served, 2u);
  EXPECT_LE(served, 3u);
  bus_.AdvanceFrames(20);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(iso_->TransfersServed(), served);
  EXPECT_EQ(ReadRaw(kCount).status, STATUS_UNSUCCESSFUL);

  // The device may run a new stream now.
  ASSERT_EQ(Start(), STATUS_SUCCESS);
  bus_.AdvanceFrames(kFrames);
  EXPECT_EQ(ReadSome(kFrames).size(), kFrames);
}

TEST_F(IsoStreamTest, RequestsAndPacketsInFlightAreBoundedAndGiveTheirFramesBack) {
  // A million one-byte requests: refused before anything is allocated.
  EXPECT_EQ(Start(1, kCount, 1, 1000000), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(Start(kSize, kCount, 1, kMaxIsoRequestsInFlight + 1), STATUS_INSUFFICIENT_RESOURCES);
  const std::uint32_t frames = std::uint32_t(kMaxIsoPacketsInFlight / kMaxIsoRequestsInFlight);
  EXPECT_EQ(Start(kSize, kCount, frames + 1, kMaxIsoRequestsInFlight),
            STATUS_INSUFFICIENT_RESOURCES);
  // A transfer likewise.
  EXPECT_EQ(Call(IOCTL_VIO_ISO_READ, IsoRecord(kInPipe, 1, 65, 1, 65), 65 * 13).status,
            STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(iso_->TransfersServed(), 0u);

  // At the bounds the stream runs; stopped and its pipe aborted, it ends
  // and the frames it had booked are free for the next transfer.
  ASSERT_EQ(Start(kSize, 4096, frames, kMaxIsoRequestsInFlight), STATUS_SUCCESS);
  EXPECT_EQ(Call(IOCTL_VIO_STOP_ISO_STREAM, {}, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(Call(IOCTL_VIO_ABORT_PIPE, Bytes{0, 0, 0, 0}, 0).status, STATUS_SUCCESS);
  ASSERT_TRUE(WaitFor([&] { return ReadRaw(kCount).status == STATUS_UNSUCCESSFUL; }));
  const std::uint32_t now = bus_.FrameNumber();
  const Reply reply = WhileFramesRun([&] {
    return Call(IOCTL_VIO_ISO_READ, IsoRecord(kInPipe, kSize, 4, 4, 1), 4 * (kSize + kRecord));
  });
  ASSERT_EQ(reply.status, STATUS_SUCCESS);
  ASSERT_EQ(reply.output.size(), 4 * (kSize + kRecord));
  // Bytes 4-7 of a packet: the frame it was sent in.
  EXPECT_LT(LoadLe32(&reply.output[4]) - now, 100u);
}

TEST_F(IsoStreamTest, TwoConnectionsReadingAtOnceShareThePacketsBetweenThem) {
  ASSERT_EQ(Start(), STATUS_SUCCESS);
  std::mutex mutex;
  std::vector<std::uint32_t> sequences;
  std::atomic<bool> done{false};
  auto reader = [&] {
    TestClient client(dir_ / "ezusb-0");
    while (!done.load()) {
      const Reply reply =
          client.Control(IOCTL_VIO_READ_ISO_STREAM, IsoRecord(kInPipe, kSize, 2, 0, 0),
                         2 * (kSize + std::uint32_t(kRecord)));
      const std::size_t n = reply.information / (kSize + kRecord);
      std::lock_guard lock(mutex);
      for (std::size_t i = 0; i < n; ++i) {
        sequences.push_back(SequenceAt(reply.output, i * kSize));
        EXPECT_EQ(RecordAt(reply.output, n * kSize + i * kRecord).length, kSize);
      }
    }
  };
  std::thread first(reader), second(reader);
  for (std::uint32_t served = 1; served <= 200; ++served) {
    ASSERT_TRUE(RunFrames(kFrames, served));
    ASSERT_TRUE(WaitFor([&] {
      std::lock_guard lock(mutex);
      return sequences.size() == served * kFrames;
    }));
  }
  done.store(true);
  first.join();
  second.join();
  std::sort(sequences.begin(), sequences.end());
  for (std::uint32_t i = 0; i < sequences.size(); ++i) ASSERT_EQ(sequences[i], i);
}

TEST_F(IsoStreamTest, ASecondStartWhileTheStreamRunsIsRefused) {
  ASSERT_EQ(Start(), STATUS_SUCCESS);
  EXPECT_EQ(Start(32, 16, 4, 3), STATUS_DEVICE_BUSY);
  // The first stream goes on with its own rings.
  bus_.AdvanceFrames(kFrames);
  const std::vector<StreamPacket> packets = ReadSome(kCount);
  ASSERT_EQ(packets.size(), kFrames);
  EXPECT_EQ(packets[0].sequence, 0u);
}

TEST_F(IsoStreamTest, UnplugWhileTheStreamRunsEndsItBeforeTheDeviceGoes) {
  ASSERT_EQ(Start(), STATUS_SUCCESS);
  ASSERT_TRUE(RunFrames(kFrames, 1));
  bus_.Unplug(1);
  ASSERT_TRUE(WaitFor([&] { return manager_->Instances().empty(); }));
  // The socket goes, with its connections, once the stream has ended.
  EXPECT_TRUE(client_->WaitForClose(5000));
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(dir_ / "ezusb-0"); }));
}

TEST_F(IsoStreamTest, RemovalWithTheDeviceStillPresentLeavesNoRequestBehind) {
  ASSERT_EQ(Start(), STATUS_SUCCESS);
  ASSERT_TRUE(RunFrames(kFrames, 1));
  // As at the daemon's stop: the device stays on the bus, its frames stop
  // moving, and removal must still end every request of the stream.
  manager_->RemoveAll();
  EXPECT_TRUE(manager_->Instances().empty());
  const std::uint32_t served = iso_->TransfersServed();
  bus_.AdvanceFrames(50);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(iso_->TransfersServed(), served);
}

// Ten seconds of 1 ms frames, 32-byte packets, 4 requests of 8 packets,
// rings of 64 packets; `readEvery` frames the reader takes one read of up
// to 64 packets (0: it reads until it has everything sent so far).
struct StreamFigures {
  std::uint32_t sent = 0, received = 0, dropped = 0, gaps = 0;
};

class IsoStreamTenSeconds : public IsoStackTest {
 protected:
  static constexpr std::uint32_t kSize = 32, kCount = 64, kFrames = 8, kBuffers = 4;
  static constexpr std::uint32_t kTotalFrames = 10000;

  StreamFigures Run(std::uint32_t readEvery) {
    StreamFigures figures;
    EXPECT_EQ(
        Call(IOCTL_VIO_START_ISO_STREAM, IsoRecord(kInPipe, kSize, kCount, kFrames, kBuffers), 0)
            .status,
        STATUS_SUCCESS);
    std::uint32_t next = 0;
    bool stopped = false, ended = false;
    auto read = [&] {
      const Reply reply = Call(IOCTL_VIO_READ_ISO_STREAM, IsoRecord(kInPipe, kSize, kCount, 0, 0),
                               (kSize + 12) * kCount);
      // Once stopped, the stream ends when its last request has.
      if (stopped && reply.status == STATUS_UNSUCCESSFUL) ended = true;
      if (!ended) {
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
      }
      const std::size_t n = reply.information / (kSize + kRecord);
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t sequence = SequenceAt(reply.output, i * kSize);
        const PacketRecord record = RecordAt(reply.output, n * kSize + i * kRecord);
        EXPECT_EQ(record.length, kSize);
        EXPECT_EQ(record.status, usbhost::USBD_STATUS_SUCCESS);
        EXPECT_GE(sequence, next);
        if (sequence != next) {
          ++figures.gaps;
          EXPECT_EQ((sequence - next) % kFrames, 0u) << "a completion was cut";
          figures.dropped += sequence - next;
        }
        next = sequence + 1;
        ++figures.received;
      }
      return n;
    };
    for (std::uint32_t frame = kFrames; frame <= kTotalFrames; frame += kFrames) {
      const std::uint32_t sentBefore = iso_->PacketsSent();
      bus_.AdvanceFrames(kFrames);
      if (readEvery == 0) {
        // Every frame so far carried a packet: the pipe never idled, since
        // each completion's request goes out again before its data is read.
        if (!WaitFor([&] { return iso_->PacketsSent() >= frame; }, 2s)) {
          ADD_FAILURE() << "the pipe idled before frame " << frame;
          break;
        }
        // Keeping up: everything the device has sent gets read.
        EXPECT_TRUE(WaitFor([&] {
          read();
          return figures.received + figures.dropped == iso_->PacketsSent();
        }));
      } else {
        // Nothing waits for the stream's worker here; on a busy machine it
        // may send a request again only after its frames have passed, and
        // those frames carry nothing. So this waits for one completion more,
        // not for a packet in every frame so far.
        WaitFor([&] { return iso_->PacketsSent() >= sentBefore + kFrames; }, 200ms);
        if (frame % readEvery < kFrames) read();
      }
    }
    EXPECT_EQ(Call(IOCTL_VIO_STOP_ISO_STREAM, {}, 0).status, STATUS_SUCCESS);
    stopped = true;
    EXPECT_TRUE(WaitFor([&] {
      bus_.AdvanceFrames(kFrames);
      read();
      return ended;
    }));
    figures.sent = iso_->PacketsSent();
    return figures;
  }
  void Report(const char* name, const StreamFigures& f) {
    std::printf("%s: %u frames, %u packets sent, %u received, %u dropped in %u gaps\n", name,
                kTotalFrames, f.sent, f.received, f.dropped, f.gaps);
    RecordProperty("sent", int(f.sent));
    RecordProperty("received", int(f.received));
    RecordProperty("dropped", int(f.dropped));
  }
};

TEST_F(IsoStreamTenSeconds, AReaderThatKeepsUpLosesNoPacket) {
  const StreamFigures figures = Run(0);
  Report("keeping up", figures);
  EXPECT_EQ(figures.dropped, 0u);
  EXPECT_EQ(figures.gaps, 0u);
  // The pipe never idled for more than the requests in flight.
  EXPECT_GE(figures.received, kTotalFrames - kBuffers * kFrames);
}

TEST_F(IsoStreamTenSeconds, AReaderThatFallsBehindSeesWholeCompletionsDropped) {
  // One read of 64 packets per 100 frames: at most 64 of every 100 packets.
  const StreamFigures figures = Run(100);
  Report("falling behind", figures);
  EXPECT_GT(figures.dropped, 0u);
  EXPECT_GT(figures.gaps, 0u);
  EXPECT_LE(figures.received, kTotalFrames * 64 / 100 + kCount * 2);
}

}  // namespace
}  // namespace vantrel::driver::isotest
