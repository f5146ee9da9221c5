#include "TestClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "vantrel/driver/ControlCodes.h"
#include "vantrel/driver/ControlProtocol.h"

namespace vantrel::driver::test {

TestClient::TestClient(const std::filesystem::path& socket) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = socket.string();
  if (text.size() >= sizeof(address.sun_path)) throw std::runtime_error("socket path too long");
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "socket");
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    throw std::system_error(error, std::generic_category(), "connect " + text);
  }
}

TestClient::~TestClient() { Close(); }

void TestClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TestClient::SendRaw(std::span<const std::uint8_t> message) {
  if (::send(fd_, message.data(), message.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(message.size()))
    throw std::system_error(errno, std::generic_category(), "send");
}

bool TestClient::TrySend(std::span<const std::uint8_t> message) {
  const ssize_t n = ::send(fd_, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n == static_cast<ssize_t>(message.size())) return true;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
  throw std::system_error(errno, std::generic_category(), "send");
}

Reply TestClient::Receive(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) throw std::runtime_error("no reply in time");
  std::vector<std::uint8_t> buffer(ControlProtocol::kReplyHeader + ControlProtocol::kMaxPayload);
  const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
  if (n <= 0) throw std::runtime_error("connection closed");
  if (static_cast<std::size_t>(n) < ControlProtocol::kReplyHeader)
    throw std::runtime_error("reply shorter than its header");
  Reply reply;
  reply.status = LoadLe32(buffer.data());
  reply.information = LoadLe32(buffer.data() + 4);
  reply.output.assign(buffer.begin() + ControlProtocol::kReplyHeader, buffer.begin() + n);
  return reply;
}

bool TestClient::WaitForClose(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) != 1) return false;
  std::uint8_t byte;
  return ::recv(fd_, &byte, 1, MSG_DONTWAIT) == 0;
}

Reply TestClient::Control(std::uint32_t code, std::span<const std::uint8_t> in,
                          std::uint32_t outLength) {
  SendRaw(RequestMessage(code, static_cast<std::uint32_t>(in.size()), outLength, in));
  return Receive();
}

std::vector<std::uint8_t> RequestMessage(std::uint32_t code, std::uint32_t inLength,
                                         std::uint32_t outLength,
                                         std::span<const std::uint8_t> input) {
  std::vector<std::uint8_t> message(ControlProtocol::kRequestHeader + input.size());
  StoreLe32(message.data(), code);
  StoreLe32(message.data() + 4, inLength);
  StoreLe32(message.data() + 8, outLength);
  if (!input.empty())
    std::memcpy(message.data() + ControlProtocol::kRequestHeader, input.data(), input.size());
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
