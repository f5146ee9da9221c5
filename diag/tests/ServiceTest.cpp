// The service additions of the pages against a simulated board served by
// vantrelio: logs kept with their times (saved, appended to a file, exported
// as JSON), the ccTalk bus scan, repeat and history, the Serial Port page's
// sending aids and dump times, and the Input / Output page's input-change log.
// With K27_SCREENSHOT_DIR set, the new views are written there as PNGs.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <memory>

#include "CColouredListBox.h"
#include "pages/cctalk/CXMLTreeView.h"
#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "LogKeeper.h"
#include "SimBoardProbe.h"
#include "SimDaemon.h"
#include "PageList.h"
#include "pages/io/IOPage.h"
#include "pages/cctalk/CCTalkPage.h"
#include "pages/cctalk/CTransactionView.h"
#include "cctalk/CcTalkJournal.h"
#include "pages/cctalk/CcTalkServicePanel.h"
#include "pages/io/CInputChangeLog.h"
#include "pages/serial/SerialPortPage.h"
#include "pages/serial/CSerialSendTools.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const int kCcTalkTab = vantrel::diag::PageTab<CCTalkPage>();
const int kIoTab = vantrel::diag::PageTab<IOPage>();
const int kSerialTab = vantrel::diag::PageTab<SerialPortPage>();

const char kDictionary[] = R"(<?xml version="1.0"?>
<Root><Transaction_Dictionary type="Test Coin" version="2.1">
  <Transaction><Transmit_Header code="254">Simple poll</Transmit_Header>
    <Transmit_Description>Checks that the device answers</Transmit_Description>
    <Receive code="0">ACK</Receive></Transaction>
</Transaction_Dictionary></Root>
)";

const QRegularExpression kStamp(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"));
const QRegularExpression kStamped(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (.*)$"));

QStringList ReadLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The texts of stamped lines; a line without its time gives "<no time>".
QStringList Texts(const QStringList& lines) {
  QStringList texts;
  for (const QString& line : lines) {
    const QRegularExpressionMatch match = kStamped.match(line);
    texts << (match.hasMatch() ? match.captured(1) : QStringLiteral("<no time> ") + line);
  }
  return texts;
}

}  // namespace

class ServiceTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();

  void TransactionsSavedLoggedAndExportedAsJson();
  void ScanFindsOnlyTheSimulatedDevice();
  void RepeatCountsSilentAndAnsweringDevice();
  void CcTalkHistoryKeepsTwentyAndSendsAgain();
  void SerialDumpTimesAndSave();
  void SerialHistoryAndTextEntry();
  void InputChangesAreLogged();

 private:
  QString Simctl(const QStringList& words) {
    return vantrel::diag::test::SimConsole(daemon_.Folder(), words);
  }
  void Shot(const QString& name);
  CCTalkPage* CcTalk() const { return sheet_->findChild<CCTalkPage*>(QStringLiteral("id104")); }
  CTransactionView* Transactions() const {
    return sheet_->findChild<CTransactionView*>(QStringLiteral("id1022"));
  }
  SerialPortPage* Serial() const {
    return sheet_->findChild<SerialPortPage*>(QStringLiteral("id107"));
  }
  void SendPoll(int device);

  QTemporaryDir workDir_;
  QTemporaryDir files_;
  QString startDir_;
  vantrel::diag::test::SimDaemon daemon_;
  std::unique_ptr<CK27DiagApp> app_;
  std::unique_ptr<CK27DiagSheet> sheet_;
};

void ServiceTest::initTestCase() {
  daemon_.UseFolder();
  daemon_.Start();
  QVERIFY(workDir_.isValid() && files_.isValid());
  std::ofstream(QDir(workDir_.path()).filePath(QStringLiteral("test.xml")).toStdString())
      << kDictionary;
  startDir_ = QDir::currentPath();
  QVERIFY(QDir::setCurrent(workDir_.path()));
  QCOMPARE(Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                   QStringLiteral("cctalk")}),
           QString());
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  sheet_->Tabs()->setCurrentIndex(kCcTalkTab);
  QVERIFY(CcTalk()->Initialised());
  auto* tree = sheet_->findChild<CXMLTreeView*>(QStringLiteral("id1023"));
  const auto polls = tree->findItems(QStringLiteral("Command [254] = Simple poll"),
                                     Qt::MatchExactly | Qt::MatchRecursive);
  QCOMPARE(polls.size(), 1);
  tree->setCurrentItem(polls.front());
}

