#include "pages/cctalk/CDataEntry.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "CHexBlockEdit.h"
#include "ControlToolTip.h"

CDataEntry::CDataEntry(const CommandDataRequest& request, std::vector<std::uint8_t>& bytes,
                       QWidget* parent)
    : QDialog(parent),
      bytes_(bytes),
      variable_(request.variable),
      editor_(new CHexBlockEdit(true, this)),
      descriptionLabel_(new QLabel(this)),
      dataLabel_(new QLabel(this)),
      descriptionTip_(new ControlToolTip(this)),
      dataTip_(new ControlToolTip(this)) {
  setObjectName(QStringLiteral("id%1").arg(kTemplateId));
  setWindowTitle(QStringLiteral("Enter Command Data"));

  auto* commandLabel = new QLabel(QStringLiteral("Command: ") + request.commandText, this);
  commandLabel->setObjectName(QStringLiteral("id1030"));
  descriptionLabel_->setObjectName(QStringLiteral("id1031"));
  descriptionLabel_->setText(QStringLiteral("Description: ") + request.shortDescription);
  dataLabel_->setObjectName(QStringLiteral("id1029"));
  dataLabel_->setText(QStringLiteral("Data [%1] = %2").arg(bytes.size()).arg(request.shortData));

  editor_->setObjectName(QStringLiteral("id1028"));
  editor_->SetOptions(true, true, true, false);
  editor_->SetBytesPerRow(8);
  editor_->SetData(bytes.data(), static_cast<int>(bytes.size()));
  editor_->SetInsertDelete(request.variable);
  if (request.variable) editor_->SetMaxLength(255);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("id1"));
  buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("id2"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CDataEntry::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDataEntry::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(commandLabel);
  layout->addWidget(descriptionLabel_);
  layout->addWidget(dataLabel_);
  layout->addWidget(editor_, 1);
  layout->addWidget(buttons);
  resize(480, 300);

  // A one-line description has no full text, and so no tip.
  descriptionTip_->SetText(request.fullDescription);
  descriptionTip_->Attach(descriptionLabel_);
  dataTip_->SetText(request.fullData.isEmpty() ? request.shortData : request.fullData);
  dataTip_->Attach(dataLabel_);
  editor_->setFocus();
}

CDataEntry::~CDataEntry() {
  descriptionTip_->Destroy();
  dataTip_->Destroy();
}

void CDataEntry::accept() {
  // A fixed-length command keeps its byte count: bytes the editor lacks stay 0.
  const QByteArray edited = editor_->Bytes();
  if (variable_)
    bytes_.assign(edited.begin(), edited.end());
  else
    std::copy_n(edited.begin(),
                std::min<qsizetype>(edited.size(), static_cast<qsizetype>(bytes_.size())),
                bytes_.begin());
  QDialog::accept();
}

bool CDataEntry::Run(const CommandDataRequest& request, std::vector<std::uint8_t>& bytes,
                     QWidget* parent) {
  CDataEntry dialog(request, bytes, parent);
  return dialog.exec() == QDialog::Accepted;
}
