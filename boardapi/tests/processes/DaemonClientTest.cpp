// The library against a real daemon process: exchanges of several processes
// on one channel keep their own replies, only the daemon's group gets in, and
// a daemon that goes away and comes back is an error, then a connection again.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <vantrel/VantrelUSB.h>

#include <vantrel/testsupport/ChildProcess.h>
#include <vantrel/testsupport/SimDaemon.h>

#include "ChildProcess.h"
#include "SimConsoleClient.h"
#include "shared/SharedState.h"

namespace {

using vantrel::test::Spawn;
using vantrel::test::Wait;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Four ranges of SRAM above the board image, each filled with its own byte.
constexpr int kPeers = 4;
unsigned RangeAddress(int peer) { return 0x8000u + 0x400u * static_cast<unsigned>(peer); }
unsigned RangeFill(int peer) { return 0x11u * static_cast<unsigned>(peer + 1); }

class DaemonClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The daemon makes its own folder inside, with its own permissions.
    ::setenv("VANTREL_DEVICE_DIR", DeviceDir().c_str(), 1);
  }
  void TearDown() override { StopDaemon(SIGTERM); }

  fs::path DeviceDir() const { return daemon_.DeviceDir(); }

  void StartDaemon(std::vector<std::string> extra = {}) {
    daemon_.Options().arguments = std::move(extra);
    ASSERT_TRUE(daemon_.Start()) << daemon_.Log();
  }
  void StopDaemon(int signal) { daemon_.Stop(signal); }

  // Fills each peer's range, then runs the peers at once; their exit codes.
  std::vector<int> RunSramPeers(int reads) {
    VantrelUSB board;
    EXPECT_NE(board.init(0), 0);
    for (int peer = 0; peer < kPeers; ++peer) {
      std::vector<unsigned char> fill(62, static_cast<unsigned char>(RangeFill(peer)));
      EXPECT_NE(board.WriteSRAM(static_cast<unsigned short>(RangeAddress(peer)), fill.data(), 62),
                0);
    }
    board.close();
    std::vector<pid_t> peers;
    for (int peer = 0; peer < kPeers; ++peer)
      peers.push_back(Spawn({BOARD_PEER_PATH, "sram", std::to_string(RangeAddress(peer)),
                             std::to_string(RangeFill(peer)), std::to_string(reads)}));
    std::vector<int> results;
    for (pid_t peer : peers) results.push_back(peer > 0 ? Wait(peer) : -1);
    return results;
  }

  vantrel::testsupport::SimDaemon daemon_;
};

TEST_F(DaemonClientTest, ProcessesReadingOneChannelNeverGetAnotherRangesData) {
  StartDaemon();
  EXPECT_EQ(RunSramPeers(2000), std::vector<int>(kPeers, 0))
      << "0 clean, 3 foreign data, 4 a failed read";
}

TEST_F(DaemonClientTest, WithoutTheChannelLockRepliesCross) {
  // The same peers against a daemon whose exchanges may interleave: some
  // command's reply goes to another process (3), or is taken away from its
  // own (4). This is what the lock in the daemon prevents.
  StartDaemon({"--unlocked-exchanges"});
  const std::vector<int> results = RunSramPeers(20000);
  int crossed = 0;
  for (int result : results) {
    EXPECT_NE(result, 1) << "a peer could not connect";
    if (result == 3 || result == 4) ++crossed;
  }
  EXPECT_GT(crossed, 0);
}

