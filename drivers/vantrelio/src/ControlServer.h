// The daemon's control sockets: one listening SOCK_SEQPACKET Unix socket
// "ezusb-N" per board instance in the device folder, one thread per accepted
// connection, each connection serving its requests one after another through
// the instance's ControlHandler. Wire format: ControlProtocol.h.
// Access is by group: the sockets are 0660 and a folder the server creates
// is 0770, both owned by the group given to SetGroup.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/driver/ControlHandler.h"

namespace vantrel::driver {

class ControlServer {
 public:
  // Messages about sockets and connections; called from any of the server's
  // threads, so it must be thread-safe.
  using Log = std::function<void(const std::string&)>;

  // handlers[N] serves instance N; they are not owned and must stay alive
  // until Stop has returned.
  ControlServer(std::filesystem::path deviceDir, std::vector<ControlHandler*> handlers,
                Log log = {});
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Serves one more socket, `name` in the device folder, through `handler`;
  // returns its instance number. Only before Start.
  int AddEndpoint(std::string name, ControlHandler* handler);
  // The group that may use the sockets (and the folder, when Start creates
  // it); without one they keep the process's group. Only before Start.
  void SetGroup(gid_t group);

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

 private:
  struct Listener {
    int fd = -1;
    int instance = 0;
    std::filesystem::path path;
    dev_t device = 0;
    ino_t inode = 0;
  };
  struct Connection {
    int fd = -1;
    int instance = 0;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void CreateListener(int instance);
  void AcceptLoop();
  void Serve(Connection& connection);
  bool SendReply(int fd, const ::msghdr& message) const;
  void ReapFinished();
  void CloseListeners();
  void Message(const std::string& text) const;

  const std::filesystem::path deviceDir_;
  std::vector<ControlHandler*> handlers_;
  std::vector<std::string> names_;  // socket name of each instance
  const Log log_;
  std::optional<gid_t> group_;

  std::mutex lifecycleMutex_;  // Start and Stop
  bool running_ = false;
  int stopFd_ = -1;  // eventfd, readable once Stop begins
  std::vector<Listener> listeners_;
  std::thread acceptThread_;

  mutable std::mutex connectionsMutex_;
  std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace vantrel::driver
