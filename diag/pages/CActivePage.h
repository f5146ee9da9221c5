// A page that works only while it is the sheet's current tab: it is told
// when it becomes current and when it stops being current, and its periodic
// work ticks only in between.
#pragma once

#include <QWidget>

class CActivePage : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;

  // True while the periodic work runs.
  bool Ticking() const { return timerId_ != 0; }

 protected:
  // The page has become the current tab.
  virtual void OnActivate() {}
  // One period has passed while the page is current.
  virtual void OnTick() {}

  // Starts the periodic work (once; a running timer is kept).
  void StartTicks(int periodMs);
  void StopTicks();

  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  int timerId_ = 0;  // the running timer, 0 when none
};
