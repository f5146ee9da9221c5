// What a hex block editor edits, without any window: its own copy of the
// bytes, the caret (a byte and the part of its column), the byte selection,
// the edit commands and the clipboard forms of a selection. CHexBlockEdit
// maps keys and clicks onto it and draws it.
//
// The caret is always on a byte of the block (byte 0 while it is empty).
// Every command is safe on an empty block; the ones that change the bytes or
// the length say whether the owner should report a change.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class HexBlockModel {
 public:
  // Column the caret is in.
  enum class CaretMode { kNone, kCharacter, kHighNibble, kLowNibble };

  // A caret position: the byte and the column part.
  struct Position {
    int index = 0;
    CaretMode mode = CaretMode::kHighNibble;
  };

  // The caret moves of the keyboard.
  enum class Move {
    kSwitchColumn,  // between the hex and the character column
    kLeft,          // a nibble in the hex column, a byte in the character column
    kRight,
    kUp,  // a line
    kDown,
    kPageUp,  // a page of lines
    kPageDown,
    kLineStart,
    kLineEnd,
    kFirst,  // the block's first byte
    kLast,   // the block's last byte
  };

  // A selection as the clipboard carries it: the raw bytes, and the text of
  // the column the caret is in.
  struct ClipboardForms {
    std::vector<std::uint8_t> binary;
    std::string text;
  };

  static bool IsNibble(CaretMode mode) {
    return mode == CaretMode::kHighNibble || mode == CaretMode::kLowNibble;
  }
  // Shown in the character column as itself.
  static bool IsPrintable(std::uint8_t byte) { return byte >= 0x20 && byte < 0x7F; }
  // Hex column: "%02X " per byte; character column: a printable byte as
  // itself, any other as '.'. Empty for null bytes or n < 1.
  static std::string TextForm(const std::uint8_t* bytes, int n, bool characterColumn);

  // Which columns are shown; the caret moves to a shown one.
  void SetColumns(bool hex, bool characters);
  bool HexShown() const { return showHex_; }
  bool CharactersShown() const { return showChars_; }
  // Bytes a line, 1 or more (others are taken as 1).
  void SetBytesPerRow(int n);
  int BytesPerRow() const { return bytesPerRow_; }
  // Whether InsertZeros and DeleteForward may change the length.
  void SetInsertDelete(bool on) { insertDelete_ = on; }
  bool InsertDelete() const { return insertDelete_; }
  // Longest block that inserting and pasting may make (negative: 0).
  // SetData is not cut by it.
  void SetMaxLength(int n);
  int MaxLength() const { return maxLength_; }

  // Copies n bytes in (none when bytes is null or n < 1): caret on byte 0
  // in the first shown column, no selection.
  void SetData(const std::uint8_t* bytes, int n);
  // Copies min(length, max) bytes into buffer (none when it is null or max
  // < 1) and returns the length.
  int GetData(std::uint8_t* buffer, int max) const;
  const std::vector<std::uint8_t>& Data() const { return bytes_; }
  int Length() const { return static_cast<int>(bytes_.size()); }
  // Lines the block takes, the last one possibly short.
  int Lines() const { return (Length() + bytesPerRow_ - 1) / bytesPerRow_; }

  int Caret() const { return caret_; }
  CaretMode Mode() const { return mode_; }
  // Selected bytes [SelectionStart, SelectionEnd); both -1 when none.
  int SelectionStart() const { return selectionStart_; }
  int SelectionEnd() const { return selectionEnd_; }
  bool HasSelection() const { return selectionStart_ >= 0 && selectionEnd_ > selectionStart_; }

  // Places the caret (clamped into the block) and clears the selection.
  void SetCaret(int index, CaretMode mode);
  // Selects [start, end), clamped into the block; an empty range clears it.
  void SetSelection(int start, int end);
  void ClearSelection() { selectionStart_ = selectionEnd_ = -1; }
  void SelectAll() { SetSelection(0, Length()); }

  // Moves the caret; with extend the selection runs from where the caret
  // was before the first extending move. A page is linesPerPage lines.
  // Does nothing on an empty block.
  void MoveCaret(Move move, bool extend, int linesPerPage);

  // A click on a byte: the caret goes there, or with extend the selection
  // runs from the caret to it. The drag that follows selects in the column
  // the click was in.
  void Press(Position at, bool extend);
  // The drag reached a byte: in the hex column that byte is part of the
  // selection, in the character column the selection stops before it. On
  // the byte the drag started from nothing is selected.
  void DragTo(Position at);

  // Insert: as many zero bytes at the caret as the selection is long (one
  // without a selection), as far as the maximum length allows. False when
  // insertion is switched off.
  bool InsertZeros();
  // Delete: the selection, or the byte at the caret. False when deletion
  // is switched off.
  bool DeleteForward();
  // Backspace: the byte before the caret, whatever insertDelete says.
  // Always counts as an edit.
  bool DeleteBack();
  // A typed character: in the hex column "0"-"9" and "a"-"f" replace the
  // caret's nibble; in the character column one of U+0020 to U+00FF (but
  // U+007F) replaces the caret's byte. False when nothing changed.
  bool Type(char16_t character);

  // The selection's clipboard forms; empty when there is none.
  ClipboardForms SelectionForms() const;
  // Pastes n bytes (cut to the maximum length): in place of the selection,
  // else after the caret's byte on a low nibble, else before it. False when
  // there is nothing to paste.
  bool Paste(const std::uint8_t* bytes, std::size_t n);
  // Deletes the selection; false when there is none.
  bool EraseSelection();

 private:
  void InsertBytes(int at, const std::vector<std::uint8_t>& bytes);
  void EraseBytes(int from, int count);
  // After a change of length: the caret back inside the block.
  void ClampCaret();
  CaretMode FirstColumn() const {
    return showHex_ || !showChars_ ? CaretMode::kHighNibble : CaretMode::kCharacter;
  }

  std::vector<std::uint8_t> bytes_;
  bool insertDelete_ = true;
  bool showHex_ = true;
  bool showChars_ = true;
  int bytesPerRow_ = 8;
  int maxLength_ = INT_MAX / 4;
  int caret_ = 0;
  CaretMode mode_ = CaretMode::kNone;
  int selectionStart_ = -1;
  int selectionEnd_ = -1;
  int anchor_ = 0;  // where a Shift or drag selection began
  bool dragInCharacters_ = false;
};
