// The ccTalk page against a simulated board served by vantrelio, with the
// simulator's ccTalk coin acceptor (address 2) on port B.
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <fstream>
#include <memory>
#include <vector>

#include "CHexBlockEdit.h"
#include "pages/cctalk/CXMLTreeView.h"
#include "CcctalkMessage.h"
#include "ControlToolTip.h"
#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "SimBoardProbe.h"
#include "SimDaemon.h"
#include "PageList.h"
#include "pages/cctalk/CCTalkPage.h"
#include "pages/cctalk/CDataEntry.h"
#include "pages/cctalk/CTransactionView.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const int kCcTalkTab = vantrel::diag::PageTab<CCTalkPage>();

const char kDictionary[] = R"(<?xml version="1.0"?>
<Root><Transaction_Dictionary type="Test Coin" version="2.1">
  <Transaction><Transmit_Header code="254">Simple poll</Transmit_Header>
    <Transmit_Description>Checks that the device answers</Transmit_Description>
    <Receive code="0">ACK</Receive></Transaction>
  <Transaction><Transmit_Header code="231">Modify inhibit status</Transmit_Header>
    <Transmit_Data length="2">[ inhibit 1 ]
[ inhibit 2 ]</Transmit_Data>
    <Transmit_Description>Sets the inhibits
	one bit a coin</Transmit_Description>
    <Receive code="0">ACK</Receive></Transaction>
  <Transaction><Transmit_Header code="253">Address poll</Transmit_Header>
    <Receive><Receive_Header code="raw">Address byte, unframed</Receive_Header>
      <Receive_Data length="1">[ address ]</Receive_Data></Receive></Transaction>
  <Response_Header code="0">ACK</Response_Header><Data length="0"/><Description>Acknowledge</Description>
</Transaction_Dictionary></Root>
)";

// The dump text of a frame as the list shows it: hex pairs, "- ", characters.
QString Dump(const QByteArray& frame) {
  QString text;
  for (const char byte : frame)
    text += QStringLiteral("%1 ").arg(static_cast<unsigned char>(byte), 2, 16, QLatin1Char('0'));
  text += QStringLiteral("- ");
  for (const char byte : frame)
    text += static_cast<unsigned char>(byte) < 0x20 ? QLatin1Char('.')
                                                    : QChar(static_cast<unsigned char>(byte));
  return text;
}

}  // namespace

class CcTalkPageTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void cleanupTestCase();

  void LoadsTheDictionariesOfTheCurrentFolder();
  void SimplePollShowsRequestAndBlueReply();
  void SilentDeviceGivesTheTimeoutItem();
  void BusWithout12VoltsGivesAnErrorWithoutEcho();
  void StrayBytesAreDrainedAndReported();
  void ConfirmedDataEntrySendsTheBytes();
  void CancelledDataEntrySendsNothing();
  void AddressesAreCutToEightBits();
  void NoCommandSelectedAddsNothing();
  void BadRepliesAreShownRed();
  void DamagedEchoShowsTheLocalEchoUnderTheError();
  void AddressPollShowsTheRawAddressByte();
  void RefusedConfigurationIsRetriedAfterInitInTheCcTalkMode();
  void RefusedConfigurationIsReported();

 private:
  QString Simctl(const QStringList& words);
  CCTalkPage* Page() const { return sheet_->findChild<CCTalkPage*>(QStringLiteral("id104")); }
  CXMLTreeView* Tree() const { return sheet_->findChild<CXMLTreeView*>(QStringLiteral("id1023")); }
  CTransactionView* List() const {
    return sheet_->findChild<CTransactionView*>(QStringLiteral("id1022"));
  }
  QLineEdit* Host() const { return sheet_->findChild<QLineEdit*>(QStringLiteral("id1026")); }
  QLineEdit* Device() const { return sheet_->findChild<QLineEdit*>(QStringLiteral("id1025")); }
  QPushButton* SendButton() const {
    return sheet_->findChild<QPushButton*>(QStringLiteral("id1014"));
  }
  void Select(const QString& commandText);
  QString Sent() {
    return Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("sent")});
  }
  // The texts of the list's top-level items from `first` on.
  QStringList TopTexts(int first) const;

  QTemporaryDir workDir_;
  QString startDir_;
  vantrel::diag::test::SimDaemon daemon_;
  std::unique_ptr<CK27DiagApp> app_;
  std::unique_ptr<CK27DiagSheet> sheet_;
  bool daemonStopped_ = false;
  std::unique_ptr<vantrel::diag::test::ExchangeTrace> trace_;
};

