// The Serial Port page's row of sending aids: text or hex entry of a line to
// send, the last sends to pick again, and the dump's times. Sending goes
// through the page's own "Send", with the bytes put in its byte editor.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <optional>

class CColouredListBox;
class CHexBlockEdit;
class LogKeeper;
class QCheckBox;
class QComboBox;
class QLabel;

class CSerialSendTools : public QWidget {
  Q_OBJECT

 public:
  static constexpr std::size_t kHistoryLength = 20;
  enum class Entry { kHex = 0, kText = 1 };

  CSerialSendTools(CColouredListBox* dump, CHexBlockEdit* editor, std::function<void()> send,
                   QWidget* parent = nullptr);

  // "48 65 6C", "48656c" or "0x48 0x65": the bytes, or nothing for bad hex.
  static std::optional<QByteArray> ParseHex(const QString& text);
  static QString ToHex(const QByteArray& bytes);
  // Text with \r, \n, \t, \\ and \xNN escapes; other characters as Latin-1
  // (a character beyond it gives nothing).
  static std::optional<QByteArray> ParseText(const QString& text);
  static QString ToText(const QByteArray& bytes);

  void SetEntry(Entry entry);
  Entry CurrentEntry() const;
  // Puts the line's bytes into the byte editor and sends them; false (and
  // the reason shown) when the line does not parse.
  bool SendLine(const QString& line);
  // A send succeeded: the bytes go to the top of the history.
  void RecordSent(const QByteArray& bytes);
  const std::deque<QByteArray>& History() const { return history_; }

  void ShowTimes(bool on);
  LogKeeper* Keeper() const { return keeper_; }
  QComboBox* Line() const { return line_; }
  QCheckBox* TimesSwitch() const { return times_; }

 private:
  void FillHistory();

  CColouredListBox* dump_;
  CHexBlockEdit* editor_;
  std::function<void()> send_;
  LogKeeper* keeper_;
  std::deque<QByteArray> history_;
  QComboBox* entry_;
  QComboBox* line_;
  QLabel* problem_;
  QCheckBox* times_;
};
