#include "vantrel/protocol/ControlProtocol.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver {
namespace {

using P = ControlProtocol;
using Bytes = std::vector<std::uint8_t>;

Bytes Header(std::uint32_t code, std::uint32_t in, std::uint32_t out) {
  const auto header = EncodeRequestHeader(code, in, out);
  return {header.begin(), header.end()};
}

Bytes Joined(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ControlProtocol, RequestsRoundTripWithTheOutputBufferOnlyWhereItIsSent) {
  const Bytes in = {1, 2, 3};
  const Bytes out = {9, 8, 7, 6};
  // A buffered code: the output buffer's length travels, its bytes do not.
  ASSERT_FALSE(P::SendsOutputBuffer(IOCTL_VIO_BULK_EXCHANGE));
  const auto buffered = EncodeRequest(IOCTL_VIO_BULK_EXCHANGE, in, out);
  ASSERT_TRUE(buffered);
  EXPECT_EQ(*buffered, Joined(Header(IOCTL_VIO_BULK_EXCHANGE, 3, 4), in));
  const auto request = DecodeRequest(*buffered);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->code, IOCTL_VIO_BULK_EXCHANGE);
  EXPECT_EQ(Bytes(request->input.begin(), request->input.end()), in);
  EXPECT_EQ(request->outLength, 4u);
  EXPECT_TRUE(request->output.empty());

  // An "in direct" code: the output buffer's bytes go to the device.
  ASSERT_TRUE(P::SendsOutputBuffer(IOCTL_VIO_PIPE_WRITE));
  const auto direct = EncodeRequest(IOCTL_VIO_PIPE_WRITE, in, out);
  ASSERT_TRUE(direct);
  EXPECT_EQ(direct->size(), P::kRequestHeader + in.size() + out.size());
  const auto write = DecodeRequest(*direct);
  ASSERT_TRUE(write);
  EXPECT_EQ(Bytes(write->output.begin(), write->output.end()), out);

  // Empty input and output, and the largest of both.
  const auto empty = DecodeRequest(*EncodeRequest(IOCTL_VIO_NOP, {}, {}));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->input.empty());
  EXPECT_EQ(empty->outLength, 0u);
  const Bytes largest(P::kMaxPayload, 0x5A);
  const auto big = EncodeRequest(IOCTL_VIO_PIPE_WRITE, largest, largest);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->size(), P::kMaxRequestBytes);
  ASSERT_TRUE(DecodeRequest(*big));
}

TEST(ControlProtocol, MalformedRequestsAreRefusedBeforeAnythingIsRead) {
  // Shorter than the header.
  EXPECT_FALSE(DecodeRequest(Bytes{}));
  EXPECT_FALSE(DecodeRequest(Bytes(P::kRequestHeader - 1, 0)));
  // Lengths that claim more, or fewer, bytes than came.
  EXPECT_FALSE(DecodeRequest(Joined(Header(IOCTL_VIO_NOP, 4, 0), {1, 2, 3})));
  EXPECT_FALSE(DecodeRequest(Joined(Header(IOCTL_VIO_NOP, 2, 0), {1, 2, 3})));
  EXPECT_FALSE(DecodeRequest(Joined(Header(IOCTL_VIO_PIPE_WRITE, 1, 4), {1, 2, 3})));
  // Lengths whose sum wraps, or beyond the limit.
  EXPECT_FALSE(DecodeRequest(Header(IOCTL_VIO_PIPE_WRITE, 0xFFFFFFFF, 1)));
  EXPECT_FALSE(DecodeRequest(Header(IOCTL_VIO_NOP, 0, P::kMaxPayload + 1)));
  // A datagram larger than any request, however its lengths read.
  Bytes oversized(P::kMaxRequestBytes + 1, 0);
  EXPECT_FALSE(DecodeRequest(oversized));
  // Requests the client side will not encode.
  const Bytes tooMuch(P::kMaxPayload + 1, 0);
  EXPECT_FALSE(EncodeRequest(IOCTL_VIO_NOP, tooMuch, {}));
  EXPECT_FALSE(EncodeRequest(IOCTL_VIO_NOP, {}, tooMuch));
}

TEST(ControlProtocol, RepliesRoundTripAndNeverCarryMoreThanTheBufferHolds) {
  // Success: the output bytes follow, bounded by the caller's buffer.
  EncodedReply reply = EncodeReply({STATUS_SUCCESS, 100}, 16);
  EXPECT_EQ(reply.outputBytes, 16u);
  Bytes datagram(reply.header.begin(), reply.header.end());
  datagram.resize(datagram.size() + reply.outputBytes, 0x11);
  auto decoded = DecodeReply(datagram);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->status, STATUS_SUCCESS);
  EXPECT_EQ(decoded->information, 16u);
  EXPECT_EQ(decoded->output.size(), 16u);
  EXPECT_EQ(decoded->Returned(16), 16u);
  EXPECT_EQ(decoded->Returned(4), 4u);  // a smaller buffer takes what fits

  // A count that is not the output's (the isochronous transfers report 0).
  reply = EncodeReply({STATUS_SUCCESS, 0, 8}, 8);
  EXPECT_EQ(reply.outputBytes, 8u);
  EXPECT_EQ(LoadLe32(reply.header.data() + 4), 0u);

  // Failure: the status and its information, no output.
  reply = EncodeReply({STATUS_DEVICE_DATA_ERROR, 7}, 64);
  EXPECT_EQ(reply.outputBytes, 0u);
  decoded = DecodeReply(reply.header);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->status, STATUS_DEVICE_DATA_ERROR);
  EXPECT_EQ(decoded->information, 7u);
  EXPECT_EQ(decoded->Returned(64), 0u);

  const auto refusal = EncodeRefusal(STATUS_TOO_MANY_OPENED_FILES);
  EXPECT_EQ(DecodeReply(refusal)->status, STATUS_TOO_MANY_OPENED_FILES);
}

TEST(ControlProtocol, ShortOversizedAndLyingRepliesAreCaught) {
  EXPECT_FALSE(DecodeReply(Bytes(P::kReplyHeader - 1, 0)));
  EXPECT_FALSE(DecodeReply(Bytes(P::kMaxReplyBytes + 1, 0)));
  EXPECT_TRUE(DecodeReply(Bytes(P::kMaxReplyBytes, 0)));
  // Information that claims more than came back is cut to what came.
  Bytes lying(P::kReplyHeader + 3, 0);
  StoreLe32(lying.data() + 4, 1000);
  const auto decoded = DecodeReply(lying);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->Returned(64), 3u);
  EXPECT_EQ(decoded->OutputCount(2), 2u);
}

TEST(ControlProtocol, SocketNamesAndTheDeviceFolder) {
  EXPECT_EQ(P::SocketName(0), "ezusb-0");
  EXPECT_EQ(P::SocketName(7), "ezusb-7");
  ASSERT_EQ(::setenv(P::kDeviceDirEnv, "/tmp/elsewhere", 1), 0);
  EXPECT_EQ(P::DeviceDirectory(), "/tmp/elsewhere");
  ASSERT_EQ(::setenv(P::kDeviceDirEnv, "", 1), 0);
  EXPECT_EQ(P::DeviceDirectory(), "/run/vantrel");
  ASSERT_EQ(::unsetenv(P::kDeviceDirEnv), 0);
  EXPECT_EQ(P::DeviceDirectory(), "/run/vantrel");
}

}  // namespace
}  // namespace vantrel::driver
