#include "pages/reels/ReelPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

#include <vantrel/VantrelUSB.h>

#include "CColouredListBox.h"
#include "LogKeeper.h"
#include "CHexBlockEdit.h"
#include "pages/common/BoardCallLine.h"

namespace {

constexpr std::int32_t kBlack = CColouredListBox::Rgb(0, 0, 0);
constexpr std::int32_t kRed = CColouredListBox::Rgb(255, 0, 0);
// The steps box holds no more digits than the track bar's range needs.
constexpr int kStepsDigits = 5;

constexpr const char* kStatusFormats[4] = {"Position: %1", "Error: %1", "Busy: %1", "Sync: %1"};

QString ControlName(int id) { return QStringLiteral("id%1").arg(id); }

// The status text ids of reel r (0 to 2): 2011-2014, 2016-2019, 2021-2024.
int StatusTextId(int reel, int value) { return 2011 + 5 * reel + value; }

QString StatusText(int value, unsigned char byte) {
  return QString::fromLatin1(kStatusFormats[value]).arg(byte, 3, 10, QLatin1Char('0'));
}

// Position, error, busy or sync of one reel.
unsigned char StatusByte(const usbReelStatus& status, int value, int reel) {
  const auto r = static_cast<std::size_t>(reel);
  switch (value) {
    case 0:
      return status.position[r];
    case 1:
      return status.error[r];
    case 2:
      return status.busy[r];
    default:
      return status.sync[r];
  }
}

QString StepCodeText(unsigned char code) {
  switch (code) {
    case ReelPage::kMinus2:
      return QStringLiteral("-2");
    case ReelPage::kMinus1:
      return QStringLiteral("-1");
    case ReelPage::kPlus1:
      return QStringLiteral("+1");
    default:
      return QStringLiteral("+2");
  }
}

QLineEdit* MakeNumberEdit(QWidget* parent, int id) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(ControlName(id));
  edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
  return edit;
}

}  // namespace

ReelPage::ReelPage(VantrelUSB* board, QWidget* parent) : CActivePage(parent), board_(board) {
  setObjectName(QStringLiteral("id%1").arg(kTemplateId));

  log_ = new CColouredListBox(false, this);
  log_->setObjectName(QStringLiteral("id2001"));
  new LogKeeper(log_);  // times, files and copies of the log
  auto* logBox = new QGroupBox(QStringLiteral("Log"), this);
  auto* logLayout = new QVBoxLayout(logBox);
  log_->setParent(logBox);
  logLayout->addWidget(log_);

  auto* statusRow = new QHBoxLayout;
  for (int reel = 0; reel < RampTables::kReels; ++reel)
    statusRow->addWidget(BuildStatusGroup(reel));

  auto* layout = new QGridLayout(this);
  layout->addWidget(BuildSpinGroup(), 0, 0);
  layout->addWidget(BuildConfigureGroup(), 0, 1);
  layout->addLayout(statusRow, 1, 0, 1, 2);
  rampBox_ = new CRampTablesBox(this);
  connect(rampBox_, &CRampTablesBox::applyClicked, this, &ReelPage::ApplyRamps);
  layout->addWidget(rampBox_, 2, 0, 1, 2);
  // The log takes the page's whole width, so that its lines are read whole.
  layout->addWidget(logBox, 3, 0, 1, 2);
  layout->setRowStretch(3, 1);
  layout->addWidget(Notice(), 4, 0, 1, 2);
}

ReelPage::~ReelPage() = default;

int ReelPage::ParseDecimal(const QString& text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  while (i < n && (text.at(i) == QLatin1Char(' ') ||
                   (text.at(i).unicode() >= 9 && text.at(i).unicode() <= 13)))
    ++i;
  bool negative = false;
  if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
    negative = text.at(i) == QLatin1Char('-');
    ++i;
  }
  long long value = 0;
  for (; i < n; ++i) {
    const char16_t c = text.at(i).unicode();
    if (c < u'0' || c > u'9') break;
    value = std::min<long long>(value * 10 + (c - u'0'), static_cast<long long>(INT_MAX) + 1);
  }
  if (negative) return static_cast<int>(std::max<long long>(-value, INT_MIN));
  return static_cast<int>(std::min<long long>(value, INT_MAX));
}

