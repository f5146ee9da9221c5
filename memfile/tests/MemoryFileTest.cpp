// Memory images on disk: what is written reads back the same, and a bad file
// is refused whole, naming the line of the bad record.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "MemoryFile.h"

namespace fs = std::filesystem;
using vantrel::memfile::FileError;
using vantrel::memfile::FileFormat;

namespace {

class MemoryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "memfile-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The line that the refusal of `content` names; -1 when it is accepted.
  int RefusedLine(const std::string& content) {
    const fs::path path = Write("bad.hex", content);
    try {
      vantrel::memfile::ReadImageFile(path.string(), FileFormat::kIntelHex, 0);
    } catch (const FileError& error) {
      EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos);
      return error.line();
    }
    return -1;
  }

  fs::path dir_;
};

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

TEST(MemoryFileFormat, ByExtension) {
  EXPECT_EQ(vantrel::memfile::FormatByExtension("a.hex"), FileFormat::kIntelHex);
  EXPECT_EQ(vantrel::memfile::FormatByExtension("A.HEX"), FileFormat::kIntelHex);
  EXPECT_EQ(vantrel::memfile::FormatByExtension("dir/a.ihex"), FileFormat::kIntelHex);
  EXPECT_EQ(vantrel::memfile::FormatByExtension("a.ihx"), FileFormat::kIntelHex);
  EXPECT_EQ(vantrel::memfile::FormatByExtension("a.bin"), FileFormat::kBinary);
  EXPECT_EQ(vantrel::memfile::FormatByExtension("hex"), FileFormat::kBinary);
  EXPECT_EQ(vantrel::memfile::FormatByExtension("a.hex.bak"), FileFormat::kBinary);
}

TEST_F(MemoryFileTest, IntelHexRoundTripsAndStopsAtTheAddressSpace) {
  // 40 bytes ending at 0xFFFF: records of 16, 16 and 8, then the end record.
  const auto bytes = Pattern(40);
  const fs::path path = dir_ / "top.hex";
  vantrel::memfile::WriteImageFile(path.string(), FileFormat::kIntelHex, 0xFFD8, bytes);
  const std::string text = Read(path);
  EXPECT_EQ(text.substr(0, 9), ":10FFD800");
  EXPECT_EQ(text.substr(text.size() - 12), ":00000001FF\n");
  EXPECT_FALSE(fs::exists(path.string() + ".partial"));

  const auto segments = vantrel::memfile::ReadImageFile(path.string(), FileFormat::kIntelHex, 0);
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0].address, 0xFFD8u);
  EXPECT_EQ(segments[0].bytes, bytes);
}

TEST_F(MemoryFileTest, RawRoundTripsAtTheGivenAddress) {
  const auto bytes = Pattern(1000);
  const fs::path path = dir_ / "image.bin";
  vantrel::memfile::WriteImageFile(path.string(), FileFormat::kBinary, 0x1234, bytes);
  EXPECT_EQ(fs::file_size(path), 1000u);
  const auto segments = vantrel::memfile::ReadImageFile(path.string(), FileFormat::kBinary, 0x40);
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0].address, 0x40u);
  EXPECT_EQ(segments[0].bytes, bytes);
  EXPECT_TRUE(
      vantrel::memfile::ReadImageFile(Write("empty.bin", "").string(), FileFormat::kBinary, 0)
          .empty());
}

// The diagnostics program's exports: a file kept private stays private and
// the same file, and a FIFO is refused rather than replaced.
TEST_F(MemoryFileTest, ExportsRewriteAFileInPlaceAndNeverReplaceWhatIsNotOne) {
  const fs::path path = Write("private.bin", "old");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  vantrel::memfile::WriteImageFile(path.string(), FileFormat::kBinary, 0, Pattern(64));
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 0777, 0600u);
  EXPECT_EQ(fs::file_size(path), 64u);

  const fs::path fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(vantrel::memfile::WriteImageFile(fifo.string(), FileFormat::kBinary, 0, Pattern(8)),
               vantrel::memfile::WriteError);
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(MemoryFileTest, IntelHexGapsGiveSegmentsInAddressOrder) {
  const auto path = Write("gaps.hex",
                          ":020100001122CA\r\n"
                          ":020000040000FA\n"
                          "\n"
                          ":01002000AA35\n"
                          ":00000001FF\n");
  const auto segments = vantrel::memfile::ReadImageFile(path.string(), FileFormat::kIntelHex, 0);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].address, 0x20u);
  EXPECT_EQ(segments[0].bytes, std::vector<std::uint8_t>{0xAA});
  EXPECT_EQ(segments[1].address, 0x100u);
  EXPECT_EQ(segments[1].bytes, (std::vector<std::uint8_t>{0x11, 0x22}));
}

TEST_F(MemoryFileTest, CorruptIntelHexNamesTheLine) {
  const std::string good = ":0401000001020304F1\n";
  EXPECT_EQ(RefusedLine(good + ":0401000001020304F2\n:00000001FF\n"), 2);  // checksum
  EXPECT_EQ(RefusedLine(good + ":0501000001020304F2\n:00000001FF\n"), 2);  // length
  EXPECT_EQ(RefusedLine(good + good + ":04010000010203G4F2\n:00000001FF\n"), 3);
  EXPECT_EQ(RefusedLine("0401000001020304F1\n:00000001FF\n"), 1);           // no colon
  EXPECT_EQ(RefusedLine(good + ":00000001FF\n" + good), 3);                 // after the end
  EXPECT_EQ(RefusedLine(":020000040001F9\n" + good + ":00000001FF\n"), 2);  // past 0xFFFF
  EXPECT_EQ(RefusedLine(good + ":0101000009F5\n:00000001FF\n"), 2);         // a second value
  EXPECT_EQ(RefusedLine(good + ":0401000006F5\n:00000001FF\n"), 2);         // unknown type
  EXPECT_EQ(RefusedLine(good), 2);  // cut short: the end record is missing after line 1
  EXPECT_EQ(RefusedLine(good + ":00000001FF\n"), -1);
}

TEST_F(MemoryFileTest, UnreadableAndUnwritableFilesAreReported) {
  EXPECT_THROW(
      vantrel::memfile::ReadImageFile((dir_ / "none.bin").string(), FileFormat::kBinary, 0),
      FileError);
  EXPECT_THROW(vantrel::memfile::WriteImageFile((dir_ / "no" / "such.bin").string(),
                                                FileFormat::kBinary, 0, Pattern(4)),
               vantrel::memfile::WriteError);
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

}  // namespace
