#include "CHexBlockEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>

#include <algorithm>

#include "CColouredListBox.h"

namespace {

constexpr int kMargin = 2;

char HexDigit(int value) { return "0123456789ABCDEF"[value & 0xF]; }

// A hex digit as the editor takes it: decimal digits and lower-case letters.
int TypedHexValue(QChar c) {
  if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) return c.unicode() - '0';
  if (c >= QLatin1Char('a') && c <= QLatin1Char('f')) return c.unicode() - 'a' + 10;
  return -1;
}

bool IsNibble(CHexBlockEdit::CaretMode mode) {
  return mode == CHexBlockEdit::CaretMode::kHighNibble ||
         mode == CHexBlockEdit::CaretMode::kLowNibble;
}

}  // namespace

CHexBlockEdit::CHexBlockEdit(bool scrollBars, QWidget* parent) : QAbstractScrollArea(parent) {
  font_ = CColouredListBox::MakeFixedPitchFont();
  setFont(font_);
  viewport()->setFont(font_);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  const Qt::ScrollBarPolicy policy = scrollBars ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
  setVerticalScrollBarPolicy(policy);
  setHorizontalScrollBarPolicy(policy);
  // The whole viewport is repainted from the off-screen image each time.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  Relayout();
}

CHexBlockEdit::~CHexBlockEdit() = default;

void CHexBlockEdit::SetOptions(bool showAddress, bool showHex, bool showChars, bool wideAddress) {
  showAddress_ = showAddress;
  showHex_ = showHex;
  showChars_ = showChars;
  wideAddress_ = wideAddress;
  // The caret must stay in a column that is shown.
  if (IsNibble(mode_) && !showHex_ && showChars_) mode_ = CaretMode::kCharacter;
  if (mode_ == CaretMode::kCharacter && !showChars_ && showHex_) mode_ = CaretMode::kHighNibble;
  Relayout();
}

void CHexBlockEdit::SetBytesPerRow(int n) {
  bytesPerRow_ = std::max(1, n);
  Relayout();
}

void CHexBlockEdit::SetInsertDelete(bool on) { insertDelete_ = on; }

void CHexBlockEdit::SetMaxLength(int n) { maxLength_ = std::max(0, n); }

void CHexBlockEdit::SetData(const std::uint8_t* bytes, int n) {
  if (bytes == nullptr || n < 1) {
    bytes_.clear();
  } else {
    bytes_.assign(bytes, bytes + n);
  }
  caret_ = 0;
  mode_ = showHex_ || !showChars_ ? CaretMode::kHighNibble : CaretMode::kCharacter;
  selectionStart_ = selectionEnd_ = -1;
  anchor_ = 0;
  topOffset_ = 0;
  Relayout();
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  viewport()->update();
}

void CHexBlockEdit::SetData(const QByteArray& bytes) {
  SetData(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
}

int CHexBlockEdit::GetData(std::uint8_t* buffer, int max) const {
  if (buffer != nullptr && max > 0) {
    const int n = std::min(Length(), max);
    std::copy_n(bytes_.begin(), n, buffer);
  }
  return Length();
}

QByteArray CHexBlockEdit::Bytes() const {
  return QByteArray(reinterpret_cast<const char*>(bytes_.data()),
                    static_cast<qsizetype>(bytes_.size()));
}

int CHexBlockEdit::TotalLines() const { return (Length() + bytesPerRow_ - 1) / bytesPerRow_; }

int CHexBlockEdit::LinesPerPage() const {
  const int fit = layout_.lineHeight > 0 ? viewport()->height() / layout_.lineHeight : 1;
  return std::max(1, std::min(fit, std::max(1, TotalLines())));
}

void CHexBlockEdit::SetCaret(int index, CaretMode mode) {
  if (Length() == 0) index = 0;
  caret_ = std::clamp(index, 0, std::max(0, Length() - 1));
  mode_ = mode;
  ClearSelection();
  EnsureCaretVisible();
  viewport()->update();
}

void CHexBlockEdit::SetSelection(int start, int end) {
  start = std::clamp(start, 0, Length());
  end = std::clamp(end, 0, Length());
  if (end <= start) {
    ClearSelection();
  } else {
    selectionStart_ = start;
    selectionEnd_ = end;
    anchor_ = start;
  }
  viewport()->update();
}

void CHexBlockEdit::ClearSelection() { selectionStart_ = selectionEnd_ = -1; }

void CHexBlockEdit::Relayout() {
  const QFontMetrics metrics(font_);
  layout_.charWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
  layout_.lineHeight = std::max(1, metrics.height());
  const int cw = layout_.charWidth;
  const int addressChars = showAddress_ ? (wideAddress_ ? 9 : 5) : 0;
  layout_.addressX = kMargin;
  layout_.hexX = layout_.addressX + addressChars * cw;
  layout_.charsX = layout_.hexX + (showHex_ ? 3 * bytesPerRow_ * cw : 0);
  layout_.width = layout_.charsX + (showChars_ ? bytesPerRow_ * cw : 0) + kMargin;
  UpdateScrollBars();
  viewport()->update();
}

void CHexBlockEdit::UpdateScrollBars() {
  const int fit = std::max(1, viewport()->height() / layout_.lineHeight);
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, std::max(0, TotalLines() - fit));
  vertical->setPageStep(fit);
  vertical->setSingleStep(1);
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, layout_.width - viewport()->width()));
  horizontal->setPageStep(std::max(1, viewport()->width()));
  horizontal->setSingleStep(layout_.charWidth);
  topOffset_ = std::min(topOffset_, vertical->maximum() * bytesPerRow_);
}

