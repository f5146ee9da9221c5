#include "pages/cctalk/CTransactionView.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>

#include "pages/cctalk/CXMLTreeView.h"
#include "CcctalkMessage.h"
#include "cctalk/CcTalkErrorText.h"

namespace {

constexpr int kRecordRole = Qt::UserRole + 1;

}  // namespace

CTransactionView::CTransactionView(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  // Long items scroll sideways instead of being cut.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

CTransactionView::~CTransactionView() {
  // The items point at the records: take them down first.
  clear();
}

QString CTransactionView::WholeDump(const CcctalkMessage& message) {
  // The dump's characters are the frame's raw bytes.
  return QString::fromLatin1(message.dump());
}

QString CTransactionView::FirstDumpLine(const CcctalkMessage& message) {
  const QString dump = WholeDump(message);
  qsizetype end = dump.size();
  for (qsizetype i = 0; i < dump.size(); ++i) {
    if (dump.at(i) == QLatin1Char('\r') || dump.at(i) == QLatin1Char('\n')) {
      end = i;
      break;
    }
  }
  return dump.left(end);
}

const TransactionItem* CTransactionView::RecordOf(const QTreeWidgetItem* item) {
  if (item == nullptr) return nullptr;
  return reinterpret_cast<const TransactionItem*>(item->data(0, kRecordRole).value<quintptr>());
}

QTreeWidgetItem* CTransactionView::AddItem(QTreeWidgetItem* parent, const QString& text,
                                           const QColor& colour, const QString& tip,
                                           bool fixedTip) {
  auto record = std::make_unique<TransactionItem>();
  record->colour = colour;
  record->tip = tip;
  record->fixedTip = fixedTip;
  auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
  item->setText(0, text);
  if (colour.isValid()) item->setForeground(0, colour);
  item->setData(0, kRecordRole, QVariant::fromValue(reinterpret_cast<quintptr>(record.get())));
  records_.push_back(std::move(record));
  return item;
}

QTreeWidgetItem* CTransactionView::AddErrorText(const QString& text) {
  const QString shown = QStringLiteral("[Error] %1").arg(BoundedErrorText(text));
  QTreeWidgetItem* item = AddItem(nullptr, shown, kErrorColour, shown, false);
  scrollToItem(item);
  return item;
}

QTreeWidgetItem* CTransactionView::AddNote(const QString& text) {
  QTreeWidgetItem* item = AddItem(nullptr, text, QColor(), text, false);
  scrollToItem(item);
  return item;
}

QTreeWidgetItem* CTransactionView::AddError(const CcctalkMessage& message) {
  const QString shown = QStringLiteral("[Error] %1").arg(ShownCcTalkError(message.errorText()));
  QTreeWidgetItem* item = AddItem(nullptr, shown, kErrorColour, shown, false);
  if (message.echoLength() > 0) {
    const CcctalkMessage echo = message.echo();
    AddItem(item,
            QStringLiteral("[local echo] data [%1] = [%2] ...")
                .arg(message.echoLength())
                .arg(FirstDumpLine(echo)),
            kErrorColour, WholeDump(echo), true);
    item->setExpanded(true);
  }
  scrollToItem(item);
  return item;
}

QTreeWidgetItem* CTransactionView::AddOutgoing(const CcctalkMessage& message, const QString& text,
                                               const QString& description) {
  QTreeWidgetItem* item =
      AddItem(nullptr, QStringLiteral("[Outgoing] %1").arg(text), QColor(), description, false);
  AddItem(item, QStringLiteral("[%1] ...").arg(FirstDumpLine(message)), QColor(),
          WholeDump(message), true);
  scrollToItem(item);
  return item;
}

QTreeWidgetItem* CTransactionView::AddIncoming(const CcctalkMessage& received) {
  CcctalkMessage message = received;  // validate notes its verdict in the error text
  QTreeWidgetItem* item = nullptr;
  if (message.validate() < 0) {
    if (message.length() == 0) {
      item = AddItem(nullptr, QStringLiteral("[Incoming] Timeout - no command received"),
                     kErrorColour, {}, false);
    } else {
      item =
          AddItem(nullptr, QStringLiteral("[Incoming] Invalid Command"), kErrorColour, {}, false);
      AddItem(item, QStringLiteral("[%1] ...").arg(FirstDumpLine(message)), kErrorColour,
              WholeDump(message), false);
      item->setExpanded(true);
    }
  } else {
    const QString tip =
        QStringLiteral("Destination = %1\nNumber of data bytes = %2\nSource = %3\nHeader = %4")
            .arg(message.destination())
            .arg(message.dataCount())
            .arg(message.source())
            .arg(message.header());
    item = AddItem(nullptr, QStringLiteral("[Incoming] Command [%1]").arg(message.header()),
                   kReplyColour, tip, false);
    AddItem(item, QStringLiteral("[%1] ...").arg(FirstDumpLine(message)), kReplyColour,
            WholeDump(message), true);
    item->setExpanded(true);
  }
  scrollToItem(item);
  return item;
}

bool CTransactionView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const TransactionItem* record = RecordOf(itemAt(help->pos()));
    if (record == nullptr || record->tip.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), PlainTipText(record->tip, record->fixedTip),
                         viewport());
    }
    return true;
  }
  return QTreeWidget::viewportEvent(event);
}

void CTransactionView::mousePressEvent(QMouseEvent* event) {
  QToolTip::hideText();
  QTreeWidget::mousePressEvent(event);
}
