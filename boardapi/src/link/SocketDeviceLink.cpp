#include "link/SocketDeviceLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <vantrel/driver/ControlCodes.h>
#include <vantrel/driver/ControlProtocol.h>

namespace vantrel {

using driver::ControlProtocol;

namespace {

void ReportNoAccess(const std::string& socketPath, int error) {
  std::fprintf(stderr,
               "vantrelusb: no access to %s (%s): the boards are for members of the group\n"
               "that owns the device folder and its sockets (vantrel unless the daemon was\n"
               "given --group). Join it with 'sudo usermod -aG vantrel $USER' and log in again.\n",
               socketPath.c_str(), std::strerror(error));
}

using Clock = std::chrono::steady_clock;

// Waits until the socket is ready for `events` or the deadline passes.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

int SocketDeviceLink::ReplyTimeoutMs() {
  constexpr long kMaxTimeoutMs = 3'600'000;
  const char* text = std::getenv(kReplyTimeoutEnv);
  if (text == nullptr || *text == '\0') return kDefaultReplyTimeoutMs;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > kMaxTimeoutMs)
    return kDefaultReplyTimeoutMs;
  return static_cast<int>(value);
}

std::string SocketDeviceLink::DeviceDirectory() {
  const char* dir = std::getenv(ControlProtocol::kDeviceDirEnv);
  return (dir != nullptr && *dir != '\0') ? dir : ControlProtocol::kDefaultDeviceDir;
}

std::unique_ptr<SocketDeviceLink> SocketDeviceLink::Open(int deviceIndex) {
  if (deviceIndex < 0) return nullptr;
  return Connect(DeviceDirectory() + "/" + ControlProtocol::kSocketPrefix +
                 std::to_string(deviceIndex));
}

std::unique_ptr<SocketDeviceLink> SocketDeviceLink::Connect(const std::string& socketPath) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof address.sun_path) return nullptr;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd);
    // A missing board is ordinary; a refused one needs the user's attention,
    // and init's result cannot say why.
    if (error == EACCES || error == EPERM) ReportNoAccess(socketPath, error);
    return nullptr;
  }
  return std::unique_ptr<SocketDeviceLink>(new SocketDeviceLink(fd, ReplyTimeoutMs()));
}

SocketDeviceLink::~SocketDeviceLink() { Close(); }

bool SocketDeviceLink::Drop() {
  if (fd_ < 0) return false;
  ::close(fd_);
  fd_ = -1;
  return true;
}

bool SocketDeviceLink::Close() {
  if (released_) return false;
  released_ = true;
  Drop();
  return true;
}

bool SocketDeviceLink::Control(std::uint32_t code, std::span<const std::uint8_t> in,
                               std::span<std::uint8_t> out, std::uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  if (fd_ < 0) return false;
  if (in.size() > ControlProtocol::kMaxPayload || out.size() > ControlProtocol::kMaxPayload)
    return false;

  std::uint8_t header[ControlProtocol::kRequestHeader];
  driver::StoreLe32(header, code);
  driver::StoreLe32(header + 4, static_cast<std::uint32_t>(in.size()));
  driver::StoreLe32(header + 8, static_cast<std::uint32_t>(out.size()));
  // Codes whose output buffer carries data to the device send it along.
  const std::size_t outSent = ControlProtocol::SendsOutputBuffer(code) ? out.size() : 0;
  iovec request[3] = {{header, sizeof header},
                      {const_cast<std::uint8_t*>(in.data()), in.size()},
                      {out.data(), outSent}};
  msghdr message{};
  message.msg_iov = request;
  message.msg_iovlen = 3;
  // A stopped or wedged daemon neither takes the request nor answers it:
  // both waits share one deadline.
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  ssize_t sent;
  for (;;) {
    sent = ::sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!WaitFor(fd_, POLLOUT, deadline)) {
      Drop();
      return false;
    }
  }
  if (sent != static_cast<ssize_t>(sizeof header + in.size() + outSent)) return false;

  // The reply lands in a scratch buffer first: a failed request must leave the
  // caller's output untouched.
  std::uint8_t replyHeader[ControlProtocol::kReplyHeader];
  std::uint8_t small[256];
  std::unique_ptr<std::uint8_t[]> large;
  std::uint8_t* body = small;
  if (out.size() > sizeof small) {
    large = std::make_unique<std::uint8_t[]>(out.size());
    body = large.get();
  }
  iovec reply[2] = {{replyHeader, sizeof replyHeader}, {body, out.size()}};
  msghdr answer{};
  answer.msg_iov = reply;
  answer.msg_iovlen = out.empty() ? 1 : 2;
  ssize_t received;
  for (;;) {
    if (!WaitFor(fd_, POLLIN, deadline)) {
      Drop();
      return false;
    }
    received = ::recvmsg(fd_, &answer, MSG_DONTWAIT);
    if (received >= 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) break;
  }
  if (received < static_cast<ssize_t>(sizeof replyHeader)) return false;  // daemon gone
  if (answer.msg_flags & MSG_TRUNC) return false;

  const std::uint32_t status = driver::LoadLe32(replyHeader);
  if (driver::NtFailed(status)) return false;
  // The datagram carries the output bytes; information is the code's own
  // count (0 for the isochronous transfers, whose output comes back whole).
  const std::size_t information = driver::LoadLe32(replyHeader + 4);
  const std::size_t bodyBytes = static_cast<std::size_t>(received) - sizeof replyHeader;
  const std::size_t count = bodyBytes < out.size() ? bodyBytes : out.size();
  if (count != 0) std::memcpy(out.data(), body, count);
  if (returned != nullptr)
    *returned = static_cast<std::uint32_t>(information < count ? information : count);
  return true;
}

}  // namespace vantrel
