#include "CMemoryView.h"

#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

#include <k27/common/Hex.h>

#include "CColouredListBox.h"
#include "MemoryBuffer.h"

namespace {

char HexDigit(int value) { return "0123456789ABCDEF"[value & 0xF]; }

constexpr std::int32_t kRed = CColouredListBox::Rgb(255, 0, 0);
// Drawn for both digits of a byte never read.
constexpr QChar kUnreadDigit(u'-');

}  // namespace

QChar CMemoryView::DisplayedCharacter(std::uint8_t byte) {
  // Control characters, DEL and the C1 controls have no glyph.
  const bool control = byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
  return control ? QLatin1Char('.') : QChar(byte);
}

QString CMemoryView::HexText(std::uint8_t byte, std::uint8_t state) {
  if (state == MemoryBuffer::kNeverRead) return QString(2, kUnreadDigit);
  const char digits[2] = {HexDigit(byte >> 4), HexDigit(byte)};
  return QString::fromLatin1(digits, 2);
}

QChar CMemoryView::CharacterOf(std::uint8_t byte, std::uint8_t state) {
  return state == MemoryBuffer::kNeverRead ? QLatin1Char('.') : DisplayedCharacter(byte);
}

QColor CMemoryView::StateColour(std::uint8_t state, const QPalette& palette) {
  if (state == MemoryBuffer::kChanged) return QColor(255, 0, 0);
  if (state == MemoryBuffer::kVerified) return QColor(0, 0, 255);
  // The fill of a byte never read must not pass for a byte of the board.
  const QColor text = palette.color(QPalette::Text);
  if (state == MemoryBuffer::kNeverRead) {
    // Half way between the text and the background, in any colour scheme.
    const QColor base = palette.color(QPalette::Base);
    return QColor((text.red() + base.red()) / 2, (text.green() + base.green()) / 2,
                  (text.blue() + base.blue()) / 2);
  }
  return text;
}

CMemoryView::CMemoryView(QWidget* parent)
    : QWidget(parent), scrollBar_(new QScrollBar(Qt::Vertical, this)) {
  font_ = CColouredListBox::MakeFixedPitchFont();
  setFont(font_);
  setFocusPolicy(Qt::StrongFocus);
  // Every pixel is drawn from the off-screen image.
  setAttribute(Qt::WA_OpaquePaintEvent);
  scrollBar_->setObjectName(QStringLiteral("id%1").arg(kScrollBarId));
  scrollBar_->setFocusPolicy(Qt::NoFocus);
  scrollBar_->setEnabled(false);
  scrollBar_->setRange(0, 0);
  connect(scrollBar_, &QScrollBar::valueChanged, this, &CMemoryView::OnScroll);
  MeasureFont();
}

CMemoryView::~CMemoryView() = default;

void CMemoryView::MeasureFont() {
  const QFontMetrics metrics(font_);
  charWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
  lineHeight_ = std::max(1, metrics.height() + 1);
}

bool CMemoryView::Showing() const {
  return buffer_ != nullptr && size_ > 0 && buffer_->Size() == size_ &&
         buffer_->Data() != nullptr && buffer_->State() != nullptr;
}

void CMemoryView::Attach(MemoryBuffer* buffer) {
  marked_.clear();
  if (buffer != nullptr && buffer->Start() == start_ && buffer->Size() == size_) {
    buffer_ = buffer;
    update();
    return;
  }
  buffer_ = buffer;
  topLine_ = 0;
  hexMode_ = true;
  cursor_ = previousCursor_ = 0;
  highNibble_ = true;
  start_ = buffer != nullptr ? buffer->Start() : -1;
  size_ = buffer != nullptr ? buffer->Size() : 0;
  totalLines_ = (size_ + kBytesPerLine - 1) / kBytesPerLine;
  update();
  SetUpScrollBar();
}

void CMemoryView::MarkAddresses(std::vector<int> addresses) {
  std::sort(addresses.begin(), addresses.end());
  marked_ = std::move(addresses);
  update();
}

bool CMemoryView::Marked(int address) const {
  return std::binary_search(marked_.begin(), marked_.end(), address);
}

QSize CMemoryView::minimumSizeHint() const {
  const int columns = CharactersX() + kBytesPerLine * charWidth_ + kLeft;
  return QSize(columns + scrollBar_->sizeHint().width(), 1 + 4 * lineHeight_);
}

