#include "vantrel/testsupport/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "Spawn.h"

namespace vantrel::testsupport {

namespace {

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void CloseBoth(int fds[2]) {
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe for a child's output");
  if (::pipe2(err, O_CLOEXEC) != 0) {
    CloseBoth(out);
    throw std::runtime_error("pipe for a child's output");
  }
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_ = detail::Spawn(argv, detail::EnvironmentWith(environment), null, out[1], err[1]);
  if (null >= 0) ::close(null);
  ::close(out[1]);
  ::close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  if (pid_ <= 0) {
    err_ = "cannot run " + (argv.empty() ? std::string("nothing") : argv[0]) + "\n";
    pid_ = -1;
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) detail::Reap(pid_, -1, std::chrono::milliseconds(0));
  if (outFd_ >= 0) ::close(outFd_);
  if (errFd_ >= 0) ::close(errFd_);
}

bool ChildProcess::Pump(int ms) {
  if (outFd_ < 0 && errFd_ < 0) return false;
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  const int ready = ::poll(fds, 2, ms);
  if (ready <= 0) return ready == 0 || errno == EINTR;
  char buffer[4096];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].revents == 0) continue;
    int& fd = i == 0 ? outFd_ : errFd_;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      ::close(fd);
      fd = -1;
    }
  }
  return true;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const std::size_t newline = out_.find('\n', taken_);
    if (newline != std::string::npos) {
      std::string line = out_.substr(taken_, newline - taken_);
      taken_ = newline + 1;
      return line;
    }
    const int left = MillisecondsLeft(deadline);
    if (left == 0 || !Pump(left)) return std::nullopt;
  }
}

int ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return status_;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  // The output first: a child blocked on a full pipe would never end.
  while ((outFd_ >= 0 || errFd_ >= 0) && MillisecondsLeft(deadline) > 0)
    Pump(MillisecondsLeft(deadline));
  const int pidFd = detail::OpenPidFd(pid_);
  status_ = detail::Reap(pid_, pidFd, std::chrono::milliseconds(MillisecondsLeft(deadline)));
  if (pidFd >= 0) ::close(pidFd);
  pid_ = -1;
  return status_;
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

}  // namespace vantrel::testsupport
