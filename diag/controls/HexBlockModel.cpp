#include "HexBlockModel.h"

#include <algorithm>

#include <k27/common/Hex.h>

namespace {

char HexDigit(int value) { return "0123456789ABCDEF"[value & 0xF]; }

// A hex digit as the editor takes it: decimal digits and lower-case letters.
int TypedHexValue(char16_t c) {
  const auto value = vantrel::common::HexDigitValue(c);
  if (!value || (c >= u'A' && c <= u'F')) return -1;
  return *value;
}

}  // namespace

std::string HexBlockModel::TextForm(const std::uint8_t* bytes, int n, bool characterColumn) {
  std::string text;
  if (bytes == nullptr || n < 1) return text;
  text.reserve(static_cast<std::size_t>(characterColumn ? n : 3 * n));
  for (int i = 0; i < n; ++i) {
    if (characterColumn) {
      text += IsPrintable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
    } else {
      text += HexDigit(bytes[i] >> 4);
      text += HexDigit(bytes[i]);
      text += ' ';
    }
  }
  return text;
}

void HexBlockModel::SetColumns(bool hex, bool characters) {
  showHex_ = hex;
  showChars_ = characters;
  // The caret must stay in a column that is shown.
  if (IsNibble(mode_) && !showHex_ && showChars_) mode_ = CaretMode::kCharacter;
  if (mode_ == CaretMode::kCharacter && !showChars_ && showHex_) mode_ = CaretMode::kHighNibble;
}

void HexBlockModel::SetBytesPerRow(int n) { bytesPerRow_ = std::max(1, n); }

void HexBlockModel::SetMaxLength(int n) { maxLength_ = std::max(0, n); }

void HexBlockModel::SetData(const std::uint8_t* bytes, int n) {
  if (bytes == nullptr || n < 1)
    bytes_.clear();
  else
    bytes_.assign(bytes, bytes + n);
  caret_ = 0;
  mode_ = FirstColumn();
  ClearSelection();
  anchor_ = 0;
}

int HexBlockModel::GetData(std::uint8_t* buffer, int max) const {
  if (buffer != nullptr && max > 0) std::copy_n(bytes_.begin(), std::min(Length(), max), buffer);
  return Length();
}

void HexBlockModel::SetCaret(int index, CaretMode mode) {
  if (Length() == 0) index = 0;
  caret_ = std::clamp(index, 0, std::max(0, Length() - 1));
  mode_ = mode;
  ClearSelection();
}

void HexBlockModel::SetSelection(int start, int end) {
  start = std::clamp(start, 0, Length());
  end = std::clamp(end, 0, Length());
  if (end <= start) {
    ClearSelection();
    return;
  }
  selectionStart_ = start;
  selectionEnd_ = end;
  anchor_ = start;
}

void HexBlockModel::MoveCaret(Move move, bool extend, int linesPerPage) {
  if (Length() == 0) return;
  const int last = Length() - 1;
  const int lineStart = caret_ - caret_ % bytesPerRow_;
  const bool hex = IsNibble(mode_);
  Position to{caret_, mode_};
  switch (move) {
    case Move::kSwitchColumn:
      if (hex && showChars_)
        to.mode = CaretMode::kCharacter;
      else if (!hex && showHex_)
        to.mode = CaretMode::kHighNibble;
      break;
    case Move::kLeft:
      if (mode_ == CaretMode::kLowNibble) {
        to.mode = CaretMode::kHighNibble;
      } else if (caret_ > 0) {
        to.index = caret_ - 1;
        if (hex) to.mode = CaretMode::kLowNibble;
      }
      break;
    case Move::kRight:
      if (mode_ == CaretMode::kHighNibble) {
        to.mode = CaretMode::kLowNibble;
      } else if (caret_ < last) {
        to.index = caret_ + 1;
        if (hex) to.mode = CaretMode::kHighNibble;
      }
      break;
    case Move::kUp:
      if (caret_ >= bytesPerRow_) to.index = caret_ - bytesPerRow_;
      break;
    case Move::kDown:
      if (caret_ + bytesPerRow_ <= last) to.index = caret_ + bytesPerRow_;
      break;
    case Move::kPageUp: {
      const int step = std::max(1, linesPerPage) * bytesPerRow_;
      to.index = caret_ >= step ? caret_ - step : caret_ % bytesPerRow_;
      break;
    }
    case Move::kPageDown: {
      const int step = std::max(1, linesPerPage) * bytesPerRow_;
      if (caret_ + step <= last) {
        to.index = caret_ + step;
      } else {
        // To the last line, in the same column where it has one.
        const int lastLineStart = last - last % bytesPerRow_;
        to.index = std::min(last, lastLineStart + caret_ % bytesPerRow_);
      }
      break;
    }
    case Move::kLineStart:
    case Move::kFirst:
      to.index = move == Move::kFirst ? 0 : lineStart;
      if (hex) to.mode = CaretMode::kHighNibble;
      break;
    case Move::kLineEnd:
    case Move::kLast:
      to.index = move == Move::kLast ? last : std::min(last, lineStart + bytesPerRow_ - 1);
      if (hex) to.mode = CaretMode::kLowNibble;
      break;
  }
  if (mode_ == CaretMode::kNone)
    to.mode = showHex_ ? CaretMode::kHighNibble : CaretMode::kCharacter;

  if (extend && !HasSelection()) anchor_ = caret_;
  caret_ = to.index;
  mode_ = to.mode;
  const int from = std::min(anchor_, caret_);
  const int end = std::max(anchor_, caret_);
  if (extend && end > from) {
    selectionStart_ = from;
    selectionEnd_ = end;
  } else {
    ClearSelection();
  }
}

