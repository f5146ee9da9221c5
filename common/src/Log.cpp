#include "k27/common/Log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace vantrel::common {

int JournalPriority(LogLevel level) {
  switch (level) {
    case LogLevel::kError:
      return 3;
    case LogLevel::kWarning:
      return 4;
    case LogLevel::kInfo:
      return 6;
    case LogLevel::kDebug:
      return 7;
  }
  return 6;
}

std::string FormatLog(LogLevel level, std::string_view text, bool journal) {
  // Built by appending: GCC 12 at -O3 takes "literal" + string&& for an overlapping copy.
  std::string prefix;
  if (journal) {
    prefix += '<';
    prefix += std::to_string(JournalPriority(level));
    prefix += '>';
  }
  std::string out;
  out.reserve(text.size() + prefix.size() + 1);
  // The journal reads the priority of each line on its own.
  std::size_t start = 0;
  do {
    const std::size_t end = text.find('\n', start);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    out += prefix;
    out.append(text.substr(start, stop - start));
    out.push_back('\n');
    start = stop + 1;
  } while (start < text.size());
  return out;
}

bool IsJournalStream(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  std::uintmax_t device = 0;
  std::uintmax_t inode = 0;
  if (std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX, &device, &inode) != 2) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  return std::uintmax_t(st.st_dev) == device && std::uintmax_t(st.st_ino) == inode;
}

LogLevel ThresholdFor(int verbose, int quiet) {
  const int level = static_cast<int>(LogLevel::kInfo) + verbose - quiet;
  if (level <= static_cast<int>(LogLevel::kError)) return LogLevel::kError;
  if (level >= static_cast<int>(LogLevel::kDebug)) return LogLevel::kDebug;
  return static_cast<LogLevel>(level);
}

LogSink::LogSink(int fd) : LogSink(fd, IsJournalStream(fd)) {}

LogSink::LogSink(int fd, bool journal) : fd_(fd), journal_(journal) {}

void LogSink::Write(LogLevel level, std::string_view text) const {
  if (!Shows(level)) return;
  const std::string out = FormatLog(level, text, journal_);
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::write(fd_, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere left to report it
    done += static_cast<std::size_t>(n);
  }
}

LogSink& Logger() {
  static LogSink sink(STDERR_FILENO);
  return sink;
}

}  // namespace vantrel::common