QString CcTalkPageTest::Simctl(const QStringList& words) {
  QProcess simctl;
  simctl.start(QStringLiteral(K27_SIMCTL_PATH),
               QStringList{QStringLiteral("--device-dir"), daemon_.Folder()} + words);
  if (!simctl.waitForFinished(10000) || simctl.exitCode() != 0)
    qWarning("k27simctl %s failed: %s", qPrintable(words.join(' ')),
             simctl.readAllStandardError().constData());
  return QString::fromLatin1(simctl.readAllStandardOutput()).trimmed();
}

void CcTalkPageTest::initTestCase() {
  daemon_.UseFolder();
  trace_ = std::make_unique<vantrel::diag::test::ExchangeTrace>(daemon_.AddTrace());
  daemon_.Start();
  // The page reads the dictionaries of the folder it starts in.
  QVERIFY(workDir_.isValid());
  std::ofstream(QDir(workDir_.path()).filePath(QStringLiteral("test.xml")).toStdString())
      << kDictionary;
  startDir_ = QDir::currentPath();
  QVERIFY(QDir::setCurrent(workDir_.path()));
  Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
          QStringLiteral("cctalk")});
}

void CcTalkPageTest::init() {
  if (!sheet_) {
    app_ = std::make_unique<CK27DiagApp>();
    sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
    sheet_->Tabs()->setCurrentIndex(kCcTalkTab);
  }
  QVERIFY(Page()->Initialised());
}

void CcTalkPageTest::cleanup() {
  if (daemonStopped_) return;
  Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("power"),
          QStringLiteral("on")});
  Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("echo"),
          QStringLiteral("normal")});
  Simctl(
      {QStringLiteral("fault"), QStringLiteral("4"), QStringLiteral("61"), QStringLiteral("none")});
  Device()->setText(QStringLiteral("2"));
  Host()->setText(QStringLiteral("1"));
}

void CcTalkPageTest::cleanupTestCase() {
  // The page after all the transactions, for people to look at.
  if (const QString dir = qEnvironmentVariable("K27_SCREENSHOT_DIR"); !dir.isEmpty() && sheet_)
    sheet_->grab().save(QDir(dir).filePath(QStringLiteral("cctalk-transactions.png")));
  sheet_.reset();
  app_.reset();
  vantrel::diag::test::CloseWindows();
  QDir::setCurrent(startDir_);
}

void CcTalkPageTest::Select(const QString& commandText) {
  const auto found = Tree()->findItems(commandText, Qt::MatchExactly | Qt::MatchRecursive);
  QCOMPARE(found.size(), 1);
  Tree()->setCurrentItem(found.front());
}

QStringList CcTalkPageTest::TopTexts(int first) const {
  QStringList texts;
  for (int i = first; i < List()->topLevelItemCount(); ++i)
    texts << List()->topLevelItem(i)->text(0);
  return texts;
}

void CcTalkPageTest::LoadsTheDictionariesOfTheCurrentFolder() {
  QCOMPARE(Tree()->topLevelItem(0)->text(0),
           QStringLiteral("Transaction Dictionary: '%1'")
               .arg(QDir(workDir_.path()).filePath(QStringLiteral("test.xml"))));
  QCOMPARE(Tree()->topLevelItem(0)->child(0)->text(0), QStringLiteral("Type = Test Coin"));
  QCOMPARE(Tree()->topLevelItem(0)->child(2)->child(0)->text(0),
           QStringLiteral("Command [254] = Simple poll"));
  QCOMPARE(Host()->text(), QStringLiteral("1"));
  QCOMPARE(Device()->text(), QStringLiteral("2"));
  QCOMPARE(sheet_->findChild<QGroupBox*>(QStringLiteral("id1021"))->title(),
           QStringLiteral("Output"));
  QVERIFY(SendButton()->isEnabled());
}

