// Connected-datagram (SOCK_SEQPACKET) Unix sockets, as the daemon serves its
// boards and its clients reach them. Failures leave the reason in errno and
// return an empty descriptor; nothing is left open on any path.
#pragma once

#include <sys/un.h>

#include <optional>
#include <string>
#include <string_view>

#include "k27/common/UniqueFd.h"

namespace vantrel::common {

// The address of the socket file `path`, the path copied with its
// terminator; none (errno ENAMETOOLONG) when it does not fit, or (EINVAL)
// when it is empty or holds a NUL.
std::optional<sockaddr_un> UnixAddress(std::string_view path);

// The message for a path that UnixAddress refuses, naming it.
std::string SocketPathError(std::string_view path);

enum SocketFlags : int {
  kBlocking = 0,
  kNonBlocking = 1,
};

// A new, unconnected SOCK_SEQPACKET socket (close-on-exec).
UniqueFd NewSeqPacketSocket(int flags = kBlocking);

// Connects to the socket file `path`.
UniqueFd ConnectSeqPacket(std::string_view path, int flags = kBlocking);
UniqueFd ConnectSeqPacket(const sockaddr_un& address, int flags = kBlocking);

// A socket bound to `address`, not yet listening: its file can be given its
// owner and mode before anyone may connect.
UniqueFd BindSeqPacket(const sockaddr_un& address, int flags = kBlocking);
bool Listen(const UniqueFd& socket, int backlog);

// The next pending connection (close-on-exec, blocking).
UniqueFd AcceptSeqPacket(const UniqueFd& listener);

}  // namespace vantrel::common
