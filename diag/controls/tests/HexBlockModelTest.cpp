// The hex block editor's edit model on its own: no window, no event loop.
#include "HexBlockModel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace {

using Mode = HexBlockModel::CaretMode;
using Move = HexBlockModel::Move;
using Bytes = std::vector<std::uint8_t>;

Bytes Counting(int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(i));
  return out;
}

HexBlockModel Model(const Bytes& bytes, int bytesPerRow = 8) {
  HexBlockModel model;
  model.SetBytesPerRow(bytesPerRow);
  model.SetData(bytes.data(), static_cast<int>(bytes.size()));
  return model;
}

void TypeText(HexBlockModel& model, const char* text) {
  for (; *text != '\0'; ++text) model.Type(static_cast<char16_t>(*text));
}

TEST(HexBlockModel, DataInAndOut) {
  HexBlockModel model = Model({1, 2, 3, 4, 5});
  EXPECT_EQ(model.Length(), 5);
  EXPECT_EQ(model.Caret(), 0);
  EXPECT_EQ(model.Mode(), Mode::kHighNibble);
  EXPECT_FALSE(model.HasSelection());
  std::uint8_t out[3] = {0, 0, 0};
  // Copies no more than the caller's room, but reports the whole length.
  EXPECT_EQ(model.GetData(out, 3), 5);
  EXPECT_EQ(out[2], 3);
  EXPECT_EQ(model.GetData(nullptr, 10), 5);
  EXPECT_EQ(model.GetData(out, -1), 5);
  model.SetData(nullptr, 4);
  EXPECT_EQ(model.Length(), 0);
  const std::uint8_t one = 9;
  model.SetData(&one, 0);
  EXPECT_EQ(model.Length(), 0);
}

TEST(HexBlockModel, FirstColumnFollowsTheShownColumns) {
  HexBlockModel model;
  EXPECT_EQ(model.Mode(), Mode::kNone);  // nothing set yet
  model.SetColumns(false, true);
  const Bytes bytes{1, 2};
  model.SetData(bytes.data(), 2);
  EXPECT_EQ(model.Mode(), Mode::kCharacter);
  // Hiding the caret's column moves it to the shown one.
  model.SetColumns(true, false);
  EXPECT_EQ(model.Mode(), Mode::kHighNibble);
  model.SetColumns(false, true);
  EXPECT_EQ(model.Mode(), Mode::kCharacter);
}

TEST(HexBlockModel, HexTypingReplacesNibblesAndMovesOn) {
  HexBlockModel model = Model({0x00, 0x11, 0x22});
  EXPECT_TRUE(model.Type(u'7'));
  EXPECT_EQ(model.Mode(), Mode::kLowNibble);
  EXPECT_EQ(model.Caret(), 0);
  EXPECT_TRUE(model.Type(u'f'));
  EXPECT_EQ(model.Data(), (Bytes{0x7F, 0x11, 0x22}));
  EXPECT_EQ(model.Caret(), 1);
  EXPECT_EQ(model.Mode(), Mode::kHighNibble);
  // Upper-case letters, other characters and characters beyond Latin-1 change nothing.
  EXPECT_FALSE(model.Type(u'A'));
  EXPECT_FALSE(model.Type(u'g'));
  EXPECT_FALSE(model.Type(u'\x20AC'));
  EXPECT_EQ(model.Data(), (Bytes{0x7F, 0x11, 0x22}));
  // On the last byte the caret stays after the low nibble.
  model.SetCaret(2, Mode::kHighNibble);
  TypeText(model, "9c");
  EXPECT_EQ(model.Data(), (Bytes{0x7F, 0x11, 0x9C}));
  EXPECT_EQ(model.Caret(), 2);
  EXPECT_EQ(model.Mode(), Mode::kLowNibble);
}

TEST(HexBlockModel, CharacterTyping) {
  HexBlockModel model = Model({0, 0, 0});
  model.MoveCaret(Move::kSwitchColumn, false, 1);
  EXPECT_EQ(model.Mode(), Mode::kCharacter);
  TypeText(model, "Hi");
  EXPECT_EQ(model.Data(), (Bytes{'H', 'i', 0}));
  EXPECT_EQ(model.Caret(), 2);
  // Control characters, DEL and characters beyond one byte are not typed.
  EXPECT_FALSE(model.Type(u'\r'));
  EXPECT_FALSE(model.Type(u'\x7F'));
  EXPECT_FALSE(model.Type(u'\x0100'));
  EXPECT_TRUE(model.Type(u'\xE9'));
  EXPECT_EQ(model.Data(), (Bytes{'H', 'i', 0xE9}));
  EXPECT_EQ(model.Caret(), 2);
}

