// A progress bar for long transfers, on standard error when that is a
// terminal; nothing at all in a pipe or a file.
#pragma once

#include <cstdint>
#include <string>

namespace k27ctl {

class Progress {
 public:
  Progress(std::string label, std::uint64_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(std::uint64_t done);

 private:
  std::string label_;
  std::uint64_t total_;
  bool shown_;
  int lastPercent_ = -1;
};

}  // namespace k27ctl
