#include "link/SocketDeviceLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <k27/common/Log.h>
#include <k27/common/SeqPacketSocket.h>
#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/protocol/ControlProtocol.h>

#include "shared/BoardGroup.h"

namespace vantrel {

using driver::ControlProtocol;

namespace {

// The group that grants access: the socket's own, or its folder's when the
// socket cannot be looked at (the folder is closed to us).
void ReportNoAccess(const std::string& socketPath, int error) {
  const std::string folder = std::filesystem::path(socketPath).parent_path().string();
  struct stat status {};
  std::string advice;
  if (::stat(socketPath.c_str(), &status) == 0)
    advice = shared::JoinGroupAdvice(status.st_gid, "the socket " + socketPath);
  else if (::stat(folder.c_str(), &status) == 0)
    advice = shared::JoinGroupAdvice(status.st_gid, "the device folder " + folder);
  else
    advice = "the boards are for members of the group that owns the device folder " + folder +
             "; join it with 'sudo usermod -aG GROUP $USER' and log in again.";
  vantrel::common::LogError("vantrelusb: no access to " + socketPath + " (" + std::strerror(error) +
                            "): " + advice);
}

using Clock = std::chrono::steady_clock;

enum class Wait { kReady, kTimedOut, kBroken };

// Waits until the socket is ready for `events` or the deadline passes.
Wait WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return Wait::kTimedOut;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) return Wait::kReady;
    if (ready < 0 && errno != EINTR) return Wait::kBroken;
  }
}

// One datagram already queued, without waiting. A daemon that closed its end
// with our request unread leaves a reset to be reported once before the
// replies it sent can be read.
ssize_t ReceiveQueued(int fd, msghdr& message) {
  bool resetSeen = false;
  for (;;) {
    const ssize_t received = ::recvmsg(fd, &message, MSG_DONTWAIT);
    if (received >= 0 || errno == EAGAIN || errno == EWOULDBLOCK) return received;
    if (errno == EINTR) continue;
    if (errno != ECONNRESET || resetSeen) return -1;
    resetSeen = true;
  }
}

}  // namespace

int SocketDeviceLink::ReplyTimeoutMs() { return ControlProtocol::ReplyTimeoutMs(); }

std::string SocketDeviceLink::DeviceDirectory() { return ControlProtocol::DeviceDirectory(); }

std::unique_ptr<SocketDeviceLink> SocketDeviceLink::Open(int deviceIndex) {
  if (deviceIndex < 0) return nullptr;
  return Connect(DeviceDirectory() + "/" + ControlProtocol::SocketName(deviceIndex));
}

std::unique_ptr<SocketDeviceLink> SocketDeviceLink::Connect(const std::string& socketPath) {
  // A path too long for a socket address names no board.
  const auto address = vantrel::common::UnixAddress(socketPath);
  if (!address) return nullptr;
  vantrel::common::UniqueFd fd = vantrel::common::ConnectSeqPacket(*address);
  if (!fd) {
    // A missing board is ordinary; a refused one needs the user's attention,
    // and init's result cannot say why.
    const int error = errno;
    if (error == EACCES || error == EPERM) ReportNoAccess(socketPath, error);
    return nullptr;
  }
  return std::unique_ptr<SocketDeviceLink>(new SocketDeviceLink(std::move(fd), ReplyTimeoutMs()));
}

SocketDeviceLink::~SocketDeviceLink() { Close(); }

bool SocketDeviceLink::Drop() {
  if (!fd_) return false;
  fd_.Reset();
  return true;
}

bool SocketDeviceLink::Close() {
  if (released_) return false;
  released_ = true;
  Drop();
  return true;
}

// The daemon closed the connection before taking a request: a refused
// connection's one reply may still be waiting to be read.
LinkResult SocketDeviceLink::ReplyLeftBehind() {
  std::uint8_t header[ControlProtocol::kReplyHeader];
  iovec part{header, sizeof header};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const ssize_t received = ReceiveQueued(fd_.Get(), message);
  Drop();
  if (received <= 0) return LinkResult::Lost();
  const auto decoded = driver::DecodeReply(
      std::span<const std::uint8_t>(header, static_cast<std::size_t>(received)));
  if (!decoded || !driver::NtFailed(decoded->status)) return LinkResult::Lost();
  return LinkResult::Failed(decoded->status, decoded->information);
}

