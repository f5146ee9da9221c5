#include "cctalk/CcTalkRepeat.h"

#include <algorithm>

CcTalkRepeat::CcTalkRepeat(Exchange exchange, QObject* parent)
    : QObject(parent), exchange_(std::move(exchange)) {
  connect(&timer_, &QTimer::timeout, this, &CcTalkRepeat::Step);
}

void CcTalkRepeat::Start(const CcctalkMessage& request, int times, int intervalMs) {
  request_ = request;
  times_ = std::max(times, 0);
  counts_ = Counts{};
  roundTrips_.clear();
  lastError_.clear();
  emit updated();
  timer_.start(std::max(intervalMs, 0));
}

void CcTalkRepeat::Stop() {
  if (!timer_.isActive()) return;
  timer_.stop();
  emit finished(true);
}

void CcTalkRepeat::Step() {
  const CcTalkExchangeResult result = exchange_(request_);
  ++counts_.sent;
  switch (result.outcome) {
    case CcTalkExchangeResult::Outcome::kGood:
      counts_.minimumMs =
          counts_.good == 0 ? result.roundTripMs : std::min(counts_.minimumMs, result.roundTripMs);
      counts_.maximumMs = std::max(counts_.maximumMs, result.roundTripMs);
      ++counts_.good;
      roundTrips_.push_back(result.roundTripMs);
      break;
    case CcTalkExchangeResult::Outcome::kTimeout:
      ++counts_.timedOut;
      break;
    case CcTalkExchangeResult::Outcome::kInvalid:
      ++counts_.invalid;
      break;
    case CcTalkExchangeResult::Outcome::kFailed:
      ++counts_.failed;
      lastError_ = QString::fromLatin1(result.error);
      if (result.timedOut) lastError_ += QStringLiteral(" (no answer within the time limit)");
      break;
  }
  if (result.outcome == CcTalkExchangeResult::Outcome::kGood) {
    // The order of the times does not matter: a partial sort in place.
    const std::size_t n = roundTrips_.size();
    const auto middle = roundTrips_.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(roundTrips_.begin(), middle, roundTrips_.end());
    counts_.medianMs = *middle;
    if (n % 2 == 0)
      counts_.medianMs = (*std::max_element(roundTrips_.begin(), middle) + *middle) / 2;
  }
  emit updated();
  if (result.timedOut) {
    // A mute board would hold the window once per repeat: stop here.
    timer_.stop();
    emit finished(true);
    return;
  }
  if (times_ > 0 && counts_.sent >= times_) {
    timer_.stop();
    emit finished(false);
  }
}
