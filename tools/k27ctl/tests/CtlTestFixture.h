// What the k27ctl test suites share: k27ctl and k27simctl run against one
// `vantrelio --simulate` per suite, their results, and the daemon's exchange
// trace read from a mark on.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <vantrel/testsupport/ChildProcess.h>
#include <vantrel/testsupport/SimDaemon.h>

namespace vantrel::ctl::test {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Process = vantrel::testsupport::ChildProcess;
using vantrel::testsupport::SimDaemon;

struct Result {
  int status;
  std::string out, err;
};

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline std::size_t LineCount(const std::string& text) {
  std::size_t lines = 0;
  for (const char c : text) lines += c == '\n';
  return lines;
}

inline void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// `program` with `args`, as a child's argument vector.
inline Strings Command(const char* program, const Strings& args) {
  Strings all{program};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

// A suite derives from this and starts its daemon in its own
// SetUpTestSuite with StartDaemon; the daemon serves the whole suite.
class CtlTest : public ::testing::Test {
 protected:
  // Two simulated boards and the daemon options `arguments`; with `traced`,
  // the daemon writes its exchange trace to trace.log in dir_.
  static void StartDaemon(Strings arguments, bool traced) {
    daemon_ = std::make_unique<SimDaemon>();
    // Files of the tests sit beside the device folder.
    dir_ = daemon_->Folder();
    if (traced) arguments.insert(arguments.end(), {"--trace", TracePath().string()});
    daemon_->Options().boards = 2;
    daemon_->Options().arguments = std::move(arguments);
    ASSERT_TRUE(daemon_->Start()) << daemon_->Log();
  }
  static void TearDownTestSuite() { daemon_.reset(); }

  // The device folder is the daemon's unless `deviceDir` names another. A
  // reply time limit of the caller's environment would change what the
  // tests see, so none is passed on.
  static Strings Environment(const std::string& deviceDir = "") {
    const std::string dir = deviceDir.empty() ? daemon_->DeviceDir().string() : deviceDir;
    return {"VANTREL_DEVICE_DIR=" + dir, "VANTREL_REPLY_TIMEOUT_MS"};
  }
  // Runs k27ctl with `args` to its end.
  static Result Ctl(const Strings& args, const std::string& deviceDir = "") {
    return Wait(Command(K27CTL_PATH, args), deviceDir);
  }
  // Runs `argv` (k27ctl, or a command that runs it) to its end.
  static Result Wait(const Strings& argv, const std::string& deviceDir = "") {
    Process p(argv, Environment(deviceDir));
    const int status = p.Wait();
    return {status, p.Stdout(), p.Stderr()};
  }
  // Starts k27ctl with `args`, for a command that runs on.
  static std::unique_ptr<Process> Start(const Strings& args) {
    return std::make_unique<Process>(Command(K27CTL_PATH, args), Environment());
  }
  // A k27simctl command on the daemon's boards; what it printed.
  static std::string SimCtl(const Strings& args) {
    Strings all{"--device-dir", daemon_->DeviceDir().string()};
    all.insert(all.end(), args.begin(), args.end());
    Process p(Command(K27SIMCTL_PATH, all));
    EXPECT_EQ(p.Wait(), 0) << "k27simctl failed: " << p.Stderr();
    return p.Stdout();
  }

  // The trace from here on.
  static fs::path TracePath() { return dir_ / "trace.log"; }
  static std::uintmax_t Mark() { return fs::file_size(TracePath()); }
  static Strings TraceSince(std::uintmax_t mark) {
    std::ifstream in(TracePath());
    in.seekg(static_cast<std::streamoff>(mark));
    Strings lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static bool Traced(std::uintmax_t mark, const std::string& text) {
    for (const auto& line : TraceSince(mark))
      if (Contains(line, text)) return true;
    return false;
  }
  // Waits until the trace has a line with `text` after `mark`.
  static bool WaitForTrace(std::uintmax_t mark, const std::string& text) {
    for (int i = 0; i < 3000; ++i) {
      if (Traced(mark, text)) return true;
      ::usleep(10000);
    }
    return false;
  }

  static inline fs::path dir_;
  static inline std::unique_ptr<SimDaemon> daemon_;
};

}  // namespace vantrel::ctl::test
