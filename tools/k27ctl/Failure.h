// The two ways a k27ctl command fails, and the exit statuses they give.
// Each failure carries a stable name for scripts (the board's error name
// when the board gave one) besides its text for people.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace vantrel::ctl {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the board, the daemon, a check, a file or the output failed
constexpr int kExitUsage = 2;    // bad command line or input file contents: nothing was sent

// A bad command line or input file. Thrown before the board is touched.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A failure that is not a usage error.
struct Failure : std::runtime_error {
  explicit Failure(const std::string& message, std::string name = "FAILED",
                   std::optional<int> boardCode = {})
      : std::runtime_error(message), name_(std::move(name)), boardCode_(boardCode) {}
  // Such as USB_DEVICE_WRITE_ERROR, NO_DAEMON or TIMED_OUT.
  const std::string& Name() const { return name_; }
  // The board's own error code, when it gave one.
  std::optional<int> BoardCode() const { return boardCode_; }
  // Marks a failure that the command's JSON result already tells (a compare
  // that found a difference, a poll's counts), so that a script reads one
  // object, not the result and then an error object.
  Failure& InResult() {
    inResult_ = true;
    return *this;
  }
  bool IsInResult() const { return inResult_; }

 private:
  std::string name_;
  std::optional<int> boardCode_;
  bool inResult_ = false;
};

}  // namespace vantrel::ctl
