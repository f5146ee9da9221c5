#include "k27/common/Log.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern char** environ;

namespace vantrel::common {
namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    CloseWrite();
    if (read >= 0) ::close(read);
  }
  void CloseWrite() {
    if (write >= 0) ::close(write);
    write = -1;
  }
  std::string ReadAll() {
    std::string text;
    char buffer[512];
    for (;;) {
      const ssize_t n = ::read(read, buffer, sizeof buffer);
      if (n <= 0) return text;
      text.append(buffer, std::size_t(n));
    }
  }
  std::string StreamId() const {
    struct stat st {};
    ::fstat(write, &st);
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  }
};

TEST(Log, LinesCarryTheJournalPriorityOnlyForTheJournal) {
  EXPECT_EQ(FormatLog(LogLevel::kError, "vantrelio: gone", false), "vantrelio: gone\n");
  EXPECT_EQ(FormatLog(LogLevel::kError, "a", true), "<3>a\n");
  EXPECT_EQ(FormatLog(LogLevel::kWarning, "a", true), "<4>a\n");
  EXPECT_EQ(FormatLog(LogLevel::kInfo, "a", true), "<6>a\n");
  EXPECT_EQ(FormatLog(LogLevel::kDebug, "a", true), "<7>a\n");
  // Each line of a longer message is read on its own by the journal; a
  // message that ends in a line feed gets no empty line after it.
  EXPECT_EQ(FormatLog(LogLevel::kWarning, "one\ntwo\n", true), "<4>one\n<4>two\n");
  EXPECT_EQ(FormatLog(LogLevel::kWarning, "one\ntwo\n", false), "one\ntwo\n");
  EXPECT_EQ(FormatLog(LogLevel::kInfo, "", false), "\n");
}

TEST(Log, VerboseAndQuietMoveTheThresholdWithinTheLevels) {
  EXPECT_EQ(ThresholdFor(0, 0), LogLevel::kInfo);
  EXPECT_EQ(ThresholdFor(1, 0), LogLevel::kDebug);
  EXPECT_EQ(ThresholdFor(5, 0), LogLevel::kDebug);
  EXPECT_EQ(ThresholdFor(0, 1), LogLevel::kWarning);
  EXPECT_EQ(ThresholdFor(0, 2), LogLevel::kError);
  EXPECT_EQ(ThresholdFor(0, 9), LogLevel::kError);
  EXPECT_EQ(ThresholdFor(1, 1), LogLevel::kInfo);
}

TEST(Log, TheSinkWritesWhatItsThresholdShows) {
  Pipe pipe;
  ASSERT_GE(pipe.read, 0);
  {
    LogSink sink(pipe.write, false);
    EXPECT_EQ(sink.Threshold(), LogLevel::kInfo);
    sink.Write(LogLevel::kInfo, "shown");
    sink.Write(LogLevel::kDebug, "hidden");
    sink.SetThreshold(LogLevel::kError);
    sink.Write(LogLevel::kWarning, "hidden too");
    sink.Write(LogLevel::kError, "error");
  }
  pipe.CloseWrite();
  EXPECT_EQ(pipe.ReadAll(), "shown\nerror\n");
}

TEST(Log, TheJournalIsRecognisedByItsStreamAlone) {
  Pipe journal;
  Pipe other;
  ASSERT_GE(journal.read, 0);
  ASSERT_GE(other.read, 0);
  ASSERT_EQ(::setenv("JOURNAL_STREAM", journal.StreamId().c_str(), 1), 0);
  EXPECT_TRUE(IsJournalStream(journal.write));
  EXPECT_FALSE(IsJournalStream(other.write));
  ASSERT_EQ(::setenv("JOURNAL_STREAM", "garbage", 1), 0);
  EXPECT_FALSE(IsJournalStream(journal.write));
  ASSERT_EQ(::unsetenv("JOURNAL_STREAM"), 0);
  EXPECT_FALSE(IsJournalStream(journal.write));
}

// The probe's stderr, run with `arguments`; under the journal when asked.
std::string RunProbe(std::vector<std::string> arguments, bool underJournal) {
  Pipe output;
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::string(*e).rfind("JOURNAL_STREAM=", 0) != 0) environment.emplace_back(*e);
  if (underJournal) environment.push_back("JOURNAL_STREAM=" + output.StreamId());
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  arguments.insert(arguments.begin(), LOG_PROBE_PATH);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output.write, STDERR_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, LOG_PROBE_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return "spawn failed";
  output.CloseWrite();
  std::string text = output.ReadAll();
  int status = 0;
  ::waitpid(pid, &status, 0);
  return text;
}

TEST(Log, AProgramWritesToStderrAndPrefixesPrioritiesUnderSystemd) {
  EXPECT_EQ(RunProbe({}, false), "probe: error\nprobe: warning\nsecond line\nprobe: info\n");
  EXPECT_EQ(RunProbe({}, true),
            "<3>probe: error\n<4>probe: warning\n<4>second line\n<6>probe: info\n");
  EXPECT_EQ(RunProbe({"--verbose"}, true),
            "<3>probe: error\n<4>probe: warning\n<4>second line\n<6>probe: info\n<7>probe: "
            "debug\n");
  EXPECT_EQ(RunProbe({"--quiet"}, false), "probe: error\nprobe: warning\nsecond line\n");
  EXPECT_EQ(RunProbe({"--quiet", "--quiet"}, false), "probe: error\n");
}

}  // namespace
}  // namespace vantrel::common
