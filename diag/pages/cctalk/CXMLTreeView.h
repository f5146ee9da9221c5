// The command tree of the ccTalk page: every transaction dictionary found,
// one branch per dictionary, from which the request frame is built.
#pragma once

#include <QString>
#include <QTreeWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "DictionaryStore.h"

class CcctalkMessage;

// What the data-entry dialog is given for a command with data bytes.
struct CommandDataRequest {
  QString commandText;
  QString shortDescription;
  QString fullDescription;
  QString shortData;
  QString fullData;
  bool variable = false;
};

class CXMLTreeView : public QTreeWidget {
  Q_OBJECT

 public:
  // Asks for the data bytes; `bytes` comes with the command's byte count of
  // zeros and holds the edited bytes on return. False when cancelled.
  using DataEntry =
      std::function<bool(const CommandDataRequest& request, std::vector<std::uint8_t>& bytes)>;

  explicit CXMLTreeView(QWidget* parent = nullptr);
  ~CXMLTreeView() override;

  // Loads one file and appends its branches, or an error item.
  void LoadDictionary(const std::filesystem::path& path);
  // Loads every dictionary file found below the folders, in order.
  void LoadDictionaries(const std::vector<std::filesystem::path>& folders);

  void SetDataEntry(DataEntry dataEntry) { dataEntry_ = std::move(dataEntry); }

  // Builds the request of the selected command into `message`: 0 when a
  // frame was built, -1 when no command is selected or the data entry was
  // cancelled.
  int BuildCommand(std::uint8_t destination, std::uint8_t source, CcctalkMessage& message);
  QString SelectedCommandText() const { return selectedCommandText_; }
  QString SelectedDescription() const { return selectedDescription_; }

  // The tip of an item; empty when it has none.
  static QString ToolTipFor(const QTreeWidgetItem* item);
  static const DictionaryItem* RecordOf(const QTreeWidgetItem* item);

  std::size_t RecordCount() const { return store_.Count(); }

 protected:
  bool viewportEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void AddNode(const DictionaryNode& node, QTreeWidgetItem* parent);

  DictionaryStore store_;
  DataEntry dataEntry_;
  QString selectedCommandText_;
  QString selectedDescription_;
};

// A tip text shown as it is: line breaks kept, nothing read as markup.
QString PlainTipText(const QString& text, bool fixedPitch);
