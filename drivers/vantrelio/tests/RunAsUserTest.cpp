// Who the daemon runs as: the start check and the switch to its own user.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "daemon/RunAsUser.h"

namespace vantrel::driver {
namespace {

using Verdict = StartIdentity::Verdict;

TEST(RunAsUser, RootServesOnlyByHandOrWithAUser) {
  EXPECT_EQ(CheckStartIdentity(false, false, false).verdict, Verdict::Serve);
  EXPECT_EQ(CheckStartIdentity(false, true, false).verdict, Verdict::Serve);
  EXPECT_EQ(CheckStartIdentity(true, true, true).verdict, Verdict::Serve);
  EXPECT_EQ(CheckStartIdentity(true, false, true).verdict, Verdict::Serve);
  const StartIdentity byHand = CheckStartIdentity(true, false, false);
  EXPECT_EQ(byHand.verdict, Verdict::ServeWarned);
  EXPECT_NE(byHand.message.find("--user vantrelio"), std::string::npos) << byHand.message;
  const StartIdentity underSystemd = CheckStartIdentity(true, true, false);
  EXPECT_EQ(underSystemd.verdict, Verdict::Refuse);
  EXPECT_NE(underSystemd.message.find("User="), std::string::npos) << underSystemd.message;
}

TEST(RunAsUser, TheTargetKeepsItsGroupsAndGetsTheBoardGroupOnce) {
  std::string why;
  const auto root = LookupRunAs("root", gid_t{4270002}, &why);
  ASSERT_TRUE(root) << why;
  EXPECT_EQ(root->uid, 0u);
  EXPECT_EQ(std::count(root->groups.begin(), root->groups.end(), root->gid), 1);
  EXPECT_EQ(std::count(root->groups.begin(), root->groups.end(), gid_t{4270002}), 1);
  const auto again = LookupRunAs("root", root->gid, &why);
  ASSERT_TRUE(again);
  EXPECT_EQ(std::count(again->groups.begin(), again->groups.end(), root->gid), 1);

  EXPECT_FALSE(LookupRunAs("no-such-user-k27", std::nullopt, &why));
  EXPECT_EQ(why, "user 'no-such-user-k27' does not exist");
}

// In a child, so that a root test run keeps its root: without root, only
// the process's own user is a switch that succeeds.
TEST(RunAsUser, WithoutRootOnlyTheOwnUserIsASwitch) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0) ::_exit(10);
    std::string why;
    const RunAs self{"self", ::getuid(), ::getgid(), {}};
    if (!SwitchTo(self, &why)) ::_exit(11);
    const RunAs root{"root", 0, 0, {0}};
    if (SwitchTo(root, &why)) ::_exit(12);
    if (why != "only root can become user 'root'") ::_exit(13);
    ::_exit(::getuid() != 0 ? 0 : 14);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vantrel::driver
