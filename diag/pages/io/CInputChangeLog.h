// A switch on the Input / Output page that logs each change of a switch input
// or dip switch, as the page shows it, with its time: for the technician who
// works a machine's door and coin switches by hand. Each line shows the time
// of its change; the log keeps its lines and can be saved like the other logs.
#pragma once

#include <QWidget>

class CColouredListBox;
class LogKeeper;
class QPushButton;

class CInputChangeLog : public QWidget {
  Q_OBJECT

 public:
  // Watches the page's input check boxes (found by their control ids).
  explicit CInputChangeLog(QWidget* page);

  QPushButton* Switch() const { return switch_; }
  CColouredListBox* Log() const { return log_; }
  LogKeeper* Keeper() const { return keeper_; }

  // "Input 05 on", "Dip switch 03 off": `index` 0-23 inputs, 24-31 dips.
  static QString ChangeText(int index, bool on);

 private:
  QPushButton* switch_;  // checkable
  CColouredListBox* log_;
  LogKeeper* keeper_;
};
