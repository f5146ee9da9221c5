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
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "RequestCodec.h"
#include "k27/common/SeqPacketSocket.h"
#include "vantrel/protocol/ControlCodes.h"
#include "vantrel/protocol/ControlProtocol.h"

namespace vantrel::driver {

namespace {

using P = ControlProtocol;
using vantrel::common::UniqueFd;

std::uint32_t Clamped(std::size_t limit) {
  return static_cast<std::uint32_t>(std::min<std::size_t>(limit, UINT32_MAX));
}

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_un SocketAddress(const std::filesystem::path& path) {
  const auto address = vantrel::common::UnixAddress(path.string());
  if (!address) throw std::runtime_error(vantrel::common::SocketPathError(path.string()));
  return *address;
}

// A socket file left by a daemon that is gone may be replaced; a file that is
// not a socket, or a socket that some process still serves, may not.
void RemoveStaleSocket(const std::filesystem::path& path, const sockaddr_un& address) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    ThrowErrno("cannot stat " + path.string());
  }
  if (!S_ISSOCK(st.st_mode))
    throw std::runtime_error(path.string() + " exists and is not a socket");
  UniqueFd probe = vantrel::common::NewSeqPacketSocket(vantrel::common::kNonBlocking);
  if (!probe) ThrowErrno("socket");
  const int rc =
      ::connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  const int error = errno;
  probe.Reset();
  if (rc == 0 || error == EAGAIN || error == EINPROGRESS)
    throw std::runtime_error(path.string() + " is served by another process");
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowErrno("cannot remove " + path.string());
}

void Signal(int eventFd) {
  const std::uint64_t one = 1;
  while (::write(eventFd, &one, sizeof(one)) < 0 && errno == EINTR) {
  }
}

// A reply that no request asked for: the connection's only message before
// it is closed. The client finds it when it reads its first reply.
void SendRefusal(int fd, std::uint32_t status, std::uint32_t limit) {
  const auto header = EncodeRefusal(status, limit);
  // Never waits: a fresh connection's queue has room, and a refusal must
  // not hold up the accepting thread.
  (void)::send(fd, header.data(), header.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
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
    pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd_.Get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents != 0) return false;
  }
}

ControlServer::ControlServer(std::filesystem::path deviceDir, Log log)
    : deviceDir_(std::move(deviceDir)), log_(std::move(log)) {}

void ControlServer::SetLimits(Limits limits) {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  if (running_) throw std::logic_error("the limits are set before Start");
  limits_ = std::move(limits);
}

void ControlServer::SetAccessPolicy(AccessPolicy policy) {
  std::lock_guard<std::mutex> lock(lifecycleMutex_);
  if (running_) throw std::logic_error("the access policy is set before Start");
  access_ = std::move(policy);
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

void ControlServer::Report(const std::string& text) const {
  if (limits_.report)
    limits_.report(text);
  else
    Message(text);
}

void ControlServer::Report(const std::optional<std::string>& line) const {
  if (line) Report(*line);
}

void ControlServer::CreateListener(int instance) {
  Listener listener;
  listener.instance = instance;
  listener.path = SocketPath(instance);
  const sockaddr_un address = SocketAddress(listener.path);
  RemoveStaleSocket(listener.path, address);

  listener.fd = vantrel::common::BindSeqPacket(address, vantrel::common::kNonBlocking);
  if (!listener.fd) ThrowErrno("cannot bind " + listener.path.string());
  struct stat st {};
  if (::lstat(listener.path.c_str(), &st) != 0) {
    const int error = errno;
    ::unlink(listener.path.c_str());
    errno = error;
    ThrowErrno("cannot stat " + listener.path.string());
  }
  listener.device = st.st_dev;
  listener.inode = st.st_ino;
  // Owned by listeners_ from here on: a failure below closes the socket and
  // removes its file.
  listeners_.push_back(std::move(listener));
  Listener& entry = listeners_.back();
  // Before listen: nobody can connect while the mode is still the umask's.
  if (group_ && ::chown(entry.path.c_str(), static_cast<uid_t>(-1), *group_) != 0)
    ThrowErrno("cannot give " + entry.path.string() + " to group " + std::to_string(*group_));
  if (::chmod(entry.path.c_str(), 0660) != 0)
    ThrowErrno("cannot set the mode of " + entry.path.string());
  if (!vantrel::common::Listen(entry.fd, SOMAXCONN))
    ThrowErrno("cannot listen on " + entry.path.string());
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

  stopFd_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!stopFd_) ThrowErrno("eventfd");
  reapFd_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!reapFd_) {
    const int error = errno;
    stopFd_.Reset();
    errno = error;
    ThrowErrno("eventfd");
  }
  {
    std::lock_guard<std::mutex> connectionsLock(connectionsMutex_);
    open_.assign(handlers_.size(), 0);
    openByUid_.assign(handlers_.size(), {});
  }
  try {
    for (std::size_t i = 0; i < handlers_.size(); ++i) CreateListener(static_cast<int>(i));
    acceptThread_ = std::thread([this] { AcceptLoop(); });
  } catch (...) {
    CloseListeners();
    stopFd_.Reset();
    reapFd_.Reset();
    throw;
  }
  running_ = true;
  for (const Listener& listener : listeners_) Message("listening on " + listener.path.string());
}

