// The application shell and the About page, first with no board, then with a
// simulated board served by vantrelio.
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QSet>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "SimDaemon.h"
#include "UsbErrorNames.h"
#include "pages/about/AboutPage.h"
#include "pages/cctalk/CCTalkPage.h"
#include "PageList.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");

QString LineText(QWidget* root, const char* id) {
  auto* label = root->findChild<QLabel*>(QLatin1String(id));
  return label != nullptr ? label->text()
                          : QStringLiteral("<no control %1>").arg(QLatin1String(id));
}

}  // namespace

class AboutTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanup();
  void cleanupTestCase();

  void errorNames();
  void versionReadKeepsInsideItsBuffer();
  void sheetTabsAndStartPage();
  void noBoardTexts();
  void reinitialiseFindsTheBoard();

 private:
  std::unique_ptr<CK27DiagSheet> OpenSheet(CK27DiagApp& app);
  void StartDaemon();
  void StopDaemon();

  vantrel::diag::test::SimDaemon daemon_;
};

void AboutTest::initTestCase() { daemon_.UseFolder(); }

void AboutTest::cleanup() { vantrel::diag::test::CloseWindows(); }

void AboutTest::cleanupTestCase() { StopDaemon(); }

std::unique_ptr<CK27DiagSheet> AboutTest::OpenSheet(CK27DiagApp& app) {
  return vantrel::diag::test::OpenSheet(app, kCaption);
}

void AboutTest::StartDaemon() { daemon_.Start(); }

void AboutTest::StopDaemon() { daemon_.Stop(); }

void AboutTest::errorNames() {
  QCOMPARE(vantrel::diag::UsbErrorName(USB_MESSAGE_EXECUTION_SUCCESS),
           "USB_MESSAGE_EXECUTION_SUCCESS");
  QCOMPARE(vantrel::diag::UsbErrorName(USB_DEVICE_WRITE_ERROR), "USB_DEVICE_WRITE_ERROR");
  QCOMPARE(vantrel::diag::UsbErrorName(USB_DEVICE_BYTE_COUNT_ERROR), "USB_DEVICE_BYTE_COUNT_ERROR");
  QCOMPARE(vantrel::diag::UsbErrorName(USB_MESSAGE_ILLEGAL_BAUD_RATE),
           "USB_MESSAGE_ILLEGAL_BAUD_RATE");
  QCOMPARE(vantrel::diag::UsbErrorName(USB_MESSAGE_I2C_NACK), "USB_MESSAGE_I2C_NACK");
  QCOMPARE(vantrel::diag::UsbErrorName(USB_MESSAGE_SYNC_REQUEST_LENGTH_ERROR),
           "USB_MESSAGE_SYNC_REQUEST_LENGTH_ERROR");
  // No entry for the illegal-port code, nor for values outside the table.
  QCOMPARE(vantrel::diag::UsbErrorName(USB_MESSAGE_ILLEGAL_PORT), "Unknown error");
  QCOMPARE(vantrel::diag::UsbErrorName(static_cast<usbErrorCode>(22)), "Unknown error");
  QCOMPARE(vantrel::diag::UsbErrorName(static_cast<usbErrorCode>(-1)), "Unknown error");
}

void AboutTest::versionReadKeepsInsideItsBuffer() {
  // The library copies the whole reply data, up to 62 bytes, and adds no zero.
  const auto fullReply = [](unsigned char* text) {
    std::memset(text, 'A', 62);
    return 1;
  };
  QCOMPARE(AboutPage::ReadVersion(fullReply).value_or(QString()), QString(62, QLatin1Char('A')));

  // Even a read that fills every byte it is given is cut short, not read past.
  const auto overfull = [](unsigned char* text) {
    std::memset(text, 'C', AboutPage::kVersionBufferBytes);
    return 1;
  };
  QCOMPARE(AboutPage::ReadVersion(overfull).value_or(QString()),
           QString(static_cast<qsizetype>(AboutPage::kVersionBufferBytes - 1), QLatin1Char('C')));

  // The text ends at the first zero byte even when bytes follow it.
  const auto zeroInside = [](unsigned char* text) {
    std::memcpy(text, "V2.04\0junk", 10);
    return 1;
  };
  QCOMPARE(AboutPage::ReadVersion(zeroInside).value_or(QString()), QStringLiteral("V2.04"));

  // Whatever the buffer held before is not shown.
  const auto shortReply = [](unsigned char* text) {
    text[0] = 'X';
    return 1;
  };
  QCOMPARE(AboutPage::ReadVersion(shortReply).value_or(QString()), QStringLiteral("X"));

  const auto failed = [](unsigned char* text) {
    std::memset(text, 'B', 62);
    return 0;
  };
  QVERIFY(!AboutPage::ReadVersion(failed).has_value());
}

