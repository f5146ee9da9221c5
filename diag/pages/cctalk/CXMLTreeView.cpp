#include "pages/cctalk/CXMLTreeView.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>

#include <algorithm>
#include <new>

#include "CcctalkMessage.h"
#include "DictionaryDiscovery.h"
#include "DictionaryText.h"

namespace {

constexpr int kRecordRole = Qt::UserRole + 1;

QString FromText(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QString PlainTipText(const QString& text, bool fixedPitch) {
  QString plain = text;
  plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  const QString escaped = plain.toHtmlEscaped();
  return fixedPitch ? QStringLiteral("<pre>%1</pre>").arg(escaped)
                    : QStringLiteral("<p style='white-space:pre'>%1</p>").arg(escaped);
}

CXMLTreeView::CXMLTreeView(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  // Long items scroll sideways instead of being cut.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

CXMLTreeView::~CXMLTreeView() {
  // The items point into the store: take them down first.
  clear();
}

void CXMLTreeView::LoadDictionary(const std::filesystem::path& path) {
  const int before = topLevelItemCount();
  try {
    for (const DictionaryNode& node : LoadDictionaryFile(path, store_)) AddNode(node, nullptr);
  } catch (const std::bad_alloc&) {
    // The file's items go again; the records they pointed to stay in the
    // store until the tree goes, unreachable but harmless.
    while (topLevelItemCount() > before) delete takeTopLevelItem(topLevelItemCount() - 1);
    addTopLevelItem(new QTreeWidgetItem(
        QStringList{FromText("Error: unable to load XML:'" + path.string() + "'")}));
  }
}

void CXMLTreeView::LoadDictionaries(const std::vector<std::filesystem::path>& folders) {
  for (const auto& file : DiscoverDictionaryFiles(folders)) LoadDictionary(file);
}

void CXMLTreeView::AddNode(const DictionaryNode& node, QTreeWidgetItem* parent) {
  auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
  item->setText(0, FromText(node.text));
  if (node.record != nullptr)
    item->setData(0, kRecordRole, QVariant::fromValue(reinterpret_cast<quintptr>(node.record)));
  for (const DictionaryNode& child : node.children) AddNode(child, item);
  item->setExpanded(node.expanded);
}

const DictionaryItem* CXMLTreeView::RecordOf(const QTreeWidgetItem* item) {
  if (item == nullptr) return nullptr;
  return reinterpret_cast<const DictionaryItem*>(item->data(0, kRecordRole).value<quintptr>());
}

QString CXMLTreeView::ToolTipFor(const QTreeWidgetItem* item) {
  const DictionaryItem* record = RecordOf(item);
  if (record == nullptr || record->owner == nullptr) return {};
  const DictionaryItem& owner = *record->owner;
  if (record->kind == DictionaryItem::kDataItem) return FromText(owner.fullData);
  return FromText(owner.fullDescription.empty() ? owner.shortDescription : owner.fullDescription);
}

int CXMLTreeView::BuildCommand(std::uint8_t destination, std::uint8_t source,
                               CcctalkMessage& message) {
  QTreeWidgetItem* item = currentItem();
  if (item != nullptr && !item->isSelected()) item = nullptr;
  while (item != nullptr && (RecordOf(item) == nullptr || !RecordOf(item)->IsCommandRecord()))
    item = item->parent();
  if (item == nullptr) return -1;

  const DictionaryItem& command = *RecordOf(item);
  selectedCommandText_ = item->text(0);
  selectedDescription_ = FromText(command.fullDescription.empty() ? command.shortDescription
                                                                  : command.fullDescription);

  message.build(destination, 0, source,
                static_cast<std::uint8_t>(LeadingNumber(command.code) & 0xFFu));

  // A frame holds at most 255 data bytes, whatever the dictionary says.
  const auto count =
      static_cast<std::size_t>(std::min<unsigned long>(LeadingNumber(command.length), 255));
  if (count == 0) return 0;
  std::vector<std::uint8_t> bytes(count, 0);
  const CommandDataRequest request{selectedCommandText_,
                                   FromText(command.shortDescription),
                                   FromText(command.fullDescription),
                                   FromText(command.shortData),
                                   FromText(command.fullData),
                                   command.variable != 0};
  if (!dataEntry_ || !dataEntry_(request, bytes)) return -1;
  bytes.resize(std::min<std::size_t>(bytes.size(), CcctalkMessage::kMaximumData));
  message.setData(bytes);
  return 0;
}

bool CXMLTreeView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = ToolTipFor(itemAt(help->pos()));
    if (tip.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), PlainTipText(tip, false), viewport());
    }
    return true;
  }
  return QTreeWidget::viewportEvent(event);
}

void CXMLTreeView::mousePressEvent(QMouseEvent* event) {
  QToolTip::hideText();
  QTreeWidget::mousePressEvent(event);
}

void CXMLTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  QToolTip::hideText();
  QTreeWidget::mouseDoubleClickEvent(event);
}