void ControlServer::CloseListeners() {
  for (Listener& listener : listeners_) {
    listener.fd.Reset();
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

  // The event stays readable: every thread's poll sees it.
  Signal(stopFd_.Get());
  if (acceptThread_.joinable()) acceptThread_.join();

  std::list<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> connectionsLock(connectionsMutex_);
    // Only the receiving side: it wakes each thread's blocking receive,
    // while a reply still being sent (a board removed during an exchange
    // answers its request with a failure) goes out before the connection
    // closes. A thread waiting on a client that does not read sees the stop
    // event instead.
    for (auto& connection : connections_)
      if (connection->fd) ::shutdown(connection->fd.Get(), SHUT_RD);
    connections.swap(connections_);
  }
  for (auto& connection : connections)
    if (connection->thread.joinable()) connection->thread.join();
  {
    std::lock_guard<std::mutex> connectionsLock(connectionsMutex_);
    for (auto& connection : connections) ReleaseLocked(*connection);
  }
  CloseListeners();
  stopFd_.Reset();
  reapFd_.Reset();
  Message("stopped");
}

std::size_t ControlServer::ActiveConnections() const {
  std::lock_guard<std::mutex> lock(connectionsMutex_);
  return static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(),
                                                [](const auto& c) { return !c->finished.load(); }));
}

std::size_t ControlServer::HeldConnections() const {
  std::lock_guard<std::mutex> lock(connectionsMutex_);
  return connections_.size();
}

void ControlServer::ReleaseLocked(Connection& connection) {
  if (!connection.fd) return;
  connection.fd.Reset();
  const auto instance = static_cast<std::size_t>(connection.instance);
  --open_[instance];
  auto& byUid = openByUid_[instance];
  if (auto held = byUid.find(connection.uid); held != byUid.end() && --held->second == 0)
    byUid.erase(held);
  if (connection.quotaTaken) limits_.perUid->Give(connection.uid);
  connection.quotaTaken = false;
}

void ControlServer::ReapFinished() {
  std::list<std::unique_ptr<Connection>> done;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if ((*it)->finished.load()) done.splice(done.end(), connections_, it);
      it = next;
    }
  }
  // Each has released its descriptor already; its thread is returning.
  for (auto& connection : done)
    if (connection->thread.joinable()) connection->thread.join();
}

void ControlServer::AcceptLoop() {
  std::vector<pollfd> fds;
  fds.push_back({stopFd_.Get(), POLLIN, 0});
  fds.push_back({reapFd_.Get(), POLLIN, 0});
  for (const Listener& listener : listeners_) fds.push_back({listener.fd.Get(), POLLIN, 0});
  constexpr std::size_t kFirstListener = 2;

  for (;;) {
    for (pollfd& p : fds) p.revents = 0;
    // Woken in time for the log lines that fall due while a refusal or
    // failure goes on.
    int timeoutMs = -1;
    if (const auto due = logLimiter_.UntilDue())
      timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*due).count());
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      Message(std::string("poll failed: ") + std::strerror(errno));
      return;
    }
    for (const std::string& line : logLimiter_.Due()) Report(line);
    if (ready == 0) continue;
    if (fds[0].revents != 0) return;
    if (fds[1].revents != 0) {
      std::uint64_t ended = 0;
      (void)!::read(reapFd_.Get(), &ended, sizeof(ended));
      ReapFinished();
    }
    for (std::size_t i = kFirstListener; i < fds.size(); ++i)
      if ((fds[i].revents & POLLIN) != 0) Accept(listeners_[i - kFirstListener]);
  }
}

