// One ccTalk request sent again and again (a set number of times or until
// stopped) at a set interval, counting the good, timed-out and invalid
// replies and the failed exchanges, with the round-trip times of the good
// ones. One exchange per timer tick.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <vector>

#include "cctalk/CcTalkExchange.h"

class CcTalkRepeat : public QObject {
  Q_OBJECT

 public:
  using Exchange = std::function<CcTalkExchangeResult(const CcctalkMessage&)>;

  struct Counts {
    int sent = 0;
    int good = 0;
    int timedOut = 0;
    int invalid = 0;
    int failed = 0;  // the send or its echo failed
    double minimumMs = 0;
    double medianMs = 0;
    double maximumMs = 0;
  };

  explicit CcTalkRepeat(Exchange exchange, QObject* parent = nullptr);

  // `times` 0 repeats until Stop.
  void Start(const CcctalkMessage& request, int times, int intervalMs);
  void Stop();
  bool Running() const { return timer_.isActive(); }
  const Counts& Result() const { return counts_; }
  QString LastError() const { return lastError_; }

 signals:
  void updated();
  void finished(bool stopped);

 private:
  void Step();

  Exchange exchange_;
  QTimer timer_;
  CcctalkMessage request_;
  int times_ = 0;
  Counts counts_;
  std::vector<double> roundTrips_;
  QString lastError_;
};
