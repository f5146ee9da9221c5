// Dump view of a MemoryBuffer: 16 bytes a line with address, hex and
// character columns, each byte in the colour of its state (changed red,
// verified blue), a cursor, and in-place editing in which every typed byte is
// written to the board at once through the buffer.
//
// The view does not own the buffer. It draws "[Empty]" while it has none, or
// while the buffer's window is not the one attached (released or resized),
// and never touches the buffer's arrays then.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

#include <cstdint>
#include <vector>

class MemoryBuffer;
class QScrollBar;

class CMemoryView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kBytesPerLine = 16;
  // Left edge of the address column, in pixels.
  static constexpr int kLeft = 7;
  // Control id of the scroll bar.
  static constexpr int kScrollBarId = 100;

  // What the character column shows for a byte: "." for bytes without a
  // glyph of their own.
  static QChar DisplayedCharacter(std::uint8_t byte);
  // The two hex digits drawn for a byte, and its character: a byte never
  // read shows "--" and ".", never the fill that stands in for it.
  static QString HexText(std::uint8_t byte, std::uint8_t state);
  static QChar CharacterOf(std::uint8_t byte, std::uint8_t state);
  // Colour of a byte of the given state; a byte never read is greyed.
  static QColor StateColour(std::uint8_t state, const QPalette& palette);
  // Colour of the addresses.
  static constexpr QColor AddressColour() { return QColor(8, 0, 0); }

  explicit CMemoryView(QWidget* parent = nullptr);
  ~CMemoryView() override;

  // Shows the buffer (null shows nothing). The cursor and scroll position
  // stay when the buffer has the start and size last attached.
  void Attach(MemoryBuffer* buffer);
  MemoryBuffer* Buffer() const { return buffer_; }

  // Marks the bytes at these board addresses with a background of their own
  // (the text keeps its state colour), such as the bytes that differ from a
  // file. The marks hold until the next Attach: they describe one reading.
  void MarkAddresses(std::vector<int> addresses);
  bool Marked(int address) const;
  // Background of a marked byte.
  static constexpr QColor MarkColour() { return QColor(255, 224, 96); }

  int Cursor() const { return cursor_; }
  int PreviousCursor() const { return previousCursor_; }
  bool HexMode() const { return hexMode_; }
  bool HighNibble() const { return highNibble_; }
  bool Active() const { return active_; }
  int TopLine() const { return topLine_; }
  int VisibleLines() const { return visibleLines_; }
  int TotalLines() const { return totalLines_; }
  int CharWidth() const { return charWidth_; }
  int LineHeight() const { return lineHeight_; }
  QScrollBar* ScrollBar() const { return scrollBar_; }

  // Wide enough for every column beside the scroll bar, four lines high.
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

  // Left edges of the columns, in pixels.
  int FirstHexGroupX() const { return 10 * charWidth_ + kLeft; }
  int SecondHexGroupX() const { return 35 * charWidth_ + kLeft; }
  int CharactersX() const { return 60 * charWidth_ + kLeft; }
  // Where a byte's high or low hex digit, or its character, is drawn on
  // screen (the middle of the cell); a null point when it is not shown.
  QPoint PointOf(int index, bool characters, bool lowNibble) const;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  bool Showing() const;
  void MeasureFont();
  void SetUpScrollBar();
  void UpdateVisibleLines();
  void SetTopLine(int line);
  void OnScroll(int position);
  // Clamps the cursor, keeps it in view and redraws.
  void Settle();
  void KeepCursorVisible();

  bool MoveKey(int key);
  void TypeCharacter(QChar c);
  void WriteByte(int index, std::uint8_t value);
  void Click(const QPoint& point);

  MemoryBuffer* buffer_ = nullptr;  // not owned
  std::vector<int> marked_;         // board addresses, sorted
  int start_ = -1;
  int size_ = 0;
  int topLine_ = 0;
  int visibleLines_ = 0;
  int totalLines_ = 0;
  int lineHeight_ = 1;
  int charWidth_ = 1;
  int cursor_ = 0;
  int previousCursor_ = 0;
  bool hexMode_ = true;
  bool highNibble_ = true;
  bool active_ = false;
  bool settingScroll_ = false;
  QScrollBar* scrollBar_;
  QFont font_;
};