bool ControlServer::Admit(int instance, uid_t uid, bool* quotaTaken, Refusal* refusal) {
  const std::string& name = names_[static_cast<std::size_t>(instance)];
  std::size_t& open = open_[static_cast<std::size_t>(instance)];
  if (limits_.perSocket != 0 && open >= limits_.perSocket) {
    *refusal = {name, name + " serves " + std::to_string(open) + " connections, its limit",
                STATUS_TOO_MANY_OPENED_FILES, Clamped(limits_.perSocket)};
    return false;
  }
  std::map<uid_t, std::size_t>& byUid = openByUid_[static_cast<std::size_t>(instance)];
  const auto held = byUid.find(uid);
  const std::size_t mine = held == byUid.end() ? 0 : held->second;
  if (limits_.perUidPerSocket != 0 && mine >= limits_.perUidPerSocket) {
    const std::string user = "uid " + std::to_string(uid);
    *refusal = {user + " on " + name,
                user + " holds " + std::to_string(mine) + " connections to " + name +
                    ", its limit per board",
                STATUS_TOO_MANY_SESSIONS, Clamped(limits_.perUidPerSocket)};
    return false;
  }
  if (limits_.perUid) {
    if (!limits_.perUid->Take(uid)) {
      const std::string user = "uid " + std::to_string(uid);
      const std::size_t limit = limits_.perUid->PerUid();
      *refusal = {user, user + " holds " + std::to_string(limit) + " connections, its limit",
                  STATUS_QUOTA_EXCEEDED, Clamped(limit)};
      return false;
    }
    *quotaTaken = true;
  }
  ++byUid[uid];
  ++open;
  return true;
}

void ControlServer::Refuse(UniqueFd& fd, const Refusal& refusal) {
  SendRefusal(fd.Get(), refusal.status, refusal.limit);
  fd.Reset();
  Report(logLimiter_.Occurred(
      refusal.key, "refusing connections: " + refusal.reason + " (further refusals are counted)",
      "connections refused"));
}

void ControlServer::NoteAdmitted(int instance, uid_t uid) {
  const std::string& name = names_[static_cast<std::size_t>(instance)];
  const std::string user = "uid " + std::to_string(uid);
  for (const std::string& key : {name, user + " on " + name, user})
    Report(logLimiter_.Ended(key, "accepting connections again (" + key + ")"));
}

void ControlServer::AcceptFailed(int error) {
  Report(logLimiter_.Occurred(
      "accept",
      std::string("cannot accept: ") + std::strerror(error) + " (further failures are counted)",
      "failed accepts"));
}

void ControlServer::ThreadFailed(const std::string& what, const std::string& name) {
  Report(logLimiter_.Occurred("connection threads",
                              "cannot start a connection thread: " + what + "; connection on " +
                                  name + " closed (further ones are counted)",
                              "connections closed without a thread"));
}

