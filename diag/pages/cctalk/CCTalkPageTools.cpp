// The ccTalk page's additions beside the transaction list: the list's times,
// files and JSON export, and the service panel with its "Service" switch.
#include <QAction>
#include <QBoxLayout>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "DictionaryText.h"
#include "LogKeeper.h"
#include "pages/cctalk/CCTalkPage.h"
#include "pages/cctalk/CTransactionView.h"
#include "cctalk/CcTalkJournal.h"
#include "pages/cctalk/CcTalkServicePanel.h"
#include "pages/serial/CSerialConnectionBox.h"

void CCTalkPage::AttachServiceTools(QBoxLayout* addressRow, QBoxLayout* pageLayout) {
  journal_ = std::make_unique<CcTalkJournal>();
  keeper_ = new LogKeeper(transactions_);
  auto* json = new QAction(QStringLiteral("Export as JSON..."), keeper_);
  connect(json, &QAction::triggered, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export transactions"),
                                                      QString(), QStringLiteral("JSON (*.json)"));
    QString error;
    if (!path.isEmpty() && !journal_->SaveJson(path, &error))
      QMessageBox::warning(this, QStringLiteral("Export transactions"),
                           QStringLiteral("%1: %2").arg(path, error));
  });
  keeper_->AddMenuAction(json);

  CcTalkServicePanel::Hooks hooks;
  hooks.exchange = [this](const CcctalkMessage& request) {
    return ExchangeCcTalkFrame(board_, connection_->Port(), request);
  };
  hooks.applyConfiguration = [this] { return ApplyConfiguration() == 0; };
  hooks.configurationError = [this] { return commandBox_->title(); };
  hooks.hostAddress = [this] {
    return static_cast<std::uint8_t>(LeadingNumber(hostEdit_->text().toStdString()) & 0xFFu);
  };
  hooks.sendAgain = [this](const CcTalkHistoryEntry& entry) { SendAgain(entry); };
  service_ = new CcTalkServicePanel(std::move(hooks), this);
  service_->hide();
  pageLayout->addWidget(service_, 1);

  auto* toggle = new QPushButton(QStringLiteral("Service"), this);
  toggle->setObjectName(QStringLiteral("serviceSwitch"));
  toggle->setCheckable(true);
  toggle->setAutoDefault(false);
  toggle->setToolTip(QStringLiteral("Bus scan, repeat and history"));
  connect(toggle, &QPushButton::toggled, service_, &QWidget::setVisible);
  addressRow->addWidget(toggle);
}
