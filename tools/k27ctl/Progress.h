// A progress bar for long transfers, on standard error when that is a
// terminal; nothing at all in a pipe or a file.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel::ctl {

class Progress {
 public:
  // Totals below `minimum` pass too quickly for a bar.
  Progress(std::string label, std::uint64_t total, std::string unit = "bytes",
           std::uint64_t minimum = 513);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(std::uint64_t done);
  // Takes the bar off the line, so that a line can be printed; the next
  // Update draws it again.
  void Clear();
  // Takes the bar off for good.
  void Done();

 private:
  std::string label_;
  std::uint64_t total_;
  std::string unit_;
  bool shown_;
  int lastPercent_ = -1;
};

}  // namespace vantrel::ctl
