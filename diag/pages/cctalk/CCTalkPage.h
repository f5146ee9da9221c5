// The "cctalk Port" page: acts as the host on a ccTalk bus on one of the
// board's serial ports. One click runs one transaction: drain stray bytes,
// build the chosen command, send it with its echo check, receive the reply
// and show all of it in the transaction list.
#pragma once

#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

class CSerialConnectionBox;
class CcTalkJournal;
class CcTalkServicePanel;
class LogKeeper;
struct CcTalkHistoryEntry;
class CTransactionView;
class CXMLTreeView;
class QGroupBox;
class QBoxLayout;
class QLineEdit;
class QPushButton;
class VantrelUSB;

class CCTalkPage : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 104;

  explicit CCTalkPage(VantrelUSB* board, QWidget* parent = nullptr);
  ~CCTalkPage() override;

  // The folders searched for dictionaries: the current folder, then the
  // dictionaries installed with the program.
  static std::vector<std::filesystem::path> DictionaryFolders();

  // Applies the port settings to the board: 0 on success, -1 on failure
  // (the error then stands in the command group's caption).
  int ApplyConfiguration();
  // What "Host >>> Device" does.
  void RunTransaction();
  // The same with a request sent before instead of one built from the tree.
  void SendAgain(const CcTalkHistoryEntry& entry);

  LogKeeper* Keeper() const { return keeper_; }
  const CcTalkJournal& Journal() const { return *journal_; }
  CcTalkServicePanel* Service() const { return service_; }

  bool Initialised() const { return initialised_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Initialise();
  void RunTransactionOf(const CcTalkHistoryEntry* again);
  void AttachServiceTools(QBoxLayout* addressRow, QBoxLayout* pageLayout);

  VantrelUSB* board_;  // not owned
  bool initialised_ = false;

  QGroupBox* commandBox_;
  CXMLTreeView* commandTree_;
  CTransactionView* transactions_;
  QLineEdit* hostEdit_;
  QPushButton* sendButton_;
  QLineEdit* deviceEdit_;
  CSerialConnectionBox* connection_;  // port, baud rate, CTS and RTS
  LogKeeper* keeper_ = nullptr;       // times and files of the transaction list
  std::unique_ptr<CcTalkJournal> journal_;
  CcTalkServicePanel* service_ = nullptr;
};
