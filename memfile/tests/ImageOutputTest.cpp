// Where a dump may go: an existing regular file is rewritten in place (its
// inode, mode and links stay), a new one is made as the shell would make it,
// and nothing else is touched: not a device, a FIFO, a link to one, or a file
// the user may not write. A write the disk refuses leaves the old file whole.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "ImageOutput.h"
#include "MemoryFile.h"

namespace fs = std::filesystem;
using vantrel::memfile::ImageOutput;
using vantrel::memfile::WriteError;

namespace {

class ImageOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "image-output-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // Reachable by another user, for the case run as one.
    ::chmod(dir_.c_str(), 0755);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Make(const std::string& name, const std::string& content, mode_t mode) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    ::chmod(path.c_str(), mode);
    return path;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static struct stat StatOf(const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status;
  }
  // The refusal's text, from the check or the write; empty when it was written.
  static std::string Refusal(const fs::path& path, const std::string& content = "image") {
    try {
      ImageOutput output(path.string());
      output.Write(content);
      return "";
    } catch (const WriteError& error) {
      return error.what();
    }
  }
  // Runs `body` in a child process; its exit status (0 when `body` is true).
  static int InChild(const std::function<bool()>& body) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }

  fs::path dir_;
};

TEST_F(ImageOutputTest, AnExistingFileIsRewrittenInPlaceAndKeepsItsModeAndLinks) {
  const fs::path file = Make("eeprom.bin", "the old image, longer than the new", 0600);
  const fs::path link = dir_ / "second-name.bin";
  ASSERT_EQ(::link(file.c_str(), link.c_str()), 0);
  const ino_t inode = StatOf(file).st_ino;

  EXPECT_EQ(Refusal(file, "new"), "");
  EXPECT_EQ(Read(file), "new");
  EXPECT_EQ(Read(link), "new") << "the file was replaced, not rewritten";
  EXPECT_EQ(StatOf(file).st_ino, inode);
  EXPECT_EQ(StatOf(file).st_mode & 07777, 0600u);
  EXPECT_FALSE(fs::exists(dir_ / "eeprom.bin.partial"));

  // Through a symbolic link to it: the file behind the link is written.
  const fs::path symlink = dir_ / "latest.bin";
  fs::create_symlink(file, symlink);
  EXPECT_EQ(Refusal(symlink, "via link"), "");
  EXPECT_TRUE(fs::is_symlink(symlink));
  EXPECT_EQ(Read(file), "via link");
}

TEST_F(ImageOutputTest, ANewFileGetsTheModeTheUmaskLeaves) {
  const mode_t before = ::umask(027);
  const std::string refused = Refusal(dir_ / "new.bin", "fresh");
  ::umask(before);
  EXPECT_EQ(refused, "");
  EXPECT_EQ(Read(dir_ / "new.bin"), "fresh");
  EXPECT_EQ(StatOf(dir_ / "new.bin").st_mode & 07777, 0640u);

  EXPECT_NE(Refusal(dir_ / "no-such-folder" / "new.bin").find("no folder"), std::string::npos);
}

TEST_F(ImageOutputTest, WhatIsNotARegularFileIsRefusedAndLeftAsItIs) {
  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path toFifo = dir_ / "link-to-fifo";
  fs::create_symlink(fifo, toFifo);
  // The system's device only through a link of the test's own.
  const fs::path toNull = dir_ / "link-to-null";
  fs::create_symlink("/dev/null", toNull);
  const fs::path dangling = dir_ / "dangling";
  fs::create_symlink(dir_ / "nothing-here", dangling);

  EXPECT_NE(Refusal(fifo).find(" is a FIFO, not a regular file"), std::string::npos)
      << Refusal(fifo);
  EXPECT_NE(Refusal(toFifo).find(" is a symbolic link to a FIFO"), std::string::npos);
  EXPECT_NE(Refusal(toNull).find(" is a symbolic link to a character device"), std::string::npos);
  EXPECT_NE(Refusal(dir_).find(" is a folder"), std::string::npos);
  EXPECT_NE(Refusal(dangling).find("symbolic link to nothing"), std::string::npos);

  EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
  EXPECT_TRUE(fs::is_symlink(toFifo));
  EXPECT_TRUE(fs::is_symlink(toNull));
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_FALSE(fs::exists(dir_ / "nothing-here"));
}

TEST_F(ImageOutputTest, AFileTheUserMayNotWriteIsLeftAsItIs) {
  // Another user's file for root (checked as nobody), one's own read-only
  // file for anybody else.
  const fs::path file = Make("theirs.bin", "theirs", geteuid() == 0 ? 0644 : 0444);
  const int status = InChild([&] {
    if (geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return false;
    return Refusal(file).find("Permission denied") != std::string::npos;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Read(file), "theirs");
  EXPECT_EQ(StatOf(file).st_mode & 07777, geteuid() == 0 ? 0644u : 0444u);
}

TEST_F(ImageOutputTest, AWriteTheDiskRefusesKeepsTheOldFileAndLeavesNoNewOne) {
  const fs::path file = Make("kept.bin", "old", 0644);
  // A file size limit stands in for a full disk.
  const int status = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    const std::string big(4096, 'x');
    return Refusal(file, big).find("(left as it is)") != std::string::npos &&
           !Refusal(dir_ / "new.bin", big).empty();
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Read(file), "old");
  EXPECT_FALSE(fs::exists(dir_ / "new.bin"));
}

}  // namespace
