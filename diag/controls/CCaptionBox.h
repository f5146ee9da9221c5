// A group box whose caption doubles as a status line (an error text that may
// be long): the caption is elided to the box's width, the whole of it in the
// tip, and it never widens the box or the window around it.
#pragma once

#include <QGroupBox>
#include <QString>

class CCaptionBox : public QGroupBox {
  Q_OBJECT

 public:
  explicit CCaptionBox(const QString& title, QWidget* parent = nullptr);

  // The caption as drawn: the title, elided when the box is too narrow.
  QString ShownTitle() const;
  bool TitleElided() const { return ShownTitle() != title(); }
  // The tip shown over the box: the whole title while it is elided, else
  // the box's own tip.
  QString TipText() const;

  // As wide as the contents need; the caption does not count.
  QSize minimumSizeHint() const override;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // Room for the caption in the box's current width.
  int TitleRoom() const;
};
