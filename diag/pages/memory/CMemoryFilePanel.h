// Side panel of the EEPROM and SRAM pages for memory in files: export the
// window to a file, import a file into the memory (read back to verify), and
// compare the memory with a file, listing and marking the differing bytes.
// Files are raw binary or Intel HEX, by the chosen filter or the extension.
// Transfers run a piece at a time with a progress bar and a Cancel button.
//
// An import never reaches past the memory that exists and is refused whole
// when it would; a file with bytes outside the window is written only when
// the technician agrees. A corrupt file is refused before anything is sent.
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

#include "MemoryFile.h"
#include "pages/memory/BoardMemoryAccess.h"
#include "pages/memory/CChunkedTransfer.h"
#include "pages/memory/MemoryFilePlan.h"

class CMemoryPage;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

class CMemoryFilePanel : public QWidget {
  Q_OBJECT

 public:
  // Differences listed at most; the count covers them all.
  static constexpr std::size_t kListed = 100;
  // Lines of the status text under the buttons (its height never changes).
  static constexpr int kStatusLines = 3;

  // The file dialog's filters: the first two choose the format, the last
  // takes Intel HEX by extension (.hex, .ihex, .ihx) and raw binary else.
  static const QString& HexFilter();
  static const QString& BinaryFilter();
  static const QString& AnyFilter();

  CMemoryFilePanel(CMemoryPage* page, const BoardMemoryAccess& access);
  ~CMemoryFilePanel() override;

  // The actions behind the buttons, once the file is chosen.
  void ExportTo(const QString& path, vantrel::memfile::FileFormat format);
  void ImportFrom(const QString& path, vantrel::memfile::FileFormat format);
  void CompareWith(const QString& path, vantrel::memfile::FileFormat format);

  bool Busy() const { return stage_ != Stage::kIdle; }
  // What the last action came to, as shown under the progress bar.
  QString StatusText() const;
  const vantrel::diag::memoryplan::Comparison& LastComparison() const { return comparison_; }

  QPushButton* ExportButton() const { return exportButton_; }
  QPushButton* ImportButton() const { return importButton_; }
  QPushButton* CompareButton() const { return compareButton_; }
  QPushButton* CancelButton() const { return cancelButton_; }
  QProgressBar* Progress() const { return progress_; }
  QTreeWidget* DifferenceList() const { return differences_; }
  QLabel* Status() const { return status_; }

 signals:
  // An action has ended, whatever its outcome.
  void Finished();

 private:
  enum class Stage { kIdle, kExporting, kWriting, kVerifying, kComparing };

  // Asks for a file; false when the dialog was cancelled.
  bool ChooseFile(bool save, const QString& title, QString& path,
                  vantrel::memfile::FileFormat& format);
  // Reads and checks the whole file; on failure reports it and returns false.
  bool LoadFile(const QString& path, vantrel::memfile::FileFormat format, const QString& action,
                std::vector<vantrel::memfile::Segment>& segments);
  // The memory's reachable span, measured now.
  vantrel::diag::memoryplan::Span MemorySpan() const;
  bool AskToWriteBeyondWindow(std::int64_t total);

  void Begin(Stage stage, const QString& what);
  void OnProgress(qint64 done, qint64 total);
  void OnFinished(bool ok);
  void EndExport(bool ok);
  void EndWrite(bool ok);
  void EndVerify(bool ok);
  void EndCompare(bool ok);
  void ShowComparison();
  // Logs the outcome in the page's log, shows it here and ends the action.
  void Report(bool success, const QString& text);
  void RefreshWindow();
  void SetStatus(const QString& text);
  // Forgets the last comparison (not while an action runs).
  void ClearComparison();

  CMemoryPage* page_;  // the parent
  BoardMemoryAccess access_;
  CChunkedTransfer transfer_;
  Stage stage_ = Stage::kIdle;
  QString path_;
  QString fileName_;
  vantrel::memfile::FileFormat format_ = vantrel::memfile::FileFormat::kBinary;
  std::uint32_t exportStart_ = 0;
  std::vector<vantrel::memfile::Segment> fileSegments_;
  vantrel::diag::memoryplan::Comparison comparison_;

  QPushButton* exportButton_;
  QPushButton* importButton_;
  QPushButton* compareButton_;
  QPushButton* cancelButton_;
  QProgressBar* progress_;
  QLabel* status_;
  QTreeWidget* differences_;
};