void CHexBlockEdit::scrollContentsBy(int, int) {
  topOffset_ = verticalScrollBar()->value() * bytesPerRow_;
  viewport()->update();
}

void CHexBlockEdit::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
  EnsureCaretVisible();
}

void CHexBlockEdit::EnsureCaretVisible() {
  if (Length() == 0) {
    topOffset_ = 0;
    return;
  }
  const int fit = std::max(1, viewport()->height() / layout_.lineHeight);
  const int line = caret_ / bytesPerRow_;
  int top = topOffset_ / bytesPerRow_;
  if (line < top) top = line;
  if (line >= top + fit) top = line - fit + 1;
  top = std::clamp(top, 0, std::max(0, TotalLines() - fit));
  topOffset_ = top * bytesPerRow_;
  {
    const QSignalBlocker block(verticalScrollBar());
    verticalScrollBar()->setValue(top);
  }
  // Horizontally, keep the caret's cell in view.
  const QPoint at = PointOf(caret_, mode_);
  QScrollBar* horizontal = horizontalScrollBar();
  if (!at.isNull()) {
    const int x = at.x() + horizontal->value();
    const int left = horizontal->value();
    const int right = left + viewport()->width() - layout_.charWidth;
    if (x < left)
      horizontal->setValue(x - kMargin);
    else if (x > right)
      horizontal->setValue(x - viewport()->width() + 2 * layout_.charWidth);
  }
}

QPoint CHexBlockEdit::PointOf(int index, CaretMode mode) const {
  if (index < 0 || index >= Length()) return {};
  const int line = index / bytesPerRow_ - topOffset_ / bytesPerRow_;
  if (line < 0) return {};
  const int column = index % bytesPerRow_;
  const int cw = layout_.charWidth;
  int x = 0;
  switch (mode) {
    case CaretMode::kHighNibble:
      x = layout_.hexX + column * 3 * cw;
      break;
    case CaretMode::kLowNibble:
      x = layout_.hexX + column * 3 * cw + cw;
      break;
    case CaretMode::kCharacter:
      x = layout_.charsX + column * cw;
      break;
    case CaretMode::kNone:
      x = layout_.addressX;
      break;
  }
  // The middle of the cell, so that a click there lands on it.
  return QPoint(x - horizontalScrollBar()->value() + cw / 2,
                line * layout_.lineHeight + layout_.lineHeight / 2);
}

QString CHexBlockEdit::TextForm(const std::uint8_t* bytes, int n, bool characterColumn) {
  QString text;
  if (bytes == nullptr) return text;
  text.reserve(characterColumn ? n : 3 * n);
  for (int i = 0; i < n; ++i) {
    if (characterColumn) {
      text += IsPrintable(bytes[i]) ? QChar(bytes[i]) : QLatin1Char('.');
    } else {
      text += QLatin1Char(HexDigit(bytes[i] >> 4));
      text += QLatin1Char(HexDigit(bytes[i]));
      text += QLatin1Char(' ');
    }
  }
  return text;
}

