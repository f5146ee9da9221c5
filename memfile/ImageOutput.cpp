#include "ImageOutput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "MemoryFile.h"

namespace vantrel::memfile {

namespace {

std::string KindOf(mode_t mode) {
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISDIR(mode)) return "a folder";
  return "not a regular file";
}

[[noreturn]] void Fail(const std::string& path, int error, const std::string& after = "") {
  throw WriteError("cannot write " + path + ": " + std::strerror(error) + after);
}

// Writes all of `content` at `offset` (or at the descriptor's position when
// `offset` is negative); false with errno set when the system refuses.
bool WriteAll(int fd, std::string_view content, off_t offset) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = offset < 0 ? ::write(fd, content.data() + done, content.size() - done)
                                 : ::pwrite(fd, content.data() + done, content.size() - done,
                                            offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // Standard output may have been left non-blocking by whoever holds it.
      pollfd ready{fd, POLLOUT, 0};
      ::poll(&ready, 1, -1);
      continue;
    }
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ImageOutput::ImageOutput(std::string path) : path_(std::move(path)) {
  if (IsStandardOutput()) return;
  struct stat target {};
  if (::stat(path_.c_str(), &target) == 0) {
    struct stat link {};
    const bool viaLink = ::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    if (!S_ISREG(target.st_mode))
      throw WriteError(path_ + " is " + (viaLink ? "a symbolic link to " : "") +
                       KindOf(target.st_mode) +
                       ", not a regular file: a dump goes into a regular file, or to standard "
                       "output as -");
    // Non-blocking, so that a FIFO put in its place meanwhile cannot hang the open.
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) Fail(path_, errno, " (left as it is)");
    struct stat opened {};
    if (::fstat(fd_, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      ::close(fd_);
      fd_ = -1;
      throw WriteError(path_ + " changed into something that is not a regular file; not written");
    }
    return;
  }
  if (errno != ENOENT) Fail(path_, errno);
  struct stat link {};
  if (::lstat(path_.c_str(), &link) == 0)
    throw WriteError(path_ + " is a symbolic link to nothing; a dump does not follow it");
  std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  if (folder.empty()) folder = ".";
  struct stat folderStatus {};
  if (::stat(folder.c_str(), &folderStatus) != 0 || !S_ISDIR(folderStatus.st_mode))
    throw WriteError("cannot create " + path_ + ": no folder " + folder.string());
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    throw WriteError("cannot create " + path_ + ": " + std::strerror(errno));
}

ImageOutput::~ImageOutput() {
  if (fd_ >= 0) ::close(fd_);
}

void ImageOutput::Write(std::string_view content) {
  if (IsStandardOutput()) {
    std::fflush(stdout);
    if (!WriteAll(STDOUT_FILENO, content, -1))
      throw WriteError(std::string("cannot write to standard output: ") + std::strerror(errno));
    return;
  }
  if (fd_ >= 0)
    WriteExisting(content);
  else
    WriteNew(content);
}

void ImageOutput::WriteExisting(std::string_view content) {
  const int fd = fd_;
  fd_ = -1;
  const auto size = static_cast<off_t>(content.size());
  // The space first: a disk or quota that cannot hold the image refuses it
  // here, while the file still holds what it held.
  if (size > 0 && ::fallocate(fd, 0, 0, size) != 0 &&
      (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
    const int error = errno;
    ::close(fd);
    Fail(path_, error, " (left as it is)");
  }
  if (!WriteAll(fd, content, 0) || ::ftruncate(fd, size) != 0 || ::fsync(fd) != 0) {
    const int error = errno;
    ::close(fd);
    Fail(path_, error, " (the file is left incomplete)");
  }
  if (::close(fd) != 0) Fail(path_, errno, " (the file may be incomplete)");
}

void ImageOutput::WriteNew(std::string_view content) {
  const int fd =
      ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0666);
  if (fd < 0) {
    if (errno == EEXIST)
      throw WriteError(path_ + " appeared while the memory was read; it is left as it is");
    Fail(path_, errno);
  }
  const bool written = WriteAll(fd, content, -1) && ::fsync(fd) == 0;
  const int error = errno;
  if (::close(fd) != 0 || !written) {
    const int reason = written ? errno : error;
    ::unlink(path_.c_str());
    Fail(path_, reason, " (nothing is left behind)");
  }
}

}  // namespace vantrel::memfile
