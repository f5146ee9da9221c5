#include "pages/clock/RTClockPage.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <vantrel/VantrelUSB.h>

#include "pages/common/BoardCallLine.h"

RTClockPage::RTClockPage(VantrelUSB* board, QWidget* parent) : CActivePage(parent), board_(board) {
  setObjectName(QStringLiteral("id%1").arg(kTemplateId));

  auto* currentBox = new QGroupBox(QStringLiteral("Current Time"), this);
  currentTimeEdit_ = new QLineEdit(currentBox);
  currentTimeEdit_->setObjectName(QStringLiteral("id1001"));
  currentTimeEdit_->setReadOnly(true);
  auto* currentLayout = new QHBoxLayout(currentBox);
  currentLayout->addWidget(currentTimeEdit_);

  auto* setBox = new QGroupBox(QStringLiteral("Set Time"), this);
  newTimeEdit_ = new QLineEdit(setBox);
  newTimeEdit_->setObjectName(QStringLiteral("id1000"));
  setButton_ = new QPushButton(QStringLiteral("Set Time"), setBox);
  setButton_->setObjectName(QStringLiteral("id1"));
  setButton_->setAutoDefault(false);
  auto* setLayout = new QHBoxLayout(setBox);
  setLayout->addWidget(newTimeEdit_, 1);
  setLayout->addWidget(setButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(currentBox);
  layout->addWidget(setBox);
  layout->addStretch(1);
  layout->addWidget(Notice());

  connect(setButton_, &QPushButton::clicked, this, &RTClockPage::SetTime);
  connect(newTimeEdit_, &QLineEdit::returnPressed, this, &RTClockPage::SetTime);
}

RTClockPage::~RTClockPage() = default;

std::uint32_t RTClockPage::ParseClockValue(const QString& text) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  const auto blank = [](QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\v') || c == QLatin1Char('\f') || c == QLatin1Char('\r');
  };
  while (i < n && blank(text.at(i))) ++i;
  bool negative = false;
  if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
    negative = text.at(i) == QLatin1Char('-');
    ++i;
  }
  std::uint32_t value = 0;
  for (; i < n; ++i) {
    const char16_t c = text.at(i).unicode();
    if (c < u'0' || c > u'9') break;
    value = value * 10u + static_cast<std::uint32_t>(c - u'0');
  }
  return negative ? 0u - value : value;
}

void RTClockPage::Refresh() {
  ++refreshCount_;
  unsigned long value = 0;
  const int result = BoardCall(QStringLiteral("VantrelUSB::GetClock ()"),
                               [&] { return board_->GetClock(&value); });
  if (result == kSkipped) return;
  if (result != 0) {
    setButton_->setEnabled(true);
    // The clock is a 32-bit count shown as a signed number: 2^31 and above
    // read as negative.
    const auto shown = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    currentTimeEdit_->setText(QString::number(shown));
  } else {
    setButton_->setEnabled(false);
    currentTimeEdit_->setText(QStringLiteral("error: unknown (%1)").arg(LastErrorNameText(board_)));
  }
}

void RTClockPage::OnActivate() {
  Refresh();
  StartTicks(kRefreshMs);
}

void RTClockPage::OnTick() { Refresh(); }

void RTClockPage::SetTime() {
  const std::uint32_t value = ParseClockValue(newTimeEdit_->text());
  if (board_->SetClock(value) == 0) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(),
                    CallFailedLine(QStringLiteral("VantrelUSB->SetClock ()"),
                                   QStringLiteral("unknown (%1)").arg(LastErrorNameText(board_))),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("setClockError"));
    box.exec();
  }
  Refresh();
}
