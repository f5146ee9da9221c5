// `vantrelio --simulate` for tests and benchmarks: started in a private
// runtime folder with the chosen boards and options, ready once it says it
// serves, stopped with SIGTERM (killed if it hangs), its log at hand for
// failure messages.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "vantrel/testsupport/ChildProcess.h"

namespace vantrel::testsupport {

// The daemon built with this tree.
const char* VantrelioPath();

struct SimDaemonOptions {
  int boards = 1;
  // Further daemon options, such as --trace FILE or --eeprom-bytes N.
  std::vector<std::string> arguments = {};
  // The device folder is handed over as VANTREL_DEVICE_DIR instead of
  // --device-dir.
  bool deviceDirFromEnvironment = false;
  // The device folder is made with the launcher, as the user's own folder,
  // instead of by the daemon at the start (which gives a folder it makes to
  // its group).
  bool makeDeviceDir = false;
  std::string program = VantrelioPath();
  // False: the daemon serves the machine's USB through libusb instead (no
  // --simulate, no --boards), and is ready once it has looked at the bus.
  bool simulate = true;
  // NAME=VALUE entries added to the daemon's environment (a bare NAME
  // removes one).
  std::vector<std::string> environment = {};
};

class SimDaemon {
 public:
  // Makes the private folder; the daemon starts with Start.
  explicit SimDaemon(SimDaemonOptions options = {});
  // Stops a daemon still running and removes the private folder.
  ~SimDaemon();
  SimDaemon(const SimDaemon&) = delete;
  SimDaemon& operator=(const SimDaemon&) = delete;

  // The options of the next Start.
  SimDaemonOptions& Options() { return options_; }

  // Starts the daemon and waits until it serves every board; false when it
  // ended or did not get there within the limit (then it is killed). A
  // daemon already running is left as it is. Can start again after Stop.
  bool Start(std::chrono::milliseconds limit = kWaitLimit);

  // Sends `signal`, then waits for the end: the exit status, -signal when
  // the signal ended it, kHung when it did not end within the limit (then it
  // is killed); kNotStarted when nothing runs.
  int Stop(int signal = SIGTERM, std::chrono::milliseconds limit = kWaitLimit);
  void Signal(int signal);
  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Waits until the log of the current run has `count` lines containing
  // `text`; false when the daemon ended or the limit passed first.
  bool WaitForLog(const std::string& text, std::chrono::milliseconds limit = kWaitLimit,
                  int count = 1);
  // Everything the daemon wrote (standard output and error), all runs.
  std::string Log() const;
  // The file that holds it, inside Folder().
  const std::filesystem::path& LogPath() const { return logPath_; }

  const std::filesystem::path& Folder() const { return folder_; }
  const std::filesystem::path& DeviceDir() const { return deviceDir_; }
  // The control socket of board `n`, and the simulator's console.
  std::filesystem::path Socket(int n) const;
  std::filesystem::path ConsoleSocket() const;

 private:
  std::string LogFrom(std::size_t offset) const;
  // Waits for the end; kHung past the limit.
  int WaitForExit(std::chrono::milliseconds limit);

  SimDaemonOptions options_;
  std::filesystem::path folder_, deviceDir_, logPath_;
  pid_t pid_ = -1;
  int pidFd_ = -1;
  std::size_t runStart_ = 0;  // where the current run's log begins
};

}  // namespace vantrel::testsupport
