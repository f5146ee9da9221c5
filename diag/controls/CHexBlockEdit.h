// Byte editor over its own copy of a block of bytes: optional address, hex
// and character columns, a caret, a byte selection, the clipboard (raw bytes
// as "BinaryData" beside a text form) and insertion and deletion of bytes.
// What it edits, and how each key and click changes it, is its HexBlockModel;
// the widget draws the model, scrolls it and carries the clipboard.
//
// Used by the pages that edit byte blocks (reel ramp tables, bytes to send,
// ccTalk command data). The owner sets the block with SetData, reads it back
// with GetData or Bytes(), and hears of every change through dataChanged().
//
// Keys: Tab switches between the hex column (high nibble) and the character
// column; arrows, Page Up/Down, Home/End (with Ctrl: whole block) move the
// caret, Shift extends the selection; Insert and Delete (when insertDelete is
// on) insert zero bytes or delete; Backspace deletes the byte before the caret
// whatever insertDelete says. In the hex column only "0"-"9" and lower-case
// "a"-"f" replace the current nibble; in the character column a printable
// character replaces the byte. Ctrl+C/Ctrl+X copy/cut a selection, Ctrl+V
// pastes. Keys and characters do nothing while the block is empty.
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QFont>
#include <QString>

#include <cstdint>

#include "HexBlockModel.h"

class QMimeData;

class CHexBlockEdit : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Column the caret is in.
  using CaretMode = HexBlockModel::CaretMode;

  // Clipboard format of the raw bytes.
  static constexpr const char* kBinaryFormat = "BinaryData";

  // With scrollBars the editor shows scroll bars when its lines do not fit.
  explicit CHexBlockEdit(bool scrollBars = true, QWidget* parent = nullptr);
  ~CHexBlockEdit() override;

  // Which columns are shown, and whether addresses have eight hex digits
  // (else four).
  void SetOptions(bool showAddress, bool showHex, bool showChars, bool wideAddress);
  // Bytes a line, 1 or more (others are taken as 1).
  void SetBytesPerRow(int n);
  // Whether the Insert and Delete keys may change the length.
  void SetInsertDelete(bool on);
  // Longest block that inserting and pasting may make; the default has no
  // practical limit. SetData is not cut by it.
  void SetMaxLength(int n);

  // Copies n bytes in (none when bytes is null or n < 1): caret on byte 0,
  // high nibble, no selection, scrolled to the top. Does not emit
  // dataChanged.
  void SetData(const std::uint8_t* bytes, int n);
  void SetData(const QByteArray& bytes);
  // Copies min(length, max) bytes into buffer (none when it is null) and
  // returns the length.
  int GetData(std::uint8_t* buffer, int max) const;

  int Length() const { return model_.Length(); }
  QByteArray Bytes() const;
  // The bytes, caret and selection being edited.
  const HexBlockModel& Model() const { return model_; }

  bool ShowAddress() const { return showAddress_; }
  bool ShowHex() const { return model_.HexShown(); }
  bool ShowChars() const { return model_.CharactersShown(); }
  bool WideAddress() const { return wideAddress_; }
  int BytesPerRow() const { return model_.BytesPerRow(); }
  bool InsertDelete() const { return model_.InsertDelete(); }
  int MaxLength() const { return model_.MaxLength(); }

  int Caret() const { return model_.Caret(); }
  CaretMode Mode() const { return model_.Mode(); }
  // Selected bytes [SelectionStart, SelectionEnd); both -1 when none.
  int SelectionStart() const { return model_.SelectionStart(); }
  int SelectionEnd() const { return model_.SelectionEnd(); }
  bool HasSelection() const { return model_.HasSelection(); }
  // Byte offset of the first line shown.
  int TopOffset() const { return topOffset_; }
  // Whole lines shown at once (at least 1).
  int LinesPerPage() const;

  // Places the caret (clamped into the block) and clears the selection.
  void SetCaret(int index, CaretMode mode);
  // Selects [start, end), clamped into the block; an empty range clears it.
  void SetSelection(int start, int end);

  // The standard edit commands. Copy and Cut need a selection; Paste works
  // on an empty block too.
  void Copy();
  void Cut();
  void Paste();
  // Deletes the selection.
  void Clear();
  void SelectAll();

  // Where the parts of a line are drawn, in pixels from the left of the
  // unscrolled content.
  struct Layout {
    int charWidth = 0;
    int lineHeight = 0;
    int addressX = 0;
    int hexX = 0;
    int charsX = 0;
    int width = 0;
  };
  Layout CurrentLayout() const { return layout_; }
  // Pixel point (viewport coordinates) of the given byte's nibble or
  // character, for a click there. Null point when not on screen.
  QPoint PointOf(int index, CaretMode mode) const;

  // The text form of bytes as Copy writes it for the given column.
  static QString TextForm(const std::uint8_t* bytes, int n, bool characterColumn);
  // Shown in the character column as itself.
  static bool IsPrintable(std::uint8_t byte) { return HexBlockModel::IsPrintable(byte); }

 signals:
  // Return or Enter was pressed: the owner's action, if it has one.
  void returnPressed();
  // The bytes or the length changed by typing, insertion, deletion or paste.
  void dataChanged();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  using Position = HexBlockModel::Position;

  void Relayout();
  void UpdateScrollBars();
  void EnsureCaretVisible();

  bool HandleMovementKey(QKeyEvent* event);
  bool HandleEditKey(QKeyEvent* event);
  void HandleCharacter(QKeyEvent* event);
  Position PositionAt(const QPoint& point) const;

  // After an edit: scroll range and caret in view, redrawn, dataChanged.
  void Edited();

  QMimeData* MakeMimeData() const;

  HexBlockModel model_;
  bool showAddress_ = true;
  bool wideAddress_ = true;
  int topOffset_ = 0;
  bool dragging_ = false;
  QFont font_;
  Layout layout_;
};
