// The Reels page, with no board and on a simulated board served by
// vantrelio: the log, the status texts and what reaches the board, read back
// through the daemon's exchange trace and the simulator's console.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QtTest>

#include <memory>

#include "CColouredListBox.h"
#include "CHexBlockEdit.h"
#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "SimBoardProbe.h"
#include "SimDaemon.h"
#include "PageList.h"
#include "pages/about/AboutPage.h"
#include "UsbErrorNames.h"
#include "pages/reels/ReelPage.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const int kReelTab = vantrel::diag::PageTab<ReelPage>();
const int kQuietTab =
    vantrel::diag::PageTab<AboutPage>();  // About: makes no board calls of its own
constexpr std::int32_t kBlack = 0;
constexpr std::int32_t kRed = CColouredListBox::Rgb(255, 0, 0);
const QString kStatusPoll = QStringLiteral("5C");

// Ramp commands of the default tables for one reel.
QString ReelByte(int reel) { return QStringLiteral("%1").arg(reel, 2, 10, QLatin1Char('0')); }
QString DefaultUp(int reel) {
  return QStringLiteral("58") + ReelByte(reel) + QStringLiteral("076423130E10100B");
}
QString DefaultDown(int reel) {
  return QStringLiteral("59") + ReelByte(reel) + QStringLiteral("04160E23C8");
}

struct LogLine {
  QString text;
  std::int32_t colour;
  bool operator==(const LogLine&) const = default;
};

}  // namespace

namespace QTest {
template <>
inline char* toString(const LogLine& line) {
  return qstrdup(qPrintable(QStringLiteral("{%1, %2}").arg(line.text).arg(line.colour, 0, 16)));
}
}  // namespace QTest

class ReelTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanup();
  void cleanupTestCase();

  void parsesNumbers();
  void noBoardLogsInRed();
  void activationSendsDefaults();
  void minimumStepsWithDefaultTables();
  void spinMovesTheReel();
  void oneReelBlanksTheOthers();
  void halfStepsSentAsOneByte();
  void trackBarAndStepsBox();
  void sharedRampsReachEveryReel();
  void perReelRampsReachTheirReel();
  void overlongEditorStaysInTheTable();
  void statusRewrittenOnlyWhenChanged();

 private:
  struct Opened {
    std::unique_ptr<CK27DiagApp> app;
    std::unique_ptr<CK27DiagSheet> sheet;
    ReelPage* page = nullptr;
  };
  Opened OpenOnPage();
  template <typename T>
  static T* Control(const Opened& o, int id) {
    return o.sheet->findChild<T*>(QStringLiteral("id%1").arg(id));
  }
  static QList<LogLine> LogFrom(const ReelPage* page, int first);
  static void SetSteps(const Opened& o, const QString& text);

  vantrel::diag::test::SimDaemon daemon_;
  std::unique_ptr<vantrel::diag::test::ExchangeTrace> trace_;
};

void ReelTest::initTestCase() {
  daemon_.UseFolder();
  trace_ = std::make_unique<vantrel::diag::test::ExchangeTrace>(daemon_.Folder() +
                                                                QStringLiteral("/trace.log"));
  daemon_.AddArguments({QStringLiteral("--trace"), trace_->Path()});
}

// Each case starts on a fresh simulated board, with every reel at rest at 0.
void ReelTest::cleanup() {
  vantrel::diag::test::CloseWindows();
  daemon_.Stop();
}

void ReelTest::cleanupTestCase() { daemon_.Stop(); }

ReelTest::Opened ReelTest::OpenOnPage() {
  Opened o;
  o.app = std::make_unique<CK27DiagApp>();
  o.sheet = vantrel::diag::test::OpenSheet(*o.app, kCaption);
  trace_->Mark();
  o.sheet->Tabs()->setCurrentIndex(kReelTab);
  o.page = qobject_cast<ReelPage*>(o.sheet->Tabs()->widget(kReelTab));
  return o;
}

QList<LogLine> ReelTest::LogFrom(const ReelPage* page, int first) {
  QList<LogLine> lines;
  for (int i = first; i < page->Log()->LineCount(); ++i)
    lines.append({page->Log()->LineText(i), page->Log()->LineColour(i)});
  return lines;
}

void ReelTest::SetSteps(const Opened& o, const QString& text) {
  auto* steps = Control<QLineEdit>(o, 2003);
  steps->clear();
  QTest::keyClicks(steps, text);
}