void CcTalkPageTest::SimplePollShowsRequestAndBlueReply() {
  Select(QStringLiteral("Command [254] = Simple poll"));
  const int first = List()->topLevelItemCount();
  SendButton()->click();
  QCOMPARE(TopTexts(first), (QStringList{QStringLiteral("[Outgoing] Command [254] = Simple poll"),
                                         QStringLiteral("[Incoming] Command [0]")}));
  QTreeWidgetItem* outgoing = List()->topLevelItem(first);
  QCOMPARE(CTransactionView::RecordOf(outgoing)->tip,
           QStringLiteral("Checks that the device answers"));
  QVERIFY(!outgoing->isExpanded());
  const QByteArray poll("\x02\x00\x01\xfe\xff", 5);
  QCOMPARE(outgoing->child(0)->text(0), QStringLiteral("[%1] ...").arg(Dump(poll)));
  QCOMPARE(CTransactionView::RecordOf(outgoing->child(0))->tip, Dump(poll) + QLatin1Char('\n'));
  QVERIFY(CTransactionView::RecordOf(outgoing->child(0))->fixedTip);
  QVERIFY(!CTransactionView::RecordOf(outgoing)->colour.isValid());

  QTreeWidgetItem* incoming = List()->topLevelItem(first + 1);
  const TransactionItem* reply = CTransactionView::RecordOf(incoming);
  QCOMPARE(reply->colour, QColor(0, 0, 200));
  QCOMPARE(reply->tip,
           QStringLiteral("Destination = 1\nNumber of data bytes = 0\nSource = 2\nHeader = 0"));
  QVERIFY(incoming->isExpanded());
  QCOMPARE(incoming->child(0)->text(0),
           QStringLiteral("[%1] ...").arg(Dump(QByteArray("\x01\x00\x02\x00\xfd", 5))));
  QCOMPARE(CTransactionView::RecordOf(incoming->child(0))->colour, QColor(0, 0, 200));
  QVERIFY(CTransactionView::RecordOf(incoming->child(0))->fixedTip);
}

void CcTalkPageTest::SilentDeviceGivesTheTimeoutItem() {
  Select(QStringLiteral("Command [254] = Simple poll"));
  Device()->setText(QStringLiteral("3"));  // nobody there: the bus echoes, nobody answers
  const int first = List()->topLevelItemCount();
  SendButton()->click();
  QCOMPARE(TopTexts(first),
           (QStringList{QStringLiteral("[Outgoing] Command [254] = Simple poll"),
                        QStringLiteral("[Incoming] Timeout - no command received")}));
  QTreeWidgetItem* timeout = List()->topLevelItem(first + 1);
  QCOMPARE(CTransactionView::RecordOf(timeout)->colour, QColor(255, 0, 0));
  QVERIFY(CTransactionView::RecordOf(timeout)->tip.isEmpty());
  QCOMPARE(timeout->childCount(), 0);
}

void CcTalkPageTest::BusWithout12VoltsGivesAnErrorWithoutEcho() {
  Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("power"),
          QStringLiteral("off")});
  Select(QStringLiteral("Command [254] = Simple poll"));
  const int first = List()->topLevelItemCount();
  SendButton()->click();
  const QStringList texts = TopTexts(first);
  QCOMPARE(texts.size(), 2);
  QCOMPARE(texts[0], QStringLiteral("[Outgoing] Command [254] = Simple poll"));
  QVERIFY2(texts[1].startsWith(
               QStringLiteral("[Error] CcctalkMessage::send () { error: local echo expected - ")),
           qPrintable(texts[1]));
  QVERIFY(texts[1].contains(QStringLiteral("CcctalkMessage::receive () { error: no 12V power } ")));
  QTreeWidgetItem* error = List()->topLevelItem(first + 1);
  QCOMPARE(error->childCount(), 0);
  QCOMPARE(CTransactionView::RecordOf(error)->colour, QColor(255, 0, 0));
  QCOMPARE(CTransactionView::RecordOf(error)->tip, texts[1]);
}

