// Every page of the sheet on a simulated board served by vantrelio: each one
// is made current in turn and must paint something, at the sheet's own size,
// with no log line and no label cut short: measured in its font, and in the
// pixels grabbed from each log, whose right edge must be bare. With
// K27_SCREENSHOT_DIR set, each page is also written there as
// page-N-<caption>.png, for people to look at.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QTextDocument>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <memory>

#include "CColouredListBox.h"
#include "pages/cctalk/CXMLTreeView.h"
#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "SimBoardProbe.h"
#include "SimDaemon.h"
#include "pages/cctalk/CCTalkPage.h"
#include "pages/cctalk/CTransactionView.h"
#include "pages/serial/SerialPortPage.h"
#include "pages/io/IOPage.h"
#include "pages/reels/ReelPage.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");

// "Input / Output" -> "Input-Output": letters and digits kept, every other run
// of characters becomes one dash.
QString FileSafe(const QString& caption) {
  QString out;
  for (const QChar c : caption) {
    if (c.isLetterOrNumber() && c.unicode() < 0x80) {
      out += c;
    } else if (!out.isEmpty() && !out.endsWith(QLatin1Char('-'))) {
      out += QLatin1Char('-');
    }
  }
  while (out.endsWith(QLatin1Char('-'))) out.chop(1);
  return out.isEmpty() ? QStringLiteral("page") : out;
}

// The ccTalk page after a simple poll of the simulator's coin acceptor on
// port B, read from the shipped dictionaries.
void ShowCcTalkTransaction(CCTalkPage* page, const QString& folder) {
  QCOMPARE(
      vantrel::diag::test::SimConsole(folder, {QStringLiteral("serial"), QStringLiteral("B"),
                                               QStringLiteral("attach"), QStringLiteral("cctalk")}),
      QString());
  auto* tree = page->findChild<CXMLTreeView*>(QStringLiteral("id1023"));
  auto* list = page->findChild<CTransactionView*>(QStringLiteral("id1022"));
  auto* send = page->findChild<QPushButton*>(QStringLiteral("id1014"));
  QVERIFY(tree != nullptr && list != nullptr && send != nullptr);
  const auto polls =
      tree->findItems(QStringLiteral("Command [254]"), Qt::MatchStartsWith | Qt::MatchRecursive);
  QVERIFY2(!polls.isEmpty(), "the shipped dictionaries were not found");
  tree->setCurrentItem(polls.front());
  tree->scrollToItem(polls.front());
  QTest::mouseClick(send, Qt::LeftButton);
  QTRY_VERIFY(list->topLevelItemCount() >= 2);
}

// The Serial Port page mid-exchange: its greeting sent to a loopback plug on
// port B and the echo received.
void ShowSerialExchange(SerialPortPage* page, const QString& folder) {
  QCOMPARE(vantrel::diag::test::SimConsole(
               folder, {QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                        QStringLiteral("loopback")}),
           QString());
  auto* send = page->findChild<QPushButton*>(QStringLiteral("id7002"));
  auto* list = page->findChild<CColouredListBox*>(QStringLiteral("id7003"));
  QVERIFY(send != nullptr && list != nullptr);
  QTest::mouseClick(send, Qt::LeftButton);
  QTRY_VERIFY(list->LineCount() >= 2 && list->LineText(1) == list->LineText(0));
}

// The Input / Output page with inputs read from the board and a few lamps
// switched on by pointing at them.
void ShowLiveInputs(QWidget* sheet, IOPage* page, const QString& folder) {
  QCOMPARE(vantrel::diag::test::SimConsole(
               folder, {QStringLiteral("inputs"), QStringLiteral("5AA5F00F00")}),
           QString());
  auto* input1 = page->findChild<QWidget*>(QStringLiteral("id6002"));  // input 0 reads 0
  QVERIFY(input1 != nullptr);
  QTRY_VERIFY(input1->property("checked").toBool());
  for (int id : {6034, 6036, 6042, 6050, 6068, 6043}) {
    auto* lamp = page->findChild<QWidget*>(QStringLiteral("id%1").arg(id));
    QVERIFY(lamp != nullptr);
    QTest::mouseMove(sheet, lamp->mapTo(sheet, lamp->rect().center()));
  }
  QTest::mouseMove(sheet, QPoint(1, 1));
}

