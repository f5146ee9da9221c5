// One-line edit box for a board address typed in decimal or hex. The text is
// parsed on every change; while it cannot be parsed it is drawn in red.
#pragma once

#include <QColor>
#include <QLineEdit>
#include <QString>

#include <cstdint>

class CHexEntryEdit : public QLineEdit {
  Q_OBJECT

 public:
  // How the current text reads.
  enum Format {
    kHex = 0,      // hex digits, optionally after "x", "X", "0x" or "0X"
    kDecimal = 1,  // decimal digits only
    kInvalid = 2,  // anything else, the empty text included
  };

  // Colour of the text while it cannot be parsed.
  static constexpr QColor InvalidTextColour() { return QColor(255, 0, 0); }

  explicit CHexEntryEdit(QWidget* parent = nullptr);
  ~CHexEntryEdit() override;

  // False while the text cannot be parsed, leaving value untouched; else
  // true with the value read.
  bool GetValue(std::uint32_t& value);
  // Shows the value as "0x%08X"; the format becomes hex.
  void SetValue(std::uint32_t value);

  // The format and value of the text as last parsed.
  Format CurrentFormat() const { return format_; }
  std::uint32_t CurrentValue() const { return value_; }

  // Reads a text by the rules above. Values beyond 32 bits read as
  // 0xFFFFFFFF. value is set only when the format is not invalid.
  static Format Parse(const QString& text, std::uint32_t& value);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Reparse();

  std::uint32_t value_ = 0;
  Format format_ = kInvalid;
};
