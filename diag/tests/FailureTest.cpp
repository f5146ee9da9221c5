// The sheet when the board, the bus or the daemon fails, against a simulated
// board served by vantrelio: a bus scan on a silent bus, echo errors that
// pile up over a run, commands the board does not answer (muted through the
// simulator's console), an unplugged board and a restarted daemon. With
// K27_SCREENSHOT_DIR set, the failure views are written there as PNGs.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <memory>

#include "CColouredListBox.h"
#include "CHexEntryEdit.h"
#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "pages/cctalk/CXMLTreeView.h"
#include "SimBoardProbe.h"
#include "SimDaemon.h"
#include "PageList.h"
#include "pages/about/AboutPage.h"
#include "pages/memory/EEPROMPage.h"
#include "pages/memory/SRAMPage.h"
#include "pages/common/CBoardConnection.h"
#include "pages/cctalk/CCTalkPage.h"
#include "pages/memory/CMemoryPage.h"
#include "pages/cctalk/CTransactionView.h"
#include "cctalk/CcTalkErrorText.h"
#include "pages/cctalk/CcTalkServicePanel.h"
#include "pages/io/IOPage.h"
#include "pages/memory/CMemoryFilePanel.h"
#include "pages/reels/ReelPage.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const int kCcTalkTab = vantrel::diag::PageTab<CCTalkPage>();
const int kIoTab = vantrel::diag::PageTab<IOPage>();
const int kEepromTab = vantrel::diag::PageTab<EEPROMPage>();
const int kSramTab = vantrel::diag::PageTab<SRAMPage>();
const int kReelsTab = vantrel::diag::PageTab<ReelPage>();
const int kAboutTab = vantrel::diag::PageTab<AboutPage>();
// Each stall waits for the daemon's 5 s limit; a few of them in a row, on a
// loaded machine, stay well inside this.
constexpr int kStallWaitMs = 40000;

const char kDictionary[] = R"(<?xml version="1.0"?>
<Root><Transaction_Dictionary type="Test Coin" version="2.1">
  <Transaction><Transmit_Header code="254">Simple poll</Transmit_Header>
    <Receive code="0">ACK</Receive></Transaction>
</Transaction_Dictionary></Root>
)";

const QString kNoPower = QStringLiteral("no 12V power");
const QString kLost = QStringLiteral("The connection to the board is lost");
const QString kReinitialised = QStringLiteral("The board's connection was re-initialised: ");

// Lines of a log that contain `text`.
QStringList LinesWith(const CColouredListBox* log, const QString& text) {
  QStringList lines;
  for (int i = 0; i < log->LineCount(); ++i)
    if (log->LineText(i).contains(text)) lines << log->LineText(i);
  return lines;
}

}  // namespace

class FailureTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void cleanupTestCase();

  void scanOnASilentBusFailsAtTheFirstAddress();
  void echoErrorsAreShownOncePerItemAndBounded();
  void muteInputPollStopsPollingUntilResumed();
  void muteReelStatusIsLoggedOnceAndResumesOnReselect();
  void muteActivationCostsOneStall();
  void importStopsAtTheFirstTimeLimit();
  void unplugIsSaidOnceAndTheNextActionReinitialises();
  void daemonRestartOnAMemoryPage();
  void replugOnTheCcTalkPage();
  void muteSetConfigIsNotAskedTwice();
  void repeatStopsAtAMuteBoard();

 private:
  QString Simctl(const QStringList& words) {
    return vantrel::diag::test::SimConsole(daemon_.Folder(), words);
  }
  // Attaches `device` (cctalk, silent, ...) to port B; what k27simctl said.
  QString AttachToPortB(const char* device) {
    return Simctl({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                   QLatin1String(device)});
  }
  // Leaves the next `times` commands `command` on `channel` unanswered (all
  // of them without `times`); what k27simctl said.
  QString Mute(const char* channel, const char* command, const char* times = nullptr) {
    QStringList words{QStringLiteral("fault"), QLatin1String(channel), QLatin1String(command),
                      QStringLiteral("noreply")};
    if (times != nullptr) words << QLatin1String(times);
    return Simctl(words);
  }
  // Shows the ccTalk page with the dictionary's Simple poll selected; false
  // when the dictionary does not list it once.
  bool SelectSimplePoll() {
    ShowTab<CCTalkPage>(kCcTalkTab);
    auto* tree = sheet_->findChild<CXMLTreeView*>(QStringLiteral("id1023"));
    const auto polls = tree->findItems(QStringLiteral("Command [254] = Simple poll"),
                                       Qt::MatchExactly | Qt::MatchRecursive);
    if (polls.size() != 1) return false;
    tree->setCurrentItem(polls.front());
    return true;
  }
  template <class Page>
  Page* ShowTab(int index) {
    sheet_->Tabs()->setCurrentIndex(index);
    return qobject_cast<Page*>(sheet_->Tabs()->widget(index));
  }
  void Shot(const QString& name);

  QTemporaryDir workDir_;
  QTemporaryDir files_;
  QString startDir_;
  vantrel::diag::test::SimDaemon daemon_;
  std::unique_ptr<vantrel::diag::test::ExchangeTrace> trace_;
  std::unique_ptr<CK27DiagApp> app_;
  std::unique_ptr<CK27DiagSheet> sheet_;
};