void AboutTest::sheetTabsAndStartPage() {
  CK27DiagApp app;
  auto sheet = OpenSheet(app);
  QCOMPARE(sheet->windowTitle(), kCaption);
  QTabWidget* tabs = sheet->Tabs();
  QVERIFY(tabs != nullptr);
  // One tab per entry of the page list, in its order, of the entry's class.
  const auto pages = vantrel::diag::SheetPages();
  QCOMPARE(tabs->count(), static_cast<int>(pages.size()));
  QStringList captions;
  QStringList ids;
  for (int i = 0; i < tabs->count(); ++i) {
    QCOMPARE(tabs->tabText(i), QString::fromUtf8(pages[i].caption));
    QCOMPARE(tabs->widget(i)->metaObject(), pages[i].type);
    QCOMPARE(vantrel::diag::PageTab(*pages[i].type), i);
    captions << tabs->tabText(i);
    ids << tabs->widget(i)->objectName();
  }
  QCOMPARE(captions, vantrel::diag::test::TabCaptions());
  QCOMPARE(QSet<QString>(captions.begin(), captions.end()).size(), captions.size());
  QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
  QCOMPARE(vantrel::diag::PageTab<CK27DiagSheet>(), -1);

  // The board's pages keep their captions, ids and order; a new page may
  // come anywhere between them.
  const QList<std::pair<QString, QString>> known{
      {QStringLiteral("cctalk Port"), QStringLiteral("id104")},
      {QStringLiteral("Input / Output"), QStringLiteral("id106")},
      {QStringLiteral("Real-Time Clock"), QStringLiteral("id103")},
      {QStringLiteral("Serial Port"), QStringLiteral("id107")},
      {QStringLiteral("EEPROM Memory"), QStringLiteral("id108")},
      {QStringLiteral("SRAM Memory"), QStringLiteral("id109")},
      {QStringLiteral("Reels"), QStringLiteral("id110")},
      {QStringLiteral("About"), QStringLiteral("id111")}};
  qsizetype found = 0;
  for (int i = 0; i < tabs->count() && found < known.size(); ++i) {
    if (captions[i] != known[found].first) continue;
    QCOMPARE(ids[i], known[found].second);
    ++found;
  }
  QCOMPARE(found, known.size());

  QCOMPARE(tabs->currentIndex(), vantrel::diag::PageTab<AboutPage>());
  QVERIFY(qobject_cast<AboutPage*>(tabs->currentWidget()) != nullptr);
  QVERIFY(tabs->currentWidget()->isVisible());
}

void AboutTest::noBoardTexts() {
  QVERIFY(QDir(daemon_.Folder()).isEmpty());
  CK27DiagApp app;
  app.InitialiseBoard();
  QCOMPARE(app.Initialised(), 0);
  auto sheet = std::make_unique<CK27DiagSheet>(&app, kCaption);
  // Before the page is first shown it holds its initial texts.
  QCOMPARE(LineText(sheet.get(), "id9102"), QStringLiteral("Device Status: unknown"));
  QCOMPARE(LineText(sheet.get(), "id9100"), QStringLiteral("DLL Version: unknown"));
  QCOMPARE(LineText(sheet.get(), "id9101"), QStringLiteral("8051 Version: unknown"));
  QCOMPARE(LineText(sheet.get(), "id9103"), QStringLiteral("PIC Version: unknown"));
  auto* button = sheet->findChild<QPushButton*>(QStringLiteral("id9105"));
  QVERIFY(button != nullptr);
  QCOMPARE(button->text(), QStringLiteral("Re-initialise"));
  QVERIFY(sheet->findChild<QLabel*>(QStringLiteral("id9106")) != nullptr);

  sheet->show();
  QVERIFY(QTest::qWaitForWindowExposed(sheet.get()));
  QCOMPARE(LineText(sheet.get(), "id9102"), QStringLiteral("Device Status: Failed initialisation"));
  QCOMPARE(LineText(sheet.get(), "id9100"), QStringLiteral("DLL Version: 35"));
  QCOMPARE(LineText(sheet.get(), "id9103"),
           QStringLiteral("PIC Version: Error (USB_MESSAGE_EXECUTION_SUCCESS)"));
  QCOMPARE(LineText(sheet.get(), "id9101"),
           QStringLiteral("8051 Version: Error (USB_MESSAGE_EXECUTION_SUCCESS)"));

  // Switching tabs does not compute the texts again.
  sheet->Tabs()->setCurrentIndex(vantrel::diag::PageTab<CCTalkPage>());
  sheet->Tabs()->setCurrentIndex(vantrel::diag::PageTab<AboutPage>());
  QCOMPARE(LineText(sheet.get(), "id9102"), QStringLiteral("Device Status: Failed initialisation"));
}

void AboutTest::reinitialiseFindsTheBoard() {
  CK27DiagApp app;
  auto sheet = OpenSheet(app);
  QCOMPARE(LineText(sheet.get(), "id9102"), QStringLiteral("Device Status: Failed initialisation"));

  StartDaemon();
  if (QTest::currentTestFailed()) return;
  auto* button = sheet->findChild<QPushButton*>(QStringLiteral("id9105"));
  QVERIFY(button != nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
  QVERIFY(app.Initialised() != 0);
  QCOMPARE(LineText(sheet.get(), "id9102"), QStringLiteral("Device Status: Initialised"));
  QCOMPARE(LineText(sheet.get(), "id9100"), QStringLiteral("DLL Version: 35"));
  QCOMPARE(LineText(sheet.get(), "id9103"), QStringLiteral("PIC Version: P1.03"));
  QCOMPARE(LineText(sheet.get(), "id9101"), QStringLiteral("8051 Version: V2.04"));

  // Pressed again while connected: closed and opened again on the same board object.
  VantrelUSB* board = app.Board();
  QTest::mouseClick(button, Qt::LeftButton);
  QVERIFY(app.Initialised() != 0);
  QCOMPARE(app.Board(), board);
  QCOMPARE(LineText(sheet.get(), "id9102"), QStringLiteral("Device Status: Initialised"));
  QCOMPARE(LineText(sheet.get(), "id9101"), QStringLiteral("8051 Version: V2.04"));

  // The board goes away: the next Re-initialise fails and says so.
  StopDaemon();
  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(app.Initialised(), 0);
  QCOMPARE(LineText(sheet.get(), "id9102"), QStringLiteral("Device Status: Failed initialisation"));
  QCOMPARE(LineText(sheet.get(), "id9100"), QStringLiteral("DLL Version: 35"));
  QVERIFY(LineText(sheet.get(), "id9101").startsWith(QStringLiteral("8051 Version: Error (")));
}

QTEST_MAIN(AboutTest)
#include "AboutTest.moc"
