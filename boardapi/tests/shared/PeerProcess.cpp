#include "PeerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace vantrel::shared::test {

namespace {

constexpr int kLineTimeoutMs = 60'000;
constexpr const char* kNamespaceVariable = "VANTREL_SHARED_NAMESPACE";

}  // namespace

const std::string& OwnNamespace() {
  static const std::string ns = [] {
    const char* value = std::getenv(kNamespaceVariable);
    return std::string(value != nullptr ? value : "");
  }();
  return ns;
}

std::string FreshNamespace() {
  static std::atomic<int> next{0};
  return OwnNamespace() + ".p" + std::to_string(next++);
}

void UnlinkNamespace(const std::string& ns) {
  const std::string prefix = "/" + ns + ".";
  shm_unlink((prefix + "K27SharedMemory").c_str());
  for (int lock = 0; lock <= 5; ++lock)
    shm_unlink((prefix + "K27Mutex_SEM_" + std::to_string(lock)).c_str());
}

Peer::Peer(const std::string& ns, const std::vector<std::string>& commands) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  std::vector<std::string> environment;
  const std::string assignment = std::string(kNamespaceVariable) + "=";
  for (char** entry = environ; *entry != nullptr; ++entry)
    if (std::strncmp(*entry, assignment.c_str(), assignment.size()) != 0)
      environment.emplace_back(*entry);
  environment.push_back(assignment + ns);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  std::vector<std::string> arguments{SHARED_STATE_PEER};
  arguments.insert(arguments.end(), commands.begin(), commands.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  toPeer_ = in[1];
  fromPeer_ = out[0];
}

Peer::~Peer() {
  if (pid_ > 0) Kill();
  if (toPeer_ >= 0) close(toPeer_);
  if (fromPeer_ >= 0) close(fromPeer_);
}

std::string Peer::Line() {
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    if (fromPeer_ < 0) return "<eof>";
    pollfd ready{fromPeer_, POLLIN, 0};
    const int polled = poll(&ready, 1, kLineTimeoutMs);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return "<timeout>";
    char buffer[512];
    const ssize_t got = read(fromPeer_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return "<eof>";
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

void Peer::Send(const std::string& line) {
  const std::string text = line + "\n";
  if (toPeer_ >= 0) (void)!write(toPeer_, text.data(), text.size());
}

void Peer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

int Peer::Finish() {
  if (toPeer_ >= 0) {
    close(toPeer_);
    toPeer_ = -1;
  }
  if (pid_ <= 0) return -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vantrel::shared::test
