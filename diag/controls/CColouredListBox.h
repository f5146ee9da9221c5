// Log list of the diagnostics pages: one text colour per line, optionally drawn
// in a fixed-pitch font, one character per cell, so that hex dumps line up.
#pragma once

#include <QColor>
#include <QFont>
#include <QListWidget>
#include <QPalette>
#include <QRect>
#include <QString>
#include <QStyledItemDelegate>

#include <cstdint>
#include <functional>
#include <vector>

class CColouredListBox : public QListWidget {
  Q_OBJECT

 public:
  // Colour of a line: 0x00RRGGBB, or kDefaultColour for the window text colour.
  static constexpr std::int32_t kDefaultColour = -1;
  static constexpr std::int32_t Rgb(int red, int green, int blue) {
    return static_cast<std::int32_t>(((red & 0xFF) << 16) | ((green & 0xFF) << 8) | (blue & 0xFF));
  }

  // Pixel height of the fixed-pitch font.
  static constexpr int kFixedPitchPixelHeight = 12;

  explicit CColouredListBox(bool fixedPitch, QWidget* parent = nullptr);
  ~CColouredListBox() override;

  // Appends a line and returns its index. While the view follows its end the
  // new line is selected and brought into view; while the technician has
  // scrolled away from the end the position and selection are kept.
  int AddLine(const QString& text, std::int32_t colour = kDefaultColour);
  // Removes one line; an index outside the list is ignored.
  void DeleteLine(int index);

  // Whether the view follows its end: true until the technician scrolls
  // away from it, again once they scroll back. A change of the box's size
  // or of the number of lines does not change it.
  bool FollowsNewest() const { return following_; }

  int LineCount() const { return static_cast<int>(lines_.size()); }
  QString LineText(int index) const;
  std::int32_t LineColour(int index) const;

  bool FixedPitch() const { return fixedPitch_; }

  // Text drawn before a line's own text (such as the time it came), or none
  // when empty. The line's text itself is not changed.
  using LinePrefix = std::function<QString(int index)>;
  void SetLinePrefix(LinePrefix prefix);
  QString DrawnText(int index) const;
  // The font the lines are drawn in.
  QFont LineFont() const;

  // Colours a line is drawn in.
  struct Look {
    QColor text;
    QColor back;
  };
  Look LookOf(int index, bool selected, const QPalette& palette) const;

  // One rectangle per character, in drawing order, for a fixed-pitch line
  // drawn into lineRect; each cell is cellWidth wide. Surrogate pairs take
  // one cell.
  static std::vector<QRect> CharacterCells(const QString& text, const QRect& lineRect,
                                           int cellWidth);

  // The fixed-pitch font: the family asked for ("Courier New") at 12 pixels,
  // or else the system's fixed-pitch font, or else the first family on the
  // machine, whose glyphs all have the same advance; the system's font when
  // none has.
  static QFont MakeFixedPitchFont(const QString& family = QStringLiteral("Courier New"));
  // Whether the glyphs the lines use (digits, letters narrow and wide, dot,
  // space, bar) all advance by the same width in `font`. Measured, because
  // a font's own fixed-pitch flag is unreliable: Noto Sans Mono, for one,
  // does not set it although every glyph has the same advance.
  static bool HasEqualAdvances(const QFont& font);

 private:
  struct Line {
    QString text;
    std::int32_t colour;
  };

  class Delegate : public QStyledItemDelegate {
   public:
    explicit Delegate(CColouredListBox* owner) : QStyledItemDelegate(owner), owner_(owner) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

   private:
    CColouredListBox* owner_;
  };

  // Keeps the end in view while following, whenever the range changes.
  void RangeChanged(int minimum, int maximum);
  void ValueChanged(int value);

  void DrawLine(QPainter* painter, const QRect& rect, int index, bool selected,
                const QPalette& palette) const;

  bool fixedPitch_;
  std::vector<Line> lines_;
  QFont font_;
  LinePrefix prefix_;
  bool following_ = true;
};
