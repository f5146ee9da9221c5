// Keeps a condition that recurs many times a second (connections refused,
// descriptors exhausted) from flooding the log: the first occurrence of each
// kind is logged in full, later ones are only counted; while the condition
// goes on, one line per interval tells how many more there were, and a
// closing line gives the total once it has ended, either because the caller
// says so or because a whole interval passed without an occurrence.
// The limiter only makes the lines; the caller writes them. Not thread-safe:
// one thread feeds it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::common {

class LogRateLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  explicit LogRateLimiter(Clock::duration interval = std::chrono::seconds(10),
                          Now now = &Clock::now);

  // One occurrence of `kind` ("ezusb-0"). The line to log now, if any:
  // `first` for the first occurrence of a condition, a count of the
  // occurrences since the last line once an interval has passed
  // ("ezusb-0: connections refused: 146 more in the last 10 s"). `counted`
  // names what is counted in those lines ("connections refused").
  std::optional<std::string> Occurred(const std::string& kind, const std::string& first,
                                      const std::string& counted);
  // The condition of `kind` has ended (a connection was admitted again): the
  // closing line, `text` with the total, when it was going on.
  std::optional<std::string> Ended(const std::string& kind, const std::string& text);
  // Lines due without a new occurrence: the counts of conditions whose last
  // line is an interval old, and the closing lines of those quiet for an
  // interval.
  std::vector<std::string> Due();
  // Time until Due may have a line; none while no condition goes on.
  std::optional<Clock::duration> UntilDue() const;
  bool Active(const std::string& kind) const { return conditions_.count(kind) != 0; }

 private:
  struct Condition {
    std::string counted;
    Clock::time_point lastLine;
    Clock::time_point lastOccurrence;
    std::uint64_t sinceLine = 0;  // occurrences not yet in a line
    std::uint64_t total = 0;      // occurrences since the condition began
  };

  std::string CountLine(const std::string& kind, Condition& condition, Clock::time_point now);

  const Clock::duration interval_;
  const Now now_;
  std::map<std::string, Condition> conditions_;
};

}  // namespace vantrel::common
