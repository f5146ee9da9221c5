#include "ControlServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "vantrel/driver/ControlCodes.h"
#include "vantrel/driver/ControlProtocol.h"

namespace vantrel::driver {

namespace {

using P = ControlProtocol;

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_un SocketAddress(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string text = path.string();
  if (text.size() >= sizeof(address.sun_path))
    throw std::runtime_error("socket path too long: " + text);
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return address;
}

// A socket file left by a daemon that is gone may be replaced; a file that is
// not a socket, or a socket that some process still serves, may not.
void RemoveStaleSocket(const std::filesystem::path& path, const sockaddr_un& address) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    ThrowErrno("cannot stat " + path.string());
  }
  if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(path.string() + " exists and is not a socket");
  const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (probe < 0) ThrowErrno("socket");
  const int rc = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  const int error = errno;
  ::close(probe);
  if (rc == 0 || error == EAGAIN || error == EINPROGRESS)
    throw std::runtime_error(path.string() + " is served by another process");
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowErrno("cannot remove " + path.string());
}

// Who is on the other end, as the kernel saw it at connect.
std::string PeerOf(int fd) {
  ::ucred peer{};
  socklen_t size = sizeof(peer);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return " (peer unknown)";
  return " by pid " + std::to_string(peer.pid) + " uid " + std::to_string(peer.uid) + " gid " +
         std::to_string(peer.gid);
}

}  // namespace

// Sends one whole reply; waits while the client's queue is full, until it
// drains or the server stops.
bool ControlServer::SendReply(int fd, const msghdr& message) const {
  for (;;) {
    // Never blocks: a client that does not read must not hold up Stop.
    if (::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents != 0) return false;
  }
}

ControlServer::ControlServer(std::filesystem::path deviceDir, std::vector<ControlHandler*> handlers,
                             Log log)
    : deviceDir_(std::move(deviceDir)), handlers_(std::move(handlers)), log_(std::move(log)) {
  for (std::size_t i = 0; i < handlers_.size(); ++i)
    names_.push_back(std::string(P::kSocketPrefix) + std::to_string(i));
}

void ControlServer::SetGroup(gid_t group) {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  if (running_) throw std::logic_error("the group is set before Start");
  group_ = group;
}

int ControlServer::AddEndpoint(std::string name, ControlHandler* handler) {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  if (running_) throw std::logic_error("endpoints are added before Start");
  handlers_.push_back(handler);
  names_.push_back(std::move(name));
  return static_cast<int>(handlers_.size()) - 1;
}

ControlServer::~ControlServer() { Stop(); }

std::filesystem::path ControlServer::SocketPath(int instance) const {
  return deviceDir_ / names_.at(static_cast<std::size_t>(instance));
}

void ControlServer::Message(const std::string& text) const {
  if (log_) log_(text);
}

void ControlServer::CreateListener(int instance) {
  Listener listener;
  listener.instance = instance;
  listener.path = SocketPath(instance);
  const sockaddr_un address = SocketAddress(listener.path);
  RemoveStaleSocket(listener.path, address);

  listener.fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener.fd < 0) ThrowErrno("socket");
  // Owned by listeners_ from here on, so that a failure below closes it.
  listeners_.push_back(listener);
  Listener& entry = listeners_.back();
  if (::bind(entry.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const int error = errno;
    ::close(entry.fd);
    listeners_.pop_back();
    errno = error;
    ThrowErrno("cannot bind " + listener.path.string());
  }
  struct stat st {};
  if (::lstat(entry.path.c_str(), &st) != 0) {
    const int error = errno;
    ::unlink(entry.path.c_str());
    errno = error;
    ThrowErrno("cannot stat " + entry.path.string());
  }
  entry.device = st.st_dev;
  entry.inode = st.st_ino;
  // Before listen: nobody can connect while the mode is still the umask's.
  if (group_ && ::chown(entry.path.c_str(), static_cast<uid_t>(-1), *group_) != 0)
    ThrowErrno("cannot give " + entry.path.string() + " to group " + std::to_string(*group_));
  if (::chmod(entry.path.c_str(), 0660) != 0) ThrowErrno("cannot set the mode of " + entry.path.string());
  if (::listen(entry.fd, SOMAXCONN) != 0) ThrowErrno("cannot listen on " + entry.path.string());
}

