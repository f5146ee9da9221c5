#include "pages/memory/CMemoryFilePanel.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "CColouredListBox.h"
#include "CMemoryView.h"
#include "MemoryBuffer.h"
#include "pages/memory/CMemoryPage.h"

namespace {

// The outcome under the buttons: wrapped within the lines it is given and
// never asking the page for more height, whatever the width.
class StatusLabel : public QLabel {
 public:
  using QLabel::QLabel;
  bool hasHeightForWidth() const override { return false; }
};

}  // namespace

namespace {

constexpr std::int32_t kBlack = CColouredListBox::Rgb(0, 0, 0);
constexpr std::int32_t kRed = CColouredListBox::Rgb(255, 0, 0);

QString Hex4(std::int64_t address) {
  return QString::asprintf("0x%04llX", static_cast<unsigned long long>(address));
}

QString Hex2(std::uint8_t byte) { return QString::asprintf("0x%02X", byte); }

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

QPushButton* MakeButton(const QString& text, const QString& name, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  // Return in the page's boxes stays with the page.
  button->setAutoDefault(false);
  return button;
}

}  // namespace

const QString& CMemoryFilePanel::HexFilter() {
  static const QString filter = QStringLiteral("Intel HEX (*.hex *.ihex *.ihx)");
  return filter;
}

const QString& CMemoryFilePanel::BinaryFilter() {
  static const QString filter = QStringLiteral("Raw binary (*.bin *.raw)");
  return filter;
}

const QString& CMemoryFilePanel::AnyFilter() {
  static const QString filter = QStringLiteral("Any file, format by extension (*)");
  return filter;
}

