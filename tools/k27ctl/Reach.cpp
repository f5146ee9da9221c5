#include "Reach.h"

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vantrel/protocol/ControlProtocol.h>

namespace vantrel::ctl {

namespace {

using vantrel::driver::ControlProtocol;

std::string GroupName(gid_t group) {
  std::string buffer(4096, '\0');
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->gr_name;
  return std::to_string(group);
}

// The group that grants access to `path`, or to its folder when the path
// itself cannot be looked at.
Failure NoAccess(const std::string& path, const std::string& folder) {
  struct stat status {};
  std::string group = "that owns " + folder;
  if (::stat(path.c_str(), &status) == 0 || ::stat(folder.c_str(), &status) == 0)
    group = GroupName(status.st_gid);
  return Failure("cannot reach the socket " + path + " (permission: join group " + group +
                     " with 'sudo usermod -aG " + group + " $USER' and log in again)",
                 "NO_ACCESS");
}

// The errno of a connection attempt to `path`; 0 when it connected.
int TryConnect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return ENAMETOOLONG;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return errno;
  const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = result == 0 ? 0 : errno;
  ::close(fd);
  return error == EAGAIN || error == EINPROGRESS ? 0 : error;
}

}  // namespace

int ReplyTimeoutMs() { return ControlProtocol::ReplyTimeoutMs(); }

Failure WhyUnreachable(int instance, std::int64_t waitedMs) {
  const std::string folder = ControlProtocol::DeviceDirectory();
  const std::string path = folder + "/" + ControlProtocol::SocketName(instance);
  const std::string board = "board " + std::to_string(instance);
  const std::string lookForDaemon = " (is vantrelio running?)";
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (errno == EACCES) return NoAccess(path, folder);
    return Failure("no daemon serves " + board + ": there is no socket " + path + lookForDaemon,
                   "NO_DAEMON");
  }
  const int error = TryConnect(path);
  if (error == EACCES || error == EPERM) return NoAccess(path, folder);
  if (error == ECONNREFUSED || error == ENOENT || error == ENOTSOCK)
    return Failure("no daemon serves " + board + ": nothing listens on " + path + lookForDaemon,
                   "NO_DAEMON");
  const int limit = ReplyTimeoutMs();
  if (waitedMs >= limit - 10) {
    char waited[32];
    std::snprintf(waited, sizeof waited, "%.3g", limit / 1000.0);
    return Failure("the daemon does not answer for " + board + " on " + path + " (waited " +
                       waited + " s; it may be stopped or overloaded; see --timeout)",
                   "NO_ANSWER");
  }
  return Failure(board + " is not there: the daemon on " + path +
                     " has no board behind it now (see k27ctl list)",
                 "NOT_THERE");
}

}  // namespace vantrel::ctl