void ControlServer::Start() {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  if (running_) return;
  for (ControlHandler* handler : handlers_)
    if (handler == nullptr) throw std::invalid_argument("every instance needs a handler");

  std::error_code ec;
  if (!std::filesystem::is_directory(deviceDir_, ec)) {
    if (!std::filesystem::create_directories(deviceDir_, ec) && ec)
      throw std::system_error(ec, "cannot create " + deviceDir_.string());
    // A folder that was there already keeps what its owner gave it.
    if (group_ && ::chown(deviceDir_.c_str(), static_cast<uid_t>(-1), *group_) != 0)
      ThrowErrno("cannot give " + deviceDir_.string() + " to group " + std::to_string(*group_));
    std::filesystem::permissions(deviceDir_, std::filesystem::perms(0770),
                                 std::filesystem::perm_options::replace, ec);
  }

  stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) ThrowErrno("eventfd");
  try {
    for (std::size_t i = 0; i < handlers_.size(); ++i) CreateListener(static_cast<int>(i));
    acceptThread_ = std::thread([this] { AcceptLoop(); });
  } catch (...) {
    CloseListeners();
    ::close(stopFd_);
    stopFd_ = -1;
    throw;
  }
  running_ = true;
  for (const Listener& listener : listeners_) Message("listening on " + listener.path.string());
}

void ControlServer::CloseListeners() {
  for (Listener& listener : listeners_) {
    if (listener.fd >= 0) ::close(listener.fd);
    listener.fd = -1;
    // Remove the socket only while it is still the one bound here.
    struct stat st {};
    if (::lstat(listener.path.c_str(), &st) == 0 && st.st_dev == listener.device &&
        st.st_ino == listener.inode)
      ::unlink(listener.path.c_str());
  }
  listeners_.clear();
}

void ControlServer::Stop() {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  if (!running_) return;
  running_ = false;

  const std::uint64_t one = 1;
  // The event stays readable: every thread's poll sees it.
  while (::write(stopFd_, &one, sizeof(one)) < 0 && errno == EINTR) {
  }
  if (acceptThread_.joinable()) acceptThread_.join();

  std::list<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> connectionsLock(connectionsMutex_);
    connections.swap(connections_);
  }
  // Only the receiving side: it wakes each thread's blocking receive, while a
  // reply still being sent (a board removed during an exchange answers its
  // request with a failure) goes out before the connection closes. A thread
  // waiting on a client that does not read sees the stop event instead.
  for (auto& connection : connections) ::shutdown(connection->fd, SHUT_RD);
  for (auto& connection : connections) {
    if (connection->thread.joinable()) connection->thread.join();
    ::close(connection->fd);
  }
  CloseListeners();
  ::close(stopFd_);
  stopFd_ = -1;
  Message("stopped");
}

std::size_t ControlServer::ActiveConnections() const {
  std::lock_guard<std::mutex> lock(connectionsMutex_);
  return static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(),
                                                [](const auto& c) { return !c->finished.load(); }));
}

void ControlServer::ReapFinished() {
  std::list<std::unique_ptr<Connection>> done;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished.load()) {
        auto next = std::next(it);
        done.splice(done.end(), connections_, it);
        it = next;
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : done) {
    if (connection->thread.joinable()) connection->thread.join();
    ::close(connection->fd);
  }
}

