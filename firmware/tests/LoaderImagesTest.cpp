// The loader's two images as the loader walks them, and the board's USB
// descriptors inside the board firmware.
#include <k27fw/FirmwareIds.h>
#include <k27fw/LoaderImages.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

// What the 8051's memory holds after an image has been written, and how the
// walk went. The walk stops at the first record whose type is not 0, as the
// loader's does, and never reads past the array.
struct Written {
  std::size_t records = 0;
  std::size_t bytes = 0;
  std::size_t endIndex = 0;
  bool overlap = false;
  bool addressOrder = true;
  std::vector<bool> covered = std::vector<bool>(0x10000);
  std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(0x10000);
};

Written Write(std::span<const FirmwareRecord> image) {
  Written written;
  unsigned previous = 0;
  std::size_t i = 0;
  for (; i < image.size() && image[i].type == kFirmwareRecordData; ++i) {
    const FirmwareRecord& record = image[i];
    ++written.records;
    written.bytes += record.length;
    if (i > 0 && record.address < previous) written.addressOrder = false;
    previous = record.address;
    for (unsigned k = 0; k < record.length && record.address + k < 0x10000; ++k) {
      if (written.covered[record.address + k]) written.overlap = true;
      written.covered[record.address + k] = true;
      written.memory[record.address + k] = record.data[k];
    }
  }
  written.endIndex = i;
  return written;
}

// The covered addresses as inclusive ranges.
std::vector<std::pair<unsigned, unsigned>> Ranges(const Written& written) {
  std::vector<std::pair<unsigned, unsigned>> ranges;
  for (unsigned address = 0; address < 0x10000; ++address) {
    if (!written.covered[address]) continue;
    if (!ranges.empty() && ranges.back().second + 1 == address)
      ranges.back().second = address;
    else
      ranges.emplace_back(address, address);
  }
  return ranges;
}

unsigned LongJumpTarget(const Written& written, unsigned address) {
  EXPECT_EQ(written.memory[address], 0x02) << "no LJMP at " << address;
  return written.memory[address + 1] * 256u + written.memory[address + 2];
}

using Range = std::pair<unsigned, unsigned>;

TEST(LoaderImages, WalksEndAtTheEndRecordWithTheImagesExtents) {
  const Written board = Write(BoardFirmwareImage);
  EXPECT_EQ(board.records, 521u);
  EXPECT_EQ(board.bytes, 6813u);
  EXPECT_EQ(board.endIndex, std::size(BoardFirmwareImage) - 1);
  EXPECT_FALSE(board.overlap);
  EXPECT_EQ(Ranges(board), (std::vector<Range>{{0x0000, 0x1A9C}}));

  const Written loader = Write(LoaderImage);
  EXPECT_EQ(loader.records, 138u);
  EXPECT_EQ(loader.bytes, 1664u);
  EXPECT_EQ(loader.endIndex, std::size(LoaderImage) - 1);
  EXPECT_FALSE(loader.overlap);
  EXPECT_EQ(
      Ranges(loader),
      (std::vector<Range>{{0x0000, 0x0002}, {0x0043, 0x0045}, {0x004B, 0x004D}, {0x1100, 0x1776}}));
}

TEST(LoaderImages, RecordsAreWellFormedInternalAndNotInAddressOrder) {
  for (std::span<const FirmwareRecord> image : {std::span<const FirmwareRecord>(BoardFirmwareImage),
                                                std::span<const FirmwareRecord>(LoaderImage)}) {
    const FirmwareRecord& end = image.back();
    EXPECT_EQ(end.length, 0);
    EXPECT_EQ(end.address, 0);
    EXPECT_EQ(end.type, kFirmwareRecordEnd);
    EXPECT_TRUE(
        std::all_of(std::begin(end.data), std::end(end.data), [](auto b) { return b == 0; }));
    for (const FirmwareRecord& record : image.first(image.size() - 1)) {
      SCOPED_TRACE(record.address);
      EXPECT_GE(record.length, 1);
      EXPECT_LE(record.length, 16);
      EXPECT_EQ(record.reserved0, 0);
      EXPECT_EQ(record.reserved1, 0);
      // Everything goes into internal memory, by the part's own request.
      EXPECT_LE(record.address + record.length - 1, 0x1B3F);
      for (std::size_t k = record.length; k < 16; ++k) EXPECT_EQ(record.data[k], 0);
    }
    EXPECT_FALSE(Write(image).addressOrder);
  }
}

