// Moves file-sized runs of bytes between the board and memory a piece at a
// time, one piece per turn of the event loop, so that the window stays
// responsive, shows progress and can be cancelled between pieces.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <vector>

#include "MemoryFile.h"
#include "pages/memory/BoardMemoryAccess.h"

class CChunkedTransfer : public QObject {
  Q_OBJECT

 public:
  // Bytes per library call: the bar moves and Cancel answers within a few
  // exchanges, and the calls stay few.
  static constexpr std::uint32_t kPiece = 256;

  enum class Direction { kRead, kWrite };

  explicit CChunkedTransfer(QObject* parent = nullptr);

  // Writes the segments' bytes to the board, or reads the board into them
  // (their sizes give the counts). A running transfer is cancelled first.
  void Start(const BoardMemoryAccess& access, Direction direction,
             std::vector<vantrel::memfile::Segment> segments);
  // Stops before the next piece; Finished(false) follows at once.
  void Cancel();

  bool Running() const { return timer_.isActive(); }
  bool Cancelled() const { return cancelled_; }
  // The failed call's text, empty unless the last transfer failed.
  QString ErrorText() const { return errorText_; }
  // The last transfer failed because the board did not answer within the
  // time limit: nothing more should be asked of it in the same action.
  bool TimedOut() const { return timedOut_; }
  std::int64_t Done() const { return done_; }
  std::int64_t Total() const { return total_; }
  const std::vector<vantrel::memfile::Segment>& Segments() const { return segments_; }

 signals:
  void Progressed(qint64 done, qint64 total);
  void Finished(bool ok);

 private:
  void Step();
  void Finish(bool ok);

  QTimer timer_;
  BoardMemoryAccess access_{nullptr, BoardMemoryAccess::Memory::kSram};
  Direction direction_ = Direction::kRead;
  std::vector<vantrel::memfile::Segment> segments_;
  std::size_t segment_ = 0;
  std::size_t offset_ = 0;
  std::int64_t done_ = 0;
  std::int64_t total_ = 0;
  bool cancelled_ = false;
  bool timedOut_ = false;
  QString errorText_;
};