void ReelTest::parsesNumbers() {
  QCOMPARE(ReelPage::ParseDecimal(QStringLiteral("300")), 300);
  QCOMPARE(ReelPage::ParseDecimal(QStringLiteral("  +42x")), 42);
  QCOMPARE(ReelPage::ParseDecimal(QStringLiteral("-7")), -7);
  QCOMPARE(ReelPage::ParseDecimal(QStringLiteral("abc")), 0);
  QCOMPARE(ReelPage::ParseDecimal(QString()), 0);
  QCOMPARE(ReelPage::ParseDecimal(QStringLiteral("99999999999999999999")), INT_MAX);
  QCOMPARE(ReelPage::ParseDecimal(QStringLiteral("-99999999999999999999")), INT_MIN);
}

void ReelTest::noBoardLogsInRed() {
  Opened o = OpenOnPage();
  QCOMPARE(o.app->Initialised(), 0);
  QVERIFY(o.page != nullptr);
  const QString why = QLatin1String(vantrel::diag::UsbErrorName(o.app->Board()->GetLastError()));
  QList<LogLine> expected{
      {QStringLiteral("VantrelUSB::ConfigureReels (3, 96, 0) = error: ") + why, kRed},
      {QStringLiteral("VantrelUSB::ConfigureReels (3, 96, 0) = error: ") + why, kRed}};
  for (int reel = 0; reel < 3; ++reel) {
    expected.append(
        {QStringLiteral("VantrelUSB::SpinRampUp (%1) = error: %2").arg(reel).arg(why), kRed});
    expected.append(
        {QStringLiteral("VantrelUSB::SpinRampDown (%1) = error: %2").arg(reel).arg(why), kRed});
  }
  for (int reel = 0; reel < 3; ++reel)
    expected.append(
        {QStringLiteral("VantrelUSB::ReelSynchroniseEnable (%1) = error: %2").arg(reel).arg(why),
         kRed});
  QCOMPARE(LogFrom(o.page, 0), expected);

  // Then one red status line per poll.
  QTRY_VERIFY(o.page->Log()->LineCount() >= expected.size() + 2);
  const QList<LogLine> polls = LogFrom(o.page, static_cast<int>(expected.size()));
  for (const LogLine& line : polls)
    QCOMPARE(line, (LogLine{QStringLiteral("VantrelUSB::GetReelStatus () = error: ") + why, kRed}));
  // A refused spin request is logged too, and a failed spin with the error.
  SetSteps(o, QStringLiteral("20"));
  const int before = o.page->Log()->LineCount();
  Control<QPushButton>(o, 2006)->click();
  QList<LogLine> spins;
  for (const LogLine& line : LogFrom(o.page, before))
    if (line.text.startsWith(QStringLiteral("VantrelUSB::SpinReels"))) spins.append(line);
  QCOMPARE(spins.size(), 3);
  QCOMPARE(spins[0],
           (LogLine{QStringLiteral("VantrelUSB::SpinReels (0, -2, 20) = error: ") + why, kRed}));
  QCOMPARE(spins[2],
           (LogLine{QStringLiteral("VantrelUSB::SpinReels (2, -2, 20) = error: ") + why, kRed}));
}

