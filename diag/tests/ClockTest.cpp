// The Real-Time Clock page, first with no board, then with a simulated board
// served by vantrelio, whose clock counts on once a second.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "SimDaemon.h"
#include "PageList.h"
#include "pages/cctalk/CCTalkPage.h"
#include "UsbErrorNames.h"
#include "pages/clock/RTClockPage.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const int kClockTab = vantrel::diag::PageTab<RTClockPage>();
const int kOtherTab = vantrel::diag::PageTab<CCTalkPage>();

// What a message box showed before the test closed it.
struct SeenBox {
  bool seen = false;
  QString title;
  QString text;
};

// Watches for the page's message box, notes its texts and presses OK.
void CloseMessageBoxWhenShown(SeenBox* seen) {
  auto* poll = new QTimer(QCoreApplication::instance());
  poll->setInterval(20);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, seen] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(window);
      if (box == nullptr || !box->isVisible()) continue;
      seen->seen = true;
      seen->title = box->windowTitle();
      seen->text = box->text();
      QAbstractButton* ok = box->button(QMessageBox::Ok);
      if (ok != nullptr)
        ok->click();
      else
        box->reject();
      poll->deleteLater();
      return;
    }
  });
  // Give up after a while so that a missing box cannot hang the test.
  QTimer::singleShot(10000, poll, &QObject::deleteLater);
  poll->start();
}

}  // namespace

class ClockTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanup();
  void cleanupTestCase();

  void parsesTypedValues();
  void noBoardTexts();
  void showsAndRefreshesWhileActive();
  void noRefreshWhileAnotherTabIsActive();
  void setTimeWritesTypedNumber();
  void failedWriteShowsMessageBox();

 private:
  std::unique_ptr<CK27DiagSheet> OpenSheet(CK27DiagApp& app);
  void StartDaemon();
  void StopDaemon();

  static RTClockPage* Page(CK27DiagSheet* sheet);
  static QLineEdit* Edit(CK27DiagSheet* sheet, const char* id);
  static QPushButton* SetButton(CK27DiagSheet* sheet);
  // The shown value, or a value no clock shows when the text is not a number.
  static qint64 Shown(CK27DiagSheet* sheet);
  static void TypeAndSet(CK27DiagSheet* sheet, const QString& text);

  vantrel::diag::test::SimDaemon daemon_;
};

void ClockTest::initTestCase() { daemon_.UseFolder(); }

void ClockTest::cleanup() { vantrel::diag::test::CloseWindows(); }

void ClockTest::cleanupTestCase() { StopDaemon(); }

std::unique_ptr<CK27DiagSheet> ClockTest::OpenSheet(CK27DiagApp& app) {
  return vantrel::diag::test::OpenSheet(app, kCaption);
}

void ClockTest::StartDaemon() { daemon_.Start(); }

void ClockTest::StopDaemon() { daemon_.Stop(); }

RTClockPage* ClockTest::Page(CK27DiagSheet* sheet) {
  return qobject_cast<RTClockPage*>(sheet->Tabs()->widget(kClockTab));
}

QLineEdit* ClockTest::Edit(CK27DiagSheet* sheet, const char* id) {
  return sheet->findChild<QLineEdit*>(QLatin1String(id));
}

QPushButton* ClockTest::SetButton(CK27DiagSheet* sheet) {
  return sheet->findChild<QPushButton*>(QStringLiteral("id1"));
}

qint64 ClockTest::Shown(CK27DiagSheet* sheet) {
  QLineEdit* current = Edit(sheet, "id1001");
  if (current == nullptr) return -(qint64{1} << 40);
  bool ok = false;
  const qint64 value = current->text().toLongLong(&ok);
  return ok ? value : -(qint64{1} << 40);
}

void ClockTest::TypeAndSet(CK27DiagSheet* sheet, const QString& text) {
  QLineEdit* edit = Edit(sheet, "id1000");
  QVERIFY(edit != nullptr);
  edit->clear();
  QTest::keyClicks(edit, text);
  QCOMPARE(edit->text(), text);
  QPushButton* button = SetButton(sheet);
  QVERIFY(button != nullptr);
  QVERIFY(button->isEnabled());
  QTest::mouseClick(button, Qt::LeftButton);
}

