// Test support: the test process's own namespace, and peer processes that
// use the shared state under a namespace given to them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vantrel::shared::test {

// The namespace this test process runs under (unique to the process).
const std::string& OwnNamespace();
// A namespace for one test's peers, unique within the process.
std::string FreshNamespace();
// Removes the shared memory objects of the namespace.
void UnlinkNamespace(const std::string& ns);

// shared_state_peer with `commands`, run under `ns`; its stdin and stdout are
// pipes to the test.
class Peer {
 public:
  Peer(const std::string& ns, const std::vector<std::string>& commands);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // The peer's next line of output, or "<timeout>" / "<eof>". The time-out
  // only catches a peer that hangs.
  std::string Line();
  // Answers the peer's "wait".
  void Send(const std::string& line = "");
  // SIGKILL, and the process reaped.
  void Kill();
  // Closes the peer's stdin and waits for its end: the exit status, or -1 for
  // a peer that did not exit normally.
  int Finish();

 private:
  pid_t pid_ = -1;
  int toPeer_ = -1;
  int fromPeer_ = -1;
  std::string pending_;
};

}  // namespace vantrel::shared::test