void ServiceTest::cleanupTestCase() {
  sheet_.reset();
  app_.reset();
  vantrel::diag::test::CloseWindows();
  QDir::setCurrent(startDir_);
}

void ServiceTest::Shot(const QString& name) {
  const QString dir = qEnvironmentVariable("K27_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QVERIFY(QDir().mkpath(dir));
  const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
  QVERIFY2(sheet_->grab().save(path, "PNG"), qPrintable(path));
  qInfo("wrote %s", qPrintable(path));
}

void ServiceTest::SendPoll(int device) {
  sheet_->findChild<QLineEdit*>(QStringLiteral("id1025"))->setText(QString::number(device));
  sheet_->findChild<QPushButton*>(QStringLiteral("id1014"))->click();
}

void ServiceTest::TransactionsSavedLoggedAndExportedAsJson() {
  LogKeeper* keeper = CcTalk()->Keeper();
  const QString logPath = files_.filePath(QStringLiteral("cctalk.log"));
  QVERIFY(keeper->StartFileLog(logPath));
  const int first = Transactions()->topLevelItemCount();
  SendPoll(2);
  SendPoll(3);  // nobody there
  QCOMPARE(Transactions()->topLevelItemCount(), first + 4);
  const QStringList expected{QStringLiteral("[Outgoing] Command [254] = Simple poll"),
                             QStringLiteral("  [02 00 01 fe ff - ...\u00fe\u00ff] ..."),
                             QStringLiteral("[Incoming] Command [0]"),
                             QStringLiteral("  [01 00 02 00 fd - ...\u0000\u00fd] ...")};
  // The file log has the lines as they came, the children indented.
  QTRY_COMPARE(ReadLines(logPath).size(), 7);
  keeper->StopFileLog();
  const QStringList logged = Texts(ReadLines(logPath));
  QCOMPARE(logged[0], expected[0]);
  QCOMPARE(logged[2], expected[2]);
  QVERIFY2(logged[1].startsWith(QStringLiteral("  [02 00 01 fe ff - ")), qPrintable(logged[1]));
  QCOMPARE(logged[6], QStringLiteral("[Incoming] Timeout - no command received"));

  // Saved whole, read back with the same times.
  const QString savePath = files_.filePath(QStringLiteral("cctalk.txt"));
  QVERIFY(keeper->Save(savePath));
  const QStringList saved = ReadLines(savePath);
  QCOMPARE(saved.size(), keeper->Lines().size());
  QCOMPARE(saved.mid(saved.size() - 7), ReadLines(logPath));

  // JSON: command, bytes, decoded fields, time and round trip.
  const QString jsonPath = files_.filePath(QStringLiteral("cctalk.json"));
  QString error;
  QVERIFY2(CcTalk()->Journal().SaveJson(jsonPath, &error), qPrintable(error));
  QFile file(jsonPath);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QJsonParseError parse{};
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
  QCOMPARE(parse.error, QJsonParseError::NoError);
  const QJsonArray list = doc.object().value(QStringLiteral("transactions")).toArray();
  QVERIFY(list.size() >= 2);
  const QJsonObject good = list[list.size() - 2].toObject();
  QCOMPARE(good[QStringLiteral("command")].toString(),
           QStringLiteral("Command [254] = Simple poll"));
  QCOMPARE(good[QStringLiteral("request")].toString(), QStringLiteral("02 00 01 fe ff"));
  QCOMPARE(good[QStringLiteral("reply")].toString(), QStringLiteral("01 00 02 00 fd"));
  QCOMPARE(good[QStringLiteral("outcome")].toString(), QStringLiteral("reply"));
  const QJsonObject fields = good[QStringLiteral("replyFields")].toObject();
  QCOMPARE(fields[QStringLiteral("destination")].toInt(), 1);
  QCOMPARE(fields[QStringLiteral("source")].toInt(), 2);
  QCOMPARE(fields[QStringLiteral("header")].toInt(), 0);
  QCOMPARE(fields[QStringLiteral("dataCount")].toInt(), 0);
  QVERIFY(fields[QStringLiteral("checksumValid")].toBool());
  QCOMPARE(good[QStringLiteral("requestFields")].toObject()[QStringLiteral("header")].toInt(), 254);
  QVERIFY(good[QStringLiteral("roundTripMs")].toDouble() > 0);
  QVERIFY(kStamp.match(good[QStringLiteral("time")].toString()).hasMatch());
  const QJsonObject silent = list[list.size() - 1].toObject();
  QCOMPARE(silent[QStringLiteral("outcome")].toString(), QStringLiteral("timeout"));
  QVERIFY(!silent.contains(QStringLiteral("roundTripMs")));
}

void ServiceTest::ScanFindsOnlyTheSimulatedDevice() {
  auto* toggle = sheet_->findChild<QPushButton*>(QStringLiteral("serviceSwitch"));
  QVERIFY(toggle != nullptr);
  CcTalkServicePanel* panel = CcTalk()->Service();
  QVERIFY(!panel->isVisible());
  toggle->click();
  QVERIFY(panel->isVisible());
  panel->setCurrentIndex(0);
  const int listed = Transactions()->topLevelItemCount();
  sheet_->findChild<QPushButton*>(QStringLiteral("scanStart"))->click();
  QVERIFY(panel->Scan()->Running());
  // Stepped from a timer: the window keeps handling events while it runs.
  QTRY_VERIFY_WITH_TIMEOUT(panel->Scan()->Done() > 3, 20000);
  QVERIFY(panel->Scan()->Running());
  QTRY_VERIFY_WITH_TIMEOUT(!panel->Scan()->Running(), 150000);
  const auto& devices = panel->Scan()->Devices();
  QCOMPARE(devices.size(), std::size_t{1});
  QCOMPARE(devices[0].address, 2);
  QCOMPARE(devices[0].category, QStringLiteral("Coin Acceptor"));
  QCOMPARE(devices[0].productCode, QStringLiteral("K27SimCoin"));
  QCOMPARE(devices[0].serialNumber, QString::number(0x030201));
  QTableWidget* table = panel->ScanTable();
  QCOMPARE(table->rowCount(), 1);
  QCOMPARE(table->item(0, 0)->text(), QStringLiteral("2"));
  QCOMPARE(table->item(0, 2)->text(), QStringLiteral("K27SimCoin"));
  QCOMPARE(panel->Scan()->Done(), 255 + 3);
  // The scan leaves the transaction list alone.
  QCOMPARE(Transactions()->topLevelItemCount(), listed);
  Shot(QStringLiteral("service-cctalk-bus-scan"));

  // Stopped part way.
  panel->StartScan();
  QTRY_VERIFY(panel->Scan()->Done() >= 2);
  sheet_->findChild<QPushButton*>(QStringLiteral("scanStop"))->click();
  QVERIFY(!panel->Scan()->Running());
  QVERIFY(panel->Scan()->Done() < 255);
}

void ServiceTest::RepeatCountsSilentAndAnsweringDevice() {
  CcTalkServicePanel* panel = CcTalk()->Service();
  panel->show();
  panel->setCurrentIndex(1);
  panel->RepeatTimes()->setValue(5);
  panel->RepeatInterval()->setValue(10);

  SendPoll(3);  // a silent address goes to the top of the history
  panel->HistoryList()->setCurrentRow(0);
  panel->StartRepeat();
  QTRY_VERIFY_WITH_TIMEOUT(!panel->Repeat()->Running(), 30000);
  CcTalkRepeat::Counts c = panel->Repeat()->Result();
  QCOMPARE(c.sent, 5);
  QCOMPARE(c.timedOut, 5);
  QCOMPARE(c.good + c.invalid + c.failed, 0);

  SendPoll(2);
  panel->HistoryList()->setCurrentRow(0);
  panel->StartRepeat();
  QTRY_VERIFY_WITH_TIMEOUT(!panel->Repeat()->Running(), 30000);
  c = panel->Repeat()->Result();
  QCOMPARE(c.sent, 5);
  QCOMPARE(c.good, 5);
  QCOMPARE(c.timedOut + c.invalid + c.failed, 0);
  QVERIFY(c.minimumMs > 0);
  QVERIFY(c.minimumMs <= c.medianMs && c.medianMs <= c.maximumMs);
  Shot(QStringLiteral("service-cctalk-repeat"));

  // Until stopped.
  panel->RepeatTimes()->setValue(0);
  panel->StartRepeat();
  QTRY_VERIFY(panel->Repeat()->Result().sent >= 3);
  sheet_->findChild<QPushButton*>(QStringLiteral("repeatStop"))->click();
  QVERIFY(!panel->Repeat()->Running());
  QCOMPARE(panel->Repeat()->Result().good, panel->Repeat()->Result().sent);
}

void ServiceTest::CcTalkHistoryKeepsTwentyAndSendsAgain() {
  CcTalkServicePanel* panel = CcTalk()->Service();
  panel->show();
  panel->setCurrentIndex(2);
  for (int i = 0; i < 25; ++i) {
    CcctalkMessage frame;
    frame.build(static_cast<std::uint8_t>(10 + i), 0, 1, 254);
    const auto bytes = frame.bytes();
    panel->RecordSent(
        {QStringLiteral("poll %1").arg(10 + i), QString(), {bytes.begin(), bytes.end()}});
  }
  QCOMPARE(panel->History().size(), CcTalkServicePanel::kHistoryLength);
  QCOMPARE(panel->HistoryList()->count(), 20);
  QCOMPARE(panel->History().front().text, QStringLiteral("poll 34"));
  QCOMPARE(panel->History().back().text, QStringLiteral("poll 15"));

  // An answered poll, then another entry on top; sent again from the list.
  SendPoll(2);
  CcctalkMessage other;
  other.build(9, 0, 1, 254);
  panel->RecordSent(
      {QStringLiteral("other"), QString(), {other.bytes().begin(), other.bytes().end()}});
  panel->HistoryList()->setCurrentRow(1);
  const int first = Transactions()->topLevelItemCount();
  sheet_->findChild<QPushButton*>(QStringLiteral("sendAgain"))->click();
  QCOMPARE(Transactions()->topLevelItem(first)->text(0),
           QStringLiteral("[Outgoing] Command [254] = Simple poll"));
  QCOMPARE(Transactions()->topLevelItem(first + 1)->text(0),
           QStringLiteral("[Incoming] Command [0]"));
  QCOMPARE(panel->History().front().text, QStringLiteral("Command [254] = Simple poll"));
  QCOMPARE(panel->History().size(), CcTalkServicePanel::kHistoryLength);
  Shot(QStringLiteral("service-cctalk-history"));
  panel->hide();
}

void ServiceTest::SerialDumpTimesAndSave() {
  QCOMPARE(Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                   QStringLiteral("loopback")}),
           QString());
  sheet_->Tabs()->setCurrentIndex(kSerialTab);
  auto* list = sheet_->findChild<CColouredListBox*>(QStringLiteral("id7003"));
  CSerialSendTools* tools = Serial()->SendTools();
  QVERIFY(!tools->TimesSwitch()->isChecked());  // off: the dump looks as it always did
  const int first = list->LineCount();
  sheet_->findChild<QPushButton*>(QStringLiteral("id7002"))->click();
  QTRY_COMPARE(list->LineCount(), first + 2);  // sent and looped back
  QCOMPARE(list->DrawnText(first), list->LineText(first));
  tools->TimesSwitch()->setChecked(true);
  QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 0000 48 65 "))
              .match(list->DrawnText(first))
              .hasMatch());
  Shot(QStringLiteral("service-serial-times"));
  tools->TimesSwitch()->setChecked(false);
  QCOMPARE(list->DrawnText(first), list->LineText(first));

  const QString path = files_.filePath(QStringLiteral("serial.txt"));
  QVERIFY(tools->Keeper()->Save(path));
  const QStringList saved = Texts(ReadLines(path));
  QCOMPARE(saved.size(), list->LineCount());
  // Saved, each line says which way it went.
  QCOMPARE(saved[first], QStringLiteral("sent ") + list->LineText(first));
  QCOMPARE(saved[first + 1], QStringLiteral("recv ") + list->LineText(first + 1));
}

