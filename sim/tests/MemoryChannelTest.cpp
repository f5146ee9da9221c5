#include <gtest/gtest.h>

#include "SimTestSupport.h"

namespace vantrel::sim::test {
namespace {

constexpr std::uint8_t kRead = 0x46;
constexpr std::uint8_t kWrite = 0x47;

TEST(SimMemory, SramKeepsWhatIsWrittenUpToItsLastByte) {
  SimBoard board;
  EXPECT_EQ(Data(Send(board, 6, ReadRequest(kRead, 62, 0x1000))), Bytes(62, 0));

  const Bytes data{1, 2, 3, 4};
  EXPECT_EQ(Send(board, 6, WriteRequest(kWrite, 0xFFFC, data)).bytes, (Bytes{kWrite, kOk}));
  EXPECT_EQ(Data(Send(board, 6, ReadRequest(kRead, 4, 0xFFFC))), data);
  EXPECT_EQ(board.Sram(0xFFFC, 10), data);  // clipped at the end
  EXPECT_TRUE(board.Sram(0x10000, 1).empty());
}

TEST(SimMemory, ChunksPastTheEndAnswerAddressingErrorAndDoNotWrap) {
  SimBoard board;
  EXPECT_EQ(Send(board, 6, WriteRequest(kWrite, 0xFFFD, {1, 2, 3, 4})).bytes,
            (Bytes{kWrite, kSramAddressing}));
  EXPECT_EQ(Send(board, 6, ReadRequest(kRead, 2, 0xFFFF)).bytes, (Bytes{kRead, kSramAddressing}));
  EXPECT_EQ(board.Sram(0, 1), Bytes{0});
  EXPECT_EQ(board.Sram(0xFFFD, 3), (Bytes{0, 0, 0}));
}

TEST(SimMemory, MalformedRequestsAnswerLengthError) {
  SimBoard board;
  const Bytes bad[] = {ReadRequest(kRead, 0, 0),
                       ReadRequest(kRead, 63, 0),
                       {kRead, 1, 0},
                       {kRead, 1, 0, 0, 0},
                       {kWrite, 2, 0, 0, 7},
                       WriteRequest(kWrite, 0, Bytes(61, 7)),
                       {kWrite, 0, 0, 0},
                       {0x48, 0},
                       {0x49, 0},
                       {0x4A, 0}};
  for (const Bytes& request : bad) {
    EXPECT_EQ(Send(board, 6, request).bytes, (Bytes{request[0], kLengthError}));
  }
  EXPECT_EQ(board.Sram(0, 2), (Bytes{0, 0}));
  EXPECT_FALSE(board.ApplicationRunning());
}

TEST(SimMemory, ImageFlagFollowsBeginAndEndOfDownload) {
  SimBoard board;
  EXPECT_EQ(Send(board, 6, {0x4A}).bytes, (Bytes{0x4A, kOk, 0}));

  // The host's download: begin, write the image in 60-byte chunks, end.
  EXPECT_EQ(Status(Send(board, 6, {0x48})), kOk);
  Bytes image(130);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  for (std::size_t offset = 0; offset < image.size(); offset += 60) {
    const std::size_t n = std::min<std::size_t>(60, image.size() - offset);
    const Bytes chunk(image.begin() + offset, image.begin() + offset + n);
    ASSERT_EQ(
        Status(Send(board, 6, WriteRequest(kWrite, static_cast<std::uint16_t>(offset), chunk))),
        kOk);
  }
  EXPECT_EQ(Status(Send(board, 6, {0x49})), kOk);
  EXPECT_TRUE(board.ApplicationRunning());
  EXPECT_EQ(Send(board, 6, {0x4A}).bytes, (Bytes{0x4A, kOk, 1}));
  EXPECT_EQ(board.Sram(0, 130), image);

  EXPECT_EQ(Status(Send(board, 6, {0x48})), kOk);
  EXPECT_FALSE(board.ApplicationRunning());
  EXPECT_EQ(Data(Send(board, 6, {0x4A})), Bytes{0});

  board.SetApplicationRunning(true);
  EXPECT_EQ(Data(Send(board, 6, {0x4A})), Bytes{1});
}

}  // namespace
}  // namespace vantrel::sim::test