TEST(HexBlockModel, CaretMovement) {
  HexBlockModel model = Model(Counting(20), 8);
  model.MoveCaret(Move::kLeft, false, 1);  // nothing before byte 0
  EXPECT_EQ(model.Caret(), 0);
  EXPECT_EQ(model.Mode(), Mode::kHighNibble);
  model.MoveCaret(Move::kRight, false, 1);
  EXPECT_EQ(model.Mode(), Mode::kLowNibble);
  model.MoveCaret(Move::kRight, false, 1);
  EXPECT_EQ(model.Caret(), 1);
  EXPECT_EQ(model.Mode(), Mode::kHighNibble);
  model.MoveCaret(Move::kLeft, false, 1);
  EXPECT_EQ(model.Caret(), 0);
  EXPECT_EQ(model.Mode(), Mode::kLowNibble);

  model.MoveCaret(Move::kDown, false, 1);
  model.MoveCaret(Move::kDown, false, 1);
  EXPECT_EQ(model.Caret(), 16);
  model.MoveCaret(Move::kDown, false, 1);  // no byte 24
  EXPECT_EQ(model.Caret(), 16);
  model.MoveCaret(Move::kLineEnd, false, 1);
  EXPECT_EQ(model.Caret(), 19);  // the last line is short
  model.MoveCaret(Move::kLineStart, false, 1);
  EXPECT_EQ(model.Caret(), 16);
  EXPECT_EQ(model.Mode(), Mode::kHighNibble);
  model.MoveCaret(Move::kFirst, false, 1);
  EXPECT_EQ(model.Caret(), 0);
  model.MoveCaret(Move::kLast, false, 1);
  EXPECT_EQ(model.Caret(), 19);
  EXPECT_EQ(model.Mode(), Mode::kLowNibble);
  model.MoveCaret(Move::kUp, false, 1);
  EXPECT_EQ(model.Caret(), 11);

  // Pages of two lines; the last page lands on the last line's column.
  model.MoveCaret(Move::kPageUp, false, 2);
  EXPECT_EQ(model.Caret(), 3);
  model.MoveCaret(Move::kPageDown, false, 2);
  EXPECT_EQ(model.Caret(), 19);
  model.SetCaret(10, Mode::kHighNibble);
  model.MoveCaret(Move::kPageDown, false, 2);
  EXPECT_EQ(model.Caret(), 18);

  // Character column: one byte a step.
  model.MoveCaret(Move::kSwitchColumn, false, 1);
  model.MoveCaret(Move::kRight, false, 1);
  EXPECT_EQ(model.Caret(), 19);
  EXPECT_EQ(model.Mode(), Mode::kCharacter);
}

TEST(HexBlockModel, ExtendingMovesSelectFromWhereTheyBegan) {
  HexBlockModel model = Model(Counting(16), 8);
  model.MoveCaret(Move::kRight, true, 1);
  EXPECT_FALSE(model.HasSelection());  // still within byte 0
  model.MoveCaret(Move::kRight, true, 1);
  model.MoveCaret(Move::kRight, true, 1);
  model.MoveCaret(Move::kRight, true, 1);
  EXPECT_EQ(model.SelectionStart(), 0);
  EXPECT_EQ(model.SelectionEnd(), 2);
  model.MoveCaret(Move::kDown, true, 1);
  EXPECT_EQ(model.SelectionEnd(), 10);
  model.MoveCaret(Move::kLeft, false, 1);
  EXPECT_FALSE(model.HasSelection());
  EXPECT_EQ(model.SelectionStart(), -1);
  model.SelectAll();
  EXPECT_EQ(model.SelectionEnd(), 16);
  model.SetSelection(5, 5);
  EXPECT_FALSE(model.HasSelection());
  model.SetSelection(-3, 99);  // clamped into the block
  EXPECT_EQ(model.SelectionStart(), 0);
  EXPECT_EQ(model.SelectionEnd(), 16);
}

