// The Input / Output page on a simulated board served by vantrelio: what the
// technician sees and what reaches the board, read back through the
// simulator's console and the daemon's exchange trace.
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QSlider>
#include <QTabWidget>
#include <QtTest>

#include <memory>

#include "CSensitiveButton.h"
#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "SimBoardProbe.h"
#include "SimDaemon.h"
#include "PageList.h"
#include "pages/about/AboutPage.h"
#include "pages/io/IOPage.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const int kIoTab = vantrel::diag::PageTab<IOPage>();
const int kOtherTab =
    vantrel::diag::PageTab<AboutPage>();  // About: makes no board calls of its own
const QString kInputPoll = QStringLiteral("4B");

// Lamps 8-15 (the first row of "Output Lamps") and inputs 0-15 by control id.
const int kLampRow[] = {6042, 6046, 6047, 6048, 6049, 6050, 6051, 6052};
const int kInputIds[] = {6002, 6003, 6004, 6005, 6006, 6007, 6008, 6009,
                         6010, 6012, 6013, 6014, 6015, 6016, 6017, 6018};

}  // namespace

class IoTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanup();
  void cleanupTestCase();

  void brightnessTexts();
  void noBoardLeavesInputsAlone();
  void activationTurnsEverythingOff();
  void inputsFollowTheBoard();
  void pointerSweepTogglesEachLampOnce();
  void clicksAndAuxOutputs();
  void brightnessSlider();
  void restingPointerSwitchesNothing();
  void failedPollLeavesTheInputsAsTheyWere();
  void leavingStopsPolling();

 private:
  std::unique_ptr<CK27DiagSheet> OpenOnPage(CK27DiagApp& app);
  QString Console(const QStringList& words) {
    return vantrel::diag::test::SimConsole(daemon_.Folder(), words);
  }
  template <typename T>
  static T* Control(CK27DiagSheet* sheet, int id) {
    return sheet->findChild<T*>(QStringLiteral("id%1").arg(id));
  }
  static void MoveTo(CK27DiagSheet* sheet, QWidget* widget, QPoint at);
  // Moves the pointer onto an output indicator and off it again.
  static void PointAt(CK27DiagSheet* sheet, int id);
  // Moves the pointer onto an output indicator (one toggle) and clicks it
  // (a second one).
  static void MoveOnAndClick(CK27DiagSheet* sheet, int id);

  vantrel::diag::test::SimDaemon daemon_;
  std::unique_ptr<vantrel::diag::test::ExchangeTrace> trace_;
};

void IoTest::initTestCase() {
  daemon_.UseFolder();
  trace_ = std::make_unique<vantrel::diag::test::ExchangeTrace>(daemon_.Folder() +
                                                                QStringLiteral("/trace.log"));
  daemon_.AddArguments({QStringLiteral("--trace"), trace_->Path()});
}

void IoTest::cleanup() {
  // The pointer must not rest where the next sheet has an indicator.
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible()) QTest::mouseMove(window, QPoint(1, 1));
  }
  vantrel::diag::test::CloseWindows();
}

void IoTest::cleanupTestCase() { daemon_.Stop(); }

std::unique_ptr<CK27DiagSheet> IoTest::OpenOnPage(CK27DiagApp& app) {
  auto sheet = vantrel::diag::test::OpenSheet(app, kCaption);
  // The pointer rests where no indicator will be.
  QTest::mouseMove(sheet.get(), QPoint(1, 1));
  sheet->Tabs()->setCurrentIndex(kIoTab);
  return sheet;
}

void IoTest::MoveTo(CK27DiagSheet* sheet, QWidget* widget, QPoint at) {
  QTest::mouseMove(sheet, widget->mapTo(sheet, at));
  QCoreApplication::processEvents();
}

void IoTest::PointAt(CK27DiagSheet* sheet, int id) {
  auto* output = Control<CSensitiveButton>(sheet, id);
  MoveTo(sheet, output, output->rect().center());
  MoveTo(sheet, sheet, QPoint(1, 1));
}

void IoTest::MoveOnAndClick(CK27DiagSheet* sheet, int id) {
  auto* output = Control<CSensitiveButton>(sheet, id);
  MoveTo(sheet, output, output->rect().center());
  QTest::mouseClick(output, Qt::LeftButton);
  QCoreApplication::processEvents();
}

void IoTest::brightnessTexts() {
  QCOMPARE(IOPage::BrightnessText(10), QStringLiteral("Lamp Brightness = 10 (on | on)"));
  QCOMPARE(IOPage::BrightnessText(9), QStringLiteral("Lamp Brightness = 9 (on | off)"));
  QCOMPARE(IOPage::BrightnessText(1), QStringLiteral("Lamp Brightness = 1 (on | off)"));
  QCOMPARE(IOPage::BrightnessText(0), QStringLiteral("Lamp Brightness = 0 (off | off)"));
}

