#include "CHexEntryEdit.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <k27/common/Hex.h>

namespace {

bool IsDecimalDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

bool IsHexDigit(QChar c) { return vantrel::common::IsHexDigit(c.unicode()); }

bool IsX(QChar c) { return c == QLatin1Char('x') || c == QLatin1Char('X'); }

// Accumulates digits of the given base, stopping at 0xFFFFFFFF.
std::uint32_t Accumulate(const QString& digits, qsizetype from, std::uint64_t base) {
  std::uint64_t total = 0;
  for (qsizetype i = from; i < digits.size(); ++i) {
    total = total * base + vantrel::common::HexDigitValue(digits[i].unicode()).value_or(0);
    if (total > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  }
  return static_cast<std::uint32_t>(total);
}

}  // namespace

CHexEntryEdit::CHexEntryEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this, [this] {
    Reparse();
    repaint();
  });
  Reparse();
}

CHexEntryEdit::~CHexEntryEdit() = default;

CHexEntryEdit::Format CHexEntryEdit::Parse(const QString& text, std::uint32_t& value) {
  if (text.isEmpty()) return kInvalid;

  bool allDecimal = true;
  for (QChar c : text) {
    if (!IsDecimalDigit(c)) {
      allDecimal = false;
      break;
    }
  }
  if (allDecimal) {
    value = Accumulate(text, 0, 10);
    return kDecimal;
  }

  // A prefix of "x" or "0x" (either case), then hex digits only; at least
  // one digit must follow the prefix.
  qsizetype digitsFrom = 0;
  if (IsX(text[0])) {
    digitsFrom = 1;
  } else if (text.size() >= 2 && text[0] == QLatin1Char('0') && IsX(text[1])) {
    digitsFrom = 2;
  }
  if (digitsFrom >= text.size()) return kInvalid;
  for (qsizetype i = digitsFrom; i < text.size(); ++i) {
    if (!IsHexDigit(text[i])) return kInvalid;
  }
  value = Accumulate(text, digitsFrom, 16);
  return kHex;
}

void CHexEntryEdit::Reparse() {
  std::uint32_t parsed = value_;
  format_ = Parse(text(), parsed);
  if (format_ != kInvalid) value_ = parsed;
}

bool CHexEntryEdit::GetValue(std::uint32_t& value) {
  Reparse();
  if (format_ == kInvalid) return false;
  value = value_;
  return true;
}

void CHexEntryEdit::SetValue(std::uint32_t value) {
  setText(QString::asprintf("0x%08X", static_cast<unsigned int>(value)));
  value_ = value;
  format_ = kHex;
}

void CHexEntryEdit::paintEvent(QPaintEvent* event) {
  Reparse();
  if (format_ != kInvalid) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  painter.setPen(InvalidTextColour());
  painter.setFont(font());
  const QFontMetrics metrics(font());
  painter.drawText(QPoint(1, 1 + metrics.ascent()), text());
}