void CHexBlockEdit::paintEvent(QPaintEvent*) {
  QWidget* port = viewport();
  const qreal ratio = port->devicePixelRatioF();
  QImage image(port->size() * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::white);

  QPainter painter(&image);
  painter.setFont(font_);
  const QPalette& colours = palette();
  const int cw = layout_.charWidth;
  const int lh = layout_.lineHeight;
  const int ascent = QFontMetrics(font_).ascent();
  const int dx = -horizontalScrollBar()->value();
  const bool selectInHex = IsNibble(mode_);
  const bool selectInChars = mode_ == CaretMode::kCharacter;

  int y = 0;
  for (int lineStart = topOffset_; lineStart < Length() && y < port->height();
       lineStart += bytesPerRow_, y += lh) {
    painter.setPen(Qt::black);
    if (showAddress_) {
      const QString address =
          wideAddress_ ? QString::asprintf("%08X", static_cast<unsigned>(lineStart))
                       : QString::asprintf("%04X", static_cast<unsigned>(lineStart) & 0xFFFFu);
      painter.drawText(dx + layout_.addressX, y + ascent, address);
    }
    const int lineEnd = std::min(Length(), lineStart + bytesPerRow_);
    for (int i = lineStart; i < lineEnd; ++i) {
      const int column = i - lineStart;
      const bool selected = HasSelection() && i >= selectionStart_ && i < selectionEnd_;
      const std::uint8_t byte = bytes_[static_cast<std::size_t>(i)];
      if (showHex_) {
        const int x = dx + layout_.hexX + column * 3 * cw;
        const bool lit = selected && selectInHex;
        if (lit) {
          // The space after the pair joins the highlight unless it ends the selection.
          const int width = (i + 1 < selectionEnd_ && column + 1 < bytesPerRow_) ? 3 * cw : 2 * cw;
          painter.fillRect(x, y, width, lh, colours.color(QPalette::Highlight));
        }
        painter.setPen(lit ? colours.color(QPalette::HighlightedText) : QColor(Qt::black));
        const char pair[2] = {HexDigit(byte >> 4), HexDigit(byte)};
        painter.drawText(x, y + ascent, QString::fromLatin1(pair, 2));
      }
      if (showChars_) {
        const int x = dx + layout_.charsX + column * cw;
        const bool lit = selected && selectInChars;
        if (lit) painter.fillRect(x, y, cw, lh, colours.color(QPalette::Highlight));
        painter.setPen(lit ? colours.color(QPalette::HighlightedText) : QColor(Qt::black));
        painter.drawText(x, y + ascent,
                         IsPrintable(byte) ? QString(QChar(byte)) : QStringLiteral("."));
      }
    }
  }

  // The caret: a cell drawn inverted, only with the focus and no selection.
  if (hasFocus() && !HasSelection()) {
    QRect cell;
    const int line = (caret_ - topOffset_) / bytesPerRow_;
    const int column = caret_ % bytesPerRow_;
    const int lineY = line * lh;
    if (caret_ >= topOffset_ && (Length() > 0 || mode_ == CaretMode::kNone)) {
      switch (mode_) {
        case CaretMode::kHighNibble:
          cell = QRect(dx + layout_.hexX + column * 3 * cw, lineY, cw, lh);
          break;
        case CaretMode::kLowNibble:
          cell = QRect(dx + layout_.hexX + column * 3 * cw + cw, lineY, cw, lh);
          break;
        case CaretMode::kCharacter:
          cell = QRect(dx + layout_.charsX + column * cw, lineY, cw, lh);
          break;
        case CaretMode::kNone:
          if (showAddress_)
            cell = QRect(dx + layout_.addressX, lineY, (wideAddress_ ? 8 : 4) * cw, lh);
          break;
      }
    }
    if (!cell.isEmpty()) {
      painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      painter.fillRect(cell, Qt::white);
    }
  }
  painter.end();

  QPainter out(port);
  out.drawImage(0, 0, image);
}