void IoTest::noBoardLeavesInputsAlone() {
  CK27DiagApp app;
  auto sheet = OpenOnPage(app);
  QCOMPARE(app.Initialised(), 0);
  auto* page = qobject_cast<IOPage*>(sheet->Tabs()->widget(kIoTab));
  QVERIFY(page != nullptr);
  QVERIFY(page->Polling());
  QTest::qWait(3 * IOPage::kPollMs);
  for (int id : kInputIds) QVERIFY(!Control<QCheckBox>(sheet.get(), id)->isChecked());
  QVERIFY(!Control<QCheckBox>(sheet.get(), 6011)->isChecked());
  // The page still shows its reset state and no error.
  QCOMPARE(Control<QGroupBox>(sheet.get(), 6044)->title(),
           QStringLiteral("Lamp Brightness = 10 (on | on)"));
}

void IoTest::activationTurnsEverythingOff() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = vantrel::diag::test::OpenSheet(app, kCaption);
  QTest::mouseMove(sheet.get(), QPoint(1, 1));
  QVERIFY(app.Initialised() != 0);
  // Outputs left on by someone else, at a low brightness.
  QVERIFY(app.Board()->SetOnPeriodOutputs(usbOutput{{0xFF, 0x12, 0x34, 0x56, 0x3F}}) != 0);
  QVERIFY(app.Board()->SetOffPeriodOutputs(usbOutput{{0x01, 0x02, 0x03, 0x04, 0x05}}) != 0);
  QVERIFY(app.Board()->SetOutputBrightness(3) != 0);
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=FF1234563F off=0102030405 brightness=3"));
  trace_->Mark();

  sheet->Tabs()->setCurrentIndex(kIoTab);
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0000000000 off=0000000000 brightness=10"));
  // On period, off period, brightness: in that order, before the first poll.
  QTRY_VERIFY(trace_->CommandsSince().size() >= 4);
  const QStringList commands = trace_->CommandsSince();
  QCOMPARE(commands.mid(0, 4),
           (QStringList{QStringLiteral("530000000000"), QStringLiteral("540000000000"),
                        QStringLiteral("550A"), kInputPoll}));

  auto* page = qobject_cast<IOPage*>(sheet->Tabs()->widget(kIoTab));
  QVERIFY(page->Polling());
  QCOMPARE(page->Brightness(), 10);
  auto* slider = Control<QSlider>(sheet.get(), 6001);
  QCOMPARE(slider->minimum(), 0);
  QCOMPARE(slider->maximum(), 10);
  QCOMPARE(slider->value(), 10);
  QCOMPARE(Control<QGroupBox>(sheet.get(), 6044)->title(),
           QStringLiteral("Lamp Brightness = 10 (on | on)"));
  const QList<CSensitiveButton*> outputs = page->findChildren<CSensitiveButton*>();
  QCOMPARE(outputs.size(), IOPage::kOutputCount);
  for (CSensitiveButton* output : outputs) QVERIFY(!output->isChecked());
  QCOMPARE(page->findChildren<QCheckBox*>().size(), IOPage::kInputCount);

  // A second activation resets again: a lamp switched on goes off.
  PointAt(sheet.get(), 6034);
  QVERIFY(Control<CSensitiveButton>(sheet.get(), 6034)->isChecked());
  sheet->Tabs()->setCurrentIndex(kOtherTab);
  sheet->Tabs()->setCurrentIndex(kIoTab);
  QVERIFY(!Control<CSensitiveButton>(sheet.get(), 6034)->isChecked());
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0000000000 off=0000000000 brightness=10"));
}

