#include "CCaptionBox.h"

#include <algorithm>

#include <QHelpEvent>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QToolTip>

CCaptionBox::CCaptionBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

int CCaptionBox::TitleRoom() const {
  QStyleOptionGroupBox option;
  initStyleOption(&option);
  // What the style adds around the caption's text, measured on an empty one.
  option.text.clear();
  const QRect label =
      style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, this);
  const int margin = 2 * fontMetrics().horizontalAdvance(QLatin1Char(' '));
  return std::max(0, width() - label.left() * 2 - label.width() - margin);
}

QString CCaptionBox::ShownTitle() const {
  const QString whole = title();
  if (whole.isEmpty()) return whole;
  const QFontMetrics metrics = fontMetrics();
  if (metrics.horizontalAdvance(whole) <= TitleRoom()) return whole;
  return metrics.elidedText(whole, Qt::ElideRight, TitleRoom());
}

QString CCaptionBox::TipText() const { return TitleElided() ? title() : toolTip(); }

QSize CCaptionBox::minimumSizeHint() const {
  // The layout's own minimum, with room for a short caption ("Output").
  QStyleOptionGroupBox option;
  initStyleOption(&option);
  const QFontMetrics metrics = fontMetrics();
  const QSize least = style()->sizeFromContents(
      QStyle::CT_GroupBox, &option,
      QSize(metrics.horizontalAdvance(QStringLiteral("Output...")), metrics.height()), this);
  return least.expandedTo(QWidget::minimumSizeHint());
}

bool CCaptionBox::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && TitleElided()) {
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), title(), this);
    return true;
  }
  return QGroupBox::event(event);
}

void CCaptionBox::paintEvent(QPaintEvent* /*event*/) {
  QStylePainter painter(this);
  QStyleOptionGroupBox option;
  initStyleOption(&option);
  option.text = ShownTitle();
  painter.drawComplexControl(QStyle::CC_GroupBox, option);
}