bool CHexBlockEdit::event(QEvent* event) {
  // Every key is the editor's own while it has the focus, Tab included.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
      keyPressEvent(key);
      return true;
    }
  } else if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (!(key->modifiers() & Qt::AltModifier)) {
      event->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

void CHexBlockEdit::keyPressEvent(QKeyEvent* event) {
  event->accept();
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier))) {
    emit returnPressed();
    return;
  }
  if (Length() == 0) return;
  if (HandleMovementKey(event) || HandleEditKey(event)) {
    viewport()->update();
    return;
  }
  HandleCharacter(event);
  viewport()->update();
}

bool CHexBlockEdit::HandleMovementKey(QKeyEvent* event) {
  const bool extend = event->modifiers() & Qt::ShiftModifier;
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  const int last = Length() - 1;
  const int lineStart = caret_ - caret_ % bytesPerRow_;
  Position to{caret_, mode_};
  const bool hex = IsNibble(mode_);
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      if (hex && showChars_)
        to.mode = CaretMode::kCharacter;
      else if (!hex && showHex_)
        to.mode = CaretMode::kHighNibble;
      break;
    case Qt::Key_Left:
      if (mode_ == CaretMode::kLowNibble) {
        to.mode = CaretMode::kHighNibble;
      } else if (caret_ > 0) {
        to.index = caret_ - 1;
        if (hex) to.mode = CaretMode::kLowNibble;
      }
      break;
    case Qt::Key_Right:
      if (mode_ == CaretMode::kHighNibble) {
        to.mode = CaretMode::kLowNibble;
      } else if (caret_ < last) {
        to.index = caret_ + 1;
        if (hex) to.mode = CaretMode::kHighNibble;
      }
      break;
    case Qt::Key_Up:
      if (caret_ >= bytesPerRow_) to.index = caret_ - bytesPerRow_;
      break;
    case Qt::Key_Down:
      if (caret_ + bytesPerRow_ <= last) to.index = caret_ + bytesPerRow_;
      break;
    case Qt::Key_PageUp: {
      const int step = LinesPerPage() * bytesPerRow_;
      to.index = caret_ >= step ? caret_ - step : caret_ % bytesPerRow_;
      break;
    }
    case Qt::Key_PageDown: {
      const int step = LinesPerPage() * bytesPerRow_;
      if (caret_ + step <= last) {
        to.index = caret_ + step;
      } else {
        // To the last line, in the same column where it has one.
        const int lastLineStart = last - last % bytesPerRow_;
        to.index = std::min(last, lastLineStart + caret_ % bytesPerRow_);
      }
      break;
    }
    case Qt::Key_Home:
      to.index = ctrl ? 0 : lineStart;
      if (hex) to.mode = CaretMode::kHighNibble;
      break;
    case Qt::Key_End:
      to.index = ctrl ? last : std::min(last, lineStart + bytesPerRow_ - 1);
      if (hex) to.mode = CaretMode::kLowNibble;
      break;
    default:
      return false;
  }
  if (mode_ == CaretMode::kNone)
    to.mode = showHex_ ? CaretMode::kHighNibble : CaretMode::kCharacter;
  MoveCaret(to, extend);
  return true;
}

bool CHexBlockEdit::HandleEditKey(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Insert: {
      if (!insertDelete_) return true;
      const int count = HasSelection() ? selectionEnd_ - selectionStart_ : 1;
      const int room = maxLength_ - Length();
      if (room > 0)
        InsertBytes(caret_,
                    std::vector<std::uint8_t>(static_cast<std::size_t>(std::min(count, room)), 0));
      ClearSelection();
      Edited();
      return true;
    }
    case Qt::Key_Delete:
      if (!insertDelete_) return true;
      if (HasSelection()) {
        const int from = selectionStart_;
        EraseBytes(from, selectionEnd_ - selectionStart_);
        caret_ = from;
      } else {
        EraseBytes(caret_, 1);
      }
      ClearSelection();
      Edited();
      return true;
    case Qt::Key_Backspace:
      if (caret_ > 0) {
        EraseBytes(caret_ - 1, 1);
        --caret_;
      }
      ClearSelection();
      Edited();
      return true;
    default:
      return false;
  }
}

