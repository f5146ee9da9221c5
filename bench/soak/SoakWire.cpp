#include "SoakWire.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/protocol/ControlProtocol.h>
#include <vantrel/protocol/SimConsoleProtocol.h>

namespace vantrel::soak {

namespace fs = std::filesystem;
namespace drv = vantrel::driver;
using Block = drv::BulkExchangeBlock;

int Connect(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

Outcome Call(int fd, std::uint32_t code, const std::vector<std::uint8_t>& in,
             std::uint32_t outLength, std::chrono::milliseconds limit, std::uint32_t* status,
             std::vector<std::uint8_t>* output, const std::vector<std::uint8_t>& sent) {
  std::vector<std::uint8_t> out(sent);
  out.resize(outLength, 0);
  const auto request = drv::EncodeRequest(code, in, out);
  if (!request) return Outcome::Closed;
  if (::send(fd, request->data(), request->size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request->size()))
    return Outcome::Closed;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return Outcome::Hung;
  std::vector<std::uint8_t> reply(drv::ControlProtocol::kReplyHeader + outLength);
  const ssize_t n = ::recv(fd, reply.data(), reply.size(), 0);
  if (n < static_cast<ssize_t>(drv::ControlProtocol::kReplyHeader)) return Outcome::Closed;
  *status = drv::LoadLe32(reply.data());
  output->assign(reply.begin() + drv::ControlProtocol::kReplyHeader, reply.begin() + n);
  return Outcome::Reply;
}

std::vector<std::uint8_t> ExchangeBlock(std::uint32_t outPipe, std::uint32_t inPipe,
                                        const std::vector<std::uint8_t>& command) {
  std::vector<std::uint8_t> block(Block::kSize, 0);
  drv::StoreLe32(block.data() + Block::kOutPipe, outPipe);
  drv::StoreLe32(block.data() + Block::kInPipe, inPipe);
  drv::StoreLe32(block.data() + Block::kOutLength, static_cast<std::uint32_t>(command.size()));
  drv::StoreLe32(block.data() + Block::kInLength, 65);
  std::copy(command.begin(), command.end(), block.begin() + Block::kHeaderSize);
  return block;
}

bool Console(const fs::path& deviceDir, int board, const std::vector<std::string>& words) {
  const int fd = Connect(deviceDir / drv::kSimConsoleSocket);
  if (fd < 0) return false;
  std::string text = std::to_string(board) + "\n";
  for (const std::string& word : words) text += word + "\n";
  std::uint32_t status = 0;
  std::vector<std::uint8_t> output;
  const Outcome outcome =
      Call(fd, drv::kSimConsoleCode, std::vector<std::uint8_t>(text.begin(), text.end()), 256,
           std::chrono::milliseconds(10000), &status, &output);
  ::close(fd);
  return outcome == Outcome::Reply && !drv::NtFailed(status) && !output.empty() && output[0] == '0';
}

std::string StatusName(std::uint32_t status) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", status);
  const char* name = nullptr;
  switch (status) {
    case drv::STATUS_UNSUCCESSFUL:
      name = "STATUS_UNSUCCESSFUL";
      break;
    case drv::STATUS_INVALID_PARAMETER:
      name = "STATUS_INVALID_PARAMETER";
      break;
    case drv::STATUS_ACCESS_DENIED:
      name = "STATUS_ACCESS_DENIED";
      break;
    case drv::STATUS_QUOTA_EXCEEDED:
      name = "STATUS_QUOTA_EXCEEDED";
      break;
    case drv::STATUS_TOO_MANY_SESSIONS:
      name = "STATUS_TOO_MANY_SESSIONS";
      break;
    case drv::STATUS_DELETE_PENDING:
      name = "STATUS_DELETE_PENDING";
      break;
    case drv::STATUS_CANCELLED:
      name = "STATUS_CANCELLED";
      break;
    case drv::STATUS_DEVICE_NOT_CONNECTED:
      name = "STATUS_DEVICE_NOT_CONNECTED";
      break;
    case drv::STATUS_TOO_MANY_OPENED_FILES:
      name = "STATUS_TOO_MANY_OPENED_FILES";
      break;
    case drv::STATUS_INSUFFICIENT_RESOURCES:
      name = "STATUS_INSUFFICIENT_RESOURCES";
      break;
    default:
      return std::string("status ") + hex;
  }
  return std::string(name) + " " + hex;
}

std::optional<Sample> SampleOf(pid_t pid) {
  Sample sample;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  if (!status) return std::nullopt;
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) sample.threads = std::atol(line.c_str() + 8);
    if (line.rfind("VmRSS:", 0) == 0) sample.residentKiB = std::atol(line.c_str() + 6);
  }
  std::error_code ec;
  for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), last;
       !ec && it != last; it.increment(ec))
    ++sample.descriptors;
  return sample;
}

void WriteAll(int fd, const std::string& text) {
  for (std::size_t sent = 0; sent < text.size();) {
    const ssize_t n = ::write(fd, text.data() + sent, text.size() - sent);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

}  // namespace vantrel::soak