void ControlServer::AcceptLoop() {
  std::vector<pollfd> fds;
  fds.push_back({stopFd_, POLLIN, 0});
  for (const Listener& listener : listeners_) fds.push_back({listener.fd, POLLIN, 0});

  for (;;) {
    for (pollfd& p : fds) p.revents = 0;
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      Message(std::string("poll failed: ") + std::strerror(errno));
      return;
    }
    if (fds[0].revents != 0) return;
    ReapFinished();
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      const Listener& listener = listeners_[i - 1];
      // Non-blocking, so that a client that does not read its replies
      // cannot hold a thread in a send that Stop could not wake.
      const int fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          Message(std::string("cannot accept: ") + std::strerror(errno));
          // Out of descriptors or memory: give connections time to end
          // instead of spinning on the pending one.
          pollfd stop{stopFd_, POLLIN, 0};
          ::poll(&stop, 1, 100);
        }
        continue;
      }
      auto connection = std::make_unique<Connection>();
      connection->fd = fd;
      connection->instance = listener.instance;
      Connection& ref = *connection;
      {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        connections_.push_back(std::move(connection));
      }
      Message("connection opened on " + listener.path.filename().string() + PeerOf(fd));
      try {
        ref.thread = std::thread([this, &ref] { Serve(ref); });
      } catch (const std::system_error& e) {
        Message(std::string("cannot start a connection thread: ") + e.what());
        ref.finished.store(true);
      }
    }
  }
}

void ControlServer::Serve(Connection& connection) {
  ControlHandler& handler = *handlers_[static_cast<std::size_t>(connection.instance)];
  const std::string name = names_[static_cast<std::size_t>(connection.instance)];
  std::vector<std::uint8_t> request(P::kRequestHeader + 2 * P::kMaxPayload);
  std::vector<std::uint8_t> output;
  if (!handler.Open()) {
    Message("open refused on " + name);
    ::shutdown(connection.fd, SHUT_RDWR);
    connection.finished.store(true);
    return;
  }

  for (;;) {
    // The receive blocks: Stop wakes it by shutting the socket down. No poll
    // before it, so that an exchange costs the daemon two system calls.
    // MSG_TRUNC: the result is the message's real length, also when it did
    // not fit; the rest of such a message is dropped.
    const ssize_t received = ::recv(connection.fd, request.data(), request.size(), MSG_TRUNC);
    if (received < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    if (received == 0) {
      // Either the client closed its end or it sent an empty message.
      pollfd hangup{connection.fd, POLLRDHUP, 0};
      if (::poll(&hangup, 1, 0) != 0) break;
    }
    const auto length = static_cast<std::size_t>(received);

    ControlResult result{STATUS_INVALID_PARAMETER, 0};
    std::uint32_t outLength = 0;
    if (length >= P::kRequestHeader && length <= request.size()) {
      const std::uint32_t code = LoadLe32(request.data());
      const std::uint32_t inLength = LoadLe32(request.data() + 4);
      outLength = LoadLe32(request.data() + 8);
      const bool outputSent = P::SendsOutputBuffer(code);
      if (inLength <= P::kMaxPayload && outLength <= P::kMaxPayload &&
          length - P::kRequestHeader == inLength + (outputSent ? outLength : 0)) {
        output.assign(outLength, 0);
        if (outputSent)
          std::copy_n(request.begin() + static_cast<std::ptrdiff_t>(P::kRequestHeader + inLength),
                      outLength, output.begin());
        result = handler.Control(code, std::span(request).subspan(P::kRequestHeader, inLength),
                                 std::span(output));
      }
    }

    std::uint8_t header[P::kReplyHeader];
    StoreLe32(header, result.status);
    std::size_t outBytes = 0;
    if (!NtFailed(result.status)) outBytes = std::min<std::size_t>(result.information, outLength);
    StoreLe32(header + 4, NtFailed(result.status) ? result.information
                                                : static_cast<std::uint32_t>(outBytes));
    iovec parts[2] = {{header, sizeof(header)}, {output.data(), outBytes}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = outBytes > 0 ? 2 : 1;
    if (!SendReply(connection.fd, message)) break;  // the client is gone, or Stop
  }
  handler.Close();
  Message("connection closed on " + name);
  connection.finished.store(true);
}

}  // namespace vantrel::driver