void ClockTest::parsesTypedValues() {
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("100")), 100u);
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("  +42abc")), 42u);
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("\t 7 8")), 7u);
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("abc")), 0u);
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("")), 0u);
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("-")), 0u);
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("x12")), 0u);
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("-1")), 0xFFFFFFFFu);
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("4294967295")), 0xFFFFFFFFu);
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("3000000000")), 3000000000u);
  // Longer numbers wrap instead of overflowing.
  QCOMPARE(RTClockPage::ParseClockValue(QStringLiteral("4294967396")), 100u);
}

void ClockTest::noBoardTexts() {
  QVERIFY(QDir(daemon_.Folder()).isEmpty());
  CK27DiagApp app;
  auto sheet = OpenSheet(app);
  QCOMPARE(app.Initialised(), 0);
  RTClockPage* page = Page(sheet.get());
  QVERIFY(page != nullptr);
  QCOMPARE(page->objectName(), QStringLiteral("id103"));
  QVERIFY(Edit(sheet.get(), "id1000") != nullptr);
  QVERIFY(Edit(sheet.get(), "id1001") != nullptr);
  QVERIFY(Edit(sheet.get(), "id1001")->isReadOnly());
  QCOMPARE(SetButton(sheet.get())->text(), QStringLiteral("Set Time"));
  // Not the active tab: nothing read yet.
  QCOMPARE(page->RefreshCount(), 0);
  QVERIFY(!page->Refreshing());

  sheet->Tabs()->setCurrentIndex(kClockTab);
  QCOMPARE(page->RefreshCount(), 1);
  QVERIFY(page->Refreshing());
  const QString expected =
      QStringLiteral("error: unknown (%1)")
          .arg(QLatin1String(vantrel::diag::UsbErrorName(app.Board()->GetLastError())));
  QCOMPARE(Edit(sheet.get(), "id1001")->text(), expected);
  QVERIFY(Edit(sheet.get(), "id1001")->text().startsWith(QStringLiteral("error: unknown (")));
  QVERIFY(!SetButton(sheet.get())->isEnabled());

  // The timer keeps reading, and keeps failing.
  QTRY_VERIFY_WITH_TIMEOUT(page->RefreshCount() >= 2, 5000);
  QVERIFY(Edit(sheet.get(), "id1001")->text().startsWith(QStringLiteral("error: unknown (")));
  QVERIFY(!SetButton(sheet.get())->isEnabled());
}

void ClockTest::showsAndRefreshesWhileActive() {
  StartDaemon();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenSheet(app);
  QVERIFY(app.Initialised() != 0);
  RTClockPage* page = Page(sheet.get());
  QVERIFY(page != nullptr);

  sheet->Tabs()->setCurrentIndex(kClockTab);
  QCOMPARE(page->RefreshCount(), 1);
  QVERIFY(SetButton(sheet.get())->isEnabled());
  unsigned long board = 0;
  QVERIFY(app.Board()->GetClock(&board) != 0);
  const qint64 first = Shown(sheet.get());
  // The value read on activation is the board's clock (or one behind it).
  QVERIFY2(first >= 0 && static_cast<qint64>(board) - first <= 1,
           qPrintable(Edit(sheet.get(), "id1001")->text()));

  // Once a second the page reads again and shows the clock counting on.
  QTRY_VERIFY_WITH_TIMEOUT(page->RefreshCount() >= 3, 5000);
  QTRY_VERIFY_WITH_TIMEOUT(Shown(sheet.get()) > first, 5000);
  QVERIFY(SetButton(sheet.get())->isEnabled());
}

void ClockTest::noRefreshWhileAnotherTabIsActive() {
  StartDaemon();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenSheet(app);
  RTClockPage* page = Page(sheet.get());
  QVERIFY(page != nullptr);

  sheet->Tabs()->setCurrentIndex(kClockTab);
  QTRY_VERIFY_WITH_TIMEOUT(page->RefreshCount() >= 2, 5000);

  sheet->Tabs()->setCurrentIndex(kOtherTab);
  QVERIFY(!page->Refreshing());
  const int count = page->RefreshCount();
  const QString text = Edit(sheet.get(), "id1001")->text();
  QTest::qWait(2500);  // longer than two refresh periods: nothing may be read
  QCOMPARE(page->RefreshCount(), count);
  QCOMPARE(Edit(sheet.get(), "id1001")->text(), text);

  // Coming back reads at once, then every second.
  Edit(sheet.get(), "id1000")->setText(QStringLiteral("kept"));
  sheet->Tabs()->setCurrentIndex(kClockTab);
  QCOMPARE(page->RefreshCount(), count + 1);
  QVERIFY(page->Refreshing());
  QVERIFY(Shown(sheet.get()) > text.toLongLong());
  QTRY_VERIFY_WITH_TIMEOUT(page->RefreshCount() >= count + 2, 5000);
  // The typed value stays between activations.
  QCOMPARE(Edit(sheet.get(), "id1000")->text(), QStringLiteral("kept"));

  // Closing the sheet stops the reads too.
  sheet->close();
  QVERIFY(!page->Refreshing());
}

