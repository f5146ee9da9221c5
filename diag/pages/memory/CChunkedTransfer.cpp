#include "pages/memory/CChunkedTransfer.h"

#include <QElapsedTimer>

#include <algorithm>

#include "pages/common/CBoardConnection.h"

CChunkedTransfer::CChunkedTransfer(QObject* parent) : QObject(parent) {
  timer_.setInterval(0);
  connect(&timer_, &QTimer::timeout, this, &CChunkedTransfer::Step);
}

void CChunkedTransfer::Start(const BoardMemoryAccess& access, Direction direction,
                             std::vector<vantrel::memfile::Segment> segments) {
  if (Running()) Cancel();
  access_ = access;
  direction_ = direction;
  segments_ = std::move(segments);
  segment_ = 0;
  offset_ = 0;
  done_ = 0;
  total_ = 0;
  for (const auto& segment : segments_) total_ += static_cast<std::int64_t>(segment.bytes.size());
  cancelled_ = false;
  timedOut_ = false;
  errorText_.clear();
  timer_.start();
}

void CChunkedTransfer::Cancel() {
  if (!Running()) return;
  cancelled_ = true;
  Finish(false);
}

void CChunkedTransfer::Step() {
  while (segment_ < segments_.size() && offset_ >= segments_[segment_].bytes.size()) {
    ++segment_;
    offset_ = 0;
  }
  if (segment_ >= segments_.size()) {
    Finish(true);
    return;
  }
  vantrel::memfile::Segment& segment = segments_[segment_];
  const auto count =
      static_cast<std::uint32_t>(std::min<std::size_t>(kPiece, segment.bytes.size() - offset_));
  const std::uint32_t address = segment.address + static_cast<std::uint32_t>(offset_);
  std::uint8_t* bytes = segment.bytes.data() + offset_;
  const bool write = direction_ == Direction::kWrite;
  QElapsedTimer clock;
  clock.start();
  const bool ok =
      write ? access_.Write(address, bytes, count) : access_.Read(address, bytes, count);
  if (!ok) {
    errorText_ = access_.FailureText(write, address, count);
    timedOut_ = CBoardConnection::TookTheTimeLimit(clock.elapsed());
    if (timedOut_) errorText_ += QStringLiteral(" (no answer within the time limit)");
    Finish(false);
    return;
  }
  offset_ += count;
  done_ += count;
  emit Progressed(done_, total_);
}

void CChunkedTransfer::Finish(bool ok) {
  timer_.stop();
  emit Finished(ok);
}
