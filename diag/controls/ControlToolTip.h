// Pop-up tip tied to one control: shown once the mouse pointer has stayed on
// the control for about 600 ms while the control's dialog has the keyboard
// focus, hidden when the pointer leaves it.
#pragma once

#include <QColor>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

class ControlToolTip : public QWidget {
  Q_OBJECT

 public:
  // Placement modes: where the tip's top-left corner goes.
  enum Position {
    kBelowControl = 1,  // the control's bottom-left corner
    kAboveControl = 2,  // the control's top-left corner, raised by the tip's height
    kAbovePointer = 3,  // the pointer, raised by the tip's height
    kBelowPointer = 4,  // the pointer, 20 pixels lower
  };

  static constexpr int kTimerPeriodMs = 100;
  // Ticks counted before the tip shows; it shows on the tick after.
  static constexpr int kRestTicks = 5;
  static constexpr int kPointerDrop = 20;

  explicit ControlToolTip(QWidget* parent = nullptr);
  ~ControlToolTip() override;

  // Ties the tip to a control and starts watching the pointer; false when
  // there is no control.
  bool Attach(QWidget* control);
  void SetText(const QString& text);
  // Hides the tip, stops its timer and forgets the control.
  void Destroy();

  QString Text() const { return text_; }
  QWidget* Control() const { return control_; }
  bool Attached() const { return windowMade_; }
  QRect TextRect() const { return rect_; }

  int PositionMode() const { return position_; }
  void SetPositionMode(int mode) { position_ = mode; }

  QColor TextColour() const { return textColour_; }
  QColor BackColour() const { return backColour_; }
  bool OwnColours() const { return ownColours_; }
  void SetOwnColours(bool own) {
    ownColours_ = own;
    update();
  }
  void SetColours(const QColor& text, const QColor& back);

  // needKey: show only while a mouse button is held, the left one when
  // whichKey is 1, else the right one.
  bool NeedKey() const { return needKey_; }
  int WhichKey() const { return whichKey_; }
  void SetNeedKey(bool needKey, int whichKey = 1) {
    needKey_ = needKey;
    whichKey_ = whichKey;
  }

  QPoint Pointer() const { return pointer_; }
  int Ticks() const { return ticks_; }

  // One timer tick; the timer calls it every kTimerPeriodMs.
  void Tick();
  // The timer period, for tests that do not want to wait.
  void SetTimerInterval(int ms) { timer_.setInterval(ms); }
  int TimerInterval() const { return timer_.interval(); }
  // Where the pointer is, in screen coordinates (the cursor by default).
  void SetPointerSource(std::function<QPoint()> source) { pointerSource_ = std::move(source); }

  // Top-left corner of a tip of the given size, kept on the screen.
  static QPoint PlacedTopLeft(int mode, const QSize& size, const QPoint& controlTopLeft,
                              const QPoint& controlBottomLeft, const QPoint& pointer,
                              const QRect& screen);
  // Keeps a tip of the given size at topLeft on the screen.
  static QPoint KeptOnScreen(QPoint topLeft, const QSize& size, const QRect& screen);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool PointerOverControl();
  bool FocusInControlDialog() const;
  bool ChosenButtonDown() const;
  // Places and shows the tip; an empty text hides it instead.
  void PlaceAndShow();
  QFont TipFont() const;

  QPointer<QWidget> control_;
  QString text_;
  QRect rect_;
  int position_ = kBelowPointer;
  QColor textColour_;
  QColor backColour_;
  bool ownColours_ = false;
  bool needKey_ = false;
  int whichKey_ = 1;
  QPoint pointer_;
  int ticks_ = 0;
  bool windowMade_ = false;
  QTimer timer_;
  std::function<QPoint()> pointerSource_;
};
