#include "TestClient.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "k27/common/SeqPacketSocket.h"
#include "vantrel/protocol/ControlCodes.h"
#include "vantrel/protocol/ControlProtocol.h"

namespace vantrel::driver::test {

TestClient::TestClient(const std::filesystem::path& socket) {
  const std::string text = socket.string();
  const auto address = vantrel::common::UnixAddress(text);
  if (!address) throw std::runtime_error(vantrel::common::SocketPathError(text));
  fd_ = vantrel::common::ConnectSeqPacket(*address);
  if (!fd_) throw std::system_error(errno, std::generic_category(), "connect " + text);
}

TestClient::~TestClient() = default;

void TestClient::Close() { fd_.Reset(); }

void TestClient::SendRaw(std::span<const std::uint8_t> message) {
  if (::send(fd_.Get(), message.data(), message.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(message.size()))
    throw std::system_error(errno, std::generic_category(), "send");
}

bool TestClient::TrySend(std::span<const std::uint8_t> message) {
  const ssize_t n = ::send(fd_.Get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n == static_cast<ssize_t>(message.size())) return true;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
  throw std::system_error(errno, std::generic_category(), "send");
}

Reply TestClient::Receive(int timeoutMs) {
  pollfd p{fd_.Get(), POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) throw std::runtime_error("no reply in time");
  std::vector<std::uint8_t> buffer(ControlProtocol::kMaxReplyBytes);
  const ssize_t n = ::recv(fd_.Get(), buffer.data(), buffer.size(), 0);
  if (n <= 0) throw std::runtime_error("connection closed");
  const auto decoded = DecodeReply(std::span(buffer).first(static_cast<std::size_t>(n)));
  if (!decoded) throw std::runtime_error("reply shorter than its header");
  Reply reply;
  reply.status = decoded->status;
  reply.information = decoded->information;
  reply.output.assign(decoded->output.begin(), decoded->output.end());
  return reply;
}

bool TestClient::WaitForClose(int timeoutMs) {
  pollfd p{fd_.Get(), POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) return false;
  std::uint8_t byte;
  return ::recv(fd_.Get(), &byte, 1, MSG_DONTWAIT) == 0;
}

Reply TestClient::Control(std::uint32_t code, std::span<const std::uint8_t> in,
                          std::uint32_t outLength) {
  SendRaw(RequestMessage(code, static_cast<std::uint32_t>(in.size()), outLength, in));
  return Receive();
}

std::vector<std::uint8_t> RequestMessage(std::uint32_t code, std::uint32_t inLength,
                                         std::uint32_t outLength,
                                         std::span<const std::uint8_t> input) {
  // The lengths are written as given: a test may make them disagree with
  // the input that follows.
  const auto header = EncodeRequestHeader(code, inLength, outLength);
  std::vector<std::uint8_t> message(header.size() + input.size());
  std::copy(header.begin(), header.end(), message.begin());
  std::copy(input.begin(), input.end(), message.begin() + std::ptrdiff_t(header.size()));
  return message;
}

std::vector<std::uint8_t> ExchangeBlock(std::uint32_t outPipe, std::uint32_t inPipe,
                                        std::span<const std::uint8_t> command,
                                        std::uint32_t inLength) {
  std::vector<std::uint8_t> block(BulkExchangeBlock::kSize, 0);
  StoreLe32(block.data() + BulkExchangeBlock::kOutPipe, outPipe);
  StoreLe32(block.data() + BulkExchangeBlock::kInPipe, inPipe);
  StoreLe32(block.data() + BulkExchangeBlock::kOutLength,
            static_cast<std::uint32_t>(command.size()));
  StoreLe32(block.data() + BulkExchangeBlock::kInLength, inLength);
  if (command.size() > BulkExchangeBlock::kDataSize) throw std::length_error("command too long");
  std::memcpy(block.data() + BulkExchangeBlock::kHeaderSize, command.data(), command.size());
  return block;
}

std::vector<std::uint8_t> ExchangeBlock(int channel, std::span<const std::uint8_t> command,
                                        std::uint32_t inLength) {
  return ExchangeBlock(static_cast<std::uint32_t>(2 * channel - 1),
                       static_cast<std::uint32_t>(2 * channel - 2), command, inLength);
}

std::vector<std::uint8_t> ResponseOf(std::span<const std::uint8_t> block) {
  if (block.size() < BulkExchangeBlock::kSize) throw std::length_error("not a whole block");
  const std::uint32_t n = LoadLe32(block.data() + BulkExchangeBlock::kInLength);
  if (n > BulkExchangeBlock::kDataSize) throw std::length_error("InLength beyond the data");
  const auto begin = block.begin() + BulkExchangeBlock::kHeaderSize;
  return {begin, begin + n};
}

std::filesystem::path MakeTempDir() {
  char name[] = "/tmp/vio-XXXXXX";
  if (::mkdtemp(name) == nullptr)
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  return name;
}

}  // namespace vantrel::driver::test