void ReelTest::activationSendsDefaults() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  QVERIFY(o.app->Initialised() != 0);
  const QStringList expected{QStringLiteral("5603006000"),
                             QStringLiteral("5603006000"),
                             DefaultUp(0),
                             DefaultDown(0),
                             DefaultUp(1),
                             DefaultDown(1),
                             DefaultUp(2),
                             DefaultDown(2),
                             QStringLiteral("5B00"),
                             QStringLiteral("5B01"),
                             QStringLiteral("5B02")};
  QTRY_COMPARE(trace_->CommandsSince(kStatusPoll), expected);
  QTRY_VERIFY(trace_->CommandsSince().size() > expected.size());
  QCOMPARE(trace_->CommandsSince().mid(0, expected.size()),
           expected);  // the first poll comes after

  QList<LogLine> log{{QStringLiteral("VantrelUSB::ConfigureReels (3, 96, 0) = success"), kBlack},
                     {QStringLiteral("VantrelUSB::ConfigureReels (3, 96, 0) = success"), kBlack}};
  for (int reel = 0; reel < 3; ++reel) {
    log.append({QStringLiteral("VantrelUSB::SpinRampUp (%1) = success").arg(reel), kBlack});
    log.append({QStringLiteral("VantrelUSB::SpinRampDown (%1) = success").arg(reel), kBlack});
  }
  for (int reel = 0; reel < 3; ++reel)
    log.append(
        {QStringLiteral("VantrelUSB::ReelSynchroniseEnable (%1) = success").arg(reel), kBlack});
  QCOMPARE(LogFrom(o.page, 0), log);

  QCOMPARE(Control<QComboBox>(o, 2010)->currentText(), QStringLiteral("3 reels"));
  QCOMPARE(Control<QComboBox>(o, 2029)->currentText(), QStringLiteral("Up: 7"));
  QCOMPARE(Control<QComboBox>(o, 2030)->currentText(), QStringLiteral("Dn: 4"));
  QCOMPARE(Control<QLineEdit>(o, 2003)->text(), QStringLiteral("48"));
  QCOMPARE(Control<QLineEdit>(o, 2005)->text(), QStringLiteral("96"));
  QCOMPARE(Control<QSlider>(o, 2004)->value(), 48);
  QCOMPARE(Control<QSlider>(o, 2004)->maximum(), 32767);
  QVERIFY(Control<QCheckBox>(o, 2025)->isChecked());
  QVERIFY(!Control<QComboBox>(o, 2027)->isEnabled());
  for (int id : {2032, 2033, 2034}) QVERIFY(Control<QCheckBox>(o, id)->isChecked());
  QCOMPARE(o.page->RampEditor(RampTables::kUp)->Bytes(), QByteArray::fromHex("6423130E10100B"));
  QCOMPARE(o.page->RampEditor(RampTables::kDown)->Bytes(), QByteArray::fromHex("160E23C8"));
  QVERIFY(!o.page->RampEditor(RampTables::kUp)->ShowAddress());
  QVERIFY(!o.page->RampEditor(RampTables::kUp)->ShowChars());
  QCOMPARE(o.page->RampEditor(RampTables::kDown)->BytesPerRow(), 10);
  QVERIFY(!o.page->RampEditor(RampTables::kDown)->InsertDelete());
  QTRY_COMPARE(Control<QLabel>(o, 2011)->text(), QStringLiteral("Position: 000"));
  QCOMPARE(Control<QLabel>(o, 2024)->text(), QStringLiteral("Sync: 000"));

  // Leaving stops polling and sends nothing.
  o.sheet->Tabs()->setCurrentIndex(kQuietTab);
  QVERIFY(!o.page->Polling());
  trace_->Mark();
  QTest::qWait(3 * ReelPage::kPollMs);
  QCOMPARE(trace_->CommandsSince(), QStringList());
}

void ReelTest::minimumStepsWithDefaultTables() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  QTRY_VERIFY(o.page->Polling());
  SetSteps(o, QStringLiteral("9"));
  QCOMPARE(o.page->NumSteps(), 9);
  int before = o.page->Log()->LineCount();
  trace_->Mark();
  Control<QPushButton>(o, 2008)->click();  // "+ 1"
  QCOMPARE(
      LogFrom(o.page, before),
      (QList<LogLine>{
          {QStringLiteral("VantrelUSB::SpinReels (0, +1, 9) = error: min number of steps = 10"),
           kRed},
          {QStringLiteral("VantrelUSB::SpinReels (1, +1, 9) = error: min number of steps = 10"),
           kRed},
          {QStringLiteral("VantrelUSB::SpinReels (2, +1, 9) = error: min number of steps = 10"),
           kRed}}));
  QCOMPARE(trace_->CommandsSince(kStatusPoll), QStringList());

  // 10 steps goes to the board, for the checked reels only.
  SetSteps(o, QStringLiteral("10"));
  Control<QCheckBox>(o, 2033)->setChecked(false);
  Control<QPushButton>(o, 2002)->click();  // "+ 2"
  QTRY_COMPARE(trace_->CommandsSince(kStatusPoll),
               (QStringList{QStringLiteral("570002000A"), QStringLiteral("570202000A")}));
  for (const LogLine& line : LogFrom(o.page, before + 3))
    QVERIFY2(!line.text.contains(QStringLiteral("min number")), qPrintable(line.text));
}