void FailureTest::initTestCase() {
  daemon_.UseFolder();
  trace_ = std::make_unique<vantrel::diag::test::ExchangeTrace>(daemon_.AddTrace());
  daemon_.Start();
  QVERIFY(workDir_.isValid() && files_.isValid());
  std::ofstream(QDir(workDir_.path()).filePath(QStringLiteral("test.xml")).toStdString())
      << kDictionary;
  startDir_ = QDir::currentPath();
  QVERIFY(QDir::setCurrent(workDir_.path()));
}

void FailureTest::init() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  QVERIFY(app_->Initialised() != 0);
}

void FailureTest::cleanup() {
  sheet_.reset();
  app_.reset();
  vantrel::diag::test::CloseWindows();
  // Whatever a case left muted or unplugged is mended for the next one.
  Simctl({QStringLiteral("plug")});
  for (const char* command : {"4B", "5C", "56"})
    Simctl({QStringLiteral("fault"), QStringLiteral("1"), QLatin1String(command),
            QStringLiteral("none")});
  Simctl(
      {QStringLiteral("fault"), QStringLiteral("2"), QStringLiteral("04"), QStringLiteral("none")});
}

void FailureTest::cleanupTestCase() { QDir::setCurrent(startDir_); }

void FailureTest::Shot(const QString& name) {
  const QString dir = qEnvironmentVariable("K27_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QVERIFY(QDir().mkpath(dir));
  const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
  QVERIFY2(sheet_->grab().save(path, "PNG"), qPrintable(path));
  qInfo("wrote %s", qPrintable(path));
}

// A bus without its echo cannot be scanned: the scan stops at the first
// address and says why, instead of "Done: 0 device(s) found".
void FailureTest::scanOnASilentBusFailsAtTheFirstAddress() {
  QCOMPARE(AttachToPortB("silent"), QString());
  auto* page = ShowTab<CCTalkPage>(kCcTalkTab);
  sheet_->findChild<QPushButton*>(QStringLiteral("serviceSwitch"))->click();
  CcTalkServicePanel* panel = page->Service();
  auto* status = panel->findChild<QLabel*>(QStringLiteral("scanStatus"));
  QVERIFY(status != nullptr);
  sheet_->findChild<QPushButton*>(QStringLiteral("scanStart"))->click();
  QTRY_VERIFY_WITH_TIMEOUT(!panel->Scan()->Running(), kStallWaitMs);
  QCOMPARE(panel->Scan()->Done(), 1);
  QCOMPARE(panel->Scan()->FailedAddress(), 1);
  QVERIFY2(panel->Scan()->Failure().contains(kNoPower), qPrintable(panel->Scan()->Failure()));
  QVERIFY2(status->text().startsWith(QStringLiteral(
               "Failed at address 1: the bus could not be used, 0 device(s) found before.")),
           qPrintable(status->text()));
  QCOMPARE(status->text().count(kNoPower), 1);
  QVERIFY(sheet_->findChild<QPushButton*>(QStringLiteral("scanStart"))->isEnabled());
  // The whole reason is in view once the layout has taken the new text.
  QTRY_VERIFY(status->height() >= status->heightForWidth(status->width()));
  Shot(QStringLiteral("failure-cctalk-scan-silent-bus"));

  // Without the board the port cannot be configured, and the scan says why.
  QCOMPARE(Simctl({QStringLiteral("unplug")}), QString());
  QTRY_VERIFY_WITH_TIMEOUT(sheet_->Connection()->Lost(), kStallWaitMs);
  panel->StartScan();
  QVERIFY(!panel->Scan()->Running());
  QVERIFY2(status->text().startsWith(QStringLiteral(
               "The port could not be configured: Output - Vantrel.SetConfig () = error: ")),
           qPrintable(status->text()));
  QCOMPARE(Simctl({QStringLiteral("plug")}), QString());
  QTRY_VERIFY_WITH_TIMEOUT(sheet_->Connection()->Stale(), kStallWaitMs);
  sheet_->Connection()->Reinitialise();

  // With the device there again the same scan ends as before.
  QCOMPARE(AttachToPortB("cctalk"), QString());
  panel->findChildren<QSpinBox*>().at(1)->setValue(3);  // "to 3": a short scan
  panel->StartScan();
  QTRY_VERIFY_WITH_TIMEOUT(!panel->Scan()->Running(), kStallWaitMs);
  QVERIFY(panel->Scan()->Failure().isEmpty());
  QCOMPARE(status->text(), QStringLiteral("Done: 1 device(s) found."));
}

// The echo message keeps every echo error of the run (several of them by
// now); each item shows its own once, and no item grows without end.
void FailureTest::echoErrorsAreShownOncePerItemAndBounded() {
  QCOMPARE(AttachToPortB("silent"), QString());
  QVERIFY(SelectSimplePoll());
  auto* list = sheet_->findChild<CTransactionView*>(QStringLiteral("id1022"));
  for (int i = 0; i < 3; ++i)
    QTest::mouseClick(sheet_->findChild<QPushButton*>(QStringLiteral("id1014")), Qt::LeftButton);
  QCOMPARE(list->topLevelItemCount(), 6);  // outgoing and error, three times
  const QTreeWidgetItem* last = list->topLevelItem(5);
  QCOMPARE(last->text(0), QStringLiteral("[Error] CcctalkMessage::send () { error: local echo "
                                         "expected - CcctalkMessage::receive () { error: no 12V "
                                         "power }  }"));
  QCOMPARE(CTransactionView::RecordOf(last)->tip, last->text(0));

  // Bounded: a text past the bound is cut and marked.
  const QString huge(5 * kMaxShownError, QLatin1Char('x'));
  const QString shown = BoundedErrorText(huge);
  QCOMPARE(shown.size(), kMaxShownError);
  QVERIFY(shown.endsWith(QStringLiteral("...")));
  QCOMPARE(BoundedErrorText(QStringLiteral("short")), QStringLiteral("short"));
  // Texts without an echo error stay whole.
  QCOMPARE(ShownCcTalkError("CcctalkMessage::send () { error: local echo expected - received "
                            "unequivalent data }"),
           QStringLiteral("CcctalkMessage::send () { error: local echo expected - received "
                          "unequivalent data }"));
}

// A mute input poll costs one wait: the page stops polling and says so; each
// Resume tries once more, and polling goes on when the board answers again.
void FailureTest::muteInputPollStopsPollingUntilResumed() {
  QCOMPARE(Mute("1", "4B", "2"), QString());
  auto* io = ShowTab<IOPage>(kIoTab);
  QTRY_VERIFY_WITH_TIMEOUT(io->Stalled(), kStallWaitMs);
  QVERIFY(!io->Polling());
  QVERIFY(io->Notice()->isVisible());
  QCOMPARE(io->NoticeButton()->text(), QStringLiteral("Resume"));
  QVERIFY(io->findChild<QLabel*>(QStringLiteral("pollingNoticeText"))
              ->text()
              .contains(QStringLiteral("VantrelUSB::GetInputs ()")));

  QTest::mouseClick(io->NoticeButton(), Qt::LeftButton);
  QVERIFY(!io->Stalled());
  QTRY_VERIFY_WITH_TIMEOUT(io->Stalled(), kStallWaitMs);  // the second mute reply
  QVERIFY(!io->Polling());

  QTest::mouseClick(io->NoticeButton(), Qt::LeftButton);
  QVERIFY(io->Polling());
  QVERIFY(!io->Notice()->isVisible());
  // The board answers again: input 0 set low shows checked.
  QCOMPARE(Simctl({QStringLiteral("inputs"), QStringLiteral("FEFFFFFFFF")}), QString());
  auto* input0 = io->findChild<QCheckBox*>(QStringLiteral("id6002"));
  QTRY_VERIFY_WITH_TIMEOUT(input0->isChecked(), kStallWaitMs);
  QVERIFY(!io->Stalled());
  QCOMPARE(Simctl({QStringLiteral("inputs"), QStringLiteral("FFFFFFFFFF")}), QString());
}

// The Reels page writes the stall once, in red, and polls again when the tab
// is selected again.
void FailureTest::muteReelStatusIsLoggedOnceAndResumesOnReselect() {
  QCOMPARE(Mute("1", "5C", "1"), QString());
  auto* reels = ShowTab<ReelPage>(kReelsTab);
  QTRY_VERIFY_WITH_TIMEOUT(reels->Stalled(), kStallWaitMs);
  QVERIFY(!reels->Ticking());
  QTRY_VERIFY(!LinesWith(reels->Log(), QStringLiteral("Polling stopped")).isEmpty());
  const QString stall = QStringLiteral(
      "Polling stopped: VantrelUSB::GetReelStatus () got no answer within the time limit");
  const QStringList lines = LinesWith(reels->Log(), stall);
  QCOMPARE(lines.size(), 1);
  const int at = reels->Log()->LineCount() - 1;
  QVERIFY2(reels->Log()->LineText(at).startsWith(stall), qPrintable(reels->Log()->LineText(at)));
  QCOMPARE(reels->Log()->LineColour(at), 255);
  Shot(QStringLiteral("failure-reels-polling-stopped"));

  sheet_->Tabs()->setCurrentIndex(kAboutTab);
  sheet_->Tabs()->setCurrentIndex(kReelsTab);
  QVERIFY(reels->Ticking());
  QVERIFY(!reels->Stalled());
  QVERIFY(!reels->Notice()->isVisible());
  const int before = reels->Log()->LineCount();
  trace_->Mark();
  QTRY_VERIFY_WITH_TIMEOUT(trace_->CommandsSince().filter(QStringLiteral("5C")).size() >= 3,
                           kStallWaitMs);
  QCOMPARE(LinesWith(reels->Log(), QStringLiteral("GetReelStatus () = error:")).size(), 1);
  QVERIFY(reels->Log()->LineCount() >= before);
}

// The first activation call that gets no answer ends the activation: the
// calls after it are not made, so a mute board costs one wait, not ten.
void FailureTest::muteActivationCostsOneStall() {
  QCOMPARE(Mute("1", "56", "1"), QString());
  auto* reels = ShowTab<ReelPage>(kReelsTab);
  QTRY_VERIFY_WITH_TIMEOUT(reels->Stalled(), kStallWaitMs);
  QTRY_COMPARE(LinesWith(reels->Log(), QStringLiteral("Polling stopped: VantrelUSB::ConfigureReels "
                                                      "(3, 96, 0) got no answer"))
                   .size(),
               1);
  QCOMPARE(LinesWith(reels->Log(), QStringLiteral("ConfigureReels (3, 96, 0) = error:")).size(), 1);
  QVERIFY(LinesWith(reels->Log(), QStringLiteral("SpinRamp")).isEmpty());
  QVERIFY(LinesWith(reels->Log(), QStringLiteral("ReelSynchroniseEnable")).isEmpty());
  QVERIFY(!reels->Ticking());
}

// An import whose write is not answered stops there and does not ask the
// mute board for the window again.
void FailureTest::importStopsAtTheFirstTimeLimit() {
  auto* page = ShowTab<CMemoryPage>(kEepromTab);
  page->AddressEdit()->setText(QStringLiteral("0x100"));
  page->CountEdit()->setText(QStringLiteral("64"));
  QTest::mouseClick(page->UpdateButton(), Qt::LeftButton);
  const QString path = files_.filePath(QStringLiteral("mute.bin"));
  {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(64, '\x5A'));
  }
  auto* panel = page->findChild<CMemoryFilePanel*>(QStringLiteral("memoryFilePanel"));
  QVERIFY(panel != nullptr);
  QCOMPARE(Mute("2", "04", "1"), QString());
  trace_->Mark();
  QSignalSpy finished(panel, &CMemoryFilePanel::Finished);
  panel->ImportFrom(path, vantrel::memfile::FileFormat::kBinary);
  QVERIFY(finished.wait(kStallWaitMs));
  const QString last = page->Log()->LineText(page->Log()->LineCount() - 1);
  QVERIFY2(last.startsWith(QStringLiteral("[Error] VantrelUSB::WriteEEPROM (0x00000100, 64)")),
           qPrintable(last));
  QVERIFY2(last.contains(QStringLiteral("(no answer within the time limit)")), qPrintable(last));
  for (const QString& line : trace_->Since())
    QVERIFY2(!line.contains(QStringLiteral("ch=2 out=05")), qPrintable(line));
  QVERIFY(page->findChild<QPushButton*>(QStringLiteral("memoryCancel")) != nullptr);
}

