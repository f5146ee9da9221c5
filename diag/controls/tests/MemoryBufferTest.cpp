#include "CColouredListBox.h"
#include "MemoryBuffer.h"

#include <QTest>

#include <array>
#include <climits>
#include <cstdint>
#include <vector>

namespace {

// A memory of 64 KiB standing in for the board, with the read-into-window and
// write-then-read-back rules of the real memory kinds.
class FakeMemoryBuffer : public MemoryBuffer {
 public:
  FakeMemoryBuffer() : MemoryBuffer(nullptr, nullptr) { memory.fill(0); }
  explicit FakeMemoryBuffer(CColouredListBox* log) : MemoryBuffer(nullptr, log) { memory.fill(0); }

  std::array<std::uint8_t, 0x10000> memory{};
  bool failRead = false;
  bool failWrite = false;
  bool failReadBack = false;
  // When set, the board keeps this value instead of the byte written.
  int stuckValue = -1;
  int boardReads = 0;
  int boardWrites = 0;

  bool Read(int address) override {
    SetStart(address);
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(Size()));
    ++boardReads;
    if (failRead) {
      SetErrorText(QStringLiteral("read failed"));
      return false;
    }
    for (std::size_t i = 0; i < scratch.size(); ++i)
      scratch[i] = memory[(static_cast<unsigned>(address) + i) & 0xFFFF];
    TakeRead(scratch.data());
    return true;
  }

  bool Write(int address, int count) override {
    if (!CheckWriteRange(address, count)) return false;
    const std::size_t from = static_cast<std::size_t>(address - Start());
    ++boardWrites;
    bool ok = !failWrite;
    if (ok) {
      for (int k = 0; k < count; ++k) {
        memory[(static_cast<unsigned>(address) + static_cast<unsigned>(k)) & 0xFFFF] =
            stuckValue >= 0 ? static_cast<std::uint8_t>(stuckValue)
                            : Data()[from + static_cast<std::size_t>(k)];
      }
    } else {
      SetErrorText(QStringLiteral("write failed"));
    }
    std::vector<std::uint8_t> back(static_cast<std::size_t>(count));
    if (ok) {
      ++boardReads;
      if (failReadBack) {
        SetErrorText(QStringLiteral("read failed"));
        ok = false;
      } else {
        for (int k = 0; k < count; ++k)
          back[static_cast<std::size_t>(k)] =
              memory[(static_cast<unsigned>(address) + static_cast<unsigned>(k)) & 0xFFFF];
      }
    }
    TakeWriteResult(address, count, ok ? back.data() : nullptr);
    return ok;
  }
};

bool AllAre(const std::uint8_t* bytes, int n, std::uint8_t value) {
  for (int i = 0; i < n; ++i)
    if (bytes[i] != value) return false;
  return true;
}

}  // namespace

class MemoryBufferTest : public QObject {
  Q_OBJECT

 private slots:
  void startsEmptyAndUnread() {
    CColouredListBox log(true);
    FakeMemoryBuffer buffer(&log);
    QCOMPARE(buffer.Size(), 0);
    QCOMPARE(buffer.Start(), -1);
    QVERIFY(buffer.Data() == nullptr);
    QVERIFY(buffer.State() == nullptr);
    QVERIFY(buffer.ErrorText().isEmpty());
    QVERIFY(buffer.Board() == nullptr);
    QCOMPARE(buffer.Log(), &log);
  }

  void resizeFillsBothArraysWithNeverRead() {
    FakeMemoryBuffer buffer;
    buffer.Resize(256);
    QCOMPARE(buffer.Size(), 256);
    QVERIFY(buffer.Data() != nullptr);
    QVERIFY(AllAre(buffer.Data(), 256, 0xCC));
    QVERIFY(AllAre(buffer.State(), 256, 0xCC));
    QCOMPARE(buffer.Start(), -1);
  }

  void resizeToSameSizeKeepsBytesAndStates() {
    FakeMemoryBuffer buffer;
    buffer.memory[10] = 0x42;
    buffer.Resize(16);
    QVERIFY(buffer.Read(0));
    buffer.Resize(16);
    QCOMPARE(buffer.Data()[10], std::uint8_t{0x42});
    QCOMPARE(buffer.State()[10], MemoryBuffer::kChanged);
    QCOMPARE(buffer.State()[0], MemoryBuffer::kChanged);
  }

