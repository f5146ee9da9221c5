#include "pages/cctalk/CcTalkServicePanel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString Hex(const std::vector<std::uint8_t>& bytes) {
  QStringList out;
  for (std::uint8_t b : bytes) out << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
  return out.join(QLatin1Char(' '));
}

// The echo error texts of a run only grow: show the start of the last one.
constexpr qsizetype kShownErrorLength = 300;

QLabel* Wrapped(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  return label;
}

}  // namespace

CcTalkServicePanel::CcTalkServicePanel(Hooks hooks, QWidget* parent)
    : QTabWidget(parent),
      hooks_(std::move(hooks)),
      scan_(new CcTalkBusScan(hooks_.exchange, this)),
      repeat_(new CcTalkRepeat(hooks_.exchange, this)) {
  setObjectName(QStringLiteral("ccTalkService"));
  addTab(BuildScanTab(), QStringLiteral("Bus scan"));
  addTab(BuildRepeatTab(), QStringLiteral("Repeat"));
  addTab(BuildHistoryTab(), QStringLiteral("History"));
  // Return in the sheet presses none of them.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(false);
}

QWidget* CcTalkServicePanel::BuildScanTab() {
  auto* tab = new QWidget(this);
  first_ = new QSpinBox(tab);
  first_->setRange(1, 255);
  first_->setValue(1);
  first_->setPrefix(QStringLiteral("from "));
  last_ = new QSpinBox(tab);
  last_->setRange(1, 255);
  last_->setValue(255);
  last_->setPrefix(QStringLiteral("to "));
  scanButton_ = new QPushButton(QStringLiteral("Scan"), tab);
  scanButton_->setObjectName(QStringLiteral("scanStart"));
  scanStop_ = new QPushButton(QStringLiteral("Stop"), tab);
  scanStop_->setObjectName(QStringLiteral("scanStop"));
  scanStop_->setEnabled(false);
  scanProgress_ = new QProgressBar(tab);
  scanProgress_->setValue(0);
  table_ = new QTableWidget(0, 4, tab);
  table_->setObjectName(QStringLiteral("scanTable"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Address"), QStringLiteral("Category"),
                                     QStringLiteral("Product code"),
                                     QStringLiteral("Serial number")});
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  scanStatus_ = Wrapped(QStringLiteral("Simple poll to each address, then category, product "
                                       "code and serial number of each device found."),
                        tab);
  scanStatus_->setObjectName(QStringLiteral("scanStatus"));

  auto* row = new QHBoxLayout;
  row->addWidget(first_);
  row->addWidget(last_);
  row->addWidget(scanButton_);
  row->addWidget(scanStop_);
  auto* layout = new QVBoxLayout(tab);
  layout->addLayout(row);
  layout->addWidget(scanProgress_);
  layout->addWidget(table_, 1);
  layout->addWidget(scanStatus_);

  connect(scanButton_, &QPushButton::clicked, this, &CcTalkServicePanel::StartScan);
  connect(scanStop_, &QPushButton::clicked, scan_, &CcTalkBusScan::Stop);
  connect(scan_, &CcTalkBusScan::progress, this, [this](int done, int total) {
    scanProgress_->setRange(0, total);
    scanProgress_->setValue(done);
  });
  connect(scan_, &CcTalkBusScan::deviceChanged, this, &CcTalkServicePanel::ShowDevice);
  connect(scan_, &CcTalkBusScan::finished, this, [this](bool stopped) {
    scanButton_->setEnabled(true);
    scanStop_->setEnabled(false);
    if (!stopped && !scan_->Failure().isEmpty()) {
      scanStatus_->setText(QStringLiteral("Failed at address %1: the bus could not be used, %2 "
                                          "device(s) found before. %3")
                               .arg(scan_->FailedAddress())
                               .arg(scan_->Devices().size())
                               .arg(scan_->Failure()));
      scanStatus_->setStyleSheet(QStringLiteral("color: red"));
      return;
    }
    scanStatus_->setText(QStringLiteral("%1: %2 device(s) found.")
                             .arg(stopped ? QStringLiteral("Stopped") : QStringLiteral("Done"))
                             .arg(scan_->Devices().size()));
  });
  return tab;
}

QWidget* CcTalkServicePanel::BuildRepeatTab() {
  auto* tab = new QWidget(this);
  times_ = new QSpinBox(tab);
  times_->setRange(0, 1000000);
  times_->setValue(10);
  times_->setSpecialValueText(QStringLiteral("until stopped"));
  times_->setSuffix(QStringLiteral(" times"));
  interval_ = new QSpinBox(tab);
  interval_->setRange(0, 60000);
  interval_->setValue(100);
  interval_->setPrefix(QStringLiteral("every "));
  interval_->setSuffix(QStringLiteral(" ms"));
  repeatButton_ = new QPushButton(QStringLiteral("Repeat"), tab);
  repeatButton_->setObjectName(QStringLiteral("repeatStart"));
  repeatStop_ = new QPushButton(QStringLiteral("Stop"), tab);
  repeatStop_->setObjectName(QStringLiteral("repeatStop"));
  repeatStop_->setEnabled(false);
  counts_ = Wrapped(QStringLiteral("Repeats the transaction selected in the history (the newest "
                                   "when none is selected)."),
                    tab);
  counts_->setObjectName(QStringLiteral("repeatCounts"));
  counts_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* row = new QGridLayout;
  row->addWidget(times_, 0, 0);
  row->addWidget(interval_, 0, 1);
  row->addWidget(repeatButton_, 1, 0);
  row->addWidget(repeatStop_, 1, 1);
  auto* layout = new QVBoxLayout(tab);
  layout->addLayout(row);
  layout->addWidget(counts_);
  layout->addStretch(1);

  connect(repeatButton_, &QPushButton::clicked, this, &CcTalkServicePanel::StartRepeat);
  connect(repeatStop_, &QPushButton::clicked, repeat_, &CcTalkRepeat::Stop);
  connect(repeat_, &CcTalkRepeat::updated, this, &CcTalkServicePanel::ShowCounts);
  connect(repeat_, &CcTalkRepeat::finished, this, [this] {
    repeatButton_->setEnabled(true);
    repeatStop_->setEnabled(false);
  });
  return tab;
}