void CHexBlockEdit::HandleCharacter(QKeyEvent* event) {
  if (event->modifiers() & Qt::ControlModifier) {
    switch (event->key()) {
      case Qt::Key_C:
        if (HasSelection()) Copy();
        break;
      case Qt::Key_X:
        if (HasSelection()) Cut();
        break;
      case Qt::Key_V:
        Paste();
        break;
      default:
        break;  // Ctrl+Z and the rest do nothing
    }
    return;
  }
  const QString text = event->text();
  if (text.isEmpty()) return;
  const QChar c = text.at(0);
  if (mode_ == CaretMode::kCharacter) {
    // One byte per character: control characters and characters beyond
    // one byte are not typed.
    const char16_t code = c.unicode();
    if (code >= 0x20 && code <= 0xFF && code != 0x7F)
      TypeCharacter(static_cast<std::uint8_t>(code));
  } else if (IsNibble(mode_)) {
    const int value = TypedHexValue(c);
    if (value >= 0) TypeHexDigit(value);
  }
}

void CHexBlockEdit::TypeHexDigit(int value) {
  auto& byte = bytes_[static_cast<std::size_t>(caret_)];
  if (mode_ == CaretMode::kHighNibble) {
    byte = static_cast<std::uint8_t>((value << 4) | (byte & 0x0F));
    mode_ = CaretMode::kLowNibble;
  } else {
    byte = static_cast<std::uint8_t>((byte & 0xF0) | value);
    if (caret_ < Length() - 1) {
      ++caret_;
      mode_ = CaretMode::kHighNibble;
    }
  }
  ClearSelection();
  EnsureCaretVisible();
  emit dataChanged();
}

void CHexBlockEdit::TypeCharacter(std::uint8_t value) {
  bytes_[static_cast<std::size_t>(caret_)] = value;
  if (caret_ < Length() - 1) ++caret_;
  ClearSelection();
  EnsureCaretVisible();
  emit dataChanged();
}

void CHexBlockEdit::MoveCaret(Position to, bool extend) {
  if (extend) {
    if (!HasSelection()) anchor_ = caret_;
    caret_ = to.index;
    mode_ = to.mode;
    const int from = std::min(anchor_, caret_);
    const int end = std::max(anchor_, caret_);
    if (end > from) {
      selectionStart_ = from;
      selectionEnd_ = end;
    } else {
      ClearSelection();
    }
  } else {
    caret_ = to.index;
    mode_ = to.mode;
    ClearSelection();
  }
  EnsureCaretVisible();
}

CHexBlockEdit::Position CHexBlockEdit::PositionAt(const QPoint& point) const {
  const int cw = layout_.charWidth;
  const int x = point.x() + horizontalScrollBar()->value();
  const int line = std::max(0, point.y()) / layout_.lineHeight + topOffset_ / bytesPerRow_;
  Position at;
  int column = 0;
  if (showChars_ && x >= layout_.charsX) {
    at.mode = CaretMode::kCharacter;
    column = std::min((x - layout_.charsX) / cw, bytesPerRow_ - 1);
  } else if (showHex_ && x >= layout_.hexX) {
    const int offset = x - layout_.hexX;
    column = std::min(offset / (3 * cw), bytesPerRow_ - 1);
    at.mode = offset - column * 3 * cw < cw ? CaretMode::kHighNibble : CaretMode::kLowNibble;
  } else {
    // The address column: the start of the line, in the column the caret is in.
    at.mode = mode_ == CaretMode::kCharacter || !showHex_ ? CaretMode::kCharacter
                                                          : CaretMode::kHighNibble;
  }
  at.index = line * bytesPerRow_ + column;
  if (at.index >= Length()) {
    at.index = std::max(0, Length() - 1);
    if (IsNibble(at.mode)) at.mode = CaretMode::kLowNibble;
  }
  return at;
}

void CHexBlockEdit::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  setFocus(Qt::MouseFocusReason);
  if (Length() == 0) return;
  const Position at = PositionAt(event->position().toPoint());
  if (!HasSelection()) anchor_ = caret_;
  dragInCharacters_ = at.mode == CaretMode::kCharacter;
  dragging_ = true;
  if (event->modifiers() & Qt::ShiftModifier) {
    SelectTo(at);
  } else {
    anchor_ = at.index;
    caret_ = at.index;
    mode_ = at.mode;
    ClearSelection();
  }
  viewport()->update();
}