// The Reels page with reels 1 and 3 turning.
void ShowTurningReels(ReelPage* page) {
  auto* steps = page->findChild<QLineEdit*>(QStringLiteral("id2003"));
  auto* spinBox2 = page->findChild<QCheckBox*>(QStringLiteral("id2033"));
  auto* plus1 = page->findChild<QPushButton*>(QStringLiteral("id2008"));
  auto* busy3 = page->findChild<QLabel*>(QStringLiteral("id2023"));
  QVERIFY(steps != nullptr && spinBox2 != nullptr && plus1 != nullptr && busy3 != nullptr);
  steps->setText(QStringLiteral("500"));
  spinBox2->setChecked(false);
  plus1->click();
  auto* position3 = page->findChild<QLabel*>(QStringLiteral("id2021"));
  QVERIFY(position3 != nullptr);
  QTRY_COMPARE(busy3->text(), QStringLiteral("Busy: 001"));
  QTRY_VERIFY(position3->text() != QStringLiteral("Position: 000"));
}

// Whether a pixel is the list's background (plain or selected), which is all
// that the right edge of a log shows when every line fits.
bool IsBackground(const QColor& c, const QPalette& palette) {
  for (const QColor& back : {palette.color(QPalette::Base), palette.color(QPalette::Highlight)}) {
    if (std::abs(c.red() - back.red()) < 24 && std::abs(c.green() - back.green()) < 24 &&
        std::abs(c.blue() - back.blue()) < 24)
      return true;
  }
  return false;
}

// No log line and no label on the page is cut at the size it is shown at.
void CheckNothingCut(QWidget* page, const QString& caption) {
  for (CColouredListBox* log : page->findChildren<CColouredListBox*>()) {
    if (!log->isVisible()) continue;
    const QFontMetrics metrics(log->LineFont());
    const int room = log->viewport()->width();
    for (int i = 0; i < log->LineCount(); ++i) {
      const QString text = log->LineText(i);
      const int width = log->FixedPitch() ? static_cast<int>(text.size()) *
                                                metrics.horizontalAdvance(QLatin1Char('0'))
                                          : metrics.horizontalAdvance(text);
      QVERIFY2(width <= room, qPrintable(QStringLiteral("%1: log %2 line cut at %3 of %4 px: %5")
                                             .arg(caption, log->objectName())
                                             .arg(room)
                                             .arg(width)
                                             .arg(text)));
    }
    const QImage image = log->viewport()->grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
      for (int x = image.width() - 2; x < image.width(); ++x) {
        QVERIFY2(IsBackground(image.pixelColor(x, y), log->palette()),
                 qPrintable(QStringLiteral("%1: log %2 has text at its right edge, row %3")
                                .arg(caption, log->objectName())
                                .arg(y)));
      }
    }
  }
  for (QLabel* label : page->findChildren<QLabel*>()) {
    if (!label->isVisible() || label->wordWrap() || label->text().isEmpty() ||
        Qt::mightBeRichText(label->text()))
      continue;
    const int width = label->fontMetrics().horizontalAdvance(label->text());
    QVERIFY2(width <= label->contentsRect().width(),
             qPrintable(QStringLiteral("%1: label cut at %2 of %3 px: %4")
                            .arg(caption)
                            .arg(label->contentsRect().width())
                            .arg(width)
                            .arg(label->text())));
  }
}

}  // namespace

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();

  void fileSafeCaptions();
  void everyPagePaints();

 private:
  void StartDaemon();
  void StopDaemon();

  vantrel::diag::test::SimDaemon daemon_;
};

void ScreenshotTest::initTestCase() {
  daemon_.UseFolder();
  StartDaemon();
}

void ScreenshotTest::cleanupTestCase() {
  vantrel::diag::test::CloseWindows();
  StopDaemon();
}

void ScreenshotTest::StartDaemon() { daemon_.Start(); }

void ScreenshotTest::StopDaemon() { daemon_.Stop(); }

