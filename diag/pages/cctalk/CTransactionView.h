// The transaction list of the ccTalk page: one top-level item per request,
// reply or error, coloured, with tips (hex dumps in a fixed-pitch font).
#pragma once

#include <QColor>
#include <QString>
#include <QTreeWidget>

#include <memory>
#include <vector>

class CcctalkMessage;

// The record behind each item of the list.
struct TransactionItem {
  QColor colour;  // invalid: the default window text colour
  QString tip;    // empty: no tip
  bool fixedTip = false;
};

class CTransactionView : public QTreeWidget {
  Q_OBJECT

 public:
  static inline const QColor kErrorColour{255, 0, 0};
  static inline const QColor kReplyColour{0, 0, 200};

  explicit CTransactionView(QWidget* parent = nullptr);
  ~CTransactionView() override;

  // Each adds one top-level item at the end and scrolls it into view.
  QTreeWidgetItem* AddErrorText(const QString& text);
  QTreeWidgetItem* AddError(const CcctalkMessage& message);
  QTreeWidgetItem* AddOutgoing(const CcctalkMessage& message, const QString& text,
                               const QString& description);
  QTreeWidgetItem* AddIncoming(const CcctalkMessage& message);
  // A line about the program rather than the bus, in the default colour.
  QTreeWidgetItem* AddNote(const QString& text);

  static const TransactionItem* RecordOf(const QTreeWidgetItem* item);

  // The dump of a message up to its first line end, and all of it.
  static QString FirstDumpLine(const CcctalkMessage& message);
  static QString WholeDump(const CcctalkMessage& message);

 protected:
  bool viewportEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const QString& text, const QColor& colour,
                           const QString& tip, bool fixedTip);

  std::vector<std::unique_ptr<TransactionItem>> records_;
};
