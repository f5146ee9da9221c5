// A page that works only while it is the sheet's current tab: it is told
// when it becomes current and when it stops being current, and its periodic
// work ticks only in between.
//
// The board calls stay on the user-interface thread, so a board that does
// not answer holds the window for the daemon's time limit on each call. The
// page therefore makes its board calls through BoardCall(): a call that fails
// only after that limit stops the periodic work, says so in red and makes
// the rest of the same handler's calls fail at once without reaching the
// board. The technician resumes with the notice's button or by selecting the
// tab again; one stall per failure, never a train of them.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

class CBoardConnection;
class QLabel;
class QPushButton;

class CActivePage : public QWidget {
  Q_OBJECT

 public:
  // BoardCall() result of a call that was not made.
  static constexpr int kSkipped = -1;
  // Log colours, as the pages' log lists take them.
  static constexpr std::int32_t kLogBlack = 0;
  static constexpr std::int32_t kLogRed = 255;

  explicit CActivePage(QWidget* parent = nullptr);

  // True while the periodic work runs.
  bool Ticking() const { return timerId_ != 0; }
  // True after a call failed by its time limit, until the page resumes.
  bool Stalled() const { return stalled_; }
  // The bar that says why polling stopped and offers to go on.
  QWidget* Notice() const { return notice_; }
  QPushButton* NoticeButton() const { return noticeButton_; }

  // Follows the board's connection: a lost connection stops the periodic
  // work and is said once; a re-initialisation starts the page again.
  void SetConnection(CBoardConnection* connection);

  // Starts the periodic work again after a stall.
  void Resume();

 protected:
  // The page has become the current tab.
  virtual void OnActivate() {}
  // One period has passed while the page is current.
  virtual void OnTick() {}
  // Writes a line into the page's log, for pages that keep one.
  virtual void AddLogLine(const QString& text, std::int32_t colour);

  // Starts the periodic work (once; a running timer is kept). Refused while
  // the page is stalled.
  void StartTicks(int periodMs);
  void StopTicks();

  // Runs `call` (a board call returning non-zero on success) and returns its
  // result, or kSkipped without calling it while the handler that saw a stall
  // is still running. `what` names the call in the stall line.
  int BoardCall(const QString& what, const std::function<int()>& call);

  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void Stall(const QString& what);
  void ShowNotice(const QString& text, const QString& button, bool enabled);
  void OnConnectionLost();
  void OnBoardBack();
  void OnReinitialised(bool ok, const QString& status);
  void NoticeClicked();

  int timerId_ = 0;  // the running timer, 0 when none
  int periodMs_ = 0;
  bool stalled_ = false;
  bool skipping_ = false;     // calls fail at once until the event loop turns
  bool lostNoticed_ = false;  // the loss of the connection was said here
  CBoardConnection* connection_ = nullptr;
  QWidget* notice_;
  QLabel* noticeText_;
  QPushButton* noticeButton_;
};