TEST_F(DaemonClientTest, VanishedDaemonFailsEveryExchangeAndInitReconnects) {
  // A SIGPIPE would end this process: the library must never raise one.
  ::signal(SIGPIPE, SIG_DFL);
  StartDaemon();
  VantrelUSB board;
  ASSERT_NE(board.init(0), 0);
  unsigned char inputs[5];
  ASSERT_NE(board.GetInputs(inputs), 0);

  StopDaemon(SIGKILL);  // its socket file stays behind
  auto calls = std::async(std::launch::async, [&board] {
    std::vector<std::pair<int, int>> results;
    unsigned char bytes[62];
    for (int i = 0; i < 5; ++i) {
      board.ClearErrors();
      const int result =
          i % 2 ? board.ReadSRAM(0x8000, bytes, sizeof bytes) : board.GetInputs(bytes);
      results.emplace_back(result, static_cast<int>(board.GetLastError()));
    }
    return results;
  });
  ASSERT_EQ(calls.wait_for(20s), std::future_status::ready) << "an exchange hangs";
  for (const auto& [result, error] : calls.get()) {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, 4);
  }
  EXPECT_EQ(board.init(0), 0);  // nobody serves the socket
  EXPECT_EQ(board.GetLastError(), 0);

  StartDaemon();
  ASSERT_NE(board.init(0), 0);
  EXPECT_NE(board.GetInputs(inputs), 0);
  EXPECT_EQ(board.close(), 1);
}

TEST_F(DaemonClientTest, StoppedDaemonFailsTheExchangeInTimeAndDropsTheConnection) {
  StartDaemon();
  // Short, yet long enough for every exchange of init (the image download
  // among them) on a loaded machine.
  ::setenv("VANTREL_REPLY_TIMEOUT_MS", "2000", 1);
  VantrelUSB board;
  const bool connected = board.init(0) != 0;
  ::unsetenv("VANTREL_REPLY_TIMEOUT_MS");
  ASSERT_TRUE(connected);
  std::vector<unsigned char> fill(62, 0x6C), bytes(62, 0);
  ASSERT_NE(board.WriteSRAM(0x9000, fill.data(), 62), 0);

  // Stopped for certain before the request goes out.
  const pid_t daemon = daemon_.Pid();
  ::kill(daemon, SIGSTOP);
  struct Resume {
    pid_t pid;
    ~Resume() { ::kill(pid, SIGCONT); }
  } resume{daemon};  // whatever fails below, TearDown can still end it
  int status = 0;
  ASSERT_EQ(::waitpid(daemon, &status, WUNTRACED), daemon);
  ASSERT_TRUE(WIFSTOPPED(status));
  auto stalled = std::async(std::launch::async, [&board] {
    unsigned char inputs[62];
    const int result = board.GetInputs(inputs);
    return std::make_pair(result, static_cast<int>(board.GetLastError()));
  });
  const bool answered = stalled.wait_for(20s) == std::future_status::ready;
  ::kill(daemon, SIGCONT);
  ASSERT_TRUE(answered) << "the exchange waits for ever on a stopped daemon";
  EXPECT_EQ(stalled.get(), std::make_pair(0, 4));

  // The daemon goes on and answers the old request: that reply must not be
  // taken for the next one's. The connection is gone instead.
  board.ClearErrors();
  EXPECT_EQ(board.ReadSRAM(0x9000, bytes.data(), 62), 0);
  EXPECT_EQ(board.GetLastError(), USB_DEVICE_WRITE_ERROR);
  EXPECT_EQ(board.close(), 1);
  ASSERT_NE(board.init(0), 0);
  ASSERT_NE(board.ReadSRAM(0x9000, bytes.data(), 62), 0);
  EXPECT_EQ(bytes, fill);
}

// Polls `condition` until it holds or the tests' wait limit passes.
template <typename Condition>
bool WaitUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + vantrel::testsupport::kWaitLimit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Lines of a file that contain `text`.
int CountLines(const fs::path& file, const std::string& text) {
  std::ifstream in(file);
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find(text) != std::string::npos) ++count;
  return count;
}