void CcTalkPageTest::StrayBytesAreDrainedAndReported() {
  Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("push"),
          QStringLiteral("0a0b0c")});
  // The bytes come in one line time apart (about 1 ms each at 9600 baud).
  QTest::qWait(50);
  Select(QStringLiteral("Command [254] = Simple poll"));
  const int first = List()->topLevelItemCount();
  SendButton()->click();
  QCOMPARE(
      TopTexts(first),
      (QStringList{QStringLiteral("[Error] Cleared 3 byte(s) of unexpected data from the port"),
                   QStringLiteral("[Outgoing] Command [254] = Simple poll"),
                   QStringLiteral("[Incoming] Command [0]")}));
  QCOMPARE(CTransactionView::RecordOf(List()->topLevelItem(first))->colour, QColor(255, 0, 0));
}

void CcTalkPageTest::ConfirmedDataEntrySendsTheBytes() {
  Select(QStringLiteral("Command [231] = Modify inhibit status"));
  bool seen = false;
  QTimer::singleShot(0, this, [&seen] {
    auto* dialog = qobject_cast<CDataEntry*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    seen = true;
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("id1030"))->text(),
             QStringLiteral("Command: Command [231] = Modify inhibit status"));
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("id1031"))->text(),
             QStringLiteral("Description: Sets the inhibits ..."));
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("id1029"))->text(),
             QStringLiteral("Data [2] = [ inhibit 1 ] ..."));
    QCOMPARE(dialog->DescriptionTip()->Text(),
             QStringLiteral("Sets the inhibits\r\none bit a coin"));
    QCOMPARE(dialog->DataTip()->Text(), QStringLiteral("[ inhibit 1 ]\r\n[ inhibit 2 ]"));
    QCOMPARE(dialog->Editor()->Bytes(), QByteArray(2, '\0'));
    QVERIFY(!dialog->Editor()->InsertDelete());
    dialog->Editor()->SetData(QByteArray("\xff\x03", 2));
    dialog->accept();
  });
  const int first = List()->topLevelItemCount();
  SendButton()->click();
  QVERIFY(seen);
  QCOMPARE(TopTexts(first),
           (QStringList{QStringLiteral("[Outgoing] Command [231] = Modify inhibit status"),
                        QStringLiteral("[Incoming] Command [0]")}));
  QCOMPARE(List()->topLevelItem(first)->child(0)->text(0),
           QStringLiteral("[%1] ...").arg(Dump(QByteArray("\x02\x02\x01\xe7\xff\x03\x12", 7))));
  QCOMPARE(CTransactionView::RecordOf(List()->topLevelItem(first))->tip,
           QStringLiteral("Sets the inhibits\r\none bit a coin"));
}

void CcTalkPageTest::CancelledDataEntrySendsNothing() {
  Select(QStringLiteral("Command [231] = Modify inhibit status"));
  const QString sentBefore = Sent();
  bool seen = false;
  QTimer::singleShot(0, this, [&seen] {
    auto* dialog = qobject_cast<CDataEntry*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    seen = true;
    dialog->reject();
  });
  const int before = List()->topLevelItemCount();
  SendButton()->click();
  QVERIFY(seen);
  QCOMPARE(List()->topLevelItemCount(), before);
  QCOMPARE(Sent(), sentBefore);
}

void CcTalkPageTest::AddressesAreCutToEightBits() {
  Select(QStringLiteral("Command [254] = Simple poll"));
  Device()->setText(QStringLiteral("300"));
  Host()->clear();
  const int first = List()->topLevelItemCount();
  SendButton()->click();
  // 300 modulo 256 is 44, an empty host address 0.
  QCOMPARE(List()->topLevelItem(first)->child(0)->text(0),
           QStringLiteral("[%1] ...").arg(Dump(QByteArray("\x2c\x00\x00\xfe\xd6", 5))));
  QVERIFY(Sent().endsWith(QStringLiteral("2c0000fed6"), Qt::CaseInsensitive));
}

