// The daemon's control sockets: one listening SOCK_SEQPACKET Unix socket
// "ezusb-N" per board instance in the device folder, one thread per accepted
// connection, each connection serving its requests one after another through
// the instance's ControlHandler. Wire format: ControlProtocol.h.
// Access is by group: the sockets are 0660 and a folder the server creates
// is 0770, both owned by the group given to SetGroup.
// What a connection may ask for is set by an AccessPolicy: without one,
// every code (the simulator's console); with one, the board's protocol for
// everybody and the maintenance codes for the privileged only.
// What a connection costs is bounded: a thread and its descriptor, released
// as soon as the connection ends, and buffers sized to the request being
// served. Limits cap the connections of each socket, of each client user on
// one socket, and of each client user in all; a connection over a limit gets
// one reply that names the limit, and is closed: STATUS_TOO_MANY_OPENED_FILES
// with the socket's limit as the information, STATUS_TOO_MANY_SESSIONS with
// the user's share of the socket, STATUS_QUOTA_EXCEEDED with the user's
// limit across sockets, or, when no thread can
// serve it, STATUS_INSUFFICIENT_RESOURCES with 0. Refusals and failures to
// accept are logged at a bounded rate (LogRateLimiter).
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AccessPolicy.h"
#include "ConnectionQuota.h"
#include "k27/common/LogRateLimiter.h"
#include "k27/common/UniqueFd.h"
#include "vantrel/driver/ControlHandler.h"

namespace vantrel::driver {

class ControlServer {
 public:
  // Messages about sockets and connections; called from any of the server's
  // threads, so it must be thread-safe.
  using Log = std::function<void(const std::string&)>;

  // Serves no socket until AddEndpoint.
  explicit ControlServer(std::filesystem::path deviceDir, Log log = {});
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Serves one more socket, `name` in the device folder, through `handler`
  // (not owned, alive until Stop has returned); returns its instance number,
  // counted from 0. Only before Start.
  int AddEndpoint(std::string name, ControlHandler* handler);
  // The group that may use the sockets (and the folder, when Start creates
  // it); without one they keep the process's group. Only before Start.
  void SetGroup(gid_t group);

  struct Limits {
    // Connections each socket serves at once; 0: no limit.
    std::size_t perSocket = 0;
    // Connections each client user holds at once, shared with whatever else
    // holds the same quota (the other boards' servers); none: no limit.
    std::shared_ptr<ConnectionQuota> perUid;
    // Where refusals and connections that cannot be served are reported,
    // also when the server's own log is quiet; none: the server's log.
    Log report;
    // Connections each client user holds at once on one socket; 0: no
    // limit. Below perSocket, it keeps one user's idle connections from
    // locking everybody else out of a board.
    std::size_t perUidPerSocket = 0;
  };
  // Only before Start.
  void SetLimits(Limits limits);
  // Who may use the maintenance codes. Only before Start.
  void SetAccessPolicy(AccessPolicy policy);
  // The next `count` connection threads fail to start, as when the system
  // is out of threads.
  void FailThreadStartsForTest(int count) { failThreadStarts_.store(count); }
  // The next `count` accepts fail as when the process is out of descriptors.
  void FailAcceptsForTest(int count) { failAccepts_.store(count); }

  // Creates the folder when missing and every socket, then starts serving.
  // Once it returns, clients can connect. Throws std::system_error or
  // std::runtime_error, leaving no socket behind.
  void Start();
  // Ends every connection, joins every thread, closes and removes the
  // sockets. Safe to call more than once.
  void Stop();

  std::filesystem::path SocketPath(int instance) const;
  // Connections whose thread is still serving.
  std::size_t ActiveConnections() const;
  // Connections accepted and not yet released (thread joined, descriptor
  // closed).
  std::size_t HeldConnections() const;

 private:
  struct Listener {
    vantrel::common::UniqueFd fd;
    int instance = 0;
    std::filesystem::path path;
    dev_t device = 0;
    ino_t inode = 0;
  };
  struct Connection {
    vantrel::common::UniqueFd fd;  // under connectionsMutex_; empty once the connection has ended
    int instance = 0;
    uid_t uid = 0;
    bool quotaTaken = false;
    // May use every code; else only the board's protocol.
    bool privileged = true;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void CreateListener(int instance);
  void AcceptLoop();
  void Accept(const Listener& listener);
  struct Refusal {
    std::string key;     // what reached its limit: the socket's name, or "uid N"
    std::string reason;  // for the log
    std::uint32_t status = 0;
    std::uint32_t limit = 0;  // the reply's information
  };
  // Counts the connection against the limits; false, with the reason, when
  // it must be refused. Under connectionsMutex_.
  bool Admit(int instance, uid_t uid, bool* quotaTaken, Refusal* refusal);
  void Refuse(vantrel::common::UniqueFd& fd, const Refusal& refusal);
  void NoteAdmitted(int instance, uid_t uid);
  void Serve(Connection& connection);
  bool SendReply(int fd, const ::msghdr& message) const;
  // Ends a connection: closes its descriptor and gives back its places.
  // Under connectionsMutex_.
  void ReleaseLocked(Connection& connection);
  void ReapFinished();
  void CloseListeners();
  void Message(const std::string& text) const;
  void Report(const std::string& text) const;
  void Report(const std::optional<std::string>& line) const;
  // Accept thread only: log, at a bounded rate, an accept that failed and a
  // connection closed because no thread could serve it.
  void AcceptFailed(int error);
  void ThreadFailed(const std::string& what, const std::string& name);

  const std::filesystem::path deviceDir_;
  std::vector<ControlHandler*> handlers_;
  std::vector<std::string> names_;  // socket name of each instance
  const Log log_;
  std::optional<gid_t> group_;

  std::mutex lifecycleMutex_;  // Start and Stop
  bool running_ = false;
  vantrel::common::UniqueFd stopFd_;  // eventfd, readable once Stop begins
  vantrel::common::UniqueFd reapFd_;  // eventfd, readable when a connection has ended
  std::vector<Listener> listeners_;
  std::thread acceptThread_;

  Limits limits_;
  std::optional<AccessPolicy> access_;
  std::atomic<int> failThreadStarts_{0};
  std::atomic<int> failAccepts_{0};

  mutable std::mutex connectionsMutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::vector<std::size_t> open_;  // connections per instance, under connectionsMutex_
  // Connections per instance and client user, under connectionsMutex_.
  std::vector<std::map<uid_t, std::size_t>> openByUid_;
  // The refusals by kind ("ezusb-0", "uid 1000"), failed thread starts and
  // failed accepts, logged at a bounded rate; a refusal's condition ends
  // when a connection of its kind is admitted again. Accept thread only.
  vantrel::common::LogRateLimiter logLimiter_;
};

}  // namespace vantrel::driver
