// Several processes sharing the state: each test's peers run under a
// namespace of their own.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PeerProcess.h"

namespace {

using vantrel::shared::test::Peer;

class SharedProcesses : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& path : directories_) rmdir(path.c_str());
    vantrel::shared::test::UnlinkNamespace(ns_);
  }
  // Makes the shared memory object `name` impossible to open.
  void Block(const std::string& name) {
    const std::string path = "/dev/shm/" + ns_ + "." + name;
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path;
    directories_.push_back(path);
  }
  // The heap as a peer prints it, one line per block.
  static std::vector<std::string> Heap(Peer& peer) {
    std::vector<std::string> lines;
    for (std::string line = peer.Line(); line != "end"; line = peer.Line()) {
      lines.push_back(line);
      if (line.front() == '<') break;
    }
    return lines;
  }

  const std::string ns_ = vantrel::shared::test::FreshNamespace();
  std::vector<std::string> directories_;
};

TEST_F(SharedProcesses, TwoProcessesSeeTheSameOutputCopies) {
  Peer first(ns_, {"write:1:0:165", "wait", "read:2:0"});
  ASSERT_EQ(first.Line(), "wrote");
  ASSERT_EQ(first.Line(), "waiting");
  Peer second(ns_, {"read:1:0", "write:2:0:90"});
  EXPECT_EQ(second.Line(), "value 165");
  EXPECT_EQ(second.Line(), "wrote");
  EXPECT_EQ(second.Line(), "done");
  EXPECT_EQ(second.Finish(), 0);
  first.Send();
  EXPECT_EQ(first.Line(), "value 90");
  EXPECT_EQ(first.Finish(), 0);
}

TEST_F(SharedProcesses, SecondProcessAttachesToTheExistingBlocks) {
  Peer first(ns_, {"wait"});
  ASSERT_EQ(first.Line(), "waiting");
  Peer second(ns_, {"info", "objects"});
  const std::vector<std::string> expected = {
      "heap 526 1 K27SharedMemory K27Mutex_SEM_0 10 65536",
      "block 0 OutOnCopies 2 2",
      "block 2 OutOffCopies 2 2",
      "block 4 K27EEPROMS 3 2",
      "block 7 K27BUFFERS 10 2",
      "block 17 - 509 0",
  };
  EXPECT_EQ(Heap(second), expected);
  EXPECT_EQ(second.Line(), "object 1 128 1");
  EXPECT_EQ(second.Line(), "object 2 376 1");
  EXPECT_EQ(second.Line(), "object 3 624 1");
  EXPECT_EQ(second.Line(), "object 4 996 1");
  EXPECT_EQ(second.Finish(), 0);
  first.Send();
  EXPECT_EQ(first.Finish(), 0);
}

TEST_F(SharedProcesses, NextProcessAfterTheLastOneStartsFromZeros) {
  {
    Peer leaving(ns_, {"write:1:0:165", "write:3:0:7"});
    EXPECT_EQ(leaving.Line(), "wrote");
    EXPECT_EQ(leaving.Line(), "wrote");
    EXPECT_EQ(leaving.Finish(), 0);
  }
  {
    Peer next(ns_, {"read:1:0", "read:3:0", "write:4:5:33", "wait"});
    EXPECT_EQ(next.Line(), "value 0");
    EXPECT_EQ(next.Line(), "value 0");
    EXPECT_EQ(next.Line(), "wrote");
    ASSERT_EQ(next.Line(), "waiting");
    // Killed, the last process leaves nothing behind either.
    next.Kill();
  }
  Peer after(ns_, {"read:4:5", "info"});
  EXPECT_EQ(after.Line(), "value 0");
  const std::vector<std::string> heap = Heap(after);
  ASSERT_EQ(heap.size(), 6u);
  EXPECT_EQ(heap[4], "block 7 K27BUFFERS 10 1");
  EXPECT_EQ(after.Finish(), 0);
}

TEST_F(SharedProcesses, DetachingAtUnloadLeavesTheMapping) {
  Peer unloaded(ns_, {"write:1:0:165", "detach", "objects", "locks", "read:1:0", "wait"});
  EXPECT_EQ(unloaded.Line(), "wrote");
  EXPECT_EQ(unloaded.Line(), "detached");
  for (int object = 1; object <= 4; ++object)
    EXPECT_EQ(unloaded.Line(), "object " + std::to_string(object) + " -1 0");
  EXPECT_EQ(unloaded.Line(), "locks 0");
  // Without a block the process works on records of its own.
  EXPECT_EQ(unloaded.Line(), "value 0");
  ASSERT_EQ(unloaded.Line(), "waiting");
  // Still running but detached, it no longer keeps the mapping alive.
  Peer next(ns_, {"read:1:0"});
  EXPECT_EQ(next.Line(), "value 0");
  EXPECT_EQ(next.Finish(), 0);
  unloaded.Send();
  EXPECT_EQ(unloaded.Finish(), 0);
}

