#include "ControlToolTip.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QToolTip>

#include <algorithm>

ControlToolTip::ControlToolTip(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  const QPalette tipPalette = QToolTip::palette();
  textColour_ = tipPalette.color(QPalette::ToolTipText);
  backColour_ = tipPalette.color(QPalette::ToolTipBase);
  QPalette own = palette();
  own.setColor(QPalette::Window, backColour_);
  own.setColor(QPalette::WindowText, textColour_);
  setPalette(own);
  setAutoFillBackground(true);
  timer_.setInterval(kTimerPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &ControlToolTip::Tick);
  pointerSource_ = [] { return QCursor::pos(); };
}

ControlToolTip::~ControlToolTip() { Destroy(); }

bool ControlToolTip::Attach(QWidget* control) {
  if (windowMade_) Destroy();
  if (control == nullptr) return false;
  control_ = control;
  windowMade_ = true;
  hide();
  SetText(text_);
  ticks_ = 0;
  timer_.start();
  return true;
}

void ControlToolTip::Destroy() {
  hide();
  timer_.stop();
  control_ = nullptr;
  windowMade_ = false;
  ticks_ = 0;
}

QFont ControlToolTip::TipFont() const { return QApplication::font(); }

void ControlToolTip::SetText(const QString& text) {
  text_ = text;
  if (!windowMade_) return;
  const QFontMetrics metrics(TipFont());
  const QStringList lines = text_.split(QLatin1Char('\n'));
  int width = 0;
  for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
  const int height = metrics.height() * static_cast<int>(lines.size());
  rect_ = QRect(0, 0, width + 4, height + 4);
  if (isVisible()) PlaceAndShow();
}

void ControlToolTip::SetColours(const QColor& text, const QColor& back) {
  textColour_ = text;
  backColour_ = back;
  ownColours_ = true;
  update();
}

bool ControlToolTip::PointerOverControl() {
  pointer_ = pointerSource_();
  if (!control_) return false;
  const QRect window(control_->mapToGlobal(QPoint(0, 0)), control_->size());
  // Inside or on the edge, right and bottom edges included.
  return pointer_.x() >= window.left() && pointer_.x() <= window.left() + window.width() &&
         pointer_.y() >= window.top() && pointer_.y() <= window.top() + window.height();
}

bool ControlToolTip::FocusInControlDialog() const {
  if (!control_) return false;
  const QWidget* focus = QApplication::focusWidget();
  const QWidget* dialog = control_->parentWidget();
  return focus != nullptr && dialog != nullptr && dialog->isAncestorOf(focus);
}

bool ControlToolTip::ChosenButtonDown() const {
  const Qt::MouseButton button = whichKey_ == 1 ? Qt::LeftButton : Qt::RightButton;
  return (QGuiApplication::mouseButtons() & button) != 0;
}

void ControlToolTip::Tick() {
  if (!control_) return;
  if (PointerOverControl() && (!needKey_ || ChosenButtonDown())) {
    const bool focusHere = FocusInControlDialog();
    if (!isVisible() && focusHere) {
      if (ticks_ >= kRestTicks) {
        PlaceAndShow();
      } else {
        ++ticks_;
        return;
      }
    }
    if (isVisible() && !focusHere) hide();
  } else if (isVisible()) {
    hide();
  }
  ticks_ = 0;
}

QPoint ControlToolTip::KeptOnScreen(QPoint topLeft, const QSize& size, const QRect& screen) {
  const int screenRight = screen.left() + screen.width();
  const int screenBottom = screen.top() + screen.height();
  if (topLeft.y() + size.height() > screenBottom) topLeft.setY(screenBottom - size.height());
  if (topLeft.y() < screen.top()) topLeft.setY(screen.top());
  if (topLeft.x() < screen.left()) topLeft.setX(screen.left());
  if (topLeft.x() + size.width() > screenRight) topLeft.setX(screenRight - size.width());
  return topLeft;
}

QPoint ControlToolTip::PlacedTopLeft(int mode, const QSize& size, const QPoint& controlTopLeft,
                                     const QPoint& controlBottomLeft, const QPoint& pointer,
                                     const QRect& screen) {
  QPoint topLeft;
  switch (mode) {
    case kBelowControl:
      topLeft = controlBottomLeft;
      break;
    case kAboveControl:
      topLeft = controlTopLeft - QPoint(0, size.height());
      break;
    case kAbovePointer:
      topLeft = pointer - QPoint(0, size.height());
      break;
    case kBelowPointer:
      topLeft = pointer + QPoint(0, kPointerDrop);
      break;
    default:
      topLeft = screen.topLeft();
      break;
  }
  return KeptOnScreen(topLeft, size, screen);
}

void ControlToolTip::PlaceAndShow() {
  if (text_.isEmpty() || !control_) {
    hide();
    return;
  }
  const QScreen* screen = control_->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const QRect screenRect = screen != nullptr ? screen->geometry() : QRect();
  const QSize size = rect_.size();
  const QPoint topLeft =
      PlacedTopLeft(position_, size, control_->mapToGlobal(QPoint(0, 0)),
                    control_->mapToGlobal(QPoint(0, control_->height())), pointer_, screenRect);
  setGeometry(QRect(topLeft, size));
  show();
  raise();
  update();
}

void ControlToolTip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(TipFont());
  painter.setBackgroundMode(Qt::TransparentMode);
  if (ownColours_) {
    painter.fillRect(rect_, backColour_);
    painter.setPen(textColour_);
  } else {
    painter.setPen(palette().color(QPalette::WindowText));
  }
  painter.drawText(rect_.adjusted(2, 2, -2, -2), Qt::AlignLeft | Qt::AlignTop, text_);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
