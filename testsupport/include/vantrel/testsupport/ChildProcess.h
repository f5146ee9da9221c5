// A program run by a test, its standard output and error read through pipes:
// line by line while it runs, or whole once it has ended.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::testsupport {

// Every wait of a test is bounded: long enough for a loaded machine and a
// sanitizer build, short enough that a hang fails the test instead of the run.
constexpr std::chrono::milliseconds kWaitLimit{30000};

// Exit statuses of Wait besides the program's own.
constexpr int kNotStarted = -1000;
constexpr int kHung = -2000;  // did not end within the limit; killed

class ChildProcess {
 public:
  // Runs argv[0] with argv. `environment` holds NAME=VALUE entries that
  // replace or add to the test's own environment; a bare NAME removes one.
  // Standard input reads /dev/null.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment = {});
  ~ChildProcess();  // kills a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }

  // The next line of standard output; nothing when the output ended or the
  // limit passed first.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit = kWaitLimit);

  // Waits for the end with all its output read. The exit status; -signal for
  // a child ended by a signal; kHung (and the child killed) past the limit.
  int Wait(std::chrono::milliseconds limit = kWaitLimit);

  void Signal(int signal);

  // Standard output not yet taken by ReadLine, and all standard error.
  std::string Stdout() const { return out_.substr(taken_); }
  const std::string& Stderr() const { return err_; }

 private:
  // Reads what either pipe has, waiting at most `ms`; false once both ended.
  bool Pump(int ms);

  pid_t pid_ = -1;
  int status_ = kNotStarted;
  int outFd_ = -1, errFd_ = -1;
  std::string out_, err_;
  std::size_t taken_ = 0;
};

}  // namespace vantrel::testsupport
