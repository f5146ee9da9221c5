#include "vantrel/testsupport/SimDaemon.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "Spawn.h"
#include "vantrel/protocol/ControlProtocol.h"
#include "vantrel/protocol/SimConsoleProtocol.h"

#ifndef VANTRELIO_PATH
#error "VANTRELIO_PATH names the daemon executable"
#endif

namespace vantrel::testsupport {

namespace fs = std::filesystem;

namespace {

// Closes a descriptor when the scope ends.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Whole lines of `log` that contain `text`.
int LinesWith(const std::string& log, const std::string& text) {
  const std::size_t end = log.rfind('\n');
  if (end == std::string::npos) return 0;
  int count = 0;
  for (std::size_t at = log.find(text); at != std::string::npos && at + text.size() <= end + 1;
       at = log.find(text, log.find('\n', at) + 1))
    ++count;
  return count;
}

}  // namespace

const char* VantrelioPath() { return VANTRELIO_PATH; }

SimDaemon::SimDaemon(SimDaemonOptions options) : options_(std::move(options)) {
  std::string pattern = (fs::temp_directory_path() / "k27-vantrelio.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::system_error(errno, std::generic_category(), "cannot make " + pattern);
  folder_ = pattern;
  deviceDir_ = folder_ / "run";
  logPath_ = folder_ / "vantrelio.log";
  if (options_.makeDeviceDir) fs::create_directories(deviceDir_);
}

SimDaemon::~SimDaemon() {
  Stop();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

bool SimDaemon::Start(std::chrono::milliseconds limit) {
  if (pid_ > 0) return true;
  Descriptor log{::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600)};
  Descriptor null{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
  if (log.fd < 0 || null.fd < 0) return false;
  runStart_ = static_cast<std::size_t>(::lseek(log.fd, 0, SEEK_END));
  if (options_.makeDeviceDir) fs::create_directories(deviceDir_);

  std::vector<std::string> argv{options_.program};
  if (options_.simulate) argv.push_back("--simulate");
  if (!options_.deviceDirFromEnvironment) {
    argv.push_back("--device-dir");
    argv.push_back(deviceDir_.string());
  }
  if (options_.simulate) {
    argv.push_back("--boards");
    argv.push_back(std::to_string(options_.boards));
  }
  argv.insert(argv.end(), options_.arguments.begin(), options_.arguments.end());
  // The test's own setting must not lead the daemon elsewhere.
  const std::string folderVariable =
      options_.deviceDirFromEnvironment
          ? std::string(driver::ControlProtocol::kDeviceDirEnv) + "=" + deviceDir_.string()
          : std::string(driver::ControlProtocol::kDeviceDirEnv);
  // Nor may a service manager's variables (a test run from a unit) make the
  // daemon take itself for a service.
  std::vector<std::string> changes{folderVariable, "NOTIFY_SOCKET", "INVOCATION_ID",
                                   "WATCHDOG_USEC", "WATCHDOG_PID"};
  changes.insert(changes.end(), options_.environment.begin(), options_.environment.end());
  pid_ = detail::Spawn(argv, detail::EnvironmentWith(changes), null.fd, log.fd, log.fd);
  if (pid_ <= 0) {
    pid_ = -1;
    const std::string message = "cannot run " + options_.program + "\n";
    (void)!::write(log.fd, message.data(), message.size());
    return false;
  }
  pidFd_ = detail::OpenPidFd(pid_);
  const std::string ready =
      options_.simulate ? "serving " + std::to_string(options_.boards) + " simulated board(s)"
                        : std::string("serving boards on USB");
  if (WaitForLog(ready, limit)) return true;
  Stop(SIGKILL);
  return false;
}

int SimDaemon::Stop(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) return kNotStarted;
  ::kill(pid_, signal);
  const int status = detail::Reap(pid_, pidFd_, limit);
  if (pidFd_ >= 0) ::close(pidFd_);
  pidFd_ = -1;
  pid_ = -1;
  return status;
}

void SimDaemon::Signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

bool SimDaemon::WaitForLog(const std::string& text, std::chrono::milliseconds limit, int count) {
  // Watched before the first look, so that no line slips in between.
  Descriptor watch{::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)};
  if (watch.fd < 0 || ::inotify_add_watch(watch.fd, logPath_.c_str(), IN_MODIFY) < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (LinesWith(LogFrom(runStart_), text) >= count) return true;
    if (pid_ <= 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{watch.fd, POLLIN, 0}, {pidFd_, POLLIN, 0}};
    const int ready = ::poll(fds, pidFd_ >= 0 ? 2 : 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && (fds[1].revents & POLLIN) != 0)  // ended: what it wrote is all there is
      return LinesWith(LogFrom(runStart_), text) >= count;
    char events[4096];
    while (::read(watch.fd, events, sizeof events) > 0) {
    }
  }
}

std::string SimDaemon::Log() const { return LogFrom(0); }

std::string SimDaemon::LogFrom(std::size_t offset) const {
  std::ifstream in(logPath_, std::ios::binary);
  if (!in) return {};
  in.seekg(static_cast<std::streamoff>(offset));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path SimDaemon::Socket(int n) const {
  return deviceDir_ / (driver::ControlProtocol::kSocketPrefix + std::to_string(n));
}

fs::path SimDaemon::ConsoleSocket() const { return deviceDir_ / driver::kSimConsoleSocket; }

}  // namespace vantrel::testsupport
