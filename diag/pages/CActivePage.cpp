#include "pages/CActivePage.h"

#include <QHideEvent>
#include <QShowEvent>
#include <QTimerEvent>

void CActivePage::StartTicks(int periodMs) {
  if (timerId_ == 0) timerId_ = startTimer(periodMs);
}

void CActivePage::StopTicks() {
  if (timerId_ != 0) killTimer(timerId_);
  timerId_ = 0;
}

// The tab widget shows the page when it becomes the current tab and hides it
// when another tab is chosen or the sheet closes. Spontaneous events (the
// window being minimised or restored) leave the page the current tab.
void CActivePage::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) OnActivate();
  QWidget::showEvent(event);
}

void CActivePage::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) StopTicks();
  QWidget::hideEvent(event);
}

void CActivePage::timerEvent(QTimerEvent* event) {
  if (timerId_ != 0 && event->timerId() == timerId_) OnTick();
  QWidget::timerEvent(event);
}