  void resizeToOtherSizeRefills() {
    FakeMemoryBuffer buffer;
    buffer.Resize(16);
    QVERIFY(buffer.Read(0));
    buffer.Resize(8);
    QCOMPARE(buffer.Size(), 8);
    QVERIFY(AllAre(buffer.Data(), 8, 0xCC));
    QVERIFY(AllAre(buffer.State(), 8, 0xCC));
    // The start stays until the next read.
    QCOMPARE(buffer.Start(), 0);
  }

  void negativeOrZeroSizeLeavesNoArrays() {
    FakeMemoryBuffer buffer;
    buffer.Resize(4);
    buffer.Resize(-5);
    QCOMPARE(buffer.Size(), 0);
    QVERIFY(buffer.Data() == nullptr);
    buffer.Resize(4);
    buffer.Resize(0);
    QCOMPARE(buffer.Size(), 0);
    QVERIFY(buffer.State() == nullptr);
  }

  void releaseFreesButKeepsStart() {
    FakeMemoryBuffer buffer;
    buffer.Resize(32);
    QVERIFY(buffer.Read(100));
    buffer.Release();
    QCOMPARE(buffer.Size(), 0);
    QVERIFY(buffer.Data() == nullptr);
    QVERIFY(buffer.State() == nullptr);
    QCOMPARE(buffer.Start(), 100);
    // After a release a resize to the old size makes fresh arrays.
    buffer.Resize(32);
    QVERIFY(AllAre(buffer.Data(), 32, 0xCC));
  }

  void firstReadMarksEveryByteNotNeverReadAsChanged() {
    FakeMemoryBuffer buffer;
    for (int i = 0; i < 16; ++i)
      buffer.memory[static_cast<std::size_t>(8 + i)] = static_cast<std::uint8_t>(i);
    buffer.memory[8 + 5] = 0xCC;
    buffer.Resize(16);
    QVERIFY(buffer.Read(8));
    QCOMPARE(buffer.Start(), 8);
    for (int i = 0; i < 16; ++i) {
      if (i == 5) {
        QCOMPARE(buffer.Data()[i], std::uint8_t{0xCC});
        QCOMPARE(buffer.State()[i], MemoryBuffer::kUnchanged);
      } else {
        QCOMPARE(buffer.Data()[i], static_cast<std::uint8_t>(i));
        QCOMPARE(buffer.State()[i], MemoryBuffer::kChanged);
      }
    }
  }

  void secondReadShowsOnlyWhatChanged() {
    FakeMemoryBuffer buffer;
    buffer.memory.fill(0x11);
    buffer.Resize(64);
    QVERIFY(buffer.Read(0));
    QVERIFY(buffer.Read(0));
    QVERIFY(AllAre(buffer.State(), 64, MemoryBuffer::kUnchanged));
    buffer.memory[20] = 0x99;
    QVERIFY(buffer.Read(0));
    QCOMPARE(buffer.State()[20], MemoryBuffer::kChanged);
    QCOMPARE(buffer.Data()[20], std::uint8_t{0x99});
    QCOMPARE(buffer.State()[19], MemoryBuffer::kUnchanged);
    QCOMPARE(buffer.State()[21], MemoryBuffer::kUnchanged);
  }

  void readOfSameSizeElsewhereComparesWithPreviousRead() {
    FakeMemoryBuffer buffer;
    buffer.memory[0] = 1;
    buffer.memory[100] = 1;
    buffer.memory[1] = 2;
    buffer.memory[101] = 3;
    buffer.Resize(2);
    QVERIFY(buffer.Read(0));
    QVERIFY(buffer.Read(100));
    QCOMPARE(buffer.Start(), 100);
    QCOMPARE(buffer.State()[0], MemoryBuffer::kUnchanged);
    QCOMPARE(buffer.State()[1], MemoryBuffer::kChanged);
    QCOMPARE(buffer.Data()[1], std::uint8_t{3});
  }

