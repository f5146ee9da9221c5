// How the sheet looks and answers, against a simulated board served by
// vantrelio: a long error caption that must neither widen the sheet nor push
// its Close button off a 1280x1024 screen, the ccTalk command tree beside
// the service panel, and the output indicators as assistive technology sees
// them. With K27_SCREENSHOT_DIR set, the long caption is saved there as
// cctalk-long-caption.png.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "CCaptionBox.h"
#include "CColouredListBox.h"
#include "LogKeeper.h"
#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "CSensitiveButton.h"
#include "pages/cctalk/CXMLTreeView.h"
#include "SimBoardProbe.h"
#include "SimDaemon.h"
#include "PageList.h"
#include "pages/about/AboutPage.h"
#include "pages/cctalk/CCTalkPage.h"
#include "pages/io/IOPage.h"
#include "pages/io/CInputChangeLog.h"
#include "pages/serial/SerialPortPage.h"
#include "pages/serial/CSerialSendTools.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const QRect kScreen(0, 0, 1280, 1024);
const int kCcTalkTab = vantrel::diag::PageTab<CCTalkPage>();
const int kIoTab = vantrel::diag::PageTab<IOPage>();
const int kSerialTab = vantrel::diag::PageTab<SerialPortPage>();
const int kAboutTab = vantrel::diag::PageTab<AboutPage>();

QPushButton* CloseButton(CK27DiagSheet* sheet) {
  auto* box = sheet->findChild<QDialogButtonBox*>();
  return box != nullptr ? box->button(QDialogButtonBox::Close) : nullptr;
}

QRect GlobalRect(QWidget* widget) {
  return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

}  // namespace

class ViewTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanup();
  void cleanupTestCase();

  void commandTreeStaysReadableBesideTheServicePanel();
  void accessibleToggleSwitchesTheBoardOutput();
  void serialWarningLeavesTheRowInPlace();
  void savedSerialLogSaysWhichWayEachLineWent();
  void inputChangesShowTheirTimes();
  // Last: it unplugs the board.
  void longCaptionKeepsTheSheetOnTheScreen();

 private:
  QString Console(const QStringList& words) const {
    return vantrel::diag::test::SimConsole(daemon_.Folder(), words);
  }

  vantrel::diag::test::SimDaemon daemon_;
  QString startDir_;
};

void ViewTest::initTestCase() {
  daemon_.UseFolder();
  daemon_.Start();
  // The ccTalk page reads the shipped dictionaries.
  startDir_ = QDir::currentPath();
  QVERIFY(QDir::setCurrent(QStringLiteral(K27_DICTIONARY_DIR)));
}

void ViewTest::cleanup() {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (window->isVisible()) QTest::mouseMove(window, QPoint(1, 1));
  vantrel::diag::test::CloseWindows();
}

void ViewTest::cleanupTestCase() {
  daemon_.Stop();
  QDir::setCurrent(startDir_);
}

// With the service panel open, at the sheet's own size and at 1024x768, the
// command tree is wide enough for a command's text, measured in its font.
void ViewTest::commandTreeStaysReadableBesideTheServicePanel() {
  CK27DiagApp app;
  auto sheet = vantrel::diag::test::OpenSheet(app, kCaption);
  sheet->Tabs()->setCurrentIndex(kCcTalkTab);
  auto* tree = sheet->findChild<CXMLTreeView*>(QStringLiteral("id1023"));
  QVERIFY(tree != nullptr);
  const auto found = tree->findItems(QStringLiteral("Command [254] = Simple poll"),
                                     Qt::MatchExactly | Qt::MatchRecursive);
  QVERIFY(!found.isEmpty());
  QTreeWidgetItem* command = found.front();
  tree->expandAll();
  auto* service = sheet->findChild<QPushButton*>(QStringLiteral("serviceSwitch"));
  QVERIFY(service != nullptr);
  QCoreApplication::processEvents();
  // The size the sheet opened at, before the panel takes its room.
  const QSize opened = sheet->size();
  service->click();

  for (const QSize size : {opened, QSize(1024, 768)}) {
    sheet->resize(size);
    QCoreApplication::processEvents();
    // The sheet may widen to make room, but it still fits a 1024x768 screen.
    QVERIFY2(sheet->width() <= 1024, qPrintable(QStringLiteral("%1 wide").arg(sheet->width())));
    tree->scrollToItem(command);
    QCoreApplication::processEvents();
    const int depth = 2;  // dictionary, then its commands
    const int needed =
        depth * tree->indentation() + tree->fontMetrics().horizontalAdvance(command->text(0));
    QVERIFY2(tree->viewport()->width() >= needed,
             qPrintable(QStringLiteral("%1 px shown of %2 at %3x%4")
                            .arg(tree->viewport()->width())
                            .arg(needed)
                            .arg(size.width())
                            .arg(size.height())));
  }
}

