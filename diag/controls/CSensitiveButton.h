// A round output indicator that acts when the pointer is moved onto it: the
// first movement over it reports once, as a click would, and it reports
// again only after the pointer has left and come back. A pointer that rests
// where the indicator appears does nothing. Its check state belongs to its page: neither a
// click nor an entry changes it by itself.
#pragma once

#include <QRadioButton>

class CSensitiveButton : public QRadioButton {
  Q_OBJECT

 public:
  explicit CSensitiveButton(const QString& text, QWidget* parent = nullptr);

  // True from an entry until the pointer leaves again.
  bool Notified() const { return notified_; }

 signals:
  // The pointer has been moved onto the button: the page treats it as a click.
  void pointedAt();

 protected:
  void nextCheckState() override;
  // The whole button takes clicks, as it takes the pointer's entry.
  bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void Enter();
  void Leave();

  bool notified_ = false;
};