TEST_F(SharedProcesses, LockIsRecursiveForItsOwnerAndExclusiveForOthers) {
  Peer owner(ns_, {"lock:3", "lock:3", "unlock:3", "wait", "unlock:3", "wait"});
  ASSERT_EQ(owner.Line(), "locked 3");
  ASSERT_EQ(owner.Line(), "locked 3");
  ASSERT_EQ(owner.Line(), "unlocked 3");
  ASSERT_EQ(owner.Line(), "waiting");
  {
    Peer other(ns_, {"trylock:3", "trylock:4"});
    EXPECT_EQ(other.Line(), "trylock 3 busy");
    EXPECT_EQ(other.Line(), "trylock 4 got");
    EXPECT_EQ(other.Finish(), 0);
  }
  owner.Send();
  ASSERT_EQ(owner.Line(), "unlocked 3");
  ASSERT_EQ(owner.Line(), "waiting");
  {
    Peer other(ns_, {"trylock:3"});
    EXPECT_EQ(other.Line(), "trylock 3 got");
    EXPECT_EQ(other.Finish(), 0);
  }
  owner.Send();
  EXPECT_EQ(owner.Finish(), 0);
}

TEST_F(SharedProcesses, LockOfAKilledOwnerPassesToTheNextProcess) {
  Peer owner(ns_, {"write:3:2:9", "lock:3", "wait"});
  ASSERT_EQ(owner.Line(), "wrote");
  ASSERT_EQ(owner.Line(), "locked 3");
  ASSERT_EQ(owner.Line(), "waiting");
  // Keeps the mapping (and the record) alive across the kill.
  Peer keeper(ns_, {"trylock:3", "wait"});
  EXPECT_EQ(keeper.Line(), "trylock 3 busy");
  ASSERT_EQ(keeper.Line(), "waiting");
  Peer waiter(ns_, {"lock:3", "read:3:2", "unlock:3", "wait"});
  owner.Kill();
  EXPECT_EQ(waiter.Line(), "locked 3");
  EXPECT_EQ(waiter.Line(), "value 9");
  EXPECT_EQ(waiter.Line(), "unlocked 3");
  ASSERT_EQ(waiter.Line(), "waiting");
  // Made consistent again, the lock works as before.
  Peer next(ns_, {"trylock:3", "unlock:3", "lock:3"});
  EXPECT_EQ(next.Line(), "trylock 3 got");
  EXPECT_EQ(next.Line(), "unlocked 3");
  EXPECT_EQ(next.Line(), "locked 3");
  EXPECT_EQ(next.Finish(), 0);
  waiter.Send();
  EXPECT_EQ(waiter.Finish(), 0);
  keeper.Send();
  EXPECT_EQ(keeper.Finish(), 0);
}

TEST_F(SharedProcesses, UpdatesUnderTheLockFromTwoProcessesAddUp) {
  constexpr int kRounds = 20000;
  Peer keeper(ns_, {"wait", "read32:3:15"});
  ASSERT_EQ(keeper.Line(), "waiting");
  const std::string count = "count:3:" + std::to_string(kRounds);
  Peer a(ns_, {"wait", count});
  Peer b(ns_, {"wait", count});
  ASSERT_EQ(a.Line(), "waiting");
  ASSERT_EQ(b.Line(), "waiting");
  a.Send();
  b.Send();
  EXPECT_EQ(a.Line(), "counted");
  EXPECT_EQ(b.Line(), "counted");
  EXPECT_EQ(a.Finish(), 0);
  EXPECT_EQ(b.Finish(), 0);
  keeper.Send();
  EXPECT_EQ(keeper.Line(), "value32 " + std::to_string(2 * kRounds));
  EXPECT_EQ(keeper.Finish(), 0);
}

TEST_F(SharedProcesses, UnavailableMappingLeavesObjectsWithoutBlocks) {
  Block("K27SharedMemory");
  Peer peer(ns_, {"objects", "write:1:0:165", "read:1:0", "read:2:0", "write:4:99:1", "lock:3",
                  "unlock:3", "info"});
  for (int object = 1; object <= 4; ++object)
    EXPECT_EQ(peer.Line(), "object " + std::to_string(object) + " -1 1");
  EXPECT_EQ(peer.Line(), "wrote");
  // The process keeps records of its own, one set per object.
  EXPECT_EQ(peer.Line(), "value 165");
  EXPECT_EQ(peer.Line(), "value 0");
  EXPECT_EQ(peer.Line(), "wrote");
  EXPECT_EQ(peer.Line(), "locked 3");
  EXPECT_EQ(peer.Line(), "unlocked 3");
  EXPECT_EQ(peer.Line(), "heap none");
  EXPECT_EQ(peer.Line(), "end");
  EXPECT_EQ(peer.Line(), "done");
  EXPECT_EQ(peer.Finish(), 0);
}

TEST_F(SharedProcesses, UnavailableLockLeavesRecordsUnguarded) {
  Block("K27Mutex_SEM_3");
  Peer peer(ns_, {"objects", "lock:3", "lock:3", "unlock:3", "write:3:0:5", "read:3:0"});
  EXPECT_EQ(peer.Line(), "object 1 128 1");
  EXPECT_EQ(peer.Line(), "object 2 376 1");
  EXPECT_EQ(peer.Line(), "object 3 624 0");
  EXPECT_EQ(peer.Line(), "object 4 996 1");
  EXPECT_EQ(peer.Line(), "locked 3");
  EXPECT_EQ(peer.Line(), "locked 3");
  EXPECT_EQ(peer.Line(), "unlocked 3");
  EXPECT_EQ(peer.Line(), "wrote");
  EXPECT_EQ(peer.Line(), "value 5");
  EXPECT_EQ(peer.Line(), "done");
  EXPECT_EQ(peer.Finish(), 0);
}

}  // namespace