  void failedReadLeavesBytesAndStates() {
    FakeMemoryBuffer buffer;
    buffer.memory.fill(7);
    buffer.Resize(8);
    QVERIFY(buffer.Read(0));
    buffer.memory.fill(9);
    buffer.failRead = true;
    QVERIFY(!buffer.Read(0));
    QCOMPARE(buffer.ErrorText(), QStringLiteral("read failed"));
    QVERIFY(AllAre(buffer.Data(), 8, 7));
    QVERIFY(AllAre(buffer.State(), 8, MemoryBuffer::kChanged));
  }

  void verifiedWriteTurnsByteVerified() {
    FakeMemoryBuffer buffer;
    buffer.Resize(16);
    QVERIFY(buffer.Read(0x40));
    buffer.Data()[3] = 0x7F;
    QVERIFY(buffer.Write(0x43, 1));
    QCOMPARE(buffer.memory[0x43], std::uint8_t{0x7F});
    QCOMPARE(buffer.State()[3], MemoryBuffer::kVerified);
    QCOMPARE(buffer.Data()[3], std::uint8_t{0x7F});
    QCOMPARE(buffer.State()[2], MemoryBuffer::kChanged);
    QCOMPARE(buffer.State()[4], MemoryBuffer::kChanged);
    // The next read of the same window finds the written byte unchanged.
    QVERIFY(buffer.Read(0x40));
    QCOMPARE(buffer.State()[3], MemoryBuffer::kUnchanged);
  }

  void unverifiedWriteTakesBoardValue() {
    FakeMemoryBuffer buffer;
    buffer.Resize(4);
    QVERIFY(buffer.Read(0));
    buffer.stuckValue = 0x55;
    buffer.Data()[1] = 0x12;
    QVERIFY(buffer.Write(1, 1));
    QCOMPARE(buffer.Data()[1], std::uint8_t{0x55});
    QCOMPARE(buffer.State()[1], MemoryBuffer::kChanged);
  }

  void failedWriteKeepsTypedByteAsChanged() {
    FakeMemoryBuffer buffer;
    buffer.Resize(4);
    QVERIFY(buffer.Read(0));
    QVERIFY(buffer.Read(0));
    buffer.failWrite = true;
    buffer.Data()[2] = 0xAB;
    QVERIFY(!buffer.Write(2, 1));
    QCOMPARE(buffer.ErrorText(), QStringLiteral("write failed"));
    QCOMPARE(buffer.Data()[2], std::uint8_t{0xAB});
    QCOMPARE(buffer.State()[2], MemoryBuffer::kChanged);
    QCOMPARE(buffer.State()[1], MemoryBuffer::kUnchanged);
    QCOMPARE(buffer.memory[2], std::uint8_t{0});
  }

  void failedReadBackKeepsTypedByteAsChanged() {
    FakeMemoryBuffer buffer;
    buffer.Resize(4);
    QVERIFY(buffer.Read(0));
    buffer.failReadBack = true;
    buffer.stuckValue = 0x01;
    buffer.Data()[0] = 0xEE;
    QVERIFY(!buffer.Write(0, 1));
    QCOMPARE(buffer.ErrorText(), QStringLiteral("read failed"));
    QCOMPARE(buffer.Data()[0], std::uint8_t{0xEE});
    QCOMPARE(buffer.State()[0], MemoryBuffer::kChanged);
  }

  void multiByteWriteMarksEachByte() {
    FakeMemoryBuffer buffer;
    buffer.Resize(8);
    QVERIFY(buffer.Read(0));
    QVERIFY(buffer.Read(0));
    for (int i = 0; i < 8; ++i) buffer.Data()[i] = static_cast<std::uint8_t>(0xA0 + i);
    QVERIFY(buffer.Write(2, 4));
    for (int i = 0; i < 8; ++i)
      QCOMPARE(buffer.State()[i],
               (i >= 2 && i < 6) ? MemoryBuffer::kVerified : MemoryBuffer::kUnchanged);
    QVERIFY(buffer.Write(0, 8));
    QVERIFY(AllAre(buffer.State(), 8, MemoryBuffer::kVerified));
  }

