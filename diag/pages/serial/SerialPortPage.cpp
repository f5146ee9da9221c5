#include "pages/serial/SerialPortPage.h"

#include <QByteArray>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <span>

#include <vantrel/VantrelUSB.h>

#include "CCaptionBox.h"
#include "CColouredListBox.h"
#include "CHexBlockEdit.h"
#include "LogKeeper.h"
#include "pages/common/BoardCallLine.h"
#include "pages/serial/CSerialConnectionBox.h"
#include "pages/serial/SerialDumpLine.h"
#include "pages/serial/CSerialSendTools.h"

namespace {

const QString kOutput = QStringLiteral("Output");
const QString kTransactions = QStringLiteral("Transactions");
constexpr char kGreeting[] = "Hello, world!";

}  // namespace

SerialPortPage::SerialPortPage(VantrelUSB* board, QWidget* parent)
    : CActivePage(parent), board_(board) {
  setObjectName(QStringLiteral("id%1").arg(kTemplateId));

  connection_ = new CSerialConnectionBox({7004, 7014, 7015, 7016}, this);

  outputBox_ = new CCaptionBox(kOutput, this);
  outputBox_->setObjectName(QStringLiteral("id7009"));
  editor_ = new CHexBlockEdit(true, outputBox_);
  editor_->setObjectName(QStringLiteral("id7001"));
  auto* hint = new QLabel(
      QStringLiteral(
          "(INSERT = add byte, DEL/BACKSPACE = delete byte, TAB = toggle hex/char input)"),
      outputBox_);
  sendButton_ = new QPushButton(QStringLiteral("Send"), outputBox_);
  sendButton_->setObjectName(QStringLiteral("id7002"));
  sendButton_->setAutoDefault(false);
  auto* hintRow = new QHBoxLayout;
  hintRow->addWidget(hint, 1);
  hintRow->addWidget(sendButton_);
  auto* outputLayout = new QVBoxLayout(outputBox_);
  outputLayout->addWidget(editor_, 1);
  outputLayout->addLayout(hintRow);

  transactionsBox_ = new CCaptionBox(kTransactions, this);
  transactionsBox_->setObjectName(QStringLiteral("id7010"));
  list_ = new CColouredListBox(true, transactionsBox_);
  list_->setObjectName(QStringLiteral("id7003"));
  auto* transactionsLayout = new QVBoxLayout(transactionsBox_);
  transactionsLayout->addWidget(list_);

  sendTools_ = new CSerialSendTools(
      list_, editor_, [this] { SendBytes(); }, this);
  // Saved and copied, a line says which way it went (on screen the colour
  // tells); the partial receive line reaches a file once, complete.
  LogKeeper* keeper = sendTools_->Keeper();
  keeper->SetLineLabel([this](const QModelIndex& index) {
    return list_->LineColour(index.row()) == kReceivedColour ? QStringLiteral("recv")
                                                             : QStringLiteral("sent");
  });
  keeper->SetNewestLineOpen([this] { return rxCount_ > 0; });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(connection_);
  layout->addWidget(sendTools_);
  layout->addWidget(outputBox_, 1);
  layout->addWidget(transactionsBox_, 2);
  layout->addWidget(Notice());

  connect(connection_, &CSerialConnectionBox::changed, this, [this] { ApplyConfiguration(); });
  connect(sendButton_, &QPushButton::clicked, this, &SerialPortPage::SendBytes);
  connect(editor_, &CHexBlockEdit::returnPressed, this, [this] {
    if (sendButton_->isEnabled()) SendBytes();
  });
}

SerialPortPage::~SerialPortPage() = default;

_usbSerialPort SerialPortPage::Port() const { return connection_->Port(); }
std::uint32_t SerialPortPage::BaudRate() const { return connection_->BaudRate(); }
int SerialPortPage::CtsFlow() const { return connection_->CtsFlow(); }
int SerialPortPage::RtsControl() const { return connection_->RtsControl(); }