TEST(LoaderImages, LongJumpsLeadIntoTheirCode) {
  const Written loader = Write(LoaderImage);
  for (unsigned entry : {0x0000u, 0x0043u, 0x004Bu}) {
    const unsigned target = LongJumpTarget(loader, entry);
    EXPECT_GE(target, 0x1100u);
    EXPECT_LE(target, 0x1776u);
  }
  const Written board = Write(BoardFirmwareImage);
  EXPECT_TRUE(board.covered[LongJumpTarget(board, 0x0000)]);
  // The serial interrupts go to the program in external code memory.
  EXPECT_EQ(LongJumpTarget(board, 0x0023), 0x98ECu);
  EXPECT_EQ(LongJumpTarget(board, 0x003B), 0x87BAu);
}

// Reads descriptors from the written memory, refusing to leave the image.
class DescriptorReader {
 public:
  DescriptorReader(const Written& written, unsigned address) : written_(written), at_(address) {}
  std::uint8_t Byte() {
    EXPECT_TRUE(written_.covered[at_]) << "descriptor byte outside the image at " << at_;
    return written_.memory[at_++];
  }
  unsigned Word() {
    const unsigned low = Byte();
    return low | Byte() << 8;
  }
  std::vector<unsigned> Bytes(int count) {
    std::vector<unsigned> bytes;
    for (int i = 0; i < count; ++i) bytes.push_back(Byte());
    return bytes;
  }
  std::string String() {
    const unsigned length = Byte();
    EXPECT_EQ(Byte(), 3) << "not a string descriptor";
    EXPECT_EQ(length % 2, 0u);
    std::string text;
    for (unsigned i = 2; i + 1 < length; i += 2) {
      const unsigned unit = Word();
      EXPECT_LT(unit, 0x80u);
      text += static_cast<char>(unit);
    }
    return text;
  }
  unsigned At() const { return at_; }

 private:
  const Written& written_;
  unsigned at_;
};

TEST(BoardDescriptors, BlockAtItsAddressHoldsTheBoardsDevice) {
  const Written board = Write(BoardFirmwareImage);
  DescriptorReader read(board, kDescriptorBlockAddress);

  // Device descriptor.
  EXPECT_EQ(read.Bytes(2), (std::vector<unsigned>{18, 1}));
  EXPECT_EQ(read.Word(), 0x0100u);
  EXPECT_EQ(read.Bytes(4), (std::vector<unsigned>{0, 0, 0, 64}));
  EXPECT_EQ(read.Word(), kBoardVendorId);
  EXPECT_EQ(read.Word(), kBoardProductId);
  EXPECT_EQ(read.Word(), 0x0001u);
  EXPECT_EQ(read.Bytes(4), (std::vector<unsigned>{1, 2, 0, 1}));

  // Configuration descriptor with its interface and endpoints.
  const unsigned configuration = read.At();
  EXPECT_EQ(read.Bytes(2), (std::vector<unsigned>{9, 2}));
  EXPECT_EQ(read.Word(), 116u);
  EXPECT_EQ(read.Bytes(5), (std::vector<unsigned>{1, 1, 0, 0x80, 50}));
  EXPECT_EQ(read.Bytes(9), (std::vector<unsigned>{9, 4, 0, 0, 14, 0xFF, 0, 0, 0}));
  for (unsigned channel = 1; channel <= 7; ++channel)
    for (unsigned endpoint : {0x80u | channel, channel}) {
      SCOPED_TRACE(endpoint);
      EXPECT_EQ(read.Bytes(4), (std::vector<unsigned>{7, 5, endpoint, 0x02}));
      EXPECT_EQ(read.Word(), 64u);
      EXPECT_EQ(read.Byte(), 0);
    }
  EXPECT_EQ(read.At() - configuration, 116u);

  // Strings, and the two zero bytes that end their list.
  EXPECT_EQ(read.Bytes(4), (std::vector<unsigned>{4, 3, 0x09, 0x04}));
  EXPECT_EQ(read.String(), "Velto Ltd.");
  EXPECT_EQ(read.String(), "Vantrel K27 Board");
  EXPECT_EQ(read.String(), "Vantrel Default Interface");
  EXPECT_EQ(read.Bytes(2), (std::vector<unsigned>{0, 0}));
}

}  // namespace