void ClockTest::setTimeWritesTypedNumber() {
  StartDaemon();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenSheet(app);
  RTClockPage* page = Page(sheet.get());
  QVERIFY(page != nullptr);
  sheet->Tabs()->setCurrentIndex(kClockTab);
  QVERIFY(SetButton(sheet.get())->isEnabled());

  // 100 reaches the board; the read after the write shows it.
  int count = page->RefreshCount();
  TypeAndSet(sheet.get(), QStringLiteral("100"));
  if (QTest::currentTestFailed()) return;
  QCOMPARE(page->RefreshCount(), count + 1);
  qint64 shown = Shown(sheet.get());
  QVERIFY2(shown >= 100 && shown <= 102, qPrintable(Edit(sheet.get(), "id1001")->text()));
  unsigned long board = 0;
  QVERIFY(app.Board()->GetClock(&board) != 0);
  QVERIFY2(board >= 100 && board <= 102, qPrintable(QString::number(board)));
  // The clock counts on from there.
  QTRY_VERIFY_WITH_TIMEOUT(Shown(sheet.get()) > shown, 5000);

  // Letters only write 0.
  TypeAndSet(sheet.get(), QStringLiteral("abc"));
  if (QTest::currentTestFailed()) return;
  shown = Shown(sheet.get());
  QVERIFY2(shown >= 0 && shown <= 2, qPrintable(Edit(sheet.get(), "id1001")->text()));

  // Leading blanks and trailing junk: the digits before the junk are written.
  TypeAndSet(sheet.get(), QStringLiteral("  5000s"));
  if (QTest::currentTestFailed()) return;
  shown = Shown(sheet.get());
  QVERIFY2(shown >= 5000 && shown <= 5002, qPrintable(Edit(sheet.get(), "id1001")->text()));

  // A count of 2^31 or more shows as a negative number.
  TypeAndSet(sheet.get(), QStringLiteral("4294967290"));
  if (QTest::currentTestFailed()) return;
  shown = Shown(sheet.get());
  QVERIFY2(shown >= -6 && shown <= -4, qPrintable(Edit(sheet.get(), "id1001")->text()));
  QVERIFY(app.Board()->GetClock(&board) != 0);
  QVERIFY2(board >= 4294967290UL && board <= 4294967292UL, qPrintable(QString::number(board)));

  // Return in the box sets the time too, and the sheet stays open.
  QLineEdit* edit = Edit(sheet.get(), "id1000");
  edit->setText(QStringLiteral("7000"));
  QTest::keyClick(edit, Qt::Key_Return);
  shown = Shown(sheet.get());
  QVERIFY2(shown >= 7000 && shown <= 7002, qPrintable(Edit(sheet.get(), "id1001")->text()));
  QVERIFY(sheet->isVisible());
}

void ClockTest::failedWriteShowsMessageBox() {
  StartDaemon();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenSheet(app);
  RTClockPage* page = Page(sheet.get());
  QVERIFY(page != nullptr);
  sheet->Tabs()->setCurrentIndex(kClockTab);
  QVERIFY(SetButton(sheet.get())->isEnabled());

  // The board goes away between a good read and the write. No events run
  // between stopping it and the click, so the button is still enabled.
  StopDaemon();
  SeenBox seen;
  CloseMessageBoxWhenShown(&seen);
  const int count = page->RefreshCount();
  TypeAndSet(sheet.get(), QStringLiteral("77"));
  if (QTest::currentTestFailed()) return;
  QVERIFY(seen.seen);
  QCOMPARE(seen.title, QApplication::applicationName());
  QVERIFY2(seen.text.startsWith(QStringLiteral("VantrelUSB->SetClock () = error: unknown (")),
           qPrintable(seen.text));
  QVERIFY(seen.text.endsWith(QLatin1Char(')')));
  // After the box the page reads again; with no board that read fails.
  QVERIFY(page->RefreshCount() > count);
  QVERIFY(Edit(sheet.get(), "id1001")->text().startsWith(QStringLiteral("error: unknown (")));
  QVERIFY(!SetButton(sheet.get())->isEnabled());
}

QTEST_MAIN(ClockTest)
#include "ClockTest.moc"
