// Shared objects that another user made first, or that are open to others,
// are refused; the library's own pass its check.
#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PeerProcess.h"
#include "shared/BoardGroup.h"
#include "shared/ObjectTrust.h"
#include "shared/SystemNames.h"

namespace {

using namespace vantrel::shared;
using vantrel::shared::test::Peer;

// A user and group no account has.
constexpr uid_t kStranger = 424242;

const std::vector<std::string>& ObjectNames() {
  static const std::vector<std::string> names = {
      "K27SharedMemory", "K27Mutex_SEM_0", "K27Mutex_SEM_1", "K27Mutex_SEM_2",
      "K27Mutex_SEM_3",  "K27Mutex_SEM_4", "K27Mutex_SEM_5"};
  return names;
}

// Creates the object as `uid` (in a child when it is another user), with
// exactly `mode`; true when it was made.
bool Precreate(const std::string& systemName, mode_t mode, uid_t uid) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (uid != ::geteuid() && (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
                               ::setresuid(uid, uid, uid) != 0))
      ::_exit(2);
    const int fd = ::shm_open(systemName.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
    ::_exit(fd >= 0 && ::fchmod(fd, mode) == 0 ? 0 : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// What a process of `ns` says about its shared state.
std::string Availability(const std::string& ns) {
  Peer peer(ns, {"available"});
  const std::string line = peer.Line();
  EXPECT_EQ(peer.Line(), "done");
  EXPECT_EQ(peer.Finish(), 0);
  return line;
}

TEST(SharedObjectTrust, TheLibrarysOwnObjectsPassItsCheck) {
  for (const std::string& name : ObjectNames()) {
    SCOPED_TRACE(name);
    struct stat status {};
    ASSERT_EQ(::stat(("/dev/shm" + SystemObjectName(name)).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0660u);
    EXPECT_EQ(status.st_gid, BoardGroup());
    EXPECT_EQ(JudgeObject(status, BoardGroup()).trust, ObjectTrust::kTrusted);
  }
}

TEST(SharedObjectTrust, OpenToOthersOrMadeByAStrangerIsForeignAndHalfMadeIsSettling) {
  struct stat good {};
  good.st_uid = ::geteuid();
  good.st_gid = BoardGroup();
  good.st_mode = S_IFREG | 0660;
  EXPECT_EQ(JudgeObject(good, BoardGroup()).trust, ObjectTrust::kTrusted);
  struct stat rootOwned = good;
  rootOwned.st_uid = 0;
  EXPECT_EQ(JudgeObject(rootOwned, BoardGroup()).trust, ObjectTrust::kTrusted);

  struct stat legacy = good;
  legacy.st_mode = S_IFREG | 0666;
  EXPECT_EQ(JudgeObject(legacy, BoardGroup()).trust, ObjectTrust::kForeign);
  struct stat stranger = good;
  stranger.st_uid = kStranger;
  EXPECT_EQ(JudgeObject(stranger, BoardGroup()).trust, ObjectTrust::kForeign);
  // Its creator has yet to give it the group and the mode.
  struct stat otherGroup = good;
  otherGroup.st_gid = kStranger;
  EXPECT_EQ(JudgeObject(otherGroup, BoardGroup()).trust, ObjectTrust::kSettingUp);
  struct stat fresh = good;
  fresh.st_mode = S_IFREG;
  EXPECT_EQ(JudgeObject(fresh, BoardGroup()).trust, ObjectTrust::kSettingUp);
}

TEST(SharedObjectTrust, ObjectsLeftWithMode0666AreRefusedAndTheUserToldHowToClearThem) {
  for (const std::string& name : ObjectNames()) {
    SCOPED_TRACE(name);
    const std::string ns = vantrel::shared::test::FreshNamespace();
    const std::string systemName = "/" + ns + "." + name;
    ASSERT_TRUE(Precreate(systemName, 0666, ::geteuid()));
    const std::string said = Availability(ns);
    vantrel::shared::test::UnlinkNamespace(ns);
    EXPECT_EQ(said.rfind("unavailable the shared board state is refused: /dev/shm" + systemName +
                             " belongs to ",
                         0),
              0u)
        << said;
    EXPECT_NE(said.find("mode 0666: its mode gives users outside the board group"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("older builds"), std::string::npos) << said;
    EXPECT_NE(said.find("sudo rm /dev/shm" + systemName), std::string::npos) << said;
  }
}

TEST(SharedObjectTrust, ObjectsAnotherUserMadeFirstAreRefusedWhateverTheirMode) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make the objects as another user";
  for (const mode_t mode : {mode_t{0666}, mode_t{0600}}) {
    for (const std::string& name : ObjectNames()) {
      SCOPED_TRACE(name + " mode " + std::to_string(mode));
      const std::string ns = vantrel::shared::test::FreshNamespace();
      const std::string systemName = "/" + ns + "." + name;
      ASSERT_TRUE(Precreate(systemName, mode, kStranger));
      const std::string said = Availability(ns);
      vantrel::shared::test::UnlinkNamespace(ns);
      const std::string owner = "belongs to uid " + std::to_string(kStranger) + ", group " +
                                std::to_string(kStranger) + ", mode 0" +
                                (mode == 0666 ? "666" : "600");
      EXPECT_NE(said.find("/dev/shm" + systemName + " " + owner), std::string::npos) << said;
      EXPECT_EQ(said.rfind("unavailable the shared board state is refused", 0), 0u) << said;
      EXPECT_NE(said.find("Remove it, as root, when no program uses the boards"), std::string::npos)
          << said;
      EXPECT_EQ(said.find("usermod"), std::string::npos) << said;
    }
  }
}

}  // namespace
