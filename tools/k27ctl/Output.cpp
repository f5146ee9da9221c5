#include "Output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vantrel::ctl {

namespace {

bool standardOutputBroken = false;

[[noreturn]] void StandardOutputFailed(int error) {
  standardOutputBroken = true;
  throw OutputFailure(std::string("cannot write to standard output: ") + std::strerror(error));
}

// The error of a failed stdio call on standard output; EIO when it set none.
int LastError() { return errno != 0 ? errno : EIO; }

void Put(const void* bytes, std::size_t count) {
  if (standardOutputBroken) throw OutputFailure("standard output failed before");
  errno = 0;
  if (count > 0 && std::fwrite(bytes, 1, count, stdout) != count) StandardOutputFailed(LastError());
}

void Flush() {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) StandardOutputFailed(LastError());
}

}  // namespace

void GuardStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

void PrintLine(std::string_view line) {
  Put(line.data(), line.size());
  Put("\n", 1);
  Flush();
}

void PrintBytes(const void* bytes, std::size_t count) {
  Put(bytes, count);
  Flush();
}

void FinishStandardOutput() {
  if (standardOutputBroken) return;
  Flush();
  errno = 0;
  // The close may report what the last write could not (a full disk on NFS).
  if (std::fclose(stdout) != 0) StandardOutputFailed(LastError());
  standardOutputBroken = true;  // closed: nothing more goes there
}

bool StandardOutputWorks() { return !standardOutputBroken; }

bool IsStandardStream(const std::string& path) { return path == "-"; }

std::vector<std::uint8_t> ReadInput(const std::string& path) {
  const bool standard = IsStandardStream(path);
  const std::string name = standard ? "standard input" : path;
  const int fd = standard ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw InputFailure("cannot read " + name + ": " + std::strerror(errno));
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      if (!standard) ::close(fd);
      throw InputFailure("cannot read " + name + ": " + std::strerror(error));
    }
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  if (!standard) ::close(fd);
  return bytes;
}

void RequireReadable(const std::string& path) {
  if (IsStandardStream(path)) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw InputFailure("cannot read " + path + ": " + std::strerror(errno));
  ::close(fd);
}

void WriteAll(int fd, const void* bytes, std::size_t count, const std::string& what) {
  if (fd == STDOUT_FILENO) Flush();  // what stdio holds goes first
  const auto* at = static_cast<const std::uint8_t*>(bytes);
  while (count > 0) {
    const ssize_t written = ::write(fd, at, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : EIO;
      if (fd == STDOUT_FILENO) standardOutputBroken = true;
      throw OutputFailure("cannot write to " + what + ": " + std::strerror(error));
    }
    at += written;
    count -= static_cast<std::size_t>(written);
  }
}

}  // namespace vantrel::ctl