CMemoryFilePanel::CMemoryFilePanel(CMemoryPage* page, const BoardMemoryAccess& access)
    : QWidget(page), page_(page), access_(access), transfer_(this) {
  setObjectName(QStringLiteral("memoryFilePanel"));
  auto* box = new QGroupBox(QStringLiteral("File"), this);
  exportButton_ =
      MakeButton(QStringLiteral("Export Window..."), QStringLiteral("memoryExport"), box);
  importButton_ = MakeButton(QStringLiteral("Import File..."), QStringLiteral("memoryImport"), box);
  compareButton_ =
      MakeButton(QStringLiteral("Compare with File..."), QStringLiteral("memoryCompare"), box);
  progress_ = new QProgressBar(box);
  progress_->setObjectName(QStringLiteral("memoryProgress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  cancelButton_ = MakeButton(QStringLiteral("Cancel"), QStringLiteral("memoryCancel"), box);
  cancelButton_->setEnabled(false);
  status_ = new StatusLabel(box);
  status_->setObjectName(QStringLiteral("memoryStatus"));
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // A fixed area: a long outcome wraps within it (whole in the tip and in
  // the log) and never takes height from the page's log below.
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Whole lines only: no sliver of a fourth line shows below them.
  status_->setFixedHeight(kStatusLines * status_->fontMetrics().lineSpacing() +
                          2 * status_->margin());
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  differences_ = new QTreeWidget(box);
  differences_->setObjectName(QStringLiteral("memoryDifferences"));
  differences_->setHeaderLabels(
      {QStringLiteral("Address"), QStringLiteral("Board"), QStringLiteral("File")});
  differences_->setRootIsDecorated(false);
  differences_->setUniformRowHeights(true);
  differences_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  // Room for the three columns of a difference side by side.
  int columns = 0;
  for (int i = 0; i < 3; ++i) {
    const QString widest = i == 0 ? QStringLiteral("0x0000") : QStringLiteral("0x00");
    columns += std::max(differences_->header()->sectionSizeHint(i),
                        differences_->fontMetrics().horizontalAdvance(widest) + 16);
  }
  differences_->setMinimumWidth(columns + differences_->verticalScrollBar()->sizeHint().width() +
                                2 * differences_->frameWidth() + 4);

  auto* layout = new QVBoxLayout(box);
  layout->addWidget(exportButton_);
  layout->addWidget(importButton_);
  layout->addWidget(compareButton_);
  layout->addWidget(progress_);
  layout->addWidget(cancelButton_);
  layout->addWidget(status_);
  layout->addWidget(differences_, 1);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(box);

  // A comparison describes one window; another window makes it stale.
  connect(page_, &CMemoryPage::WindowChanged, this, &CMemoryFilePanel::ClearComparison);
  connect(&transfer_, &CChunkedTransfer::Progressed, this, &CMemoryFilePanel::OnProgress);
  connect(&transfer_, &CChunkedTransfer::Finished, this, &CMemoryFilePanel::OnFinished);
  connect(cancelButton_, &QPushButton::clicked, &transfer_, &CChunkedTransfer::Cancel);
  connect(exportButton_, &QPushButton::clicked, this, [this] {
    QString path;
    vantrel::memfile::FileFormat format{};
    if (ChooseFile(true, QStringLiteral("Export the %1 window").arg(QLatin1String(access_.Name())),
                   path, format))
      ExportTo(path, format);
  });
  connect(importButton_, &QPushButton::clicked, this, [this] {
    QString path;
    vantrel::memfile::FileFormat format{};
    if (ChooseFile(false, QStringLiteral("Import a file into the %1").arg(access_.Name()), path,
                   format))
      ImportFrom(path, format);
  });
  connect(compareButton_, &QPushButton::clicked, this, [this] {
    QString path;
    vantrel::memfile::FileFormat format{};
    if (ChooseFile(false, QStringLiteral("Compare the %1 with a file").arg(access_.Name()), path,
                   format))
      CompareWith(path, format);
  });
}

CMemoryFilePanel::~CMemoryFilePanel() = default;

QString CMemoryFilePanel::StatusText() const { return status_->text(); }

bool CMemoryFilePanel::ChooseFile(bool save, const QString& title, QString& path,
                                  vantrel::memfile::FileFormat& format) {
  QFileDialog dialog(this, title);
  dialog.setObjectName(QStringLiteral("memoryFileDialog"));
  // The same dialog everywhere, and one that tests can drive.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters({AnyFilter(), HexFilter(), BinaryFilter()});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  path = dialog.selectedFiles().front();
  const QString filter = dialog.selectedNameFilter();
  if (filter == HexFilter())
    format = vantrel::memfile::FileFormat::kIntelHex;
  else if (filter == BinaryFilter())
    format = vantrel::memfile::FileFormat::kBinary;
  else
    format = vantrel::memfile::FormatByExtension(LocalPath(path));
  return true;
}

vantrel::diag::memoryplan::Span CMemoryFilePanel::MemorySpan() const {
  MemoryBuffer* buffer = page_->Buffer();
  buffer->MeasureMemory();
  return {access_.First(), std::min<std::int64_t>(buffer->MemoryEnd(), 0x10000)};
}

bool CMemoryFilePanel::LoadFile(const QString& path, vantrel::memfile::FileFormat format,
                                const QString& action,
                                std::vector<vantrel::memfile::Segment>& segments) {
  fileName_ = QFileInfo(path).fileName();
  path_ = path;
  format_ = format;
  const MemoryBuffer* buffer = page_->Buffer();
  const std::uint32_t windowStart =
      buffer->Start() >= 0 ? static_cast<std::uint32_t>(buffer->Start()) : access_.First();
  try {
    segments = vantrel::memfile::ReadImageFile(LocalPath(path), format, windowStart);
  } catch (const vantrel::memfile::FileError& error) {
    // The message names the whole path; the log line keeps to the name.
    QString reason = QString::fromLocal8Bit(error.what());
    reason.replace(QString::fromLocal8Bit(LocalPath(path).c_str()), fileName_);
    Report(false, QStringLiteral("%1 refused: %2; nothing sent").arg(action, reason));
    return false;
  }
  if (segments.empty()) {
    Report(false, QStringLiteral("%1 refused: %2 holds no data").arg(action, fileName_));
    return false;
  }
  const vantrel::diag::memoryplan::Span memory = MemorySpan();
  if (!vantrel::diag::memoryplan::Inside(segments, memory)) {
    const vantrel::diag::memoryplan::Span extent = vantrel::diag::memoryplan::Extent(segments);
    Report(false,
           QStringLiteral("%1 refused: %2 covers %3 - %4, beyond the %5 (%6 - %7); "
                          "nothing sent")
               .arg(action, fileName_, Hex4(extent.first), Hex4(extent.end - 1),
                    QLatin1String(access_.Name()), Hex4(memory.first), Hex4(memory.end - 1)));
    return false;
  }
  return true;
}

bool CMemoryFilePanel::AskToWriteBeyondWindow(std::int64_t total) {
  const MemoryBuffer* buffer = page_->Buffer();
  QMessageBox box(QMessageBox::Question, QApplication::applicationName(),
                  QStringLiteral("%1 holds %2 bytes, not all of them inside the window "
                                 "(%3 bytes from %4).\n\nWrite all of the file to the %5?")
                      .arg(fileName_)
                      .arg(total)
                      .arg(buffer->Size())
                      .arg(Hex4(buffer->Start()))
                      .arg(QLatin1String(access_.Name())),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setObjectName(QStringLiteral("importBeyondWindow"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void CMemoryFilePanel::ExportTo(const QString& path, vantrel::memfile::FileFormat format) {
  if (Busy()) return;
  path_ = path;
  fileName_ = QFileInfo(path).fileName();
  format_ = format;
  const MemoryBuffer* buffer = page_->Buffer();
  if (buffer->Size() <= 0 || buffer->Start() < 0) {
    Report(false, QStringLiteral("Export refused: no window has been read"));
    return;
  }
  exportStart_ = static_cast<std::uint32_t>(buffer->Start());
  std::vector<vantrel::memfile::Segment> window{
      {exportStart_, std::vector<std::uint8_t>(static_cast<std::size_t>(buffer->Size()))}};
  Begin(Stage::kExporting, QStringLiteral("Reading the window for %1...").arg(fileName_));
  transfer_.Start(access_, CChunkedTransfer::Direction::kRead, std::move(window));
}

void CMemoryFilePanel::ImportFrom(const QString& path, vantrel::memfile::FileFormat format) {
  if (Busy()) return;
  std::vector<vantrel::memfile::Segment> segments;
  if (!LoadFile(path, format, QStringLiteral("Import"), segments)) return;
  const MemoryBuffer* buffer = page_->Buffer();
  const vantrel::diag::memoryplan::Span window{
      buffer->Start(), std::int64_t{buffer->Start()} + std::int64_t{buffer->Size()}};
  const std::int64_t total = vantrel::diag::memoryplan::TotalBytes(segments);
  if (!vantrel::diag::memoryplan::Inside(segments, window) && !AskToWriteBeyondWindow(total)) {
    Report(false, QStringLiteral("Import of %1 not done: nothing written").arg(fileName_));
    return;
  }
  fileSegments_ = segments;
  Begin(Stage::kWriting, QStringLiteral("Writing %1...").arg(fileName_));
  transfer_.Start(access_, CChunkedTransfer::Direction::kWrite, std::move(segments));
}

void CMemoryFilePanel::CompareWith(const QString& path, vantrel::memfile::FileFormat format) {
  if (Busy()) return;
  std::vector<vantrel::memfile::Segment> segments;
  if (!LoadFile(path, format, QStringLiteral("Compare"), segments)) return;
  fileSegments_ = segments;
  // The board is read into the same addresses and sizes.
  Begin(Stage::kComparing, QStringLiteral("Comparing with %1...").arg(fileName_));
  transfer_.Start(access_, CChunkedTransfer::Direction::kRead, std::move(segments));
}

void CMemoryFilePanel::Begin(Stage stage, const QString& what) {
  stage_ = stage;
  if (stage != Stage::kVerifying) {
    comparison_ = {};
    differences_->clear();
  }
  SetStatus(what);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  exportButton_->setEnabled(false);
  importButton_->setEnabled(false);
  compareButton_->setEnabled(false);
  cancelButton_->setEnabled(true);
}

void CMemoryFilePanel::OnProgress(qint64 done, qint64 total) {
  progress_->setRange(0, static_cast<int>(std::max<qint64>(total, 1)));
  progress_->setValue(static_cast<int>(done));
}

void CMemoryFilePanel::OnFinished(bool ok) {
  switch (stage_) {
    case Stage::kExporting:
      EndExport(ok);
      break;
    case Stage::kWriting:
      EndWrite(ok);
      break;
    case Stage::kVerifying:
      EndVerify(ok);
      break;
    case Stage::kComparing:
      EndCompare(ok);
      break;
    case Stage::kIdle:
      break;
  }
}

void CMemoryFilePanel::EndExport(bool ok) {
  if (transfer_.Cancelled()) {
    Report(false, QStringLiteral("Export to %1 cancelled: no file written").arg(fileName_));
    return;
  }
  if (!ok) {
    Report(false, transfer_.ErrorText() + QStringLiteral("; no file written"));
    return;
  }
  const vantrel::memfile::Segment& window = transfer_.Segments().front();
  try {
    vantrel::memfile::WriteImageFile(LocalPath(path_), format_, exportStart_, window.bytes);
  } catch (const vantrel::memfile::WriteError& error) {
    Report(false, QStringLiteral("Export failed: %1").arg(QString::fromLocal8Bit(error.what())));
    return;
  }
  Report(true, QStringLiteral("Exported %1 bytes from %2 to %3")
                   .arg(window.bytes.size())
                   .arg(Hex4(exportStart_), fileName_));
}

void CMemoryFilePanel::EndWrite(bool ok) {
  const std::int64_t total = vantrel::diag::memoryplan::TotalBytes(fileSegments_);
  // A board that did not answer is not asked again for the window.
  if (!ok && !transfer_.TimedOut()) RefreshWindow();
  if (transfer_.Cancelled()) {
    Report(false, QStringLiteral("Import of %1 cancelled: %2 of %3 bytes written")
                      .arg(fileName_)
                      .arg(transfer_.Done())
                      .arg(total));
    return;
  }
  if (!ok) {
    Report(false, transfer_.ErrorText() +
                      QStringLiteral("; %1 of %2 bytes written").arg(transfer_.Done()).arg(total));
    return;
  }
  // Read back what was written: the same addresses and sizes.
  std::vector<vantrel::memfile::Segment> readBack = fileSegments_;
  Begin(Stage::kVerifying, QStringLiteral("Verifying %1...").arg(fileName_));
  transfer_.Start(access_, CChunkedTransfer::Direction::kRead, std::move(readBack));
}

void CMemoryFilePanel::EndVerify(bool ok) {
  const std::int64_t total = vantrel::diag::memoryplan::TotalBytes(fileSegments_);
  if (!transfer_.TimedOut()) RefreshWindow();
  if (transfer_.Cancelled()) {
    Report(false,
           QStringLiteral("Imported %1 bytes from %2; verify cancelled").arg(total).arg(fileName_));
  } else if (!ok) {
    Report(false, QStringLiteral("Imported %1 bytes from %2; verify failed: %3")
                      .arg(total)
                      .arg(fileName_, transfer_.ErrorText()));
  } else {
    const vantrel::diag::memoryplan::Comparison check =
        vantrel::diag::memoryplan::Compare(fileSegments_, transfer_.Segments(), 1);
    if (check.count > 0) {
      const vantrel::diag::memoryplan::Difference& first = check.first.front();
      Report(false, QStringLiteral("Verify of %1 failed at %2: wrote %3, read %4 (%5 bytes differ)")
                        .arg(fileName_, Hex4(first.address), Hex2(first.file), Hex2(first.board))
                        .arg(check.count));
    } else {
      Report(true, QStringLiteral("Imported %1 bytes from %2, verified").arg(total).arg(fileName_));
    }
  }
}

void CMemoryFilePanel::EndCompare(bool ok) {
  if (transfer_.Cancelled()) {
    Report(false, QStringLiteral("Compare with %1 cancelled").arg(fileName_));
    return;
  }
  if (!ok) {
    Report(false, transfer_.ErrorText());
    return;
  }
  comparison_ = vantrel::diag::memoryplan::Compare(fileSegments_, transfer_.Segments(), kListed);
  ShowComparison();
  // The window shows the board as it is now, with the differing bytes marked.
  RefreshWindow();
  if (page_->isVisible()) page_->View()->MarkAddresses(comparison_.addresses);
  const std::int64_t total = vantrel::diag::memoryplan::TotalBytes(fileSegments_);
  if (comparison_.count == 0)
    Report(true, QStringLiteral("The %1 matches %2 (%3 bytes)")
                     .arg(QLatin1String(access_.Name()), fileName_)
                     .arg(total));
  else
    Report(false, QStringLiteral("The %1 differs from %2 in %3 of %4 bytes, first at %5")
                      .arg(QLatin1String(access_.Name()), fileName_)
                      .arg(comparison_.count)
                      .arg(total)
                      .arg(Hex4(comparison_.first.front().address)));
}

void CMemoryFilePanel::ShowComparison() {
  differences_->clear();
  QList<QTreeWidgetItem*> rows;
  for (const vantrel::diag::memoryplan::Difference& d : comparison_.first)
    rows << new QTreeWidgetItem(QStringList{Hex4(d.address), Hex2(d.board), Hex2(d.file)});
  differences_->addTopLevelItems(rows);
}

void CMemoryFilePanel::SetStatus(const QString& text) {
  status_->setText(text);
  status_->setToolTip(text);
}

void CMemoryFilePanel::ClearComparison() {
  if (Busy()) return;
  comparison_ = {};
  differences_->clear();
}

void CMemoryFilePanel::Report(bool success, const QString& text) {
  // Refused or declined before it began: no bar left from an earlier action.
  if (stage_ == Stage::kIdle) {
    progress_->setRange(0, 1);
    progress_->setValue(0);
  }
  stage_ = Stage::kIdle;
  page_->Log()->AddLine(
      (success ? QStringLiteral("[Success] ") : QStringLiteral("[Error] ")) + text,
      success ? kBlack : kRed);
  QString shown = text;
  if (!comparison_.first.empty() && comparison_.count > static_cast<std::int64_t>(kListed))
    shown += QStringLiteral(" (the first %1 listed)").arg(kListed);
  SetStatus(shown);
  exportButton_->setEnabled(true);
  importButton_->setEnabled(true);
  compareButton_->setEnabled(true);
  cancelButton_->setEnabled(false);
  emit Finished();
}

void CMemoryFilePanel::RefreshWindow() {
  // A hidden page reads its window again when it is next shown.
  if (page_->isVisible()) page_->UpdateView();
}