QSize CMemoryView::sizeHint() const {
  const QSize least = minimumSizeHint();
  return QSize(least.width(), 1 + 16 * lineHeight_);
}

void CMemoryView::UpdateVisibleLines() { visibleLines_ = std::max(0, height() - 1) / lineHeight_; }

void CMemoryView::SetUpScrollBar() {
  UpdateVisibleLines();
  settingScroll_ = true;
  if (visibleLines_ < totalLines_) {
    scrollBar_->setEnabled(true);
    scrollBar_->setRange(0, totalLines_ - visibleLines_);
    scrollBar_->setPageStep(std::max(1, visibleLines_));
    scrollBar_->setSingleStep(1);
    scrollBar_->setValue(0);
  } else {
    scrollBar_->setRange(0, 0);
    scrollBar_->setEnabled(false);
  }
  settingScroll_ = false;
  topLine_ = 0;
}

void CMemoryView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int width = scrollBar_->sizeHint().width();
  scrollBar_->setGeometry(this->width() - width, 0, width, height());
  // A new height keeps the lines shown as far as they still fit.
  UpdateVisibleLines();
  const int last = std::max(0, totalLines_ - visibleLines_);
  settingScroll_ = true;
  if (visibleLines_ < totalLines_) {
    scrollBar_->setEnabled(true);
    scrollBar_->setRange(0, last);
    scrollBar_->setPageStep(std::max(1, visibleLines_));
  } else {
    scrollBar_->setRange(0, 0);
    scrollBar_->setEnabled(false);
  }
  topLine_ = std::clamp(topLine_, 0, last);
  scrollBar_->setValue(topLine_);
  settingScroll_ = false;
}

void CMemoryView::SetTopLine(int line) {
  topLine_ = std::clamp(line, 0, std::max(0, totalLines_ - visibleLines_));
  settingScroll_ = true;
  scrollBar_->setValue(topLine_);
  settingScroll_ = false;
}

void CMemoryView::OnScroll(int position) {
  if (settingScroll_) return;
  topLine_ = std::clamp(position, 0, std::max(0, totalLines_ - visibleLines_));
  // The cursor follows into view, keeping its column.
  const int column = cursor_ % kBytesPerLine;
  const int line = cursor_ / kBytesPerLine;
  if (line < topLine_)
    cursor_ = topLine_ * kBytesPerLine + column;
  else if (visibleLines_ > 0 && line > topLine_ + visibleLines_ - 1)
    cursor_ = (topLine_ + visibleLines_ - 1) * kBytesPerLine + column;
  cursor_ = std::clamp(cursor_, 0, std::max(0, size_ - 1));
  update();
}