void ReelTest::spinMovesTheReel() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  QTRY_COMPARE(Control<QLabel>(o, 2011)->text(), QStringLiteral("Position: 000"));
  SetSteps(o, QStringLiteral("12"));
  const int before = o.page->Log()->LineCount();
  for (int id : {2033, 2034}) Control<QCheckBox>(o, id)->setChecked(false);
  Control<QPushButton>(o, 2008)->click();  // "+ 1": reel 1 only
  // The reel turns (busy), then stands 12 half-steps on; a good spin logs nothing.
  QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(o, 2011)->text(), QStringLiteral("Position: 012"),
                            10000);
  QTRY_COMPARE(Control<QLabel>(o, 2013)->text(), QStringLiteral("Busy: 000"));
  QCOMPARE(Control<QLabel>(o, 2016)->text(), QStringLiteral("Position: 000"));
  for (const LogLine& line : LogFrom(o.page, before))
    QVERIFY2(!line.text.startsWith(QStringLiteral("VantrelUSB::SpinReels")), qPrintable(line.text));
  QVERIFY(vantrel::diag::test::SimConsole(daemon_.Folder(), {QStringLiteral("reels")})
              .contains(QStringLiteral("reel 0: position=12 ")));
}

void ReelTest::oneReelBlanksTheOthers() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  QTRY_COMPARE(Control<QLabel>(o, 2021)->text(), QStringLiteral("Position: 000"));
  int before = o.page->Log()->LineCount();
  Control<QComboBox>(o, 2010)->setCurrentIndex(0);
  QCOMPARE(o.page->NumReels(), 1);
  QCOMPARE(LogFrom(o.page, before),
           (QList<LogLine>{
               {QStringLiteral("VantrelUSB::ConfigureReels (1, 96, 0) = success"), kBlack}}));
  for (int id : {2016, 2017, 2018, 2019, 2021, 2022, 2023, 2024})
    QCOMPARE(Control<QLabel>(o, id)->text(), QString());
  QVERIFY(Control<QCheckBox>(o, 2032)->isVisible());
  QVERIFY(!Control<QCheckBox>(o, 2033)->isVisible());
  QVERIFY(!Control<QCheckBox>(o, 2034)->isVisible());
  // Later polls fill in reel 1 only.
  QTest::qWait(3 * ReelPage::kPollMs);
  QCOMPARE(Control<QLabel>(o, 2016)->text(), QString());
  QCOMPARE(Control<QLabel>(o, 2011)->text(), QStringLiteral("Position: 000"));

  // Spins and ramps go to reel index 0 alone.
  trace_->Mark();
  SetSteps(o, QStringLiteral("10"));
  Control<QPushButton>(o, 2007)->click();  // "- 1"
  Control<QPushButton>(o, 2031)->click();  // "Apply Ramps"
  QTRY_VERIFY(trace_->CommandsSince(kStatusPoll).size() >= 3);
  QCOMPARE(trace_->CommandsSince(kStatusPoll).mid(0, 1), QStringList{QStringLiteral("5700FF000A")});

  // Two reels: reel 2's box comes back; the next activation shows all three.
  Control<QComboBox>(o, 2010)->setCurrentIndex(1);
  QVERIFY(Control<QCheckBox>(o, 2033)->isVisible());
  QVERIFY(!Control<QCheckBox>(o, 2034)->isVisible());
  QTRY_COMPARE(Control<QLabel>(o, 2016)->text(), QStringLiteral("Position: 000"));
  QCOMPARE(Control<QLabel>(o, 2021)->text(), QString());
  o.sheet->Tabs()->setCurrentIndex(kQuietTab);
  o.sheet->Tabs()->setCurrentIndex(kReelTab);
  QCOMPARE(o.page->NumReels(), 3);
  for (int id : {2032, 2033, 2034}) QVERIFY(Control<QCheckBox>(o, id)->isVisible());
  QTRY_COMPARE(Control<QLabel>(o, 2021)->text(), QStringLiteral("Position: 000"));
}

void ReelTest::halfStepsSentAsOneByte() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  QTRY_VERIFY(o.page->Polling());
  auto* halfSteps = Control<QLineEdit>(o, 2005);
  halfSteps->clear();
  int before = o.page->Log()->LineCount();
  trace_->Mark();
  QTest::keyClicks(halfSteps, QStringLiteral("300"));
  QCOMPARE(o.page->HalfSteps(), 300);
  const QList<LogLine> log = LogFrom(o.page, before);
  QVERIFY(!log.isEmpty());
  QCOMPARE(log.last(),
           (LogLine{QStringLiteral("VantrelUSB::ConfigureReels (3, 300, 0) = success"), kBlack}));
  QTRY_VERIFY(!trace_->CommandsSince(kStatusPoll).isEmpty());
  QTRY_COMPARE(trace_->CommandsSince(kStatusPoll).last(), QStringLiteral("5603002C00"));
  // Letters cannot be typed into the box.
  QTest::keyClicks(halfSteps, QStringLiteral("x"));
  QCOMPARE(halfSteps->text(), QStringLiteral("300"));
}