void IoTest::inputsFollowTheBoard() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenOnPage(app);
  // Inputs 0 and 9 and input 23 read 0; dip switches 0 and 7 read 0.
  QCOMPARE(Console({QStringLiteral("inputs"), QStringLiteral("FEFD7F7E00")}), QString());
  QTRY_VERIFY(Control<QCheckBox>(sheet.get(), 6002)->isChecked());
  QTRY_VERIFY(Control<QCheckBox>(sheet.get(), 6033)->isChecked());
  QVERIFY(Control<QCheckBox>(sheet.get(), 6012)->isChecked());   // input 9
  QVERIFY(Control<QCheckBox>(sheet.get(), 6026)->isChecked());   // input 23
  QVERIFY(Control<QCheckBox>(sheet.get(), 6011)->isChecked());   // dip 0
  QVERIFY(!Control<QCheckBox>(sheet.get(), 6003)->isChecked());  // input 1
  QVERIFY(!Control<QCheckBox>(sheet.get(), 6010)->isChecked());  // input 8
  QVERIFY(!Control<QCheckBox>(sheet.get(), 6019)->isChecked());  // input 16
  QVERIFY(!Control<QCheckBox>(sheet.get(), 6027)->isChecked());  // dip 1
  int checked = 0;
  for (QCheckBox* box : sheet->Tabs()->widget(kIoTab)->findChildren<QCheckBox*>())
    checked += box->isChecked();
  QCOMPARE(checked, 5);

  // The inputs change back; a click on a check box does not tick it.
  QCOMPARE(Console({QStringLiteral("inputs"), QStringLiteral("FFFFFFFFFF")}), QString());
  QTRY_VERIFY(!Control<QCheckBox>(sheet.get(), 6002)->isChecked());
  QTRY_VERIFY(!Control<QCheckBox>(sheet.get(), 6033)->isChecked());
  auto* input1 = Control<QCheckBox>(sheet.get(), 6003);
  QTest::mouseClick(input1, Qt::LeftButton);
  QVERIFY(!Control<QCheckBox>(sheet.get(), 6003)->isChecked());
}

void IoTest::pointerSweepTogglesEachLampOnce() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenOnPage(app);
  auto* page = qobject_cast<IOPage*>(sheet->Tabs()->widget(kIoTab));
  QWidget* group = Control<CSensitiveButton>(sheet.get(), kLampRow[0])->parentWidget();
  const int y = Control<CSensitiveButton>(sheet.get(), kLampRow[0])->geometry().center().y();
  MoveTo(sheet.get(), group, QPoint(1, y));

  // Left to right across lamps 8-15, several moves inside each one.
  for (int id : kLampRow) {
    auto* lamp = Control<CSensitiveButton>(sheet.get(), id);
    for (int x : {2, lamp->width() / 2, lamp->width() - 3})
      MoveTo(sheet.get(), lamp, QPoint(x, lamp->height() / 2));
  }
  MoveTo(sheet.get(), group, QPoint(group->width() - 2, y));
  for (int id : kLampRow)
    QVERIFY2(Control<CSensitiveButton>(sheet.get(), id)->isChecked(),
             qPrintable(QString::number(id)));
  QCOMPARE(page->OnImage().output[1], 0xFF);
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=00FF000000 off=0000000000 brightness=10"));

  // And back: each lamp goes off again.
  for (auto it = std::rbegin(kLampRow); it != std::rend(kLampRow); ++it) {
    auto* lamp = Control<CSensitiveButton>(sheet.get(), *it);
    for (int x : {lamp->width() - 3, lamp->width() / 2, 2})
      MoveTo(sheet.get(), lamp, QPoint(x, lamp->height() / 2));
  }
  MoveTo(sheet.get(), group, QPoint(1, y));
  for (int id : kLampRow) QVERIFY(!Control<CSensitiveButton>(sheet.get(), id)->isChecked());
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0000000000 off=0000000000 brightness=10"));
}

void IoTest::clicksAndAuxOutputs() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenOnPage(app);
  // Lamp 31 and aux outputs 0 and 5, each pointed at once.
  for (int id : {6068, 6043, 6073}) PointAt(sheet.get(), id);
  QVERIFY(Control<CSensitiveButton>(sheet.get(), 6068)->isChecked());
  QVERIFY(Control<CSensitiveButton>(sheet.get(), 6043)->isChecked());
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0000008021 off=0000000000 brightness=10"));

  // Coming back onto aux 0 switches it off, and the click on it is a second,
  // separate toggle that switches it on again.
  auto* aux0 = Control<CSensitiveButton>(sheet.get(), 6043);
  MoveTo(sheet.get(), aux0, aux0->rect().center());
  QVERIFY(!aux0->isChecked());
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0000008020 off=0000000000 brightness=10"));
  QTest::mouseClick(aux0, Qt::LeftButton);
  QVERIFY(aux0->isChecked());
  QTest::mouseClick(aux0, Qt::LeftButton);
  QVERIFY(!aux0->isChecked());
  // The indicators are never a radio group: the others kept their state.
  QVERIFY(Control<CSensitiveButton>(sheet.get(), 6073)->isChecked());
  QVERIFY(Control<CSensitiveButton>(sheet.get(), 6068)->isChecked());
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0000008020 off=0000000000 brightness=10"));

  // Moving on and clicking toggles twice: aux 5 ends as it was.
  MoveOnAndClick(sheet.get(), 6073);
  QVERIFY(Control<CSensitiveButton>(sheet.get(), 6073)->isChecked());
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0000008020 off=0000000000 brightness=10"));
}