QWidget* ReelPage::BuildSpinGroup() {
  auto* box = new QGroupBox(QStringLiteral("Spin Selected Reels"), this);
  auto* grid = new QGridLayout(box);
  grid->addWidget(new QLabel(QStringLiteral("Number of steps:"), box), 0, 0);
  stepsEdit_ = MakeNumberEdit(box, 2003);
  stepsEdit_->setMaxLength(kStepsDigits);
  grid->addWidget(stepsEdit_, 0, 1, 1, 3);
  trackBar_ = new QSlider(Qt::Horizontal, box);
  trackBar_->setObjectName(ControlName(2004));
  trackBar_->setRange(0, kMaxSteps);
  trackBar_->setSingleStep(1);
  trackBar_->setPageStep(1);
  grid->addWidget(trackBar_, 1, 0, 1, 4);
  const struct {
    int id;
    const char* text;
    unsigned char code;
  } buttons[] = {
      {2006, "- 2", kMinus2}, {2007, "- 1", kMinus1}, {2008, "+ 1", kPlus1}, {2002, "+ 2", kPlus2}};
  int column = 0;
  for (const auto& b : buttons) {
    auto* button = new QPushButton(QString::fromLatin1(b.text), box);
    button->setObjectName(ControlName(b.id));
    button->setAutoDefault(false);
    grid->addWidget(button, 2, column++);
    const unsigned char code = b.code;
    connect(button, &QPushButton::clicked, this, [this, code] { Spin(code); });
  }
  connect(stepsEdit_, &QLineEdit::textChanged, this, &ReelPage::StepsChanged);
  connect(trackBar_, &QSlider::valueChanged, this, &ReelPage::TrackBarMoved);
  return box;
}