TEST(HexBlockModel, InsertAndDelete) {
  HexBlockModel model = Model(Counting(6));
  model.SetCaret(2, Mode::kHighNibble);
  EXPECT_TRUE(model.InsertZeros());
  EXPECT_EQ(model.Data(), (Bytes{0, 1, 0, 2, 3, 4, 5}));
  // As many zero bytes as the selection is long.
  model.SetSelection(4, 7);
  EXPECT_TRUE(model.InsertZeros());
  EXPECT_EQ(model.Length(), 10);
  EXPECT_FALSE(model.HasSelection());

  model.SetData(Counting(6).data(), 6);
  model.SetSelection(1, 4);
  EXPECT_TRUE(model.DeleteForward());
  EXPECT_EQ(model.Data(), (Bytes{0, 4, 5}));
  EXPECT_EQ(model.Caret(), 1);
  EXPECT_TRUE(model.DeleteForward());
  EXPECT_EQ(model.Data(), (Bytes{0, 5}));
  EXPECT_TRUE(model.DeleteBack());
  EXPECT_EQ(model.Data(), (Bytes{5}));
  EXPECT_EQ(model.Caret(), 0);
  EXPECT_TRUE(model.DeleteBack());  // nothing before byte 0, still an edit
  EXPECT_EQ(model.Data(), (Bytes{5}));
  EXPECT_TRUE(model.DeleteForward());
  EXPECT_EQ(model.Length(), 0);
  EXPECT_EQ(model.Caret(), 0);
}

TEST(HexBlockModel, InsertDeleteSwitchedOff) {
  HexBlockModel model = Model(Counting(4));
  model.SetInsertDelete(false);
  model.SetCaret(2, Mode::kHighNibble);
  EXPECT_FALSE(model.InsertZeros());
  EXPECT_FALSE(model.DeleteForward());
  EXPECT_EQ(model.Data(), Counting(4));
  // Backspace still shortens the block and Paste still lengthens it.
  EXPECT_TRUE(model.DeleteBack());
  EXPECT_EQ(model.Data(), (Bytes{0, 2, 3}));
  const Bytes nines{9, 9};
  EXPECT_TRUE(model.Paste(nines.data(), nines.size()));
  EXPECT_EQ(model.Data(), (Bytes{0, 9, 9, 2, 3}));
}

TEST(HexBlockModel, EmptyBlockIsLeftAlone) {
  HexBlockModel model;
  model.SetData(nullptr, 0);
  for (Move move : {Move::kLeft, Move::kRight, Move::kDown, Move::kPageDown, Move::kLast})
    model.MoveCaret(move, true, 3);
  EXPECT_FALSE(model.Type(u'1'));
  model.Press({5, Mode::kLowNibble}, false);
  model.DragTo({7, Mode::kLowNibble});
  EXPECT_TRUE(model.DeleteBack());
  EXPECT_FALSE(model.EraseSelection());
  EXPECT_TRUE(model.SelectionForms().binary.empty());
  EXPECT_EQ(model.Length(), 0);
  EXPECT_EQ(model.Caret(), 0);
  EXPECT_FALSE(model.HasSelection());
  model.SetCaret(4, Mode::kHighNibble);
  EXPECT_EQ(model.Caret(), 0);
}

TEST(HexBlockModel, ClipboardFormsOfTheSelection) {
  HexBlockModel model = Model({'A', 0x00, 0xFF, 'z', 0x10});
  EXPECT_TRUE(model.SelectionForms().binary.empty());  // no selection, nothing to copy
  model.SetSelection(0, 4);
  HexBlockModel::ClipboardForms forms = model.SelectionForms();
  EXPECT_EQ(forms.binary, (Bytes{'A', 0x00, 0xFF, 'z'}));
  EXPECT_EQ(forms.text, "41 00 FF 7A ");
  // The character column's text form puts "." for unprintable bytes.
  model.MoveCaret(Move::kSwitchColumn, false, 1);
  model.SetSelection(0, 5);
  EXPECT_EQ(model.SelectionForms().text, "A..z.");
  EXPECT_EQ(HexBlockModel::TextForm(nullptr, 3, false), "");
  EXPECT_EQ(HexBlockModel::TextForm(forms.binary.data(), -1, true), "");
}

