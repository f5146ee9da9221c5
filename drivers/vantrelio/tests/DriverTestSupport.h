// A board device over a fake board, and requests made the way a connection
// makes them: the caller's buffers with their real lengths.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "device/BoardDevice.h"
#include "FakeUsbBoard.h"
#include "vantrel/protocol/ControlCodes.h"

namespace vantrel::driver::test {

using namespace vantrel::driver;
using vantrel::driver::fake::Bytes;
using vantrel::driver::fake::Fault;
using namespace std::chrono_literals;

struct Reply {
  std::uint32_t status;
  std::uint32_t information;
  Bytes out;
};

inline Bytes Le32(std::uint32_t v) {
  return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

// A BulkExchangeBlock of 144 bytes.
inline Bytes ExchangeBlock(std::uint32_t outPipe, std::uint32_t inPipe, const Bytes& command,
                           std::uint32_t inLength = 65) {
  Bytes block(BulkExchangeBlock::kSize, 0);
  StoreLe32(block.data() + 0, outPipe);
  StoreLe32(block.data() + 4, inPipe);
  StoreLe32(block.data() + 8, std::uint32_t(command.size()));
  StoreLe32(block.data() + 12, inLength);
  std::copy(command.begin(), command.end(), block.begin() + 16);
  return block;
}

class DriverTest : public ::testing::Test {
 protected:
  std::shared_ptr<vantrel::driver::fake::FakeUsbBoard> board =
      std::make_shared<vantrel::driver::fake::FakeUsbBoard>();
  std::unique_ptr<BoardDevice> device = std::make_unique<BoardDevice>(board, 0, 200ms);

  void UseTimeLimit(std::chrono::milliseconds limit) {
    device = std::make_unique<BoardDevice>(board, 0, limit);
  }
  void StartDevice() { ASSERT_EQ(device->Start(), STATUS_SUCCESS); }

  // Guard bytes follow the caller's output buffer: none may change.
  Reply Call(std::uint32_t code, const Bytes& in, std::size_t outSize, Bytes outContent = {}) {
    constexpr std::size_t kGuard = 32;
    Bytes buffer(outSize + kGuard, 0xEE);
    std::copy(outContent.begin(), outContent.end(), buffer.begin());
    const ControlResult result = device->Control(code, in, std::span(buffer).first(outSize));
    for (std::size_t i = outSize; i < buffer.size(); ++i)
      EXPECT_EQ(buffer[i], 0xEE) << "written past the output buffer at " << i;
    buffer.resize(outSize);
    return {result.status, result.information, buffer};
  }
  Reply Exchange(const Bytes& block, std::size_t outSize = BulkExchangeBlock::kSize) {
    return Call(IOCTL_VIO_BULK_EXCHANGE, block, outSize);
  }
  std::uint32_t LastUrbError() {
    return LoadLe32(Call(IOCTL_VIO_GET_LAST_URB_ERROR, {}, 4).out.data());
  }
};

}  // namespace vantrel::driver::test
