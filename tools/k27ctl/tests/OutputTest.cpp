// Named files and "-" for standard input, and checked writes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "Output.h"

namespace vantrel::ctl {
namespace {

std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(OutputTest, InputsAreReadWholeFromAFileOrStandardInput) {
  char name[] = "/tmp/k27ctl-output-test.XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  WriteAll(fd, "image", 5, name);
  ::close(fd);
  EXPECT_EQ(Text(ReadInput(name)), "image");
  EXPECT_NO_THROW(RequireReadable(name));
  ::unlink(name);
  try {
    ReadInput(name);
    ADD_FAILURE() << "a missing file was read";
  } catch (const InputFailure& error) {
    EXPECT_EQ(std::string(error.what()),
              std::string("cannot read ") + name + ": No such file or directory");
    EXPECT_EQ(error.Name(), "INPUT_FAILED");
  }
  EXPECT_THROW(RequireReadable(name), InputFailure);

  // "-" is standard input.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  WriteAll(pipeFds[1], "from stdin", 10, "the pipe");
  ::close(pipeFds[1]);
  const int savedStdin = ::dup(STDIN_FILENO);
  ::dup2(pipeFds[0], STDIN_FILENO);
  ::close(pipeFds[0]);
  EXPECT_TRUE(IsStandardStream("-"));
  EXPECT_EQ(Text(ReadInput("-")), "from stdin");
  EXPECT_NO_THROW(RequireReadable("-"));
  ::dup2(savedStdin, STDIN_FILENO);
  ::close(savedStdin);
}

TEST(OutputTest, AWriteThatFailsSaysWhy) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  try {
    WriteAll(full, "x", 1, "image.bin");
    ADD_FAILURE() << "a write to /dev/full passed";
  } catch (const OutputFailure& error) {
    EXPECT_EQ(std::string(error.what()), "cannot write to image.bin: No space left on device");
    EXPECT_EQ(error.Name(), "OUTPUT_FAILED");
  }
  ::close(full);
}

}  // namespace
}  // namespace vantrel::ctl