// The action that assistive technology offers does what the click does: the
// page toggles the indicator and sends the output image to the board.
void ViewTest::accessibleToggleSwitchesTheBoardOutput() {
  CK27DiagApp app;
  auto sheet = vantrel::diag::test::OpenSheet(app, kCaption);
  QTest::mouseMove(sheet.get(), QPoint(1, 1));
  sheet->Tabs()->setCurrentIndex(kIoTab);
  QCoreApplication::processEvents();
  auto* lamp0 = sheet->findChild<CSensitiveButton*>(QStringLiteral("id6034"));
  QVERIFY(lamp0 != nullptr);
  QTRY_COMPARE(Console({QStringLiteral("outputs")}),
               QStringLiteral("on=0000000000 off=0000000000 brightness=10"));

  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(lamp0);
  QVERIFY(accessible != nullptr);
  QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("00"));
  QVERIFY(accessible->state().checkable);
  QAccessibleActionInterface* actions = accessible->actionInterface();
  QVERIFY(actions != nullptr);
  const QStringList names = actions->actionNames();
  QVERIFY(names.contains(QAccessibleActionInterface::toggleAction()));
  actions->doAction(QAccessibleActionInterface::toggleAction());
  QVERIFY(lamp0->isChecked());
  QVERIFY(accessible->state().checked);
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0100000000 off=0000000000 brightness=10"));
  // Every action offered acts on the board; the second one switches it off.
  for (const QString& name : names) {
    const bool before = lamp0->isChecked();
    actions->doAction(name);
    QCOMPARE(lamp0->isChecked(), !before);
    QCOMPARE(Console({QStringLiteral("outputs")}),
             lamp0->isChecked() ? QStringLiteral("on=0100000000 off=0000000000 brightness=10")
                                : QStringLiteral("on=0000000000 off=0000000000 brightness=10"));
  }
}

// The warning for a line that does not parse takes room kept for it: the
// entry row does not move under the technician's hands.
void ViewTest::serialWarningLeavesTheRowInPlace() {
  CK27DiagApp app;
  auto sheet = vantrel::diag::test::OpenSheet(app, kCaption);
  sheet->Tabs()->setCurrentIndex(kSerialTab);
  auto* tools = sheet->findChild<CSerialSendTools*>(QStringLiteral("serialSendTools"));
  QVERIFY(tools != nullptr);
  auto* problem = tools->findChild<QLabel*>(QStringLiteral("sendLineProblem"));
  auto* send = tools->findChild<QPushButton*>(QStringLiteral("sendLineButton"));
  QVERIFY(problem != nullptr && send != nullptr);
  QCoreApplication::processEvents();
  const QRect line = tools->Line()->geometry();
  const QRect button = send->geometry();
  const QRect times = tools->TimesSwitch()->geometry();
  QVERIFY(!tools->SendLine(QStringLiteral("zz")));
  QCoreApplication::processEvents();
  QVERIFY(problem->isVisible());
  QCOMPARE(problem->text(), QStringLiteral("not hex"));
  QVERIFY(problem->fontMetrics().horizontalAdvance(problem->text()) <= problem->width());
  QCOMPARE(tools->Line()->geometry(), line);
  QCOMPARE(send->geometry(), button);
  QCOMPARE(tools->TimesSwitch()->geometry(), times);
  QVERIFY(tools->SendLine(QStringLiteral("41")));
  QCoreApplication::processEvents();
  QVERIFY(!problem->isVisible());
  QCOMPARE(tools->Line()->geometry(), line);
}

// On screen the colour tells sent from received; saved, copied or logged to
// a file, the words do. A received line that grows reaches the file once.
void ViewTest::savedSerialLogSaysWhichWayEachLineWent() {
  QCOMPARE(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                    QStringLiteral("silent")}),
           QString());
  CK27DiagApp app;
  auto sheet = vantrel::diag::test::OpenSheet(app, kCaption);
  sheet->Tabs()->setCurrentIndex(kSerialTab);
  auto* page = qobject_cast<SerialPortPage*>(sheet->Tabs()->widget(kSerialTab));
  QVERIFY(page != nullptr);
  auto* dump = sheet->findChild<CColouredListBox*>(QStringLiteral("id7003"));
  LogKeeper* keeper = page->SendTools()->Keeper();
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("serial.log"));
  QVERIFY(keeper->StartFileLog(path));

  QVERIFY(page->SendTools()->SendLine(QStringLiteral("48 69")));
  QCOMPARE(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("push"),
                    QStringLiteral("414243")}),
           QString());
  QSignalSpy held(keeper, &LogKeeper::newestLineHeld);
  QTRY_COMPARE(page->RxCount(), 3);
  // Resting past the keeper's settling time, still partial.
  QTRY_VERIFY_WITH_TIMEOUT(held.size() >= 2, LogKeeper::kSettleMs * 20);
  QCOMPARE(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("push"),
                    QStringLiteral("4445")}),
           QString());
  QTRY_COMPARE(page->RxCount(), 5);
  QCOMPARE(dump->LineCount(), 2);
  // A send abandons the partial line; it is complete now.
  QVERIFY(page->SendTools()->SendLine(QStringLiteral("0D")));
  keeper->StopFileLog();

  const QRegularExpression stamp(QStringLiteral("^\\S+ "));
  QStringList saved = keeper->Lines();
  for (QString& line : saved) line.remove(stamp);
  QCOMPARE(saved.size(), 3);
  QVERIFY2(saved[0].startsWith(QStringLiteral("sent 0000 48 69 ")), qPrintable(saved[0]));
  QVERIFY2(saved[1].startsWith(QStringLiteral("recv 0000 41 42 43 44 45 ")), qPrintable(saved[1]));
  QVERIFY2(saved[2].startsWith(QStringLiteral("sent 0002 0D ")), qPrintable(saved[2]));
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QStringList written =
      QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (QString& line : written) line.remove(stamp);
  QCOMPARE(written, saved);
}