void CMemoryView::paintEvent(QPaintEvent*) {
  const qreal ratio = devicePixelRatioF();
  QImage image(size() * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  const QPalette& colours = palette();
  image.fill(colours.color(QPalette::Base));

  QPainter painter(&image);
  painter.setFont(font_);
  const QFontMetrics metrics(font_);
  const int ascent = metrics.ascent();

  if (!Showing()) {
    painter.setPen(QColor(255, 0, 0));
    painter.drawText(0, ascent, QStringLiteral("[Empty]"));
  } else {
    MeasureFont();
    UpdateVisibleLines();
    const std::uint8_t* data = buffer_->Data();
    const std::uint8_t* state = buffer_->State();
    const int cw = charWidth_;
    int y = 1;
    for (int line = topLine_; line < totalLines_ && y < height(); ++line, y += lineHeight_) {
      const int first = line * kBytesPerLine;
      int hexX = FirstHexGroupX();
      int charX = CharactersX();
      for (int i = first; i < std::min(size_, first + kBytesPerLine); ++i) {
        const std::uint8_t byte = data[i];
        const QColor colour = StateColour(state[i], colours);
        const bool atCursor = active_ && i == cursor_;
        if (!marked_.empty() && Marked(start_ + i)) {
          painter.fillRect(hexX, y, 2 * cw, lineHeight_, MarkColour());
          painter.fillRect(charX, y, cw, lineHeight_, MarkColour());
        }
        const QString digits = HexText(byte, state[i]);
        for (int d = 0; d < 2; ++d) {
          const int x = hexX + d * cw;
          const bool lit = atCursor && hexMode_ && (highNibble_ == (d == 0));
          if (lit) painter.fillRect(x, y, cw, lineHeight_, colours.color(QPalette::Highlight));
          painter.setPen(lit ? colours.color(QPalette::HighlightedText) : colour);
          painter.drawText(x, y + ascent, QString(digits[d]));
        }
        const bool litChar = atCursor && !hexMode_;
        if (litChar)
          painter.fillRect(charX, y, cw, lineHeight_, colours.color(QPalette::Highlight));
        painter.setPen(litChar ? colours.color(QPalette::HighlightedText) : colour);
        painter.drawText(charX, y + ascent, QString(CharacterOf(byte, state[i])));
        hexX += (i - first == 7) ? 4 * cw : 3 * cw;
        charX += cw;
      }
      painter.setPen(AddressColour());
      painter.drawText(kLeft, y + ascent,
                       QString::asprintf("%08X", static_cast<unsigned>(start_ + first)));
    }
  }
  painter.end();

  QPainter out(this);
  out.drawImage(0, 0, image);
}

QPoint CMemoryView::PointOf(int index, bool characters, bool lowNibble) const {
  if (index < 0 || index >= size_) return {};
  const int line = index / kBytesPerLine - topLine_;
  if (line < 0 || line >= visibleLines_) return {};
  const int column = index % kBytesPerLine;
  int x = 0;
  if (characters) {
    x = CharactersX() + column * charWidth_;
  } else {
    x = (column < 8 ? FirstHexGroupX() + column * 3 * charWidth_
                    : SecondHexGroupX() + (column - 8) * 3 * charWidth_) +
        (lowNibble ? charWidth_ : 0);
  }
  return QPoint(x + charWidth_ / 2, 1 + line * lineHeight_ + lineHeight_ / 2);
}

bool CMemoryView::event(QEvent* event) {
  // Tab goes from the hex column to the characters and Shift+Tab back; past
  // either end they move the focus on, so that the keyboard never stays
  // trapped in the view.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const bool backwards = key->key() == Qt::Key_Backtab ||
                           (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
    const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    if (tab && (key->modifiers() & Qt::ControlModifier) == 0) {
      const bool leaves = backwards ? hexMode_ : !hexMode_;
      if (leaves || !Showing()) return QWidget::event(event);
      keyPressEvent(key);
      return true;
    }
  }
  return QWidget::event(event);
}

void CMemoryView::keyPressEvent(QKeyEvent* event) {
  event->accept();
  active_ = true;
  if (!Showing()) {
    update();
    return;
  }
  if (MoveKey(event->key())) {
    Settle();
    return;
  }
  const QString text = event->text();
  if (!text.isEmpty()) TypeCharacter(text.at(0));
  Settle();
}

bool CMemoryView::MoveKey(int key) {
  const int last = size_ - 1;
  const int before = cursor_;
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Backspace:
      if (hexMode_) {
        if (!highNibble_) {
          highNibble_ = true;
        } else if (cursor_ > 0) {
          --cursor_;
          highNibble_ = false;
        }
      } else if (cursor_ > 0) {
        --cursor_;
      }
      break;
    case Qt::Key_Right:
      if (hexMode_) {
        if (highNibble_) {
          highNibble_ = false;
        } else if (cursor_ < last) {
          ++cursor_;
          highNibble_ = true;
        }
      } else if (cursor_ < last) {
        ++cursor_;
      }
      break;
    case Qt::Key_Up:
      if (cursor_ > 15) cursor_ -= kBytesPerLine;
      break;
    case Qt::Key_Down:
      if (cursor_ + kBytesPerLine <= last) cursor_ += kBytesPerLine;
      break;
    case Qt::Key_PageUp:
      cursor_ = std::max(0, cursor_ - visibleLines_ * kBytesPerLine);
      break;
    case Qt::Key_PageDown:
      cursor_ = std::min(last, cursor_ + visibleLines_ * kBytesPerLine);
      break;
    case Qt::Key_Home: {
      const int lineStart = cursor_ - cursor_ % kBytesPerLine;
      cursor_ = cursor_ == lineStart ? 0 : lineStart;
      highNibble_ = true;
      break;
    }
    case Qt::Key_End: {
      const int lineEnd = cursor_ - cursor_ % kBytesPerLine + kBytesPerLine - 1;
      cursor_ = cursor_ == lineEnd ? last : lineEnd;
      highNibble_ = true;
      break;
    }
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      hexMode_ = !hexMode_;
      highNibble_ = true;
      break;
    default:
      return false;
  }
  previousCursor_ = before;
  return true;
}

