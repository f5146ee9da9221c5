// The levelled log sink the programs write their messages to: stderr by
// default, each line with the journal's "<N>" priority prefix when stderr is
// the journal's stream (systemd sets JOURNAL_STREAM), and a threshold that
// --verbose and --quiet move.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

namespace vantrel::common {

// From most to least severe; a sink shows the levels up to its threshold.
enum class LogLevel { kError = 0, kWarning = 1, kInfo = 2, kDebug = 3 };

// The syslog priority the journal reads from a line's "<N>" prefix.
int JournalPriority(LogLevel level);

// `text` as the sink writes it: every line ends with a line feed and, for
// the journal, starts with the level's priority prefix.
std::string FormatLog(LogLevel level, std::string_view text, bool journal);

// True when `fd` is the stream that JOURNAL_STREAM names (device:inode).
bool IsJournalStream(int fd);

// The threshold for a program given --verbose `verbose` times and --quiet
// `quiet` times: information by default, debugging when verbose, warnings
// and then errors only when quiet.
LogLevel ThresholdFor(int verbose, int quiet);

class LogSink {
 public:
  // Writes to `fd`; the journal's prefixes when that descriptor is its stream.
  explicit LogSink(int fd);
  LogSink(int fd, bool journal);

  void SetThreshold(LogLevel level) { threshold_.store(static_cast<int>(level)); }
  LogLevel Threshold() const { return static_cast<LogLevel>(threshold_.load()); }
  bool Shows(LogLevel level) const { return static_cast<int>(level) <= threshold_.load(); }
  bool Journal() const { return journal_; }

  // One message, in a single write so that the lines of several threads or
  // processes never interleave; dropped below the threshold.
  void Write(LogLevel level, std::string_view text) const;

 private:
  int fd_;
  bool journal_;
  std::atomic<int> threshold_{static_cast<int>(LogLevel::kInfo)};
};

// The program's sink, on stderr.
LogSink& Logger();

inline void LogError(std::string_view text) { Logger().Write(LogLevel::kError, text); }
inline void LogWarning(std::string_view text) { Logger().Write(LogLevel::kWarning, text); }
inline void LogInfo(std::string_view text) { Logger().Write(LogLevel::kInfo, text); }
inline void LogDebug(std::string_view text) { Logger().Write(LogLevel::kDebug, text); }

}  // namespace vantrel::common