void ReelTest::trackBarAndStepsBox() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  auto* track = Control<QSlider>(o, 2004);
  auto* steps = Control<QLineEdit>(o, 2003);
  QTest::keyClick(track, Qt::Key_Right);
  QCOMPARE(steps->text(), QStringLiteral("49"));
  QCOMPARE(o.page->NumSteps(), 49);
  QTest::keyClick(track, Qt::Key_PageDown);  // one step, as an arrow key
  QCOMPARE(o.page->NumSteps(), 48);
  QTest::keyClick(track, Qt::Key_End);
  QCOMPARE(steps->text(), QStringLiteral("32767"));
  QTest::keyClick(track, Qt::Key_Home);
  QCOMPARE(steps->text(), QStringLiteral("0"));
  QCOMPARE(o.page->NumSteps(), 0);
  // Typing into the box does not move the track bar.
  SetSteps(o, QStringLiteral("1234"));
  QCOMPARE(o.page->NumSteps(), 1234);
  QCOMPARE(track->value(), 0);
}

void ReelTest::sharedRampsReachEveryReel() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  QTRY_VERIFY(o.page->Polling());
  CHexBlockEdit* up = o.page->RampEditor(RampTables::kUp);
  up->setFocus();
  QTest::keyClicks(up, QStringLiteral("0a"));  // first entry 0x0A
  QCOMPARE(up->Bytes().left(1), QByteArray::fromHex("0A"));
  trace_->Mark();
  Control<QPushButton>(o, 2031)->click();
  const QString upTable = QStringLiteral("07") + QStringLiteral("0A23130E10100B");
  QTRY_COMPARE(trace_->CommandsSince(kStatusPoll),
               (QStringList{QStringLiteral("5800") + upTable, DefaultDown(0),
                            QStringLiteral("5801") + upTable, DefaultDown(1),
                            QStringLiteral("5802") + upTable, DefaultDown(2)}));
}

void ReelTest::perReelRampsReachTheirReel() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  QTRY_VERIFY(o.page->Polling());
  auto* share = Control<QCheckBox>(o, 2025);
  auto* reelList = Control<QComboBox>(o, 2027);
  share->click();
  QVERIFY(!o.page->ShareRamps());
  QVERIFY(reelList->isEnabled());
  reelList->setCurrentIndex(1);  // "Reel 2"
  QCOMPARE(o.page->SelectedReel(), 1);
  CHexBlockEdit* up = o.page->RampEditor(RampTables::kUp);
  CHexBlockEdit* down = o.page->RampEditor(RampTables::kDown);
  up->setFocus();
  QTest::keyClicks(up, QStringLiteral("01"));
  Control<QComboBox>(o, 2029)->setCurrentIndex(2);  // "Up: 3"
  QCOMPARE(up->Bytes(), QByteArray::fromHex("012313"));
  Control<QComboBox>(o, 2030)->setCurrentIndex(0);  // "Dn: 1"
  QCOMPARE(down->Bytes(), QByteArray::fromHex("16"));

  // Reel 1 keeps its own tables; back on reel 2 its own show again.
  reelList->setCurrentIndex(0);
  QCOMPARE(up->Bytes(), QByteArray::fromHex("6423130E10100B"));
  QCOMPARE(Control<QComboBox>(o, 2029)->currentText(), QStringLiteral("Up: 7"));
  reelList->setCurrentIndex(1);
  QCOMPARE(up->Bytes(), QByteArray::fromHex("012313"));
  QCOMPARE(Control<QComboBox>(o, 2029)->currentText(), QStringLiteral("Up: 3"));
  QCOMPARE(Control<QComboBox>(o, 2030)->currentText(), QStringLiteral("Dn: 1"));
  // Lengthening shows what was stored beyond the old end.
  Control<QComboBox>(o, 2030)->setCurrentIndex(3);
  QCOMPARE(down->Bytes(), QByteArray::fromHex("160E23C8"));
  Control<QComboBox>(o, 2030)->setCurrentIndex(0);

  trace_->Mark();
  Control<QPushButton>(o, 2031)->click();
  QTRY_COMPARE(trace_->CommandsSince(kStatusPoll),
               (QStringList{DefaultUp(0), DefaultDown(0), QStringLiteral("580103012313"),
                            QStringLiteral("59010116"), DefaultUp(2), DefaultDown(2)}));

  // Reel 2's minimum is 3 + 1 - 1 = 3 steps; the others still need 10.
  SetSteps(o, QStringLiteral("4"));
  const int before = o.page->Log()->LineCount();
  trace_->Mark();
  Control<QPushButton>(o, 2008)->click();
  QCOMPARE(
      LogFrom(o.page, before),
      (QList<LogLine>{
          {QStringLiteral("VantrelUSB::SpinReels (0, +1, 4) = error: min number of steps = 10"),
           kRed},
          {QStringLiteral("VantrelUSB::SpinReels (2, +1, 4) = error: min number of steps = 10"),
           kRed}}));
  QTRY_COMPARE(trace_->CommandsSince(kStatusPoll), QStringList{QStringLiteral("5701010004")});
}