void CMemoryView::TypeCharacter(QChar c) {
  const int index = cursor_;
  // A byte past the memory's end has no board address of its own.
  if (!buffer_->Writable(start_ + index)) return;
  const std::uint8_t old = buffer_->Data()[index];
  const bool last = index == size_ - 1;
  if (hexMode_) {
    const auto digit = vantrel::common::HexDigitValue(c.unicode());
    if (!digit) return;
    const int value = *digit;
    previousCursor_ = cursor_;
    std::uint8_t byte = 0;
    if (highNibble_) {
      byte = static_cast<std::uint8_t>((value << 4) | (old & 0x0F));
      highNibble_ = false;
    } else {
      byte = static_cast<std::uint8_t>((old & 0xF0) | value);
      if (!last) {
        ++cursor_;
        highNibble_ = true;
      }
    }
    WriteByte(index, byte);
    return;
  }
  // One byte per character: control characters, DEL (the Delete key's
  // text) and characters beyond one byte are not typed.
  const char16_t code = c.unicode();
  if (code < 32 || code == 0x7F || code > 0xFF) return;
  previousCursor_ = cursor_;
  if (!last) ++cursor_;
  WriteByte(index, static_cast<std::uint8_t>(code));
}

void CMemoryView::WriteByte(int index, std::uint8_t value) {
  buffer_->Data()[index] = value;
  if (!buffer_->Write(start_ + index, 1) && buffer_->Log() != nullptr) {
    buffer_->Log()->AddLine(QStringLiteral("[Error] %1").arg(buffer_->ErrorText()), kRed);
  }
}

void CMemoryView::Settle() {
  cursor_ = std::clamp(cursor_, 0, std::max(0, size_ - 1));
  KeepCursorVisible();
  update();
}

void CMemoryView::KeepCursorVisible() {
  if (visibleLines_ <= 0 || visibleLines_ >= totalLines_) return;
  const int line = cursor_ / kBytesPerLine;
  const int fromLine = previousCursor_ / kBytesPerLine;
  const int lastShown = topLine_ + visibleLines_ - 1;
  int top = topLine_;
  if (line < topLine_) {
    top = fromLine == line + 1 ? topLine_ - 1 : line - (fromLine - topLine_);
  } else if (line > lastShown) {
    top = fromLine == line - 1 ? topLine_ + 1 : line - (fromLine - topLine_);
  } else {
    return;
  }
  // Whatever the distance kept, the cursor's line ends up shown.
  top = std::clamp(top, line - visibleLines_ + 1, line);
  SetTopLine(top);
}

void CMemoryView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  active_ = true;
  if (event->button() == Qt::LeftButton && Showing()) Click(event->position().toPoint());
  update();
}

void CMemoryView::Click(const QPoint& point) {
  const int x = point.x();
  if (x < kLeft) return;
  previousCursor_ = cursor_;
  const int line = point.y() / lineHeight_ + topLine_;
  const int cw = charWidth_;
  int column = 0;
  if (x < FirstHexGroupX()) {
    highNibble_ = true;
  } else if (x < CharactersX()) {
    hexMode_ = true;
    const int groupStart = x < SecondHexGroupX() ? FirstHexGroupX() : SecondHexGroupX();
    const int offset = x - groupStart;
    column = std::min(offset / (3 * cw), 7) + (groupStart == SecondHexGroupX() ? 8 : 0);
    highNibble_ = offset - (column % 8) * 3 * cw < cw;
  } else {
    hexMode_ = false;
    column = std::min((x - CharactersX()) / cw, 15);
  }
  cursor_ = line * kBytesPerLine + column;
  if (cursor_ >= size_) {
    cursor_ = size_ - 1;
    if (hexMode_) highNibble_ = false;
  }
  Settle();
}

void CMemoryView::wheelEvent(QWheelEvent* event) {
  event->accept();
  active_ = true;
  const int turn = event->angleDelta().y();
  if (turn == 0 || !Showing()) return;
  const int before = cursor_;
  MoveKey(turn > 0 ? Qt::Key_Up : Qt::Key_Down);
  previousCursor_ = before;
  Settle();
}