void CcTalkPageTest::NoCommandSelectedAddsNothing() {
  Tree()->setCurrentItem(Tree()->topLevelItem(0)->child(0));  // "Type = ..."
  const QString sentBefore = Sent();
  const int before = List()->topLevelItemCount();
  SendButton()->click();
  QCOMPARE(List()->topLevelItemCount(), before);
  QCOMPARE(Sent(), sentBefore);
}

void CcTalkPageTest::BadRepliesAreShownRed() {
  CTransactionView view;
  CcctalkMessage badChecksum;
  QCOMPARE(badChecksum.assign(std::vector<std::uint8_t>{0x01, 0x00, 0x02, 0x00, 0x00}),
           CcctalkMessage::kOk);
  QTreeWidgetItem* invalid = view.AddIncoming(badChecksum);
  QCOMPARE(invalid->text(0), QStringLiteral("[Incoming] Invalid Command"));
  QCOMPARE(CTransactionView::RecordOf(invalid)->colour, QColor(255, 0, 0));
  QVERIFY(CTransactionView::RecordOf(invalid)->tip.isEmpty());
  QVERIFY(invalid->isExpanded());
  QCOMPARE(invalid->child(0)->text(0),
           QStringLiteral("[%1] ...").arg(Dump(QByteArray("\x01\x00\x02\x00\x00", 5))));
  QVERIFY(!CTransactionView::RecordOf(invalid->child(0))->fixedTip);

  // A long reply shows its first 16 bytes in the item and all of them in the tip.
  std::vector<std::uint8_t> cut(20, 0x41);
  CcctalkMessage incomplete;
  QCOMPARE(incomplete.assign(cut), CcctalkMessage::kOk);
  QTreeWidgetItem* longOne = view.AddIncoming(incomplete);
  const QString line = longOne->child(0)->text(0);
  QCOMPARE(line, QStringLiteral("[%1] ...").arg(Dump(QByteArray(16, 'A'))));
  QCOMPARE(CTransactionView::RecordOf(longOne->child(0))->tip.count(QLatin1Char('\n')), 2);

  QCOMPARE(view.AddIncoming(CcctalkMessage())->text(0),
           QStringLiteral("[Incoming] Timeout - no command received"));
  QCOMPARE(view.topLevelItemCount(), 3);
}

// What the host read back differs from what it sent: the error item carries
// the echo as a red child, whose tip is its whole dump.
void CcTalkPageTest::DamagedEchoShowsTheLocalEchoUnderTheError() {
  Select(QStringLiteral("Command [254] = Simple poll"));
  const QString unequal = QStringLiteral(
      "[Error] CcctalkMessage::send () { error: local echo expected - received unequivalent data "
      "}");
  const struct {
    const char* mode;
    QByteArray echo;
  } cases[] = {{"short", QByteArray("\x02\x00\x01\xfe", 4)},
               {"altered", QByteArray("\x02\x00\x01\xfe\x00", 5)}};
  for (const auto& c : cases) {
    Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("echo"),
            QLatin1String(c.mode)});
    const int first = List()->topLevelItemCount();
    SendButton()->click();
    QCOMPARE(TopTexts(first),
             (QStringList{QStringLiteral("[Outgoing] Command [254] = Simple poll"), unequal}));
    QTreeWidgetItem* error = List()->topLevelItem(first + 1);
    QCOMPARE(CTransactionView::RecordOf(error)->colour, QColor(255, 0, 0));
    QVERIFY(error->isExpanded());
    QCOMPARE(error->childCount(), 1);
    QTreeWidgetItem* echo = error->child(0);
    QCOMPARE(
        echo->text(0),
        QStringLiteral("[local echo] data [%1] = [%2] ...").arg(c.echo.size()).arg(Dump(c.echo)));
    QCOMPARE(CTransactionView::RecordOf(echo)->colour, QColor(255, 0, 0));
    QCOMPARE(CTransactionView::RecordOf(echo)->tip, Dump(c.echo) + QLatin1Char('\n'));
    QVERIFY(CTransactionView::RecordOf(echo)->fixedTip);
  }
}

