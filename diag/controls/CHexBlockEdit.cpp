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

bool IsNibble(CHexBlockEdit::CaretMode mode) { return HexBlockModel::IsNibble(mode); }

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
  wideAddress_ = wideAddress;
  model_.SetColumns(showHex, showChars);
  Relayout();
}

void CHexBlockEdit::SetBytesPerRow(int n) {
  model_.SetBytesPerRow(n);
  Relayout();
}

void CHexBlockEdit::SetInsertDelete(bool on) { model_.SetInsertDelete(on); }

void CHexBlockEdit::SetMaxLength(int n) { model_.SetMaxLength(n); }

void CHexBlockEdit::SetData(const std::uint8_t* bytes, int n) {
  model_.SetData(bytes, n);
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
  return model_.GetData(buffer, max);
}

QByteArray CHexBlockEdit::Bytes() const {
  const std::vector<std::uint8_t>& bytes = model_.Data();
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

int CHexBlockEdit::LinesPerPage() const {
  const int fit = layout_.lineHeight > 0 ? viewport()->height() / layout_.lineHeight : 1;
  return std::max(1, std::min(fit, std::max(1, model_.Lines())));
}

void CHexBlockEdit::SetCaret(int index, CaretMode mode) {
  model_.SetCaret(index, mode);
  EnsureCaretVisible();
  viewport()->update();
}

void CHexBlockEdit::SetSelection(int start, int end) {
  model_.SetSelection(start, end);
  viewport()->update();
}

void CHexBlockEdit::Relayout() {
  const int bytesPerRow = model_.BytesPerRow();
  const QFontMetrics metrics(font_);
  layout_.charWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
  layout_.lineHeight = std::max(1, metrics.height());
  const int cw = layout_.charWidth;
  const int addressChars = showAddress_ ? (wideAddress_ ? 9 : 5) : 0;
  layout_.addressX = kMargin;
  layout_.hexX = layout_.addressX + addressChars * cw;
  layout_.charsX = layout_.hexX + (model_.HexShown() ? 3 * bytesPerRow * cw : 0);
  layout_.width = layout_.charsX + (model_.CharactersShown() ? bytesPerRow * cw : 0) + kMargin;
  UpdateScrollBars();
  viewport()->update();
}

void CHexBlockEdit::UpdateScrollBars() {
  const int bytesPerRow = model_.BytesPerRow();
  const int fit = std::max(1, viewport()->height() / layout_.lineHeight);
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, std::max(0, model_.Lines() - fit));
  vertical->setPageStep(fit);
  vertical->setSingleStep(1);
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, layout_.width - viewport()->width()));
  horizontal->setPageStep(std::max(1, viewport()->width()));
  horizontal->setSingleStep(layout_.charWidth);
  topOffset_ = std::min(topOffset_, vertical->maximum() * bytesPerRow);
}

