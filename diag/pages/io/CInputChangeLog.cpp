#include "pages/io/CInputChangeLog.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

#include "CColouredListBox.h"
#include "LogKeeper.h"

namespace {

// Control ids of inputs 0-23 and dip switches 0-7.
constexpr std::array<int, 32> kInputIds{
    6002, 6003, 6004, 6005, 6006, 6007, 6008, 6009, 6010, 6012, 6013, 6014, 6015, 6016, 6017, 6018,
    6019, 6020, 6021, 6022, 6023, 6024, 6025, 6026, 6011, 6027, 6028, 6029, 6030, 6031, 6032, 6033};
constexpr int kSwitchInputs = 24;

}  // namespace

CInputChangeLog::CInputChangeLog(QWidget* page)
    : QWidget(page),
      switch_(new QPushButton(QStringLiteral("Log input changes"), this)),
      log_(new CColouredListBox(false, this)),
      keeper_(new LogKeeper(log_)) {
  setObjectName(QStringLiteral("inputChangeLog"));
  switch_->setObjectName(QStringLiteral("inputChangeSwitch"));
  log_->setObjectName(QStringLiteral("inputChanges"));
  switch_->setCheckable(true);
  switch_->setAutoDefault(false);
  log_->hide();
  auto* switchRow = new QHBoxLayout;
  switchRow->addWidget(switch_);
  switchRow->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addLayout(switchRow);
  layout->addWidget(log_, 1);
  connect(switch_, &QPushButton::toggled, log_, &QWidget::setVisible);
  // The time of each change on screen too, not only when saved.
  log_->SetLinePrefix([this](int index) {
    const QDateTime time = LogKeeper::StampOf(log_->model()->index(index, 0));
    return time.isValid() ? time.toString(QStringLiteral("HH:mm:ss.zzz ")) : QString();
  });

  for (std::size_t i = 0; i < kInputIds.size(); ++i) {
    auto* input = page->findChild<QAbstractButton*>(QStringLiteral("id%1").arg(kInputIds[i]));
    if (input == nullptr) continue;
    const int index = static_cast<int>(i);
    connect(input, &QAbstractButton::toggled, this, [this, index](bool on) {
      if (switch_->isChecked()) log_->AddLine(ChangeText(index, on));
    });
  }
}

QString CInputChangeLog::ChangeText(int index, bool on) {
  const QString state = on ? QStringLiteral("on") : QStringLiteral("off");
  if (index < kSwitchInputs)
    return QStringLiteral("Input %1 %2").arg(index, 2, 10, QLatin1Char('0')).arg(state);
  return QStringLiteral("Dip switch %1 %2")
      .arg(index - kSwitchInputs, 2, 10, QLatin1Char('0'))
      .arg(state);
}