void CHexBlockEdit::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || Length() == 0) return;
  QPoint point = event->position().toPoint();
  // Above or below the lines: scroll by one line towards the pointer.
  QScrollBar* vertical = verticalScrollBar();
  if (point.y() < 0) {
    vertical->setValue(vertical->value() - 1);
    point.setY(0);
  } else if (point.y() >= viewport()->height()) {
    vertical->setValue(vertical->value() + 1);
    point.setY(std::max(0, LinesPerPage() * layout_.lineHeight - 1));
  }
  SelectTo(PositionAt(point));
  viewport()->update();
}

// Selects from the anchor to the byte at the position: that byte is part of a
// hex selection and just past a character one. On the anchor byte itself
// nothing is selected, so that a click never hides the caret.
void CHexBlockEdit::SelectTo(Position at) {
  caret_ = at.index;
  if (dragInCharacters_)
    mode_ = CaretMode::kCharacter;
  else
    mode_ = IsNibble(at.mode) ? at.mode : CaretMode::kHighNibble;
  if (at.index == anchor_) {
    ClearSelection();
    return;
  }
  selectionStart_ = std::min(anchor_, at.index);
  selectionEnd_ = std::max(anchor_, at.index) + (dragInCharacters_ ? 0 : 1);
}

void CHexBlockEdit::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
}

void CHexBlockEdit::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void CHexBlockEdit::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void CHexBlockEdit::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  dragging_ = false;
  viewport()->update();
}

void CHexBlockEdit::contextMenuEvent(QContextMenuEvent* event) { event->accept(); }

void CHexBlockEdit::InsertBytes(int at, const std::vector<std::uint8_t>& bytes) {
  at = std::clamp(at, 0, Length());
  bytes_.insert(bytes_.begin() + at, bytes.begin(), bytes.end());
}

void CHexBlockEdit::EraseBytes(int from, int count) {
  from = std::clamp(from, 0, Length());
  count = std::clamp(count, 0, Length() - from);
  bytes_.erase(bytes_.begin() + from, bytes_.begin() + from + count);
}

// After a change of length: caret and scroll position back inside the block.
void CHexBlockEdit::Edited() {
  caret_ = std::clamp(caret_, 0, std::max(0, Length() - 1));
  UpdateScrollBars();
  EnsureCaretVisible();
  viewport()->update();
  emit dataChanged();
}

QMimeData* CHexBlockEdit::MakeMimeData() const {
  auto* mime = new QMimeData;
  const std::uint8_t* first = bytes_.data() + selectionStart_;
  const int n = selectionEnd_ - selectionStart_;
  mime->setData(QString::fromLatin1(kBinaryFormat),
                QByteArray(reinterpret_cast<const char*>(first), n));
  mime->setText(TextForm(first, n, InCharacters()));
  return mime;
}

void CHexBlockEdit::Copy() {
  if (!HasSelection()) return;
  QApplication::clipboard()->setMimeData(MakeMimeData());
}

void CHexBlockEdit::Cut() {
  if (!HasSelection()) return;
  Copy();
  Clear();
}

void CHexBlockEdit::Paste() {
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  if (mime == nullptr) return;
  QByteArray block;
  const QString binary = QString::fromLatin1(kBinaryFormat);
  if (mime->hasFormat(binary))
    block = mime->data(binary);
  else if (mime->hasText())
    block = mime->text().toUtf8();
  if (block.isEmpty()) return;

  int at = 0;
  if (HasSelection()) {
    at = selectionStart_;
    EraseBytes(selectionStart_, selectionEnd_ - selectionStart_);
  } else if (Length() > 0) {
    at = caret_ + (mode_ == CaretMode::kLowNibble ? 1 : 0);
  }
  const int room = std::max(0, maxLength_ - Length());
  const int n = std::min(static_cast<int>(std::min<qsizetype>(block.size(), INT_MAX)), room);
  const auto* first = reinterpret_cast<const std::uint8_t*>(block.constData());
  InsertBytes(at, std::vector<std::uint8_t>(first, first + n));
  if (mode_ == CaretMode::kNone) mode_ = showHex_ ? CaretMode::kHighNibble : CaretMode::kCharacter;
  ClearSelection();
  Edited();
}

void CHexBlockEdit::Clear() {
  if (!HasSelection()) return;
  const int from = selectionStart_;
  EraseBytes(from, selectionEnd_ - selectionStart_);
  caret_ = from;
  ClearSelection();
  Edited();
}

void CHexBlockEdit::SelectAll() { SetSelection(0, Length()); }