// The address poll gets no frame: the device's address as one raw byte,
// which the page shows as an invalid command with the byte below it.
void CcTalkPageTest::AddressPollShowsTheRawAddressByte() {
  Select(QStringLiteral("Command [253] = Address poll"));
  Device()->setText(QStringLiteral("0"));
  const int first = List()->topLevelItemCount();
  SendButton()->click();
  QCOMPARE(TopTexts(first), (QStringList{QStringLiteral("[Outgoing] Command [253] = Address poll"),
                                         QStringLiteral("[Incoming] Invalid Command")}));
  QTreeWidgetItem* incoming = List()->topLevelItem(first + 1);
  QCOMPARE(CTransactionView::RecordOf(incoming)->colour, QColor(255, 0, 0));
  QCOMPARE(incoming->child(0)->text(0),
           QStringLiteral("[%1] ...").arg(Dump(QByteArray("\x02", 1))));
}

// A refused configuration is tried once more after the connection has been
// opened again; both tries ask for the ccTalk mode (port type 2).
void CcTalkPageTest::RefusedConfigurationIsRetriedAfterInitInTheCcTalkMode() {
  Select(QStringLiteral("Command [254] = Simple poll"));
  trace_->Mark();
  QCOMPARE(Simctl({QStringLiteral("fault"), QStringLiteral("4"), QStringLiteral("61"),
                   QStringLiteral("status=3"), QStringLiteral("1")}),
           QString());
  const int first = List()->topLevelItemCount();
  SendButton()->click();
  QCOMPARE(TopTexts(first), (QStringList{QStringLiteral("[Outgoing] Command [254] = Simple poll"),
                                         QStringLiteral("[Incoming] Command [0]")}));
  QCOMPARE(sheet_->findChild<QGroupBox*>(QStringLiteral("id1021"))->title(),
           QStringLiteral("Output"));
  QStringList commands;
  QTRY_VERIFY((commands = trace_->CommandsSince(QStringLiteral("66")),
               commands.filter(QStringLiteral("6102")).size() >= 2));
  QList<qsizetype> configs;
  for (qsizetype i = 0; i < commands.size(); ++i) {
    if (!commands[i].startsWith(QStringLiteral("61"))) continue;
    QVERIFY2(commands[i].startsWith(QStringLiteral("6102")), qPrintable(commands[i]));
    configs << i;
  }
  QCOMPARE(configs.size(), 2);
  // The connection was opened again between the two tries.
  QVERIFY(configs[1] - configs[0] > 1);

  // Refused twice: the caption tells, and the transaction stops there.
  QCOMPARE(Simctl({QStringLiteral("fault"), QStringLiteral("4"), QStringLiteral("61"),
                   QStringLiteral("status=3"), QStringLiteral("2")}),
           QString());
  const int next = List()->topLevelItemCount();
  SendButton()->click();
  QCOMPARE(TopTexts(next).size(), 1);
  QVERIFY(TopTexts(next).front().startsWith(
      QStringLiteral("[Error] Output - Vantrel.Send () = error: ")));
  QVERIFY(sheet_->findChild<QGroupBox*>(QStringLiteral("id1021"))
              ->title()
              .startsWith(QStringLiteral("Output - Vantrel.SetConfig () = error: ")));
}

// Last: it stops the daemon.
void CcTalkPageTest::RefusedConfigurationIsReported() {
  daemon_.Stop();
  daemonStopped_ = true;
  Select(QStringLiteral("Command [254] = Simple poll"));
  const int first = List()->topLevelItemCount();
  SendButton()->click();
  const QStringList texts = TopTexts(first);
  QCOMPARE(texts.size(), 1);
  QVERIFY2(texts[0].startsWith(QStringLiteral("[Error] Output - Vantrel.Send () = error: ")),
           qPrintable(texts[0]));
  QVERIFY(sheet_->findChild<QGroupBox*>(QStringLiteral("id1021"))
              ->title()
              .startsWith(QStringLiteral("Output - Vantrel.SetConfig () = error: ")));
}

QTEST_MAIN(CcTalkPageTest)
#include "CcTalkTest.moc"
