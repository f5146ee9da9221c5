#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace vantrel::ctl {

namespace {
constexpr int kBarWidth = 40;
}  // namespace

Progress::Progress(std::string label, std::uint64_t total, std::string unit, std::uint64_t minimum)
    : label_(std::move(label)),
      total_(total),
      unit_(std::move(unit)),
      shown_(total >= minimum && ::isatty(STDERR_FILENO) == 1) {
  Update(0);
}

Progress::~Progress() { Done(); }

void Progress::Clear() {
  if (shown_ && lastPercent_ >= 0) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
  lastPercent_ = -1;
}

void Progress::Done() {
  Clear();
  shown_ = false;
}

void Progress::Update(std::uint64_t done) {
  if (!shown_ || total_ == 0) return;
  const int percent = static_cast<int>(done * 100 / total_);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  const int filled = percent * kBarWidth / 100;
  std::fprintf(stderr, "\r%s [%.*s%*s] %3d%% %llu/%llu %s", label_.c_str(), filled,
               "########################################", kBarWidth - filled, "", percent,
               static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_),
               unit_.c_str());
  std::fflush(stderr);
}

}  // namespace vantrel::ctl