// The dialog is set up when the tab is first shown.
void SerialPortPage::InitialiseDialog() {
  initialised_ = true;
  editor_->SetOptions(true, true, true, false);
  editor_->SetBytesPerRow(16);
  editor_->SetData(reinterpret_cast<const std::uint8_t*>(kGreeting),
                   static_cast<int>(sizeof kGreeting - 1));
  connection_->Initialise();
  BoardCall(QStringLiteral("Vantrel.SetConfig ()"), [this] { return ApplyConfiguration() == 0; });
}

int SerialPortPage::ApplyConfiguration() {
  rxCount_ = 0;
  if (!connection_->Apply(board_, USB_PORT_TYPE_RS232)) {
    outputBox_->setTitle(CallFailedLine(QStringLiteral("Output - Vantrel.SetConfig ()"), board_));
    return -1;
  }
  outputBox_->setTitle(kOutput);
  sendButton_->setEnabled(true);
  return 0;
}

void SerialPortPage::SendBytes() {
  const QString send = QStringLiteral("Output - Vantrel.Send ()");
  if (ApplyConfiguration() < 0) {
    outputBox_->setTitle(CallFailedLine(send, board_));
    return;
  }
  QByteArray bytes = editor_->Bytes();
  if (bytes.isEmpty()) return;
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  if (board_->Send(Port(), data, static_cast<std::uint32_t>(bytes.size())) == 0) {
    outputBox_->setTitle(CallFailedLine(send, board_));
    return;
  }
  outputBox_->setTitle(kOutput);
  sendTools_->RecordSent(bytes);
  AddDumpLines(&txOffset_, data, static_cast<int>(bytes.size()), CColouredListBox::kDefaultColour);
}

void SerialPortPage::AddDumpLines(std::uint32_t* offset, const std::uint8_t* bytes, int count,
                                  std::int32_t colour) {
  for (int at = 0; at < count; at += kSerialDumpBytesPerLine) {
    const int n = std::min(kSerialDumpBytesPerLine, count - at);
    list_->AddLine(SerialDumpLine(*offset, std::span<const std::uint8_t>(
                                               bytes + at, static_cast<std::size_t>(n))),
                   colour);
    *offset += static_cast<std::uint32_t>(n);
  }
}

void SerialPortPage::Poll() {
  for (int i = 0; i < kMaxBytesPerPoll; ++i) {
    unsigned char time = 0;  // not used on this page
    int hasByte = 0;
    const int result = BoardCall(QStringLiteral("Vantrel.Receive ()"), [&] {
      return board_->ReceiveByteWithTimestamp(Port(), &rxLine_[static_cast<std::size_t>(rxCount_)],
                                              &time, &hasByte);
    });
    if (result == kSkipped) return;
    if (result == 0) {
      transactionsBox_->setTitle(
          CallFailedLine(QStringLiteral("Output - Vantrel.Receive ()"), board_));
      return;
    }
    if (hasByte == 0) return;
    // The last line is the partial one being rebuilt.
    if (rxCount_ > 0) list_->DeleteLine(list_->LineCount() - 1);
    transactionsBox_->setTitle(kTransactions);
    ++rxCount_;
    while (rxCount_ >= kSerialDumpBytesPerLine) {
      AddDumpLines(&rxOffset_, rxLine_.data(), kSerialDumpBytesPerLine, kReceivedColour);
      rxCount_ -= kSerialDumpBytesPerLine;
      std::memmove(rxLine_.data(), rxLine_.data() + kSerialDumpBytesPerLine,
                   static_cast<std::size_t>(rxCount_));
    }
    if (rxCount_ > 0) {
      // Shown at the running offset, which moves on only with a full line.
      const QString line = SerialDumpLine(
          rxOffset_,
          std::span<const std::uint8_t>(rxLine_.data(), static_cast<std::size_t>(rxCount_)));
      list_->AddLine(line, kReceivedColour);
    }
  }
}

void SerialPortPage::OnActivate() {
  if (!initialised_) InitialiseDialog();
  editor_->setFocus();
  StartTicks(kPollMs);
  BoardCall(QStringLiteral("Vantrel.SetConfig ()"), [this] { return ApplyConfiguration() == 0; });
}

void SerialPortPage::OnTick() { Poll(); }