void CHexBlockEdit::scrollContentsBy(int, int) {
  topOffset_ = verticalScrollBar()->value() * model_.BytesPerRow();
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
  const int bytesPerRow = model_.BytesPerRow();
  const int fit = std::max(1, viewport()->height() / layout_.lineHeight);
  const int line = model_.Caret() / bytesPerRow;
  int top = topOffset_ / bytesPerRow;
  if (line < top) top = line;
  if (line >= top + fit) top = line - fit + 1;
  top = std::clamp(top, 0, std::max(0, model_.Lines() - fit));
  topOffset_ = top * bytesPerRow;
  {
    const QSignalBlocker block(verticalScrollBar());
    verticalScrollBar()->setValue(top);
  }
  // Horizontally, keep the caret's cell in view.
  const QPoint at = PointOf(model_.Caret(), model_.Mode());
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
  const int bytesPerRow = model_.BytesPerRow();
  if (index < 0 || index >= Length()) return {};
  const int line = index / bytesPerRow - topOffset_ / bytesPerRow;
  if (line < 0) return {};
  const int column = index % bytesPerRow;
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
  return QString::fromLatin1(HexBlockModel::TextForm(bytes, n, characterColumn));
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
  const std::vector<std::uint8_t>& bytes = model_.Data();
  const int bytesPerRow = model_.BytesPerRow();
  const int caret = model_.Caret();
  const CaretMode mode = model_.Mode();
  const int selectionStart = model_.SelectionStart();
  const int selectionEnd = model_.SelectionEnd();
  const bool selectInHex = IsNibble(mode);
  const bool selectInChars = mode == CaretMode::kCharacter;

  int y = 0;
  for (int lineStart = topOffset_; lineStart < Length() && y < port->height();
       lineStart += bytesPerRow, y += lh) {
    painter.setPen(Qt::black);
    if (showAddress_) {
      const QString address =
          wideAddress_ ? QString::asprintf("%08X", static_cast<unsigned>(lineStart))
                       : QString::asprintf("%04X", static_cast<unsigned>(lineStart) & 0xFFFFu);
      painter.drawText(dx + layout_.addressX, y + ascent, address);
    }
    const int lineEnd = std::min(Length(), lineStart + bytesPerRow);
    for (int i = lineStart; i < lineEnd; ++i) {
      const int column = i - lineStart;
      const bool selected = HasSelection() && i >= selectionStart && i < selectionEnd;
      const std::uint8_t byte = bytes[static_cast<std::size_t>(i)];
      if (model_.HexShown()) {
        const int x = dx + layout_.hexX + column * 3 * cw;
        const bool lit = selected && selectInHex;
        if (lit) {
          // The space after the pair joins the highlight unless it ends the selection.
          const int width = (i + 1 < selectionEnd && column + 1 < bytesPerRow) ? 3 * cw : 2 * cw;
          painter.fillRect(x, y, width, lh, colours.color(QPalette::Highlight));
        }
        painter.setPen(lit ? colours.color(QPalette::HighlightedText) : QColor(Qt::black));
        const char pair[2] = {HexDigit(byte >> 4), HexDigit(byte)};
        painter.drawText(x, y + ascent, QString::fromLatin1(pair, 2));
      }
      if (model_.CharactersShown()) {
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
    const int line = (caret - topOffset_) / bytesPerRow;
    const int column = caret % bytesPerRow;
    const int lineY = line * lh;
    if (caret >= topOffset_ && (Length() > 0 || mode == CaretMode::kNone)) {
      switch (mode) {
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
  using Move = HexBlockModel::Move;
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  Move move = Move::kLeft;
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      move = Move::kSwitchColumn;
      break;
    case Qt::Key_Left:
      move = Move::kLeft;
      break;
    case Qt::Key_Right:
      move = Move::kRight;
      break;
    case Qt::Key_Up:
      move = Move::kUp;
      break;
    case Qt::Key_Down:
      move = Move::kDown;
      break;
    case Qt::Key_PageUp:
      move = Move::kPageUp;
      break;
    case Qt::Key_PageDown:
      move = Move::kPageDown;
      break;
    case Qt::Key_Home:
      move = ctrl ? Move::kFirst : Move::kLineStart;
      break;
    case Qt::Key_End:
      move = ctrl ? Move::kLast : Move::kLineEnd;
      break;
    default:
      return false;
  }
  model_.MoveCaret(move, event->modifiers() & Qt::ShiftModifier, LinesPerPage());
  EnsureCaretVisible();
  return true;
}

bool CHexBlockEdit::HandleEditKey(QKeyEvent* event) {
  bool edited = false;
  switch (event->key()) {
    case Qt::Key_Insert:
      edited = model_.InsertZeros();
      break;
    case Qt::Key_Delete:
      edited = model_.DeleteForward();
      break;
    case Qt::Key_Backspace:
      edited = model_.DeleteBack();
      break;
    default:
      return false;
  }
  if (edited) Edited();
  return true;
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
  if (!text.isEmpty() && model_.Type(text.at(0).unicode())) Edited();
}

CHexBlockEdit::Position CHexBlockEdit::PositionAt(const QPoint& point) const {
  const int bytesPerRow = model_.BytesPerRow();
  const bool showHex = model_.HexShown();
  const int cw = layout_.charWidth;
  const int x = point.x() + horizontalScrollBar()->value();
  const int line = std::max(0, point.y()) / layout_.lineHeight + topOffset_ / bytesPerRow;
  Position at;
  int column = 0;
  if (model_.CharactersShown() && x >= layout_.charsX) {
    at.mode = CaretMode::kCharacter;
    column = std::min((x - layout_.charsX) / cw, bytesPerRow - 1);
  } else if (showHex && x >= layout_.hexX) {
    const int offset = x - layout_.hexX;
    column = std::min(offset / (3 * cw), bytesPerRow - 1);
    at.mode = offset - column * 3 * cw < cw ? CaretMode::kHighNibble : CaretMode::kLowNibble;
  } else {
    // The address column: the start of the line, in the column the caret is in.
    at.mode = model_.Mode() == CaretMode::kCharacter || !showHex ? CaretMode::kCharacter
                                                                 : CaretMode::kHighNibble;
  }
  at.index = line * bytesPerRow + column;
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
  dragging_ = true;
  model_.Press(PositionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
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
  model_.DragTo(PositionAt(point));
  viewport()->update();
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

void CHexBlockEdit::Edited() {
  UpdateScrollBars();
  EnsureCaretVisible();
  viewport()->update();
  emit dataChanged();
}

QMimeData* CHexBlockEdit::MakeMimeData() const {
  const HexBlockModel::ClipboardForms forms = model_.SelectionForms();
  auto* mime = new QMimeData;
  mime->setData(QString::fromLatin1(kBinaryFormat),
                QByteArray(reinterpret_cast<const char*>(forms.binary.data()),
                           static_cast<qsizetype>(forms.binary.size())));
  mime->setText(QString::fromLatin1(forms.text));
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
  if (model_.Paste(reinterpret_cast<const std::uint8_t*>(block.constData()),
                   static_cast<std::size_t>(block.size())))
    Edited();
}

void CHexBlockEdit::Clear() {
  if (model_.EraseSelection()) Edited();
}

void CHexBlockEdit::SelectAll() { SetSelection(0, Length()); }