TEST_F(DaemonClientTest, ProcessKilledInTheEepromProbeLeavesTheBoardsGeometryRight) {
  const fs::path trace = daemon_.Folder() / "trace";
  StartDaemon({"--eeprom-bytes", "2048", "--trace", trace.string()});
  VantrelUSB survivor;  // connected before: slot 0 records 2 KiB at 0x50
  ASSERT_NE(survivor.init(0), 0);
  std::uint8_t* record = vantrel::shared::Record(vantrel::shared::State().eeproms,
                                                 vantrel::shared::kEepromConfigCopySize, 0);
  // Another process probes, and its first read gets no answer: it sits in the
  // probe, holding the EEPROM lock, the board on the two-byte trial geometry.
  const std::string trial = "ch=2 out=0340027FFF51 ";
  const int trialsBefore = CountLines(trace, trial);
  ASSERT_EQ(vantrel::test::Console(daemon_.ConsoleSocket(), {"fault", "2", "05", "noreply"}), "");
  vantrel::testsupport::ChildProcess prober({BOARD_PEER_PATH, "init"});
  auto mark = [record] { return std::atomic_ref<std::uint8_t>(record[7]).load() != 0; };
  ASSERT_TRUE(WaitUntil([&] { return mark() && CountLines(trace, trial) > trialsBefore; }))
      << prober.Stderr();
  prober.Signal(SIGKILL);
  EXPECT_EQ(prober.Wait(), -SIGKILL);
  ASSERT_EQ(vantrel::test::Console(daemon_.ConsoleSocket(), {"fault", "2", "05", "none"}), "");

  // The survivor takes the lock the prober left and puts the board right.
  const std::string slotGeometry = "ch=2 out=03100107FF50 in=0300";
  const int configuredBefore = CountLines(trace, slotGeometry);
  std::vector<unsigned char> data(300), back(300);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 3 + 1);
  for (int round = 0; round < 3; ++round) {
    const auto address = static_cast<unsigned short>(200 + 500 * round);
    ASSERT_NE(survivor.WriteEEPROM(address, data.data(), 300), 0) << survivor.GetLastError();
    ASSERT_NE(survivor.ReadEEPROM(address, back.data(), 300), 0) << survivor.GetLastError();
    EXPECT_EQ(back, data);
  }
  EXPECT_FALSE(mark());
  EXPECT_EQ(CountLines(trace, slotGeometry), configuredBefore + 1) << "repaired once";
}

TEST_F(DaemonClientTest, ConnectionOverTheBoardsLimitFailsInitAndSaysWhy) {
  StartDaemon({"--max-connections-per-board", "1"});
  VantrelUSB holder;
  ASSERT_NE(holder.init(0), 0);
  vantrel::testsupport::ChildProcess refused({BOARD_PEER_PATH, "connect"});
  EXPECT_EQ(refused.Wait(), 4);
  EXPECT_EQ(refused.Stdout(), "error 5\n");  // USB_DEVICE_READ_ERROR
  const std::string& said = refused.Stderr();
  const std::string line = "vantrelusb: board 0 refused the connection: the board serves";
  EXPECT_NE(said.find(line), std::string::npos) << said;
  EXPECT_NE(said.find("the daemon's limit per board"), std::string::npos) << said;
  EXPECT_NE(said.find("(" + (DeviceDir() / "ezusb-0").string() + ")"), std::string::npos) << said;
  EXPECT_EQ(said.find(line), said.rfind(line)) << "said more than once: " << said;
  // The connection that was there goes on.
  unsigned char inputs[62];
  EXPECT_NE(holder.GetInputs(inputs), 0);
}

// Runs `client` in a child process as nobody (uid 65534) with group `gid`
// and the supplementary `groups`; its exit status, and what it wrote on
// standard error.
std::pair<int, std::string> RunAsNobody(gid_t gid, const std::vector<gid_t>& groups,
                                        int (*client)()) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {-1, "pipe"};
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipeFds[1], STDERR_FILENO);
    ::close(pipeFds[0]);
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(gid) != 0 ||
        ::setuid(65534) != 0)
      ::_exit(90);
    ::_exit(client());
  }
  ::close(pipeFds[1]);
  std::string text;
  char chunk[512];
  for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;)
    text.append(chunk, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  return {Wait(child), text};
}

// 0 when init failed with no error code, 1 when it connected, 2 otherwise.
int InitBoardZero() {
  VantrelUSB board;
  const int connected = board.init(0);
  if (connected) return 1;
  return board.GetLastError() == 0 ? 0 : 2;
}

