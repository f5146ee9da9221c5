#include "pages/about/AboutPage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>
#include <cstring>

#include "CK27DiagApp.h"
#include "UsbErrorNames.h"

#ifndef K27DIAG_ISSUE
#define K27DIAG_ISSUE "unknown"
#endif

namespace {

QLabel* MakeLine(const QString& id, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(id);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

AboutPage::AboutPage(CK27DiagApp* app, QWidget* parent)
    : QWidget(parent), app_(app), board_(app->Board()) {
  setObjectName(QStringLiteral("id%1").arg(kTemplateId));

  auto* box = new QGroupBox(tr("Vantrel K27 board"), this);
  status_ = MakeLine(QStringLiteral("id9102"), QStringLiteral("Device Status: unknown"), box);
  dllVersion_ = MakeLine(QStringLiteral("id9100"), QStringLiteral("DLL Version: unknown"), box);
  firmwareVersion_ =
      MakeLine(QStringLiteral("id9101"), QStringLiteral("8051 Version: unknown"), box);
  picVersion_ = MakeLine(QStringLiteral("id9103"), QStringLiteral("PIC Version: unknown"), box);
  reinitialise_ = new QPushButton(QStringLiteral("Re-initialise"), box);
  reinitialise_->setObjectName(QStringLiteral("id9105"));
  reinitialise_->setAutoDefault(false);

  auto* lines = new QVBoxLayout;
  lines->addWidget(status_);
  lines->addWidget(dllVersion_);
  lines->addWidget(firmwareVersion_);
  lines->addWidget(picVersion_);
  auto* boxLayout = new QHBoxLayout(box);
  boxLayout->addLayout(lines, 1);
  boxLayout->addWidget(reinitialise_, 0, Qt::AlignTop);

  auto* issue =
      new QLabel(QStringLiteral("Vantrel K27 Diagnostic Suite, issue " K27DIAG_ISSUE), this);
  issue->setObjectName(QStringLiteral("id9106"));

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addStretch(1);
  layout->addWidget(issue);

  connect(reinitialise_, &QPushButton::clicked, this, &AboutPage::Reinitialise);
}

std::optional<QString> AboutPage::ReadVersion(const std::function<int(unsigned char*)>& read) {
  std::array<unsigned char, kVersionBufferBytes> buffer{};
  if (read(buffer.data()) == 0) return std::nullopt;
  buffer.back() = 0;
  const char* text = reinterpret_cast<const char*>(buffer.data());
  return QString::fromLatin1(text, static_cast<qsizetype>(std::strlen(text)));
}

void AboutPage::Refresh() {
  status_->setText(QStringLiteral("Device Status: %1")
                       .arg(app_->Initialised() != 0 ? QStringLiteral("Initialised")
                                                     : QStringLiteral("Failed initialisation")));
  // The failure texts name the error of the last initialisation, not that of
  // the failed read.
  const QString initError = QString::fromLatin1(vantrel::diag::UsbErrorName(app_->InitError()));
  const auto show = [&](QLabel* line, const char* prefix, const std::optional<QString>& version) {
    line->setText(version ? QStringLiteral("%1: %2").arg(QLatin1String(prefix), *version)
                          : QStringLiteral("%1: Error (%2)").arg(QLatin1String(prefix), initError));
  };
  show(dllVersion_, "DLL Version",
       ReadVersion([this](unsigned char* text) { return board_->GetDllVersion(text); }));
  show(picVersion_, "PIC Version",
       ReadVersion([this](unsigned char* text) { return board_->GetPICVersion(text); }));
  show(firmwareVersion_, "8051 Version",
       ReadVersion([this](unsigned char* text) { return board_->Get8051Version(text); }));
}

void AboutPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  Refresh();
}

void AboutPage::Reinitialise() {
  app_->InitialiseBoard();
  Refresh();
}
