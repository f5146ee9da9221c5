#include "CSensitiveButton.h"

#include <QEnterEvent>
#include <QMouseEvent>

#include "DebuggerOutput.h"

CSensitiveButton::CSensitiveButton(const QString& text, QWidget* parent)
    : QRadioButton(text, parent) {
  // Indicators of one page are independent outputs, never a radio group.
  setAutoExclusive(false);
  setMouseTracking(true);
}

// The page toggles the indicator itself when it handles the click.
void CSensitiveButton::nextCheckState() {}

void CSensitiveButton::Enter() {
  if (notified_) return;
  qCDebug(k27diagDebugger, "\nGet capture");
  notified_ = true;
  emit pointedAt();
}

void CSensitiveButton::Leave() {
  if (!notified_) return;
  qCDebug(k27diagDebugger, "\nRelinquishing capture");
  notified_ = false;
}

// An entry alone does not act: the toolkit also reports one when the button
// appears under a pointer that rests there (its page shown by keyboard). Only
// a movement of the pointer over the button counts, and every real entry
// brings one.
void CSensitiveButton::enterEvent(QEnterEvent* event) { QRadioButton::enterEvent(event); }

void CSensitiveButton::leaveEvent(QEvent* event) {
  Leave();
  QRadioButton::leaveEvent(event);
}

// While a button is held the button keeps the pointer and gets no leave
// event: a move outside counts as leaving. A point on the right or bottom
// edge still counts as inside.
void CSensitiveButton::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const bool inside = p.x() >= 0 && p.y() >= 0 && p.x() <= width() && p.y() <= height();
  if (inside)
    Enter();
  else
    Leave();
  QRadioButton::mouseMoveEvent(event);
}