void ReelTest::overlongEditorStaysInTheTable() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  QTRY_VERIFY(o.page->Polling());
  Control<QCheckBox>(o, 2025)->click();
  Control<QComboBox>(o, 2027)->setCurrentIndex(1);
  // More bytes than a table has room for, as a paste can leave the editor.
  o.page->RampEditor(RampTables::kUp)->SetData(QByteArray(100, '\xAA'));
  o.page->RampEditor(RampTables::kDown)->SetData(QByteArray(100, '\xBB'));
  trace_->Mark();
  Control<QPushButton>(o, 2031)->click();

  const usbRampTable& up = o.page->Ramps().Table(RampTables::kUp, 1);
  QCOMPARE(up.count, 7);
  for (int i = 0; i < RampTables::kRoom; ++i) QCOMPARE(up.steps[i], 0xAA);
  for (int i = RampTables::kRoom; i < 63; ++i) QCOMPARE(up.steps[i], 0);
  // The tables around it are untouched.
  QCOMPARE(o.page->Ramps().Entries(RampTables::kUp, 2), QByteArray::fromHex("6423130E10100B"));
  QCOMPARE(o.page->Ramps().Entries(RampTables::kDown, 0), QByteArray::fromHex("160E23C8"));
  QCOMPARE(o.page->Ramps().Table(RampTables::kDown, 1).count, 4);
  QTRY_COMPARE(trace_->CommandsSince(kStatusPoll),
               (QStringList{DefaultUp(0), DefaultDown(0), QStringLiteral("580107AAAAAAAAAAAAAA"),
                            QStringLiteral("590104BBBBBBBB"), DefaultUp(2), DefaultDown(2)}));
}

void ReelTest::statusRewrittenOnlyWhenChanged() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  Opened o = OpenOnPage();
  auto* position = Control<QLabel>(o, 2011);
  auto* sync = Control<QLabel>(o, 2024);
  // The first poll after activation writes every text.
  position->setText(QStringLiteral("scribbled"));
  QTRY_COMPARE(position->text(), QStringLiteral("Position: 000"));
  // Scribble over two texts: the unchanged values are not written again.
  position->setText(QStringLiteral("scribbled"));
  sync->setText(QStringLiteral("scribbled"));
  QTest::qWait(3 * ReelPage::kPollMs);
  QCOMPARE(position->text(), QStringLiteral("scribbled"));
  QCOMPARE(sync->text(), QStringLiteral("scribbled"));
  // A reel-count change forces every shown text at the next poll.
  Control<QComboBox>(o, 2010)->setCurrentIndex(1);
  QTRY_COMPARE(position->text(), QStringLiteral("Position: 000"));
  QCOMPARE(sync->text(), QString());
  // So does the next activation.
  position->setText(QStringLiteral("scribbled"));
  o.sheet->Tabs()->setCurrentIndex(kQuietTab);
  o.sheet->Tabs()->setCurrentIndex(kReelTab);
  QTRY_COMPARE(position->text(), QStringLiteral("Position: 000"));
  QTRY_COMPARE(sync->text(), QStringLiteral("Sync: 000"));
}

QTEST_MAIN(ReelTest)
#include "ReelTest.moc"
