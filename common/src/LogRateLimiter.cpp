#include "k27/common/LogRateLimiter.h"

#include <algorithm>
#include <utility>

namespace vantrel::common {

namespace {

std::string Seconds(LogRateLimiter::Clock::duration span) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(span).count()) + " s";
}

}  // namespace

LogRateLimiter::LogRateLimiter(Clock::duration interval, Now now)
    : interval_(interval), now_(std::move(now)) {}

std::string LogRateLimiter::CountLine(const std::string& kind, Condition& condition,
                                      Clock::time_point now) {
  std::string line = kind + ": " + condition.counted + ": " + std::to_string(condition.sinceLine) +
                     " more in the last " + Seconds(now - condition.lastLine);
  condition.sinceLine = 0;
  condition.lastLine = now;
  return line;
}

std::optional<std::string> LogRateLimiter::Occurred(const std::string& kind,
                                                    const std::string& first,
                                                    const std::string& counted) {
  const Clock::time_point now = now_();
  auto [it, began] = conditions_.try_emplace(kind);
  Condition& condition = it->second;
  condition.lastOccurrence = now;
  ++condition.total;
  if (began) {
    condition.counted = counted;
    condition.lastLine = now;
    return first;
  }
  ++condition.sinceLine;
  if (now - condition.lastLine < interval_) return std::nullopt;
  return CountLine(kind, condition, now);
}

std::optional<std::string> LogRateLimiter::Ended(const std::string& kind, const std::string& text) {
  const auto it = conditions_.find(kind);
  if (it == conditions_.end()) return std::nullopt;
  std::string line =
      text + "; " + it->second.counted + ": " + std::to_string(it->second.total) + " in all";
  conditions_.erase(it);
  return line;
}

std::vector<std::string> LogRateLimiter::Due() {
  const Clock::time_point now = now_();
  std::vector<std::string> lines;
  for (auto it = conditions_.begin(); it != conditions_.end();) {
    Condition& condition = it->second;
    if (now - condition.lastOccurrence >= interval_) {
      // Quiet for a whole interval: over. Its last count comes first.
      if (condition.sinceLine > 0) lines.push_back(CountLine(it->first, condition, now));
      lines.push_back(it->first + ": no more " + condition.counted + " for " +
                      Seconds(now - condition.lastOccurrence) + "; " +
                      std::to_string(condition.total) + " in all");
      it = conditions_.erase(it);
      continue;
    }
    if (condition.sinceLine > 0 && now - condition.lastLine >= interval_)
      lines.push_back(CountLine(it->first, condition, now));
    ++it;
  }
  return lines;
}

std::optional<LogRateLimiter::Clock::duration> LogRateLimiter::UntilDue() const {
  if (conditions_.empty()) return std::nullopt;
  const Clock::time_point now = now_();
  Clock::time_point next = Clock::time_point::max();
  for (const auto& [kind, condition] : conditions_) {
    next = std::min(next, condition.lastOccurrence + interval_);
    if (condition.sinceLine > 0) next = std::min(next, condition.lastLine + interval_);
  }
  return std::max(next - now, Clock::duration::zero());
}

}  // namespace vantrel::common