// An unplugged board is said once in the page's log; once it is back, the
// technician's next press re-initialises the connection and the page polls
// again.
void FailureTest::unplugIsSaidOnceAndTheNextActionReinitialises() {
  auto* reels = ShowTab<ReelPage>(kReelsTab);
  QVERIFY(reels->Ticking());
  QCOMPARE(Simctl({QStringLiteral("unplug")}), QString());
  QTRY_VERIFY_WITH_TIMEOUT(!LinesWith(reels->Log(), kLost).isEmpty(), kStallWaitMs);
  QVERIFY(!reels->Ticking());
  QVERIFY(reels->Notice()->isVisible());
  QVERIFY(!reels->NoticeButton()->isEnabled());
  // Selecting the tab again says nothing new and makes no calls.
  sheet_->Tabs()->setCurrentIndex(kAboutTab);
  sheet_->Tabs()->setCurrentIndex(kReelsTab);
  QCOMPARE(LinesWith(reels->Log(), kLost).size(), 1);
  QVERIFY(!reels->Ticking());

  QCOMPARE(Simctl({QStringLiteral("plug")}), QString());
  QTRY_VERIFY_WITH_TIMEOUT(reels->NoticeButton()->isEnabled(), kStallWaitMs);
  QVERIFY(sheet_->Connection()->Stale());
  QTest::mouseClick(reels->findChild<QLineEdit*>(QStringLiteral("id2003")), Qt::LeftButton);
  const QStringList done = LinesWith(reels->Log(), kReinitialised);
  QCOMPARE(done.size(), 1);
  QVERIFY2(done.front().endsWith(QStringLiteral("Initialised")), qPrintable(done.front()));
  QVERIFY(app_->Initialised() != 0);
  QVERIFY(reels->Ticking());
  QVERIFY(!reels->Notice()->isVisible());
  const int failures = LinesWith(reels->Log(), QStringLiteral("= error:")).size();
  trace_->Mark();
  QTRY_VERIFY_WITH_TIMEOUT(trace_->CommandsSince().filter(QStringLiteral("5C")).size() >= 3,
                           kStallWaitMs);
  QCOMPARE(LinesWith(reels->Log(), QStringLiteral("= error:")).size(), failures);
}