void ScreenshotTest::fileSafeCaptions() {
  QCOMPARE(FileSafe(QStringLiteral("Input / Output")), QStringLiteral("Input-Output"));
  QCOMPARE(FileSafe(QStringLiteral("Real-Time Clock")), QStringLiteral("Real-Time-Clock"));
  QCOMPARE(FileSafe(QStringLiteral("cctalk Port")), QStringLiteral("cctalk-Port"));
  QCOMPARE(FileSafe(QStringLiteral("About")), QStringLiteral("About"));
  QCOMPARE(FileSafe(QStringLiteral(" ../a\\b:c* ")), QStringLiteral("a-b-c"));
  QCOMPARE(FileSafe(QStringLiteral("/ . /")), QStringLiteral("page"));
}

void ScreenshotTest::everyPagePaints() {
  CK27DiagApp app;
  app.InitialiseBoard();
  QVERIFY2(app.Initialised() != 0, "the simulated board was not found");
  auto sheet = std::make_unique<CK27DiagSheet>(&app, kCaption);
  sheet->show();
  sheet->activateWindow();
  QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));

  // The ccTalk page reads the dictionaries of its current folder when it is
  // first shown: the shipped ones.
  const QString startDir = QDir::currentPath();
  QVERIFY(QDir::setCurrent(QStringLiteral(K27_DICTIONARY_DIR)));
  const auto restoreDir = qScopeGuard([&] { QDir::setCurrent(startDir); });

  QTabWidget* tabs = sheet->Tabs();
  QVERIFY(tabs != nullptr);
  const QStringList expected = vantrel::diag::test::TabCaptions();
  QStringList captions;
  for (int i = 0; i < tabs->count(); ++i) captions << tabs->tabText(i);
  QCOMPARE(captions, expected);

  QString outDir = qEnvironmentVariable("K27_SCREENSHOT_DIR");
  if (!outDir.isEmpty()) QVERIFY2(QDir().mkpath(outDir), qPrintable(outDir));

  QStringList written;
  for (int i = 0; i < tabs->count(); ++i) {
    tabs->setCurrentIndex(i);
    QWidget* page = tabs->widget(i);
    QTRY_VERIFY(page->isVisible());
    QTRY_VERIFY(page->width() > 0 && page->height() > 0);
    QCoreApplication::processEvents();
    if (auto* ccTalk = qobject_cast<CCTalkPage*>(page))
      ShowCcTalkTransaction(ccTalk, daemon_.Folder());
    if (auto* serial = qobject_cast<SerialPortPage*>(page))
      ShowSerialExchange(serial, daemon_.Folder());
    if (auto* io = qobject_cast<IOPage*>(page)) ShowLiveInputs(sheet.get(), io, daemon_.Folder());
    if (auto* reels = qobject_cast<ReelPage*>(page)) ShowTurningReels(reels);
    if (QTest::currentTestFailed()) return;
    CheckNothingCut(page, expected[i]);
    if (QTest::currentTestFailed()) return;

    // The whole sheet, so that the tab bar shows which page this is.
    const QPixmap shot = sheet->grab();
    QVERIFY2(!shot.isNull(), qPrintable(expected[i]));
    QVERIFY(shot.width() > 0 && shot.height() > 0);
    const QPixmap pageShot = page->grab();
    QVERIFY2(!pageShot.isNull() && pageShot.width() > 0 && pageShot.height() > 0,
             qPrintable(expected[i]));

    if (!outDir.isEmpty()) {
      const QString path = QDir(outDir).filePath(
          QStringLiteral("page-%1-%2.png").arg(i + 1).arg(FileSafe(tabs->tabText(i))));
      QVERIFY2(shot.save(path, "PNG"), qPrintable(path));
      QVERIFY2(!QImage(path).isNull(), qPrintable(path));
      written << path;
    }
  }
  QCOMPARE(tabs->currentIndex(), tabs->count() - 1);
  if (!outDir.isEmpty()) {
    QCOMPARE(written.size(), expected.size());
    qInfo("wrote %lld pages to %s", static_cast<long long>(written.size()), qPrintable(outDir));
  }
}

QTEST_MAIN(ScreenshotTest)
#include "ScreenshotTest.moc"