void ServiceTest::SerialHistoryAndTextEntry() {
  CSerialSendTools* tools = Serial()->SendTools();
  QCOMPARE(tools->CurrentEntry(), CSerialSendTools::Entry::kHex);
  auto* list = sheet_->findChild<CColouredListBox*>(QStringLiteral("id7003"));
  for (int i = 0; i < 25; ++i)
    QVERIFY(tools->SendLine(QStringLiteral("%1 0A").arg(i, 2, 16, QLatin1Char('0'))));
  QCOMPARE(tools->History().size(), CSerialSendTools::kHistoryLength);
  QCOMPARE(tools->Line()->count(), 20);
  QCOMPARE(tools->History().front(), QByteArray("\x18\x0a", 2));
  QCOMPARE(tools->Line()->itemText(19), QStringLiteral("05 0A"));
  QVERIFY(!tools->SendLine(QStringLiteral("4G")));  // refused, nothing sent

  tools->SetEntry(CSerialSendTools::Entry::kText);
  QCOMPARE(tools->Line()->itemText(0), QStringLiteral("\\x18\\n"));
  const int before = list->LineCount();
  QVERIFY(tools->SendLine(QStringLiteral("AB\\r\\n")));
  QTRY_VERIFY(Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("sent")})
                  .endsWith(QStringLiteral("41420d0a"), Qt::CaseInsensitive));
  QVERIFY(list->LineCount() > before);
  QCOMPARE(tools->History().front(), QByteArray("AB\r\n"));
  tools->SetEntry(CSerialSendTools::Entry::kHex);
  QCOMPARE(tools->Line()->itemText(0), QStringLiteral("41 42 0D 0A"));
}