// The input-change log shows each change's time on screen.
void ViewTest::inputChangesShowTheirTimes() {
  QCOMPARE(Console({QStringLiteral("inputs"), QStringLiteral("FFFFFFFF00")}), QString());
  CK27DiagApp app;
  auto sheet = vantrel::diag::test::OpenSheet(app, kCaption);
  QTest::mouseMove(sheet.get(), QPoint(1, 1));
  sheet->Tabs()->setCurrentIndex(kIoTab);
  auto* changes = sheet->findChild<CInputChangeLog*>(QStringLiteral("inputChangeLog"));
  QVERIFY(changes != nullptr);
  changes->Switch()->click();
  QCOMPARE(Console({QStringLiteral("inputs"), QStringLiteral("FEFFFFFF00")}), QString());
  QTRY_VERIFY(changes->Log()->LineCount() > 0);
  const int last = changes->Log()->LineCount() - 1;
  QCOMPARE(changes->Log()->LineText(last), QStringLiteral("Input 00 on"));
  const QString drawn = changes->Log()->DrawnText(last);
  QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} Input 00 on$"))
               .match(drawn)
               .hasMatch(),
           qPrintable(drawn));
}

// The board unplugged: the ccTalk page's caption becomes the long SetConfig
// error. It is elided within the box with the whole text in the tip, and
// the sheet keeps its size, so its Close button stays on a 1280x1024 screen.
void ViewTest::longCaptionKeepsTheSheetOnTheScreen() {
  CK27DiagApp app;
  auto sheet = vantrel::diag::test::OpenSheet(app, kCaption);
  sheet->Tabs()->setCurrentIndex(kCcTalkTab);
  QCoreApplication::processEvents();
  sheet->move(0, 0);
  sheet->resize(sheet->sizeHint().boundedTo(kScreen.size()));
  QCoreApplication::processEvents();
  const QSize size = sheet->size();
  const int leastWidth = sheet->minimumSizeHint().width();
  QVERIFY(kScreen.contains(GlobalRect(CloseButton(sheet.get()))));

  QCOMPARE(Console({QStringLiteral("unplug")}), QString());
  sheet->Tabs()->setCurrentIndex(kAboutTab);
  sheet->Tabs()->setCurrentIndex(kCcTalkTab);
  auto* caption = sheet->findChild<CCaptionBox*>(QStringLiteral("id1021"));
  QVERIFY(caption != nullptr);
  QVERIFY2(caption->title().startsWith(QStringLiteral("Output - Vantrel.SetConfig () = error: ")),
           qPrintable(caption->title()));
  QCoreApplication::processEvents();

  QCOMPARE(sheet->size(), size);
  QCOMPARE(sheet->minimumSizeHint().width(), leastWidth);
  QVERIFY(kScreen.contains(GlobalRect(CloseButton(sheet.get()))));
  // Whatever the font: what is drawn fits the box, and what is cut off is in
  // the tip.
  const QFontMetrics metrics = caption->fontMetrics();
  // The caption asks for no width of its own: the box would widen the sheet
  // on any screen narrower than the text.
  QVERIFY(caption->minimumSizeHint().width() < metrics.horizontalAdvance(caption->title()));
  QVERIFY(metrics.horizontalAdvance(caption->ShownTitle()) < caption->width());
  if (metrics.horizontalAdvance(caption->title()) >= caption->width()) {
    QVERIFY(caption->TitleElided());
  }
  if (caption->TitleElided()) QCOMPARE(caption->TipText(), caption->title());
  if (const QString dir = qEnvironmentVariable("K27_SCREENSHOT_DIR"); !dir.isEmpty()) {
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(sheet->grab().save(QDir(dir).filePath(QStringLiteral("cctalk-long-caption.png"))));
    // At the sheet's least width the caption is cut short, whole in its tip.
    sheet->resize(sheet->minimumSizeHint().width(), sheet->height());
    QCoreApplication::processEvents();
    QVERIFY(
        sheet->grab().save(QDir(dir).filePath(QStringLiteral("cctalk-long-caption-narrow.png"))));
  }
  QCOMPARE(Console({QStringLiteral("plug")}), QString());
}

QTEST_MAIN(ViewTest)
#include "ViewTest.moc"
