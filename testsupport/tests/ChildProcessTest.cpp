// Programs run through pipes: their output, status and environment.
#include <gtest/gtest.h>

#include <signal.h>

#include <vantrel/testsupport/ChildProcess.h>

namespace vantrel::testsupport {
namespace {

using namespace std::chrono_literals;

TEST(ChildProcessTest, OutputIsReadByLineAndWholeWithTheExitStatus) {
  ChildProcess p({"/bin/sh", "-c", "echo one; echo two >&2; echo three; exit 3"});
  EXPECT_EQ(p.ReadLine(), "one");
  EXPECT_EQ(p.Wait(), 3);
  EXPECT_EQ(p.Stdout(), "three\n");
  EXPECT_EQ(p.Stderr(), "two\n");
  EXPECT_EQ(p.ReadLine(), "three");
  EXPECT_FALSE(p.ReadLine(0ms));
}

TEST(ChildProcessTest, OutputLargerThanAPipeDoesNotStopTheChild) {
  ChildProcess p({"/bin/sh", "-c", "head -c 1000000 /dev/zero; head -c 300000 /dev/zero >&2"});
  EXPECT_EQ(p.Wait(), 0);
  EXPECT_EQ(p.Stdout().size(), 1000000u);
  EXPECT_EQ(p.Stderr().size(), 300000u);
}

TEST(ChildProcessTest, EnvironmentChangesReplaceAddAndRemove) {
  ::setenv("K27_TEST_KEPT", "kept", 1);
  ::setenv("K27_TEST_REPLACED", "old", 1);
  ::setenv("K27_TEST_REMOVED", "there", 1);
  ChildProcess p({"/bin/sh", "-c",
                  "echo \"$K27_TEST_KEPT $K27_TEST_REPLACED $K27_TEST_ADDED "
                  "${K27_TEST_REMOVED-gone}\""},
                 {"K27_TEST_REPLACED=new", "K27_TEST_ADDED=added", "K27_TEST_REMOVED"});
  EXPECT_EQ(p.ReadLine(), "kept new added gone");
  EXPECT_EQ(p.Wait(), 0);
}

TEST(ChildProcessTest, SignalsHangsAndMissingProgramsHaveStatusesOfTheirOwn) {
  ChildProcess killed({"/bin/sh", "-c", "kill -TERM $$"});
  EXPECT_EQ(killed.Wait(), -SIGTERM);

  ChildProcess hung({"/bin/sh", "-c", "exec sleep 600"});
  EXPECT_EQ(hung.Wait(50ms), kHung);
  EXPECT_EQ(hung.Wait(), kHung);  // reaped once; the status stays

  ChildProcess missing({"/nonexistent/k27-program"});
  EXPECT_EQ(missing.Wait(), kNotStarted);
  EXPECT_NE(missing.Stderr().find("cannot run /nonexistent/k27-program"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::testsupport