  void writeOutsideWindowIsRefusedBeforeTheBoard() {
    FakeMemoryBuffer buffer;
    buffer.Resize(16);
    QVERIFY(buffer.Read(0x20));
    const int writes = buffer.boardWrites;
    QVERIFY(!buffer.Write(0x1F, 1));
    QCOMPARE(buffer.ErrorText(),
             QStringLiteral(
                 "Specified address [0x0000001f] not in buffer range [0x00000020 - 0x0000002f]"));
    QVERIFY(!buffer.Write(0x30, 1));
    QCOMPARE(buffer.ErrorText(),
             QStringLiteral(
                 "Specified address [0x00000030] not in buffer range [0x00000020 - 0x0000002f]"));
    QVERIFY(!buffer.Write(-1, 1));
    QCOMPARE(buffer.ErrorText(),
             QStringLiteral(
                 "Specified address [0xffffffff] not in buffer range [0x00000020 - 0x0000002f]"));
    QCOMPARE(buffer.boardWrites, writes);
    QVERIFY(buffer.Write(0x2F, 1));
    QVERIFY(buffer.Write(0x20, 1));
  }

  void writeRunningPastWindowIsRefused() {
    FakeMemoryBuffer buffer;
    buffer.Resize(16);
    QVERIFY(buffer.Read(0x20));
    QVERIFY(!buffer.Write(0x2E, 3));
    QCOMPARE(buffer.ErrorText(),
             QStringLiteral("Write of 3 bytes [0x0000002e - 0x00000030] would overflow buffer "
                            "[0x00000020 - 0x0000002f]"));
    QVERIFY(!buffer.Write(0x20, INT_MAX));
    QCOMPARE(buffer.boardWrites, 0);
    QVERIFY(buffer.Write(0x2E, 2));
  }

  void emptyOrNegativeWriteIsRefused() {
    FakeMemoryBuffer buffer;
    buffer.Resize(16);
    QVERIFY(buffer.Read(0));
    QVERIFY(!buffer.Write(4, 0));
    QVERIFY(!buffer.ErrorText().isEmpty());
    QVERIFY(!buffer.Write(4, -3));
    QVERIFY(!buffer.Write(4, INT_MIN));
    QCOMPARE(buffer.boardWrites, 0);
  }

  void writeBeforeAnyReadOrAfterReleaseIsRefused() {
    FakeMemoryBuffer buffer;
    QVERIFY(!buffer.Write(0, 1));
    QVERIFY(!buffer.Write(-1, 1));
    QCOMPARE(buffer.ErrorText(),
             QStringLiteral(
                 "Specified address [0xffffffff] not in buffer range [0xffffffff - 0xfffffffe]"));
    buffer.Resize(4);
    QVERIFY(buffer.Read(0));
    buffer.Release();
    QVERIFY(!buffer.Write(0, 1));
    QCOMPARE(buffer.boardWrites, 0);
  }

  void windowAtTheTopOfTheAddressRangeDoesNotOverflow() {
    FakeMemoryBuffer buffer;
    buffer.Resize(4);
    QVERIFY(buffer.Read(INT_MAX - 1));
    QVERIFY(!buffer.Contains(INT_MIN));
    QVERIFY(buffer.Contains(INT_MAX));
    QVERIFY(!buffer.Write(INT_MAX, 4));
    QCOMPARE(buffer.ErrorText(),
             QStringLiteral("Write of 4 bytes [0x7fffffff - 0x80000002] would overflow buffer "
                            "[0x7ffffffe - 0x80000001]"));
    QVERIFY(!buffer.Write(INT_MIN, 1));
    QCOMPARE(buffer.boardWrites, 0);
    // The window runs past the largest address; the bytes that can be named are still written.
    buffer.Data()[1] = 0x31;
    QVERIFY(buffer.Write(INT_MAX, 2));
    QCOMPARE(buffer.State()[1], MemoryBuffer::kVerified);
    QCOMPARE(buffer.State()[2], MemoryBuffer::kVerified);
    QCOMPARE(buffer.State()[0], MemoryBuffer::kChanged);
  }
};

QTEST_MAIN(MemoryBufferTest)
#include "MemoryBufferTest.moc"
