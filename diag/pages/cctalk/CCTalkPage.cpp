#include "pages/cctalk/CCTalkPage.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QScrollBar>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QVBoxLayout>

#include <vantrel/VantrelUSB.h>

#include "CCaptionBox.h"
#include "pages/cctalk/CXMLTreeView.h"
#include "CcctalkMessage.h"
#include "DictionaryText.h"
#include "pages/common/BoardCallLine.h"
#include "pages/cctalk/CDataEntry.h"
#include "pages/cctalk/CTransactionView.h"
#include "cctalk/CcTalkErrorText.h"
#include "cctalk/CcTalkJournal.h"
#include "pages/cctalk/CcTalkServicePanel.h"
#include "pages/serial/CSerialConnectionBox.h"

namespace {

// The low 8 bits of the leading number of an address edit; empty gives 0.
std::uint8_t Address(const QLineEdit* edit) {
  return static_cast<std::uint8_t>(LeadingNumber(edit->text().toStdString()) & 0xFFu);
}

QLineEdit* AddressEdit(const QString& id, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(id);
  edit->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
  edit->setMaximumWidth(60);
  return edit;
}

}  // namespace

CCTalkPage::CCTalkPage(VantrelUSB* board, QWidget* parent)
    : QWidget(parent),
      board_(board),
      commandBox_(new CCaptionBox(QStringLiteral("cctalk Command"), this)),
      commandTree_(new CXMLTreeView(commandBox_)),
      transactions_(nullptr),
      hostEdit_(AddressEdit(QStringLiteral("id1026"), this)),
      sendButton_(new QPushButton(QStringLiteral("Host >>> Device"), this)),
      deviceEdit_(AddressEdit(QStringLiteral("id1025"), this)),
      connection_(new CSerialConnectionBox({1017, 1018, 1015, 1016, 1019}, this)) {
  setObjectName(QStringLiteral("id%1").arg(kTemplateId));
  commandBox_->setObjectName(QStringLiteral("id1021"));
  commandTree_->setObjectName(QStringLiteral("id1023"));
  auto* commandLayout = new QVBoxLayout(commandBox_);
  commandLayout->addWidget(commandTree_);
  // However much room the service panel takes, a command's text (two levels
  // down, beside the scroll bar) stays readable, measured in the tree's font.
  commandTree_->setMinimumWidth(
      2 * commandTree_->indentation() +
      commandTree_->fontMetrics().horizontalAdvance(QStringLiteral("Command [254] = Simple poll")) +
      commandTree_->verticalScrollBar()->sizeHint().width() + 2 * commandTree_->frameWidth() + 8);

  auto* transactionBox = new QGroupBox(QStringLiteral("Transactions"), this);
  transactionBox->setObjectName(QStringLiteral("id1020"));
  transactions_ = new CTransactionView(transactionBox);
  transactions_->setObjectName(QStringLiteral("id1022"));
  auto* transactionLayout = new QVBoxLayout(transactionBox);
  transactionLayout->addWidget(transactions_);

  sendButton_->setObjectName(QStringLiteral("id1014"));
  sendButton_->setAutoDefault(false);
  auto* addressRow = new QHBoxLayout;
  addressRow->addWidget(hostEdit_);
  addressRow->addWidget(sendButton_, 1);
  addressRow->addWidget(deviceEdit_);

  auto* right = new QVBoxLayout;
  right->addWidget(transactionBox, 1);
  right->addLayout(addressRow);
  right->addWidget(connection_);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(commandBox_, 1);
  layout->addLayout(right, 1);

  commandTree_->SetDataEntry(
      [this](const CommandDataRequest& request, std::vector<std::uint8_t>& bytes) {
        return CDataEntry::Run(request, bytes, this);
      });
  connect(sendButton_, &QPushButton::clicked, this, &CCTalkPage::RunTransaction);
  connect(connection_, &CSerialConnectionBox::changed, this, [this] { ApplyConfiguration(); });
  AttachServiceTools(addressRow, layout);
}

CCTalkPage::~CCTalkPage() = default;

std::vector<std::filesystem::path> CCTalkPage::DictionaryFolders() {
  std::error_code ec;
  std::vector<std::filesystem::path> folders;
  if (auto current = std::filesystem::current_path(ec); !ec) folders.push_back(current);
  const std::filesystem::path program = QCoreApplication::applicationDirPath().toStdString();
  folders.push_back((program / ".." / "share" / "k27diag" / "dictionaries").lexically_normal());
  return folders;
}

// The page's dialog is set up when its tab is first shown, as a property
// page's is; every showing of the tab then applies the configuration.
void CCTalkPage::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    if (!initialised_) Initialise();
    ApplyConfiguration();
  }
  QWidget::showEvent(event);
}

void CCTalkPage::Initialise() {
  initialised_ = true;
  commandTree_->LoadDictionaries(DictionaryFolders());

  connection_->Initialise();
  hostEdit_->setText(QStringLiteral("1"));
  deviceEdit_->setText(QStringLiteral("2"));
  ApplyConfiguration();
}

int CCTalkPage::ApplyConfiguration() {
  if (!connection_->Apply(board_, USB_PORT_TYPE_CCTALK)) {
    commandBox_->setTitle(CallFailedLine(QStringLiteral("Output - Vantrel.SetConfig ()"), board_));
    return -1;
  }
  commandBox_->setTitle(QStringLiteral("Output"));
  sendButton_->setEnabled(true);
  return 0;
}

void CCTalkPage::RunTransaction() { RunTransactionOf(nullptr); }

void CCTalkPage::SendAgain(const CcTalkHistoryEntry& entry) { RunTransactionOf(&entry); }

void CCTalkPage::RunTransactionOf(const CcTalkHistoryEntry* again) {
  if (ApplyConfiguration() < 0) {
    const QString text = CallFailedLine(QStringLiteral("Output - Vantrel.Send ()"), board_);
    transactions_->AddErrorText(text);
    journal_->AddError(text);
    return;
  }
  CcctalkMessage message;
  int drained = 0;
  if (message.ClearPort(board_, connection_->Port(), &drained) < 0) {
    transactions_->AddError(message);
    journal_->AddError(ShownCcTalkError(message.errorText()));
    return;
  }
  if (drained > 0) {
    const QString text =
        QStringLiteral("Cleared %1 byte(s) of unexpected data from the port").arg(drained);
    transactions_->AddErrorText(text);
    journal_->AddError(text);
  }

  CcTalkHistoryEntry sent;
  if (again != nullptr) {
    sent = *again;
    message.assign(sent.frame);
  } else {
    if (commandTree_->BuildCommand(Address(deviceEdit_), Address(hostEdit_), message) < 0) return;
    sent.text = commandTree_->SelectedCommandText();
    sent.description = commandTree_->SelectedDescription();
    sent.frame.assign(message.bytes().begin(), message.bytes().end());
  }
  transactions_->AddOutgoing(message, sent.text, sent.description);
  journal_->Begin(message, sent.text, sent.description);
  service_->RecordSent(sent);
  if (message.send(board_, connection_->Port()) < 0) {
    transactions_->AddError(message);
    journal_->FinishError(ShownCcTalkError(message.errorText()));
    return;
  }
  if (message.receive(board_, connection_->Port(), CcctalkMessage::kReplyTimeout,
                      CcctalkMessage::kSingleGap, false) < 0) {
    transactions_->AddError(message);
    journal_->FinishError(ShownCcTalkError(message.errorText()));
  } else {
    transactions_->AddIncoming(message);
    journal_->FinishReply(message);
  }
}