TEST_F(DaemonClientTest, OnlyMembersOfTheDaemonsGroupGetIn) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root, to run a client as another user";
  const group* nogroup = ::getgrgid(65534);
  ASSERT_NE(nogroup, nullptr);
  const std::string groupName = nogroup->gr_name;
  StartDaemon({"--group", groupName});
  struct stat st {};
  ASSERT_EQ(::stat(DeviceDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0770u);
  ASSERT_EQ(::stat((DeviceDir() / "ezusb-0").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);

  // The parent of the device folder must let nobody through.
  fs::permissions(daemon_.Folder(), fs::perms(0755), fs::perm_options::replace);
  const auto [outsider, outsiderText] = RunAsNobody(1, {}, InitBoardZero);
  EXPECT_EQ(outsider, 0) << outsiderText;
  EXPECT_NE(outsiderText.find("no access"), std::string::npos) << outsiderText;
  // The group named is the one that owns the board's socket.
  EXPECT_NE(outsiderText.find("usermod -aG " + groupName + " $USER"), std::string::npos)
      << outsiderText;

  // A member of the group (as after usermod -aG) gets in.
  const auto [member, memberText] = RunAsNobody(1, {65534}, InitBoardZero);
  EXPECT_EQ(member, 1) << memberText;
}

TEST_F(DaemonClientTest, WithoutABoardGroupAnOutsiderIsToldHowToGiveTheDaemonOne) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root, to run a client as another user";
  // A simulated daemon keeps its own group: root's.
  StartDaemon();
  struct stat st {};
  ASSERT_EQ(::stat(DeviceDir().c_str(), &st), 0);
  ASSERT_EQ(st.st_gid, 0u);
  fs::permissions(daemon_.Folder(), fs::perms(0755), fs::perm_options::replace);
  const auto [outsider, said] = RunAsNobody(1, {}, InitBoardZero);
  EXPECT_EQ(outsider, 0) << said;
  EXPECT_NE(said.find("the daemon was started without a board group"), std::string::npos) << said;
  EXPECT_NE(said.find("--group vantrel"), std::string::npos) << said;
  EXPECT_EQ(said.find("usermod -aG root"), std::string::npos) << said;
}

// The shared records and locks of a board are for the board group alone,
// like the daemon's sockets: anybody else could hold a lock for ever, or
// widen the EEPROM range check by writing the copy.
class SharedObjectAccessTest : public DaemonClientTest {
 protected:
  void SetUp() override {
    DaemonClientTest::SetUp();
    if (::getuid() != 0) GTEST_SKIP() << "needs root, to run a client as another user";
    ns_ = "k27-test-access-" + std::to_string(::getpid());
  }
  void TearDown() override {
    for (const std::string& name : ObjectNames()) ::shm_unlink(("/" + name).c_str());
    DaemonClientTest::TearDown();
  }

  std::vector<std::string> ObjectNames() const {
    std::vector<std::string> names = {ns_ + ".K27SharedMemory"};
    for (int lock = 0; lock <= 5; ++lock)
      names.push_back(ns_ + ".K27Mutex_SEM_" + std::to_string(lock));
    return names;
  }

  // `board_peer init` in a fresh process of the namespace, as `uid` with
  // group `gid` and the supplementary `groups`: exit status and standard error.
  std::pair<int, std::string> PeerInit(uid_t uid, gid_t gid, const std::vector<gid_t>& groups) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {-1, "pipe"};
    const std::string nsVariable = "VANTREL_SHARED_NAMESPACE=" + ns_;
    const std::string dirVariable = "VANTREL_DEVICE_DIR=" + DeviceDir().string();
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(pipeFds[1], STDERR_FILENO);
      ::close(pipeFds[0]);
      if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(gid) != 0 ||
          ::setuid(uid) != 0)
        ::_exit(90);
      char* argv[] = {const_cast<char*>(BOARD_PEER_PATH), const_cast<char*>("init"), nullptr};
      char* envp[] = {const_cast<char*>(nsVariable.c_str()), const_cast<char*>(dirVariable.c_str()),
                      nullptr};
      ::execve(BOARD_PEER_PATH, argv, envp);
      ::_exit(91);
    }
    ::close(pipeFds[1]);
    std::string text;
    char chunk[512];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;)
      text.append(chunk, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    return {Wait(child), text};
  }

  std::string ns_;
};

