#include "Spawn.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "vantrel/testsupport/ChildProcess.h"

extern char** environ;

namespace vantrel::testsupport::detail {

namespace {

std::string_view NameOf(std::string_view entry) { return entry.substr(0, entry.find('=')); }

int StatusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return -WTERMSIG(raw);
  return kNotStarted;
}

}  // namespace

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& changes) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    bool changed = false;
    for (const std::string& change : changes) changed |= NameOf(*e) == NameOf(change);
    if (!changed) environment.emplace_back(*e);
  }
  for (const std::string& change : changes)
    if (change.find('=') != std::string::npos) environment.push_back(change);
  return environment;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            int in, int out, int err) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int OpenPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

int Reap(pid_t pid, int pidFd, std::chrono::milliseconds limit) {
  int raw = 0;
  pid_t reaped = 0;
  if (pidFd >= 0) {
    // The descriptor turns readable at the end; waitpid then returns at once.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{pidFd, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(std::max<long>(0, left.count())));
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 1) reaped = ::waitpid(pid, &raw, 0);
      break;
    }
  } else {
    // No pidfd: a bounded blocking wait is not to be had, so look often.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while ((reaped = ::waitpid(pid, &raw, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
      ::usleep(2000);
  }
  if (reaped == pid) return StatusOf(raw);
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  return kHung;
}

}  // namespace vantrel::testsupport::detail
