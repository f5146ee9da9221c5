// The ccTalk page's service panel: a bus scan shown as a table, the repeat of
// a transaction with its counts and round-trip times, and the history of the
// last transactions sent, to send again. Shown beside the page on request.
#pragma once

#include <QString>
#include <QTabWidget>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "cctalk/CcTalkBusScan.h"
#include "cctalk/CcTalkRepeat.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

struct CcTalkHistoryEntry {
  QString text;
  QString description;
  std::vector<std::uint8_t> frame;
};

class CcTalkServicePanel : public QTabWidget {
  Q_OBJECT

 public:
  static constexpr std::size_t kHistoryLength = 20;

  struct Hooks {
    std::function<CcTalkExchangeResult(const CcctalkMessage&)> exchange;
    std::function<bool()> applyConfiguration;     // before a scan or a repeat
    std::function<QString()> configurationError;  // why the last one failed
    std::function<std::uint8_t()> hostAddress;
    std::function<void(const CcTalkHistoryEntry&)> sendAgain;
  };

  CcTalkServicePanel(Hooks hooks, QWidget* parent = nullptr);

  // A transaction was sent from the page: it goes to the top of the history
  // (an equal one already there moves up).
  void RecordSent(const CcTalkHistoryEntry& entry);
  const std::deque<CcTalkHistoryEntry>& History() const { return history_; }

  CcTalkBusScan* Scan() { return scan_; }
  CcTalkRepeat* Repeat() { return repeat_; }
  QTableWidget* ScanTable() const { return table_; }
  QSpinBox* RepeatTimes() const { return times_; }
  QSpinBox* RepeatInterval() const { return interval_; }
  QListWidget* HistoryList() const { return historyList_; }

  void StartScan();
  // Repeats the selected history entry, or the newest when none is selected.
  void StartRepeat();
  void SendAgainSelected();

 private:
  QWidget* BuildScanTab();
  QWidget* BuildRepeatTab();
  QWidget* BuildHistoryTab();
  void ShowDevice(int row);
  void ShowCounts();
  // "The port could not be configured: <why>", for a scan or repeat refused.
  QString RefusedText() const;

  Hooks hooks_;
  CcTalkBusScan* scan_;
  CcTalkRepeat* repeat_;
  std::deque<CcTalkHistoryEntry> history_;

  QSpinBox* first_ = nullptr;
  QSpinBox* last_ = nullptr;
  QPushButton* scanButton_ = nullptr;
  QPushButton* scanStop_ = nullptr;
  QProgressBar* scanProgress_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* scanStatus_ = nullptr;
  QSpinBox* times_ = nullptr;
  QSpinBox* interval_ = nullptr;
  QPushButton* repeatButton_ = nullptr;
  QPushButton* repeatStop_ = nullptr;
  QLabel* counts_ = nullptr;
  QListWidget* historyList_ = nullptr;
};