QWidget* CcTalkServicePanel::BuildHistoryTab() {
  auto* tab = new QWidget(this);
  historyList_ = new QListWidget(tab);
  historyList_->setObjectName(QStringLiteral("history"));
  auto* again = new QPushButton(QStringLiteral("Send again"), tab);
  again->setObjectName(QStringLiteral("sendAgain"));
  auto* layout = new QVBoxLayout(tab);
  layout->addWidget(historyList_, 1);
  layout->addWidget(again);
  connect(again, &QPushButton::clicked, this, &CcTalkServicePanel::SendAgainSelected);
  connect(historyList_, &QListWidget::itemDoubleClicked, this,
          &CcTalkServicePanel::SendAgainSelected);
  return tab;
}

void CcTalkServicePanel::RecordSent(const CcTalkHistoryEntry& entry) {
  std::erase_if(history_, [&](const CcTalkHistoryEntry& old) {
    return old.frame == entry.frame && old.text == entry.text;
  });
  history_.push_front(entry);
  while (history_.size() > kHistoryLength) history_.pop_back();
  historyList_->clear();
  for (const CcTalkHistoryEntry& item : history_) {
    auto* line = new QListWidgetItem(QStringLiteral("%1  [%2]").arg(item.text, Hex(item.frame)));
    line->setToolTip(item.description);
    historyList_->addItem(line);
  }
}

void CcTalkServicePanel::SendAgainSelected() {
  const int row = historyList_->currentRow();
  if (row < 0 || static_cast<std::size_t>(row) >= history_.size()) return;
  // A copy: sending records the entry again, which rebuilds the history.
  const CcTalkHistoryEntry entry = history_[static_cast<std::size_t>(row)];
  hooks_.sendAgain(entry);
}

void CcTalkServicePanel::StartScan() {
  if (scan_->Running() || repeat_->Running()) return;
  if (!hooks_.applyConfiguration()) {
    scanStatus_->setStyleSheet(QStringLiteral("color: red"));
    scanStatus_->setText(RefusedText());
    return;
  }
  table_->setRowCount(0);
  scanButton_->setEnabled(false);
  scanStop_->setEnabled(true);
  scanStatus_->setStyleSheet(QString());
  scanStatus_->setText(QStringLiteral("Scanning..."));
  scan_->Start(hooks_.hostAddress(), first_->value(), last_->value());
}

void CcTalkServicePanel::ShowDevice(int row) {
  const CcTalkBusScan::Device& device = scan_->Devices()[static_cast<std::size_t>(row)];
  if (table_->rowCount() <= row) table_->setRowCount(row + 1);
  const QString cells[] = {QString::number(device.address), device.category, device.productCode,
                           device.serialNumber};
  for (int column = 0; column < 4; ++column)
    table_->setItem(row, column, new QTableWidgetItem(cells[column]));
}

void CcTalkServicePanel::StartRepeat() {
  if (scan_->Running() || repeat_->Running()) return;
  if (history_.empty()) {
    counts_->setText(QStringLiteral("Nothing to repeat: send a transaction first."));
    return;
  }
  if (!hooks_.applyConfiguration()) {
    counts_->setText(RefusedText());
    return;
  }
  const int row = std::max(historyList_->currentRow(), 0);
  CcctalkMessage request;
  request.assign(history_[static_cast<std::size_t>(row)].frame);
  repeatButton_->setEnabled(false);
  repeatStop_->setEnabled(true);
  repeat_->Start(request, times_->value(), interval_->value());
}

QString CcTalkServicePanel::RefusedText() const {
  const QString why = hooks_.configurationError ? hooks_.configurationError() : QString();
  if (why.isEmpty()) return QStringLiteral("The port could not be configured.");
  return QStringLiteral("The port could not be configured: %1").arg(why);
}

void CcTalkServicePanel::ShowCounts() {
  const CcTalkRepeat::Counts& c = repeat_->Result();
  QString text = QStringLiteral("Sent %1: good %2, timed out %3, invalid %4, failed %5.")
                     .arg(c.sent)
                     .arg(c.good)
                     .arg(c.timedOut)
                     .arg(c.invalid)
                     .arg(c.failed);
  if (c.good > 0)
    text += QStringLiteral("\nRound trip: minimum %1 ms, median %2 ms, maximum %3 ms.")
                .arg(c.minimumMs, 0, 'f', 1)
                .arg(c.medianMs, 0, 'f', 1)
                .arg(c.maximumMs, 0, 'f', 1);
  if (!repeat_->LastError().isEmpty())
    text += QStringLiteral("\nLast failure: %1").arg(repeat_->LastError().left(kShownErrorLength));
  counts_->setText(text);
}