// The memory pages do not poll: after a daemon restart the log says the
// connection is lost, and the next Update View re-initialises and reads.
void FailureTest::daemonRestartOnAMemoryPage() {
  auto* page = ShowTab<CMemoryPage>(kSramTab);
  CColouredListBox* log = page->Log();
  daemon_.Stop();
  QTRY_VERIFY_WITH_TIMEOUT(!LinesWith(log, kLost).isEmpty(), kStallWaitMs);
  QVERIFY(LinesWith(log, kLost).front().startsWith(QStringLiteral("[Error] ")));
  daemon_.Start();
  QTRY_VERIFY_WITH_TIMEOUT(sheet_->Connection()->Stale(), kStallWaitMs);
  const int before = log->LineCount();
  QTest::mouseClick(page->UpdateButton(), Qt::LeftButton);
  QCOMPARE(LinesWith(log, kLost).size(), 1);
  QCOMPARE(log->LineCount(), before + 1);
  QCOMPARE(log->LineText(before),
           QStringLiteral("[Success] ") + kReinitialised + QStringLiteral("Initialised"));
  QVERIFY(!sheet_->Connection()->Stale());
}

// The ccTalk page notes the loss in its transaction list; after the board is
// back the next "Host >>> Device" re-initialises first and then goes through.
void FailureTest::replugOnTheCcTalkPage() {
  QCOMPARE(AttachToPortB("cctalk"), QString());
  QVERIFY(SelectSimplePoll());
  auto* list = sheet_->findChild<CTransactionView*>(QStringLiteral("id1022"));
  QCOMPARE(Simctl({QStringLiteral("unplug")}), QString());
  QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItemCount(), 1, kStallWaitMs);
  QVERIFY2(list->topLevelItem(0)->text(0).startsWith(QStringLiteral("[Error] ") + kLost),
           qPrintable(list->topLevelItem(0)->text(0)));
  QCOMPARE(Simctl({QStringLiteral("plug")}), QString());
  QTRY_VERIFY_WITH_TIMEOUT(sheet_->Connection()->Stale(), kStallWaitMs);
  QCOMPARE(AttachToPortB("cctalk"), QString());
  QTest::mouseClick(sheet_->findChild<QPushButton*>(QStringLiteral("id1014")), Qt::LeftButton);
  QCOMPARE(list->topLevelItemCount(), 4);
  QCOMPARE(list->topLevelItem(1)->text(0),
           QStringLiteral("[Success] ") + kReinitialised + QStringLiteral("Initialised"));
  QVERIFY(list->topLevelItem(2)->text(0).startsWith(QStringLiteral("[Outgoing] ")));
  QCOMPARE(list->topLevelItem(3)->text(0), QStringLiteral("[Incoming] Command [0]"));
}

