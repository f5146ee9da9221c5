#include "pages/serial/CSerialConnectionBox.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QGridLayout>

#include <array>

#include <vantrel/VantrelUSB.h>

#include "pages/serial/BaudTable.h"
#include "pages/common/CBoardConnection.h"

namespace {

QComboBox* MakeList(int id, QWidget* parent) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QStringLiteral("id%1").arg(id));
  list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  return list;
}

// RTS list order (enable, disable, handshake, toggle) to the record's coding
// (0 disable, 1 enable, 2 handshake, 3 toggle).
constexpr std::array<int, 4> kRtsCodes{1, 0, 2, 3};

}  // namespace

CSerialConnectionBox::CSerialConnectionBox(const ControlIds& ids, QWidget* parent)
    : QGroupBox(QStringLiteral("Connection"), parent),
      portList_(MakeList(ids.port, this)),
      baudList_(MakeList(ids.baud, this)),
      ctsList_(MakeList(ids.cts, this)),
      rtsList_(MakeList(ids.rts, this)) {
  if (ids.group != 0) setObjectName(QStringLiteral("id%1").arg(ids.group));
  auto* layout = new QGridLayout(this);
  layout->addWidget(portList_, 0, 0);
  layout->addWidget(baudList_, 0, 1);
  layout->addWidget(ctsList_, 1, 0);
  layout->addWidget(rtsList_, 1, 1);

  // Only the technician's choices count, not the lists being filled.
  connect(portList_, &QComboBox::activated, this, &CSerialConnectionBox::PortSelected);
  connect(baudList_, &QComboBox::activated, this, &CSerialConnectionBox::BaudSelected);
  connect(ctsList_, &QComboBox::activated, this, &CSerialConnectionBox::CtsSelected);
  connect(rtsList_, &QComboBox::activated, this, &CSerialConnectionBox::RtsSelected);
}

void CSerialConnectionBox::Initialise() {
  portList_->clear();
  portList_->addItems({QStringLiteral("Port: A"), QStringLiteral("Port: B")});
  portList_->setCurrentIndex(1);
  port_ = 1;
  baudRate_ = 9600;
  FillBaudList(false);

  ctsList_->clear();
  ctsList_->addItems({QStringLiteral("OutxCtsFlow: TRUE"), QStringLiteral("OutxCtsFlow: FALSE")});
  ctsList_->setCurrentIndex(1);
  ctsFlow_ = 0;

  rtsList_->clear();
  rtsList_->addItems({QStringLiteral("RtsControl: ENABLE"), QStringLiteral("RtsControl: DISABLE"),
                      QStringLiteral("RtsControl: HANDSHAKE"),
                      QStringLiteral("RtsControl: TOGGLE")});
  rtsList_->setCurrentIndex(1);
  rtsControl_ = 0;
}

void CSerialConnectionBox::FillBaudList(bool translate) {
  if (translate) baudRate_ = TranslatedBaud(port_, baudRate_);
  baudList_->clear();
  const int n = BaudListLength(port_);
  for (int row = 0; row < n; ++row) baudList_->addItem(QLatin1String(baudTable[row][port_].name));
  // A rate the list lacks selects nothing and is kept.
  baudList_->setCurrentIndex(BaudRow(port_, baudRate_));
}

void CSerialConnectionBox::PortSelected(int selection) {
  if (selection == 0 || selection == 1) port_ = selection;
  FillBaudList(true);
  emit changed();
}

void CSerialConnectionBox::BaudSelected(int selection) {
  if (selection >= 0 && selection < BaudListLength(port_))
    baudRate_ = baudTable[selection][port_].baudRate;
  emit changed();
}

void CSerialConnectionBox::CtsSelected(int selection) {
  if (selection == 0)
    ctsFlow_ = 1;
  else if (selection == 1)
    ctsFlow_ = 0;
  emit changed();
}

void CSerialConnectionBox::RtsSelected(int selection) {
  if (selection >= 0 && selection < static_cast<int>(kRtsCodes.size()))
    rtsControl_ = kRtsCodes[selection];
  emit changed();
}

_DCB CSerialConnectionBox::Dcb() const {
  _DCB dcb{};
  dcb.BaudRate = baudRate_;
  dcb.fOutxCtsFlow = static_cast<std::uint32_t>(ctsFlow_) & 1u;
  dcb.fRtsControl = static_cast<std::uint32_t>(rtsControl_) & 3u;
  return dcb;
}

bool CSerialConnectionBox::Apply(VantrelUSB* board, _usbPortType type) const {
  _DCB dcb = Dcb();
  QElapsedTimer clock;
  clock.start();
  if (board->SetConfig(Port(), &dcb, type) != 0) return true;
  // A board that did not answer at all is not asked a second time.
  if (CBoardConnection::TookTheTimeLimit(clock.elapsed())) return false;
  board->init(0);
  return board->SetConfig(Port(), &dcb, type) != 0;
}
