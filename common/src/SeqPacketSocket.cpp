#include "k27/common/SeqPacketSocket.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace vantrel::common {

namespace {

const sockaddr* AsSockaddr(const sockaddr_un& address) {
  return reinterpret_cast<const sockaddr*>(&address);
}

}  // namespace

std::optional<sockaddr_un> UnixAddress(std::string_view path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.find('\0') != std::string_view::npos) {
    errno = EINVAL;
    return std::nullopt;
  }
  // The terminator needs its own byte.
  if (path.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return std::nullopt;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  address.sun_path[path.size()] = '\0';
  return address;
}

std::string SocketPathError(std::string_view path) {
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path))
    return "socket path too long: " + std::string(path) + " (at most " +
           std::to_string(sizeof(address.sun_path) - 1) + " characters)";
  return "not a socket path: '" + std::string(path) + "'";
}

UniqueFd NewSeqPacketSocket(int flags) {
  const int type = SOCK_SEQPACKET | SOCK_CLOEXEC | ((flags & kNonBlocking) ? SOCK_NONBLOCK : 0);
  return UniqueFd(KeepOffStandardStreams(::socket(AF_UNIX, type, 0)));
}

UniqueFd ConnectSeqPacket(const sockaddr_un& address, int flags) {
  UniqueFd fd = NewSeqPacketSocket(flags);
  if (!fd) return fd;
  if (::connect(fd.Get(), AsSockaddr(address), sizeof(address)) != 0) {
    const int error = errno;
    fd.Reset();
    errno = error;
  }
  return fd;
}

UniqueFd ConnectSeqPacket(std::string_view path, int flags) {
  const auto address = UnixAddress(path);
  if (!address) return UniqueFd();
  return ConnectSeqPacket(*address, flags);
}

UniqueFd BindSeqPacket(const sockaddr_un& address, int flags) {
  UniqueFd fd = NewSeqPacketSocket(flags);
  if (!fd) return fd;
  if (::bind(fd.Get(), AsSockaddr(address), sizeof(address)) != 0) {
    const int error = errno;
    fd.Reset();
    errno = error;
  }
  return fd;
}

bool Listen(const UniqueFd& socket, int backlog) { return ::listen(socket.Get(), backlog) == 0; }

UniqueFd AcceptSeqPacket(const UniqueFd& listener) {
  return UniqueFd(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

}  // namespace vantrel::common