void HexBlockModel::Press(Position at, bool extend) {
  if (Length() == 0) return;
  at.index = std::clamp(at.index, 0, Length() - 1);
  if (!HasSelection()) anchor_ = caret_;
  dragInCharacters_ = at.mode == CaretMode::kCharacter;
  if (extend) {
    DragTo(at);
    return;
  }
  anchor_ = at.index;
  caret_ = at.index;
  mode_ = at.mode;
  ClearSelection();
}

void HexBlockModel::DragTo(Position at) {
  if (Length() == 0) return;
  at.index = std::clamp(at.index, 0, Length() - 1);
  caret_ = at.index;
  if (dragInCharacters_)
    mode_ = CaretMode::kCharacter;
  else
    mode_ = IsNibble(at.mode) ? at.mode : CaretMode::kHighNibble;
  if (at.index == anchor_) {
    // A click never hides the caret behind a selection.
    ClearSelection();
    return;
  }
  selectionStart_ = std::min(anchor_, at.index);
  selectionEnd_ = std::max(anchor_, at.index) + (dragInCharacters_ ? 0 : 1);
}

bool HexBlockModel::InsertZeros() {
  if (!insertDelete_) return false;
  const int count = HasSelection() ? selectionEnd_ - selectionStart_ : 1;
  const int room = maxLength_ - Length();
  if (room > 0)
    InsertBytes(caret_,
                std::vector<std::uint8_t>(static_cast<std::size_t>(std::min(count, room)), 0));
  ClearSelection();
  ClampCaret();
  return true;
}

bool HexBlockModel::DeleteForward() {
  if (!insertDelete_) return false;
  if (HasSelection()) {
    const int from = selectionStart_;
    EraseBytes(from, selectionEnd_ - selectionStart_);
    caret_ = from;
  } else {
    EraseBytes(caret_, 1);
  }
  ClearSelection();
  ClampCaret();
  return true;
}

bool HexBlockModel::DeleteBack() {
  if (caret_ > 0 && caret_ <= Length()) {
    EraseBytes(caret_ - 1, 1);
    --caret_;
  }
  ClearSelection();
  ClampCaret();
  return true;
}

bool HexBlockModel::Type(char16_t character) {
  if (Length() == 0) return false;
  auto& byte = bytes_[static_cast<std::size_t>(caret_)];
  if (mode_ == CaretMode::kCharacter) {
    // One byte per character: control characters and characters beyond
    // one byte are not typed.
    if (character < 0x20 || character > 0xFF || character == 0x7F) return false;
    byte = static_cast<std::uint8_t>(character);
    if (caret_ < Length() - 1) ++caret_;
  } else if (IsNibble(mode_)) {
    const int value = TypedHexValue(character);
    if (value < 0) return false;
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
  } else {
    return false;
  }
  ClearSelection();
  return true;
}

HexBlockModel::ClipboardForms HexBlockModel::SelectionForms() const {
  ClipboardForms forms;
  if (!HasSelection()) return forms;
  const std::uint8_t* first = bytes_.data() + selectionStart_;
  const int n = selectionEnd_ - selectionStart_;
  forms.binary.assign(first, first + n);
  forms.text = TextForm(first, n, mode_ == CaretMode::kCharacter);
  return forms;
}

bool HexBlockModel::Paste(const std::uint8_t* bytes, std::size_t n) {
  if (bytes == nullptr || n == 0) return false;
  int at = 0;
  if (HasSelection()) {
    at = selectionStart_;
    EraseBytes(selectionStart_, selectionEnd_ - selectionStart_);
  } else if (Length() > 0) {
    at = caret_ + (mode_ == CaretMode::kLowNibble ? 1 : 0);
  }
  const auto room = static_cast<std::size_t>(std::max(0, maxLength_ - Length()));
  const std::size_t count = std::min(n, room);
  InsertBytes(at, std::vector<std::uint8_t>(bytes, bytes + count));
  if (mode_ == CaretMode::kNone) mode_ = showHex_ ? CaretMode::kHighNibble : CaretMode::kCharacter;
  ClearSelection();
  ClampCaret();
  return true;
}

bool HexBlockModel::EraseSelection() {
  if (!HasSelection()) return false;
  const int from = selectionStart_;
  EraseBytes(from, selectionEnd_ - selectionStart_);
  caret_ = from;
  ClearSelection();
  ClampCaret();
  return true;
}

void HexBlockModel::InsertBytes(int at, const std::vector<std::uint8_t>& bytes) {
  at = std::clamp(at, 0, Length());
  bytes_.insert(bytes_.begin() + at, bytes.begin(), bytes.end());
}

void HexBlockModel::EraseBytes(int from, int count) {
  from = std::clamp(from, 0, Length());
  count = std::clamp(count, 0, Length() - from);
  bytes_.erase(bytes_.begin() + from, bytes_.begin() + from + count);
}

void HexBlockModel::ClampCaret() { caret_ = std::clamp(caret_, 0, std::max(0, Length() - 1)); }
