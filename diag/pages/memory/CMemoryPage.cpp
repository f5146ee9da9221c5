#include "pages/memory/CMemoryPage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "CColouredListBox.h"
#include "CHexEntryEdit.h"
#include "CMemoryView.h"
#include "LogKeeper.h"
#include "MemoryBuffer.h"

namespace {

constexpr std::int32_t kBlack = CColouredListBox::Rgb(0, 0, 0);
constexpr std::int32_t kRed = CColouredListBox::Rgb(255, 0, 0);
constexpr int kInitialCount = 256;

QString Id(int id) { return QStringLiteral("id%1").arg(id); }

bool IsBlank(QChar c) {
  return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
         c == QLatin1Char('\v') || c == QLatin1Char('\f') || c == QLatin1Char('\r');
}

// The plain decimal conversion, held within the range of an int.
int DecimalOf(const QString& text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && IsBlank(text.at(i))) ++i;
  bool negative = false;
  if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
    negative = text.at(i) == QLatin1Char('-');
    ++i;
  }
  std::int64_t value = 0;
  for (; i < n; ++i) {
    const char16_t c = text.at(i).unicode();
    if (c < u'0' || c > u'9') break;
    if (value <= INT_MAX) value = value * 10 + (c - u'0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

CMemoryPage::CMemoryPage(VantrelUSB* board, Kind kind, BufferFactory makeBuffer, QWidget* parent)
    : QWidget(parent), board_(board), kind_(std::move(kind)) {
  setObjectName(Id(kind_.templateId));

  auto* rangeBox = new QGroupBox(kind_.rangeCaption, this);
  addressEdit_ = new CHexEntryEdit(rangeBox);
  addressEdit_->setObjectName(Id(kind_.addressId));
  countEdit_ = new QLineEdit(rangeBox);
  countEdit_->setObjectName(Id(kind_.countId));
  countEdit_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), countEdit_));
  updateButton_ = new QPushButton(QStringLiteral("Update View"), rangeBox);
  updateButton_->setObjectName(Id(kind_.updateId));
  updateButton_->setAutoDefault(false);
  auto* addressLabel = new QLabel(QStringLiteral("Start Address:"), rangeBox);
  addressLabel->setBuddy(addressEdit_);
  auto* countLabel = new QLabel(QStringLiteral("Number of Bytes:"), rangeBox);
  countLabel->setBuddy(countEdit_);
  auto* rangeLayout = new QHBoxLayout(rangeBox);
  rangeLayout->addWidget(addressLabel);
  rangeLayout->addWidget(addressEdit_, 2);
  rangeLayout->addSpacing(12);
  rangeLayout->addWidget(countLabel);
  rangeLayout->addWidget(countEdit_, 1);
  rangeLayout->addSpacing(12);
  rangeLayout->addWidget(updateButton_);

  auto* viewBox = new QGroupBox(kind_.viewCaption, this);
  view_ = new CMemoryView(viewBox);
  view_->setObjectName(Id(kind_.viewId));
  auto* viewLayout = new QVBoxLayout(viewBox);
  viewLayout->addWidget(view_);

  auto* logBox = new QGroupBox(QStringLiteral("Log"), this);
  log_ = new CColouredListBox(true, logBox);
  log_->setObjectName(Id(kind_.logId));
  log_->setMinimumHeight(4 * (CColouredListBox::kFixedPitchPixelHeight + 4));
  auto* logLayout = new QVBoxLayout(logBox);
  logLayout->addWidget(log_);
  // Times, saving, copying and logging to a file, as on the other pages.
  keeper_ = new LogKeeper(log_);

  viewRow_ = new QHBoxLayout;
  viewRow_->addWidget(viewBox, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(rangeBox);
  layout->addLayout(viewRow_, 3);
  layout->addWidget(logBox, 1);

  buffer_ = makeBuffer(board_, log_);
  connect(updateButton_, &QPushButton::clicked, this, &CMemoryPage::UpdateView);
  connect(addressEdit_, &QLineEdit::returnPressed, this, &CMemoryPage::UpdateView);
  connect(countEdit_, &QLineEdit::returnPressed, this, &CMemoryPage::UpdateView);
}

CMemoryPage::~CMemoryPage() {
  // The view must not outlive its pointer to the buffer in use.
  view_->Attach(nullptr);
}

void CMemoryPage::AddSidePanel(QWidget* panel) { viewRow_->addWidget(panel); }

std::uint32_t CMemoryPage::CountOf(const QString& text, std::uint32_t maxCount) {
  // Compared unsigned, so a negative count is cut to the largest.
  auto n = static_cast<std::uint32_t>(DecimalOf(text));
  if (n == 0) n = 1;
  if (n > maxCount) n = maxCount;
  return n;
}

std::int64_t CMemoryPage::WindowEnd(std::uint32_t address, std::int64_t memoryEnd) {
  // Board addresses are 16 bits: past 0xFFFF a window would wrap round to 0.
  constexpr std::int64_t kSpaceEnd = std::int64_t{kHighestAddress} + 1;
  if (address >= memoryEnd) return kSpaceEnd;
  return std::min(memoryEnd, kSpaceEnd);
}

void CMemoryPage::InitialiseDialog() {
  initialised_ = true;
  addressEdit_->SetValue(kind_.initialAddress);
  countEdit_->setText(QString::number(kInitialCount));
  log_->AddLine(kind_.initialisedLine, kBlack);
}

void CMemoryPage::UpdateView() {
  std::uint32_t address = 0;
  if (!addressEdit_->GetValue(address)) address = 0;
  if (address > kHighestAddress) address = kHighestAddress;
  std::uint32_t count = CountOf(countEdit_->text(), kind_.maxCount);
  buffer_->MeasureMemory();
  const std::int64_t end = WindowEnd(address, buffer_->MemoryEnd());
  if (address + std::int64_t{count} > end) {
    count = static_cast<std::uint32_t>(end - address);
    log_->AddLine(CutLine(count, address, buffer_->MemoryEnd()), kBlack);
  }

  buffer_->Resize(static_cast<int>(count));
  if (!buffer_->Read(static_cast<int>(address))) log_->AddLine(buffer_->ErrorText(), kRed);
  view_->Attach(buffer_.get());
  addressEdit_->SetValue(address);
  countEdit_->setText(QString::asprintf("%d", static_cast<int>(count)));
  const bool moved = address != shownAddress_ || count != shownCount_;
  shownAddress_ = address;
  shownCount_ = count;
  if (moved) emit WindowChanged();
}

QString CMemoryPage::CutLine(std::uint32_t count, std::uint32_t address, std::int64_t memoryEnd) {
  // A start past the memory's end is held to the address space; the text
  // still names where the memory ends.
  if (address >= memoryEnd && memoryEnd > 0 && memoryEnd <= kHighestAddress)
    return QString::asprintf(
        "Number of bytes cut to %u: the address space ends at 0x%08X; the memory ends at 0x%08X",
        count, static_cast<unsigned>(kHighestAddress), static_cast<unsigned>(memoryEnd - 1));
  return QString::asprintf("Number of bytes cut to %u: the memory ends at 0x%08X", count,
                           static_cast<unsigned>(WindowEnd(address, memoryEnd) - 1));
}

// The tab widget shows the page when it becomes the current tab and hides it
// when another tab is chosen or the sheet closes; spontaneous events (the
// window minimised or restored) leave it the active tab.
void CMemoryPage::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    if (!initialised_) InitialiseDialog();
    UpdateView();
  }
  QWidget::showEvent(event);
}

void CMemoryPage::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) buffer_->Release();
  QWidget::hideEvent(event);
}