void ControlServer::Accept(const Listener& listener) {
  UniqueFd accepted;
  if (failAccepts_.load() > 0) {
    failAccepts_.fetch_sub(1);
    errno = EMFILE;
  } else {
    accepted = vantrel::common::AcceptSeqPacket(listener.fd);
  }
  if (!accepted) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      AcceptFailed(errno);
      // Out of descriptors or memory: give connections time to end
      // instead of spinning on the pending one.
      pollfd stop{stopFd_.Get(), POLLIN, 0};
      ::poll(&stop, 1, 100);
    }
    return;
  }
  Report(logLimiter_.Ended("accept", "accepting again"));
  const int fd = accepted.Get();
  const std::optional<PeerCredentials> peer = PeerCredentialsOf(fd);
  // A peer the kernel cannot name counts as one unknown user, without
  // privilege.
  const uid_t uid = peer ? peer->uid : static_cast<uid_t>(-1);
  const std::string name = listener.path.filename().string();

  auto connection = std::make_unique<Connection>();
  connection->fd = std::move(accepted);
  connection->instance = listener.instance;
  connection->uid = uid;
  connection->privileged = !access_ || (peer && access_->Privileged(*peer));
  Connection& ref = *connection;
  Refusal refusal;
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    if (Admit(listener.instance, uid, &connection->quotaTaken, &refusal))
      connections_.push_back(std::move(connection));
  }
  if (connection) {
    Refuse(connection->fd, refusal);
    return;
  }
  NoteAdmitted(listener.instance, uid);
  Message("connection opened on " + name + Describe(peer) +
          (access_ && ref.privileged ? ", maintenance allowed" : ""));
  try {
    if (failThreadStarts_.load() > 0) {
      failThreadStarts_.fetch_sub(1);
      throw std::system_error(EAGAIN, std::generic_category(), "thread");
    }
    ref.thread = std::thread([this, &ref] { Serve(ref); });
    Report(logLimiter_.Ended("connection threads", "connection threads start again"));
  } catch (const std::system_error& e) {
    ThreadFailed(e.what(), name);
    // The client learns at once instead of waiting for a reply that no
    // thread would send.
    SendRefusal(fd, STATUS_INSUFFICIENT_RESOURCES, 0);
    {
      std::lock_guard<std::mutex> lock(connectionsMutex_);
      ReleaseLocked(ref);
      ref.finished.store(true);
    }
    ReapFinished();
  }
}

void ControlServer::Serve(Connection& connection) {
  ControlHandler& handler = *handlers_[static_cast<std::size_t>(connection.instance)];
  const std::string name = names_[static_cast<std::size_t>(connection.instance)];
  // Only this thread closes the descriptor, at the end below.
  const int fd = connection.fd.Get();
  const bool opened = handler.Open();
  if (!opened) Message("open refused on " + name);

  while (opened) {
    // The message's real length first (MSG_TRUNC), so that its buffer is
    // sized to it: an idle connection holds no buffer at all. The receive
    // blocks: Stop wakes it by shutting the socket down.
    std::uint8_t none = 0;
    const ssize_t peeked = ::recv(fd, &none, 0, MSG_PEEK | MSG_TRUNC);
    if (peeked < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      break;
    }
    if (peeked == 0) {
      // Either the client closed its end or it sent an empty message.
      pollfd hangup{fd, POLLRDHUP, 0};
      if (::poll(&hangup, 1, 0) != 0) break;
    }

    std::vector<std::uint8_t> datagram;
    std::optional<DecodedRequest> request;
    if (static_cast<std::size_t>(peeked) > kMaxRequestBytes) {
      // Larger than any request may be: dropped unread.
      if (::recv(fd, &none, 0, MSG_TRUNC) < 0 && errno != EINTR) break;
    } else {
      datagram.resize(static_cast<std::size_t>(peeked));
      const ssize_t received = ::recv(fd, datagram.data(), datagram.size(), MSG_TRUNC);
      if (received < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;  // still queued: peeked again
        break;
      }
      if (static_cast<std::size_t>(received) == datagram.size()) request = DecodeRequest(datagram);
    }

    std::vector<std::uint8_t> output;
    const std::uint32_t admitted =
        request ? Admission(request->code, connection.privileged) : STATUS_SUCCESS;
    // A code this connection may not use never reaches the board.
    EncodedReply reply = NtFailed(admitted) ? EncodeReply({admitted, 0}, request->outLength)
                                            : HandleRequest(handler, request, output);
    iovec parts[2] = {{reply.header.data(), reply.header.size()},
                      {output.data(), reply.outputBytes}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = reply.outputBytes > 0 ? 2 : 1;
    if (!SendReply(fd, message)) break;  // the client is gone, or Stop
  }
  if (opened) {
    handler.Close();
    Message("connection closed on " + name);
  }
  {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    ReleaseLocked(connection);
    connection.finished.store(true);
  }
  Signal(reapFd_.Get());
}

}  // namespace vantrel::driver
