#include "CColouredListBox.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>

CColouredListBox::CColouredListBox(bool fixedPitch, QWidget* parent)
    : QListWidget(parent), fixedPitch_(fixedPitch) {
  setSortingEnabled(false);
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  // The list takes the keyboard, characters included (type-ahead search).
  setFocusPolicy(Qt::StrongFocus);
  setItemDelegate(new Delegate(this));
  if (fixedPitch_) {
    // Made before the first line is laid out so that the item height
    // follows the font from the start.
    font_ = MakeFixedPitchFont();
    setFont(font_);
  }
  // The scroll bar's range follows the box's height and the line count; a
  // position taken as "at the end" before a resize would be lost after it.
  connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &CColouredListBox::RangeChanged);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &CColouredListBox::ValueChanged);
}

CColouredListBox::~CColouredListBox() = default;

QFont CColouredListBox::MakeFixedPitchFont(const QString& family) {
  QFont font(family);
  font.setPixelSize(kFixedPitchPixelHeight);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  if (HasEqualAdvances(font)) return font;
  QFont system = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  system.setPixelSize(kFixedPitchPixelHeight);
  if (HasEqualAdvances(system)) return system;
  // Rare: neither is fixed-pitch here; take the first family that is.
  for (const QString& name : QFontDatabase::families()) {
    QFont candidate(name);
    candidate.setPixelSize(kFixedPitchPixelHeight);
    if (HasEqualAdvances(candidate)) return candidate;
  }
  return system;
}

bool CColouredListBox::HasEqualAdvances(const QFont& font) {
  const QFontMetricsF metrics(font);
  const qreal cell = metrics.horizontalAdvance(QLatin1Char('0'));
  if (cell <= 0) return false;
  for (const QChar c : QStringLiteral("0123456789ABCDEFabcdef iIl1|.,:;mMW@_#")) {
    // Advances of one fixed-pitch font differ by rounding at most.
    if (qAbs(metrics.horizontalAdvance(c) - cell) > 0.01) return false;
  }
  return true;
}

QFont CColouredListBox::LineFont() const { return fixedPitch_ ? font_ : font(); }

void CColouredListBox::RangeChanged(int /*minimum*/, int maximum) {
  if (following_) verticalScrollBar()->setValue(maximum);
}

void CColouredListBox::ValueChanged(int value) {
  following_ = value >= verticalScrollBar()->maximum();
}

int CColouredListBox::AddLine(const QString& text, std::int32_t colour) {
  // Taken before the line goes in: whether the reader follows the end.
  const bool follow = following_;
  addItem(text);
  lines_.push_back(Line{text, colour});
  const int last = count() - 1;
  // Each new line becomes the selected line and is brought into view,
  // unless the technician has scrolled back to read older lines: then the
  // view and the selection stay where they are.
  if (follow) {
    setCurrentRow(last, QItemSelectionModel::ClearAndSelect);
    scrollToItem(item(last));
  }
  return last;
}

void CColouredListBox::DeleteLine(int index) {
  if (index < 0 || index >= LineCount()) return;
  lines_.erase(lines_.begin() + index);
  delete takeItem(index);
}

QString CColouredListBox::LineText(int index) const {
  if (index < 0 || index >= LineCount()) return {};
  return lines_[static_cast<std::size_t>(index)].text;
}

void CColouredListBox::SetLinePrefix(LinePrefix prefix) {
  prefix_ = std::move(prefix);
  viewport()->update();
}

QString CColouredListBox::DrawnText(int index) const {
  if (index < 0 || index >= LineCount()) return {};
  const QString& text = lines_[static_cast<std::size_t>(index)].text;
  return prefix_ ? prefix_(index) + text : text;
}

std::int32_t CColouredListBox::LineColour(int index) const {
  if (index < 0 || index >= LineCount()) return kDefaultColour;
  return lines_[static_cast<std::size_t>(index)].colour;
}

CColouredListBox::Look CColouredListBox::LookOf(int index, bool selected,
                                                const QPalette& palette) const {
  if (selected)
    return Look{palette.color(QPalette::HighlightedText), palette.color(QPalette::Highlight)};
  const std::int32_t colour = LineColour(index);
  const QColor text = colour == kDefaultColour
                          ? palette.color(QPalette::Text)
                          : QColor::fromRgb(static_cast<QRgb>(colour) & 0x00FFFFFFu);
  return Look{text, palette.color(QPalette::Base)};
}

std::vector<QRect> CColouredListBox::CharacterCells(const QString& text, const QRect& lineRect,
                                                    int cellWidth) {
  std::vector<QRect> cells;
  cells.reserve(static_cast<std::size_t>(text.size()));
  int x = lineRect.left();
  for (qsizetype i = 0; i < text.size(); ++i) {
    const qsizetype length =
        (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
    cells.emplace_back(x, lineRect.top(), cellWidth, lineRect.height());
    x += cellWidth;
    i += length - 1;
  }
  return cells;
}

void CColouredListBox::DrawLine(QPainter* painter, const QRect& rect, int index, bool selected,
                                const QPalette& palette) const {
  if (lines_.empty() || index < 0 || index >= LineCount()) return;

  painter->save();
  const QFont drawFont = LineFont();
  painter->setFont(drawFont);
  const QFontMetrics metrics(drawFont);
  const int cellWidth = metrics.horizontalAdvance(QLatin1Char('0'));

  const Look look = LookOf(index, selected, palette);
  painter->fillRect(rect, look.back);
  painter->setPen(look.text);

  const QString text = DrawnText(index);
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
  if (fixedPitch_) {
    const std::vector<QRect> cells = CharacterCells(text, rect, cellWidth);
    qsizetype i = 0;
    for (const QRect& cell : cells) {
      const qsizetype length =
          (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2
                                                                                             : 1;
      // A cell may be narrower than a glyph of a wide character: let it spill.
      painter->drawText(cell.adjusted(0, 0, cellWidth, 0), flags, text.mid(i, length));
      i += length;
    }
  } else {
    painter->drawText(rect, flags, text);
  }
  painter->restore();
}

void CColouredListBox::Delegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const {
  owner_->DrawLine(painter, option.rect, index.row(), (option.state & QStyle::State_Selected) != 0,
                   option.palette);
}