TEST(HexBlockModel, PasteGoesWhereTheCaretSays) {
  const Bytes block{'A', 0x00, 0xFF, 'z'};
  HexBlockModel model = Model({1, 2, 3});
  // On a low nibble the bytes go in after the caret's byte; the caret stays.
  model.SetCaret(0, Mode::kLowNibble);
  EXPECT_TRUE(model.Paste(block.data(), block.size()));
  EXPECT_EQ(model.Data(), (Bytes{1, 'A', 0x00, 0xFF, 'z', 2, 3}));
  EXPECT_EQ(model.Caret(), 0);
  // With a selection the paste replaces it.
  model.SetSelection(5, 7);
  EXPECT_TRUE(model.Paste(block.data(), block.size()));
  EXPECT_EQ(model.Data(), (Bytes{1, 'A', 0x00, 0xFF, 'z', 'A', 0x00, 0xFF, 'z'}));
  // On a high nibble they go in before it.
  model.SetCaret(1, Mode::kHighNibble);
  EXPECT_TRUE(model.Paste(block.data(), 1));
  EXPECT_EQ(model.Data()[1], 'A');
  EXPECT_EQ(model.Length(), 10);
  // Nothing to paste is no edit.
  EXPECT_FALSE(model.Paste(block.data(), 0));
  EXPECT_FALSE(model.Paste(nullptr, 4));

  // An empty block takes the paste too.
  HexBlockModel empty;
  EXPECT_TRUE(empty.Paste(block.data(), 2));
  EXPECT_EQ(empty.Data(), (Bytes{'A', 0x00}));
  EXPECT_EQ(empty.Mode(), Mode::kHighNibble);
}

TEST(HexBlockModel, CutAndMaximumLength) {
  HexBlockModel model = Model(Counting(6));
  model.SetSelection(1, 3);
  EXPECT_EQ(model.SelectionForms().binary, (Bytes{1, 2}));
  EXPECT_TRUE(model.EraseSelection());
  EXPECT_EQ(model.Data(), (Bytes{0, 3, 4, 5}));
  EXPECT_EQ(model.Caret(), 1);

  model.SetMaxLength(5);
  const Bytes ten = Counting(10);
  model.SetCaret(0, Mode::kHighNibble);
  EXPECT_TRUE(model.Paste(ten.data(), ten.size()));
  EXPECT_EQ(model.Length(), 5);
  EXPECT_TRUE(model.InsertZeros());  // an edit, but no room
  EXPECT_EQ(model.Length(), 5);
  model.SetMaxLength(-4);
  EXPECT_EQ(model.MaxLength(), 0);
  // SetData is not cut by the maximum.
  model.SetData(ten.data(), 10);
  EXPECT_EQ(model.Length(), 10);
}

TEST(HexBlockModel, ClicksAndDrags) {
  HexBlockModel model = Model(Counting(24), 8);
  model.Press({10, Mode::kLowNibble}, false);
  EXPECT_EQ(model.Caret(), 10);
  EXPECT_EQ(model.Mode(), Mode::kLowNibble);
  EXPECT_FALSE(model.HasSelection());

  // A hex drag includes the byte it reached...
  model.Press({2, Mode::kHighNibble}, false);
  model.DragTo({5, Mode::kHighNibble});
  EXPECT_EQ(model.SelectionStart(), 2);
  EXPECT_EQ(model.SelectionEnd(), 6);
  // ...a character drag stops before it, and keeps to the character column.
  model.Press({2, Mode::kCharacter}, false);
  EXPECT_FALSE(model.HasSelection());
  model.DragTo({5, Mode::kHighNibble});
  EXPECT_EQ(model.SelectionStart(), 2);
  EXPECT_EQ(model.SelectionEnd(), 5);
  EXPECT_EQ(model.Mode(), Mode::kCharacter);
  // Back on the byte it started from: nothing selected.
  model.DragTo({2, Mode::kCharacter});
  EXPECT_FALSE(model.HasSelection());

  // An extending click selects from the caret.
  model.Press({1, Mode::kHighNibble}, false);
  model.Press({4, Mode::kHighNibble}, true);
  EXPECT_EQ(model.SelectionStart(), 1);
  EXPECT_EQ(model.SelectionEnd(), 5);
  // Positions beyond the block are taken as its ends.
  model.Press({99, Mode::kLowNibble}, false);
  EXPECT_EQ(model.Caret(), 23);
}

}  // namespace