void IoTest::brightnessSlider() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenOnPage(app);
  auto* slider = Control<QSlider>(sheet.get(), 6001);
  auto* box = Control<QGroupBox>(sheet.get(), 6044);
  PointAt(sheet.get(), 6035);  // lamp 1

  QTest::keyClick(slider, Qt::Key_Left);
  QCOMPARE(slider->value(), 9);
  QCOMPARE(box->title(), QStringLiteral("Lamp Brightness = 9 (on | off)"));
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0200000000 off=0000000000 brightness=9"));

  // Back at the right end: the on image in both periods, the level not sent.
  QTest::keyClick(slider, Qt::Key_End);
  QCOMPARE(box->title(), QStringLiteral("Lamp Brightness = 10 (on | on)"));
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0200000000 off=0200000000 brightness=9"));

  QTest::keyClick(slider, Qt::Key_Home);
  QCOMPARE(slider->value(), 0);
  QCOMPARE(box->title(), QStringLiteral("Lamp Brightness = 0 (off | off)"));
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0000000000 off=0000000000 brightness=9"));

  // At the left end already: nothing more is sent.
  trace_->Mark();
  QTest::keyClick(slider, Qt::Key_Left);
  QTest::keyClick(slider, Qt::Key_Home);
  slider->setValue(0);
  QCOMPARE(trace_->CommandsSince(kInputPoll), QStringList());

  // A lamp toggled at 0 goes out as the on image with the cleared off image.
  PointAt(sheet.get(), 6036);  // lamp 2
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0600000000 off=0000000000 brightness=9"));
  QCOMPARE(box->title(), QStringLiteral("Lamp Brightness = 0 (off | off)"));
}

// The page shown by keyboard under a pointer that rests where lamp 08
// appears: the toolkit reports an entry, but no output switches until the
// pointer really moves.
void IoTest::restingPointerSwitchesNothing() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenOnPage(app);
  auto* lamp8 = Control<CSensitiveButton>(sheet.get(), kLampRow[0]);
  const QPoint spot = lamp8->mapTo(sheet.get(), lamp8->rect().center());
  sheet->Tabs()->setCurrentIndex(kOtherTab);
  QTest::mouseMove(sheet.get(), spot);
  QCoreApplication::processEvents();

  trace_->Mark();
  sheet->Tabs()->setCurrentIndex(kIoTab);
  QTRY_VERIFY(trace_->CommandsSince().count(kInputPoll) >= 2);
  QVERIFY(lamp8->underMouse());  // the entry was reported
  QVERIFY(!lamp8->isChecked());
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0000000000 off=0000000000 brightness=10"));

  // A real movement over it switches it.
  MoveTo(sheet.get(), lamp8, lamp8->rect().center() + QPoint(1, 0));
  QVERIFY(lamp8->isChecked());
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=0001000000 off=0000000000 brightness=10"));
}

// Polls that fail after a good one leave the boxes showing the last inputs
// read; polling goes on and shows the board again once it answers.
void IoTest::failedPollLeavesTheInputsAsTheyWere() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenOnPage(app);
  QCOMPARE(Console({QStringLiteral("inputs"), QStringLiteral("FEFFFFFF00")}), QString());
  auto* input0 = Control<QCheckBox>(sheet.get(), 6002);
  QTRY_VERIFY(input0->isChecked());

  QCOMPARE(Console({QStringLiteral("fault"), QStringLiteral("1"), kInputPoll,
                    QStringLiteral("status=3")}),
           QString());
  QCOMPARE(Console({QStringLiteral("inputs"), QStringLiteral("FFFFFFFFFF")}), QString());
  trace_->Mark();
  QTRY_VERIFY(trace_->CommandsSince().count(kInputPoll) >= 3);
  QVERIFY(input0->isChecked());

  QCOMPARE(
      Console({QStringLiteral("fault"), QStringLiteral("1"), kInputPoll, QStringLiteral("none")}),
      QString());
  QTRY_VERIFY(!input0->isChecked());
}

void IoTest::leavingStopsPolling() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  auto sheet = OpenOnPage(app);
  auto* page = qobject_cast<IOPage*>(sheet->Tabs()->widget(kIoTab));
  PointAt(sheet.get(), 6040);  // lamp 6
  QTRY_VERIFY(trace_->CommandsSince().contains(kInputPoll));

  sheet->Tabs()->setCurrentIndex(kOtherTab);
  QVERIFY(!page->Polling());
  trace_->Mark();
  QTest::qWait(3 * IOPage::kPollMs);
  QCOMPARE(trace_->CommandsSince(), QStringList());
  QCOMPARE(Console({QStringLiteral("outputs")}),
           QStringLiteral("on=4000000000 off=0000000000 brightness=10"));
  QVERIFY(Control<CSensitiveButton>(sheet.get(), 6040)->isChecked());
}

QTEST_MAIN(IoTest)
#include "IoTest.moc"