LinkResult SocketDeviceLink::Control(std::uint32_t code, std::span<const std::uint8_t> in,
                                     std::span<std::uint8_t> out, std::uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  if (!fd_) return LinkResult::Lost();
  // Larger than any request may be: refused here, as the daemon would.
  if (in.size() > ControlProtocol::kMaxPayload || out.size() > ControlProtocol::kMaxPayload)
    return LinkResult::Failed(driver::STATUS_INVALID_PARAMETER, 0);

  auto header = driver::EncodeRequestHeader(code, static_cast<std::uint32_t>(in.size()),
                                            static_cast<std::uint32_t>(out.size()));
  // Codes whose output buffer carries data to the device send it along.
  const auto outSent = driver::SentOutput(code, out);
  iovec request[3] = {{header.data(), header.size()},
                      {const_cast<std::uint8_t*>(in.data()), in.size()},
                      {const_cast<std::uint8_t*>(outSent.data()), outSent.size()}};
  msghdr message{};
  message.msg_iov = request;
  message.msg_iovlen = 3;
  // A stopped or wedged daemon neither takes the request nor answers it:
  // both waits share one deadline.
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  ssize_t sent;
  for (;;) {
    sent = ::sendmsg(fd_.Get(), &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) break;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return ReplyLeftBehind();
    const Wait wait = WaitFor(fd_.Get(), POLLOUT, deadline);
    if (wait != Wait::kReady) {
      Drop();
      return wait == Wait::kTimedOut ? LinkResult::NoReply() : LinkResult::Lost();
    }
  }
  if (sent != static_cast<ssize_t>(header.size() + in.size() + outSent.size())) {
    Drop();
    return LinkResult::Lost();
  }

  // The reply lands in a scratch buffer first: a failed request must leave the
  // caller's output untouched. It has room for the header and the whole
  // output buffer; a longer reply is cut short and refused.
  const std::size_t room = ControlProtocol::kReplyHeader + out.size();
  std::uint8_t small[ControlProtocol::kReplyHeader + 256];
  std::unique_ptr<std::uint8_t[]> large;
  std::uint8_t* scratch = small;
  if (room > sizeof small) {
    large = std::make_unique<std::uint8_t[]>(room);
    scratch = large.get();
  }
  iovec reply{scratch, room};
  msghdr answer{};
  answer.msg_iov = &reply;
  answer.msg_iovlen = 1;
  ssize_t received;
  for (;;) {
    const Wait wait = WaitFor(fd_.Get(), POLLIN, deadline);
    if (wait != Wait::kReady) {
      Drop();
      return wait == Wait::kTimedOut ? LinkResult::NoReply() : LinkResult::Lost();
    }
    received = ReceiveQueued(fd_.Get(), answer);
    if (received >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) break;
  }
  // An error, the end of the connection (an empty datagram) or a reply that
  // is not one: the daemon is gone, or speaks another protocol.
  const auto decoded = received < 0 || (answer.msg_flags & MSG_TRUNC) != 0
                           ? std::nullopt
                           : driver::DecodeReply(std::span<const std::uint8_t>(
                                 scratch, static_cast<std::size_t>(received)));
  if (!decoded) {
    Drop();
    return LinkResult::Lost();
  }
  if (driver::NtFailed(decoded->status))
    return LinkResult::Failed(decoded->status, decoded->information);
  // The datagram carries the output bytes; information is the code's own
  // count (0 for the isochronous transfers, whose output comes back whole).
  const std::size_t count = decoded->OutputCount(out.size());
  if (count != 0) std::memcpy(out.data(), decoded->output.data(), count);
  if (returned != nullptr) *returned = decoded->Returned(out.size());
  return LinkResult::Completed(decoded->status, decoded->information);
}

}  // namespace vantrel