QWidget* ReelPage::BuildConfigureGroup() {
  auto* box = new QGroupBox(QStringLiteral("Configure"), this);
  auto* grid = new QGridLayout(box);
  reelCount_ = new QComboBox(box);
  reelCount_->setObjectName(ControlName(2010));
  reelCount_->addItems(
      {QStringLiteral("1 reel"), QStringLiteral("2 reels"), QStringLiteral("3 reels")});
  grid->addWidget(reelCount_, 0, 0);
  auto* clearSync = new QPushButton(QStringLiteral("Clear Sync"), box);
  clearSync->setObjectName(ControlName(2009));
  clearSync->setAutoDefault(false);
  grid->addWidget(clearSync, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Half-steps per full rotation:"), box), 1, 0);
  halfStepsEdit_ = MakeNumberEdit(box, 2005);
  grid->addWidget(halfStepsEdit_, 1, 1);
  connect(reelCount_, &QComboBox::currentIndexChanged, this, &ReelPage::ReelCountChanged);
  connect(clearSync, &QPushButton::clicked, this, &ReelPage::ClearSync);
  connect(halfStepsEdit_, &QLineEdit::textChanged, this, &ReelPage::HalfStepsChanged);
  return box;
}

QWidget* ReelPage::BuildStatusGroup(int reel) {
  auto* box = new QGroupBox(QStringLiteral("Reel %1 Status").arg(reel + 1), this);
  auto* layout = new QVBoxLayout(box);
  for (int value = 0; value < 4; ++value) {
    auto* text = new QLabel(StatusText(value, 0), box);
    text->setObjectName(ControlName(StatusTextId(reel, value)));
    text->setMinimumWidth(text->fontMetrics().horizontalAdvance(QStringLiteral("Position: 000 ")));
    statusTexts_[static_cast<std::size_t>(reel)][static_cast<std::size_t>(value)] = text;
    layout->addWidget(text);
  }
  auto* spin = new QCheckBox(QStringLiteral("Spin"), box);
  spin->setObjectName(ControlName(2032 + reel));
  spinBoxes_[static_cast<std::size_t>(reel)] = spin;
  layout->addWidget(spin);
  return box;
}

// ---- Log ---------------------------------------------------------------------

void ReelPage::LogSuccess(const QString& call) {
  log_->AddLine(CallSucceededLine(QStringLiteral("VantrelUSB::") + call), kBlack);
}

void ReelPage::LogError(const QString& call, const QString& why) {
  log_->AddLine(CallFailedLine(QStringLiteral("VantrelUSB::") + call, why), kRed);
}

void ReelPage::LogError(const QString& call) {
  log_->AddLine(CallFailedLine(QStringLiteral("VantrelUSB::") + call, board_), kRed);
}

void ReelPage::LogResult(const QString& call, int result) {
  if (result == kSkipped) return;  // not sent: the board had stopped answering
  if (result != 0)
    LogSuccess(call);
  else
    LogError(call);
}

void ReelPage::AddLogLine(const QString& text, std::int32_t colour) { log_->AddLine(text, colour); }

// ---- Activation --------------------------------------------------------------

void ReelPage::OnActivate() {
  rampBox_->Editor(RampTables::kUp)->setFocus();
  for (QCheckBox* spin : spinBoxes_) {
    spin->setChecked(true);
    // Every reel is configured again, so every "Spin" box is in view again.
    spin->setVisible(true);
  }
  {
    const QSignalBlocker quiet(reelCount_);
    reelCount_->setCurrentIndex(2);
  }
  numReels_ = 3;
  rampBox_->Reset();

  {
    const QSignalBlocker quiet(halfStepsEdit_);
    halfStepsEdit_->setText(QString::number(kDefaultHalfSteps));
  }
  HalfStepsChanged();
  {
    const QSignalBlocker quiet(stepsEdit_);
    stepsEdit_->setText(QString::number(kDefaultSteps));
  }
  StepsChanged();
  {
    const QSignalBlocker quiet(trackBar_);
    trackBar_->setRange(0, kMaxSteps);
    trackBar_->setValue(kDefaultSteps);
  }

  Configure();
  forceStatus_ = true;
  ApplyRamps();
  ClearSync();
  StartTicks(kPollMs);
}

void ReelPage::OnTick() { PollStatus(); }

// ---- Status ------------------------------------------------------------------

void ReelPage::PollStatus() {
  const bool force = forceStatus_;
  forceStatus_ = false;
  const usbReelStatus old = status_;
  if (BoardCall(QStringLiteral("VantrelUSB::GetReelStatus ()"),
                [&] { return board_->GetReelStatus(&status_); }) == 0)
    LogError(QStringLiteral("GetReelStatus ()"));
  if (numReels_ < 1 || numReels_ > RampTables::kReels) return;
  for (int reel = numReels_ - 1; reel >= 0; --reel) ShowReelStatus(reel, old, force);
}

void ReelPage::ShowReelStatus(int reel, const usbReelStatus& old, bool force) {
  for (int value = 0; value < 4; ++value) {
    const unsigned char now = StatusByte(status_, value, reel);
    if (!force && now == StatusByte(old, value, reel)) continue;
    statusTexts_[static_cast<std::size_t>(reel)][static_cast<std::size_t>(value)]->setText(
        StatusText(value, now));
  }
}

// ---- Board operations --------------------------------------------------------

void ReelPage::Configure() {
  const QString call = QStringLiteral("ConfigureReels (%1, %2, 0)").arg(numReels_).arg(halfSteps_);
  const int result = BoardCall(QStringLiteral("VantrelUSB::") + call, [&] {
    return board_->ConfigureReels(static_cast<unsigned char>(numReels_ & 0xFF),
                                  static_cast<unsigned char>(halfSteps_ & 0xFF), 0);
  });
  LogResult(call, result);
}

void ReelPage::Spin(unsigned char stepCode) {
  // The board takes 16 bits; a larger count is sent as the most it can take
  // rather than wrapped round to a few steps.
  const auto steps = static_cast<unsigned short>(std::clamp(numSteps_, 0, 0xFFFF));
  for (int reel = 0; reel < numReels_ && reel < RampTables::kReels; ++reel) {
    if (!spinBoxes_[static_cast<std::size_t>(reel)]->isChecked()) continue;
    const int minimum = rampBox_->Ramps().MinimumSteps(rampBox_->SourceReel(reel));
    const QString call = QStringLiteral("SpinReels (%1, %2, %3)")
                             .arg(reel)
                             .arg(StepCodeText(stepCode))
                             .arg(numSteps_);
    if (numSteps_ < minimum) {
      LogError(call, QStringLiteral("min number of steps = %1").arg(minimum));
      continue;
    }
    if (BoardCall(QStringLiteral("VantrelUSB::") + call, [&] {
          return board_->SpinReels(static_cast<unsigned char>(reel), stepCode, steps);
        }) == 0)
      LogError(call);
  }
}

void ReelPage::ClearSync() {
  for (int reel = 0; reel < numReels_; ++reel) {
    const QString call = QStringLiteral("ReelSynchroniseEnable (%1)").arg(reel);
    LogResult(call, BoardCall(QStringLiteral("VantrelUSB::") + call, [&] {
                return board_->ReelSynchroniseEnable(static_cast<unsigned char>(reel));
              }));
  }
}

void ReelPage::ApplyRamps() {
  rampBox_->SaveEditors();
  const RampTables& ramps = rampBox_->Ramps();
  for (int reel = 0; reel < numReels_ && reel < RampTables::kReels; ++reel) {
    const int source = rampBox_->SourceReel(reel);
    const auto index = static_cast<unsigned char>(reel);
    const QString up = QStringLiteral("SpinRampUp (%1)").arg(reel);
    LogResult(up, BoardCall(QStringLiteral("VantrelUSB::") + up, [&] {
                return board_->SpinRampUp(index, ramps.Table(RampTables::kUp, source));
              }));
    const QString down = QStringLiteral("SpinRampDown (%1)").arg(reel);
    LogResult(down, BoardCall(QStringLiteral("VantrelUSB::") + down, [&] {
                return board_->SpinRampDown(index, ramps.Table(RampTables::kDown, source));
              }));
  }
}

// ---- Control handlers --------------------------------------------------------

void ReelPage::ReelCountChanged(int index) {
  const int n = index + 1;
  if (n == numReels_) return;
  numReels_ = n;
  for (int reel = n; reel < RampTables::kReels; ++reel) {
    for (QLabel* text : statusTexts_[static_cast<std::size_t>(reel)]) text->clear();
  }
  for (int reel = 0; reel < RampTables::kReels; ++reel)
    spinBoxes_[static_cast<std::size_t>(reel)]->setVisible(reel < n);
  Configure();
  forceStatus_ = true;
}

void ReelPage::HalfStepsChanged() {
  halfSteps_ = ParseDecimal(halfStepsEdit_->text());
  Configure();
}

void ReelPage::StepsChanged() { numSteps_ = ParseDecimal(stepsEdit_->text()); }

void ReelPage::TrackBarMoved(int value) {
  const int v = std::clamp(value, 0, kMaxSteps);
  {
    const QSignalBlocker quiet(trackBar_);
    trackBar_->setValue(v);
  }
  {
    const QSignalBlocker quiet(stepsEdit_);
    stepsEdit_->setText(QString::number(v));
  }
  // Writing the same number again still counts as a change of the box.
  StepsChanged();
}
