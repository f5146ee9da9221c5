// A log of bulk exchanges, one line each:
//   ezusb-N ch=C out=HEX in=HEX
// HEX is the bytes as contiguous upper-case pairs; `in=` stays empty when no
// reply came. Lines are appended whole, so readers may follow the file while
// the daemon writes it.
#pragma once

#include <mutex>
#include <string>

#include "ExchangeRecord.h"
#include "k27/common/UniqueFd.h"

namespace vantrel::driver {

// The line for one exchange, without its line end.
std::string FormatExchange(const ExchangeRecord& record);

class ExchangeTrace {
 public:
  // Opens (or creates) the file for appending; throws std::system_error.
  explicit ExchangeTrace(const std::string& path);
  ~ExchangeTrace();
  ExchangeTrace(const ExchangeTrace&) = delete;
  ExchangeTrace& operator=(const ExchangeTrace&) = delete;

  // Thread-safe; a failed write is counted, never thrown.
  void Record(const ExchangeRecord& record);
  unsigned long FailedWrites() const;

 private:
  vantrel::common::UniqueFd fd_;
  mutable std::mutex mutex_;
  unsigned long failedWrites_ = 0;
};

}  // namespace vantrel::driver