void ServiceTest::InputChangesAreLogged() {
  QCOMPARE(Simctl({QStringLiteral("inputs"), QStringLiteral("FFFFFFFFFF")}), QString());
  sheet_->Tabs()->setCurrentIndex(kIoTab);
  auto* log = sheet_->findChild<CInputChangeLog*>(QStringLiteral("inputChangeLog"));
  QVERIFY(log != nullptr);
  QVERIFY(!log->Log()->isVisible());
  auto* input0 = sheet_->findChild<QWidget*>(QStringLiteral("id6002"));
  QTRY_VERIFY(!input0->property("checked").toBool());
  log->Switch()->setChecked(true);
  QVERIFY(log->Log()->isVisible());
  const QString path = files_.filePath(QStringLiteral("inputs.log"));
  QVERIFY(log->Keeper()->StartFileLog(path));
  // Input 0 and dip switch 2 read 0: shown set.
  QCOMPARE(Simctl({QStringLiteral("inputs"), QStringLiteral("FEFFFFFBFF")}), QString());
  QTRY_COMPARE(log->Log()->LineCount(), 2);
  QCOMPARE(log->Log()->LineText(0), QStringLiteral("Input 00 on"));
  QCOMPARE(log->Log()->LineText(1), QStringLiteral("Dip switch 02 on"));
  QCOMPARE(Simctl({QStringLiteral("inputs"), QStringLiteral("FFFFFFFBFF")}), QString());
  QTRY_COMPARE(log->Log()->LineCount(), 3);
  QCOMPARE(log->Log()->LineText(2), QStringLiteral("Input 00 off"));
  QTRY_COMPARE(ReadLines(path).size(), 3);
  QCOMPARE(Texts(ReadLines(path)),
           (QStringList{QStringLiteral("Input 00 on"), QStringLiteral("Dip switch 02 on"),
                        QStringLiteral("Input 00 off")}));
  Shot(QStringLiteral("service-input-changes"));
  // Switched off: no more lines.
  log->Switch()->setChecked(false);
  QCOMPARE(Simctl({QStringLiteral("inputs"), QStringLiteral("FFFFFFFFFF")}), QString());
  QTRY_VERIFY(!sheet_->findChild<QWidget*>(QStringLiteral("id6029"))->property("checked").toBool());
  QCOMPARE(log->Log()->LineCount(), 3);
}

QTEST_MAIN(ServiceTest)
#include "ServiceTest.moc"