TEST_F(SharedObjectAccessTest, OnlyTheBoardGroupCanOpenOrMakeTheSharedObjects) {
  StartDaemon({"--group", ::getgrgid(65534)->gr_name});
  fs::permissions(daemon_.Folder(), fs::perms(0755), fs::perm_options::replace);

  // Somebody outside the group (user daemon) cannot make them either:
  // nothing is left.
  const auto [first, firstText] = PeerInit(1, 1, {});
  EXPECT_EQ(first, 1) << firstText;
  EXPECT_NE(firstText.find("no access to the shared board state"), std::string::npos) << firstText;
  for (const std::string& name : ObjectNames())
    EXPECT_FALSE(fs::exists("/dev/shm/" + name)) << name;

  // Made by a member (user nobody), they belong to the group, for it alone.
  const auto [member, memberText] = PeerInit(65534, 1, {65534});
  EXPECT_EQ(member, 0) << memberText;
  for (const std::string& name : ObjectNames()) {
    struct stat st {};
    ASSERT_EQ(::stat(("/dev/shm/" + name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 07777, 0660u) << name;
    EXPECT_EQ(st.st_gid, 65534u) << name;
  }

  // Once they exist, an outsider still cannot open them, and is told why.
  const auto [outsider, outsiderText] = PeerInit(1, 1, {});
  EXPECT_EQ(outsider, 1) << outsiderText;
  EXPECT_NE(outsiderText.find("usermod -aG nogroup"), std::string::npos) << outsiderText;
  const int fd = [&] {
    const pid_t child = ::fork();
    if (child == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(1) != 0 || ::setuid(1) != 0) ::_exit(90);
      const int opened = ::shm_open(("/" + ns_ + ".K27Mutex_SEM_3").c_str(), O_RDWR, 0);
      ::_exit(opened >= 0 ? 0 : errno == EACCES ? 13 : 1);
    }
    return Wait(child);
  }();
  EXPECT_EQ(fd, 13) << "an outsider opened the EEPROM lock";
}

TEST_F(SharedObjectAccessTest, AMembersInitRefusesSharedObjectsAStrangerMadeFirst) {
  StartDaemon({"--group", ::getgrgid(65534)->gr_name});
  fs::permissions(daemon_.Folder(), fs::perms(0755), fs::perm_options::replace);
  // Made first by a user outside the group (uid 424242, no account), open to
  // everybody or to its maker only.
  for (const auto& [name, mode] : std::vector<std::pair<std::string, mode_t>>{
           {".K27SharedMemory", 0600}, {".K27Mutex_SEM_3", 0666}}) {
    SCOPED_TRACE(name);
    const std::string object = "/" + ns_ + name;
    const pid_t child = ::fork();
    if (child == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(424242) != 0 || ::setuid(424242) != 0)
        ::_exit(90);
      const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
      ::_exit(fd >= 0 && ::fchmod(fd, mode) == 0 ? 0 : 1);
    }
    ASSERT_EQ(Wait(child), 0);
    const auto [member, said] = PeerInit(65534, 1, {65534});
    // With the objects the member made.
    for (const std::string& made : ObjectNames()) ::shm_unlink(("/" + made).c_str());
    EXPECT_EQ(member, 1) << said;
    EXPECT_NE(said.find("the shared board state is refused: /dev/shm" + object +
                        " belongs to uid 424242"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("sudo rm /dev/shm" + object), std::string::npos) << said;
    // A member is not told to join the group it is in.
    EXPECT_EQ(said.find("usermod"), std::string::npos) << said;
  }
}

}  // namespace