// Port B's configuration gets no answer: the Serial Port page's activation
// waits once (no second try, no polling after it) and says so.
void FailureTest::muteSetConfigIsNotAskedTwice() {
  QCOMPARE(Mute("4", "61", "1"), QString());
  auto* serial = ShowTab<CActivePage>(3);
  QVERIFY(serial != nullptr);
  QTRY_VERIFY_WITH_TIMEOUT(serial->Stalled(), kStallWaitMs);
  QVERIFY(!serial->Ticking());
  QVERIFY(serial->Notice()->isVisible());
  // The one mute reply is used up; Resume polls again without a wait.
  trace_->Mark();
  QTest::mouseClick(serial->NoticeButton(), Qt::LeftButton);
  QVERIFY(serial->Ticking());
  QTRY_VERIFY_WITH_TIMEOUT(trace_->CommandsSince().filter(QStringLiteral("66")).size() >= 3,
                           kStallWaitMs);
  QVERIFY(!serial->Stalled());
}

// A repeat on a board that does not answer stops at the first wait instead
// of waiting once per repeat.
void FailureTest::repeatStopsAtAMuteBoard() {
  QCOMPARE(AttachToPortB("cctalk"), QString());
  QVERIFY(SelectSimplePoll());
  auto* page = sheet_->findChild<CCTalkPage*>(QStringLiteral("id104"));
  QTest::mouseClick(sheet_->findChild<QPushButton*>(QStringLiteral("id1014")), Qt::LeftButton);
  CcTalkServicePanel* panel = page->Service();
  panel->RepeatTimes()->setValue(5);
  panel->RepeatInterval()->setValue(0);
  QCOMPARE(Mute("4", "66"), QString());
  panel->StartRepeat();
  QTRY_VERIFY_WITH_TIMEOUT(!panel->Repeat()->Running(), kStallWaitMs);
  QCOMPARE(panel->Repeat()->Result().sent, 1);
  QCOMPARE(panel->Repeat()->Result().failed, 1);
  QVERIFY2(
      panel->Repeat()->LastError().endsWith(QStringLiteral("(no answer within the time limit)")),
      qPrintable(panel->Repeat()->LastError()));
}

QTEST_MAIN(FailureTest)
#include "FailureTest.moc"
