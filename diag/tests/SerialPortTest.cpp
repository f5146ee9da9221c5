// The Serial Port page: its lists and the rates that carry over between the
// ports, the captions with no board, and sending and receiving on a
// simulated board served by vantrelio, read back through the simulator's
// console and the daemon's exchange trace.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
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
#include "pages/serial/BaudTable.h"
#include "pages/serial/SerialDumpLine.h"
#include "pages/serial/SerialPortPage.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const int kSerialTab = vantrel::diag::PageTab<SerialPortPage>();
const int kOtherTab =
    vantrel::diag::PageTab<AboutPage>();  // About: makes no board calls of its own
const QString kSetConfig = QStringLiteral("61");
constexpr std::int32_t kBlue = CColouredListBox::Rgb(0, 0, 200);

// As the technician picks an entry: the list shows it and reports the choice.
void Choose(QComboBox* list, int index) {
  QVERIFY(list != nullptr);
  QVERIFY(index >= 0 && index < list->count());
  list->setCurrentIndex(index);
  emit list->activated(index);
}

QString Hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex().toUpper()); }

// The line the page shows for `bytes` at `offset`, written out by hand.
QString ExpectedLine(int offset, const QByteArray& bytes) {
  QString hex = QString::asprintf("%04X ", offset);
  QString chars;
  for (int i = 0; i < 16; ++i) {
    if (i < bytes.size()) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      hex += QString::asprintf("%02X ", b);
      chars += b < 0x20 ? QLatin1Char('.') : QChar(b);
    } else {
      hex += QStringLiteral("   ");
      chars += QLatin1Char(' ');
    }
  }
  return hex + chars;
}

}  // namespace

class SerialPortTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanup();
  void cleanupTestCase();

  void baudTableAndDumpLines();
  void noBoardCaptions();
  void listsAndRatesCarriedBetweenPorts();
  void sendAddsDumpLinesInChunksOf16();
  void receivedBytesRebuildThePartialLine();
  void echoedBytesShowWhileActive();
  void refusedConfigurationIsRetriedAfterInit();

 private:
  std::unique_ptr<CK27DiagSheet> OpenSerialPage(CK27DiagApp& app);
  SerialPortPage* Page(CK27DiagSheet* sheet) const;
  template <typename T>
  static T* Control(CK27DiagSheet* sheet, int id) {
    return sheet->findChild<T*>(QStringLiteral("id%1").arg(id));
  }
  QString Console(const QStringList& words) {
    return vantrel::diag::test::SimConsole(daemon_.Folder(), words);
  }
  // Queues bytes for port B to receive and moves the board's time on until
  // they have all arrived.
  void Arrive(const QByteArray& bytes);

  vantrel::diag::test::SimDaemon daemon_;
  std::unique_ptr<vantrel::diag::test::ExchangeTrace> trace_;
};

void SerialPortTest::initTestCase() {
  daemon_.UseFolder();
  trace_ = std::make_unique<vantrel::diag::test::ExchangeTrace>(daemon_.Folder() +
                                                                QStringLiteral("/trace.log"));
  daemon_.AddArguments({QStringLiteral("--trace"), trace_->Path()});
}

void SerialPortTest::cleanup() { vantrel::diag::test::CloseWindows(); }

void SerialPortTest::cleanupTestCase() { daemon_.Stop(); }

std::unique_ptr<CK27DiagSheet> SerialPortTest::OpenSerialPage(CK27DiagApp& app) {
  auto sheet = vantrel::diag::test::OpenSheet(app, kCaption);
  sheet->Tabs()->setCurrentIndex(kSerialTab);
  return sheet;
}

SerialPortPage* SerialPortTest::Page(CK27DiagSheet* sheet) const {
  return qobject_cast<SerialPortPage*>(sheet->Tabs()->widget(kSerialTab));
}

void SerialPortTest::Arrive(const QByteArray& bytes) {
  QCOMPARE(
      Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("push"), Hex(bytes)}),
      QString());
  // 10 bits a byte at 9600 baud is about a millisecond each.
  QCOMPARE(Console({QStringLiteral("advance"), QString::number(bytes.size() + 50)}), QString());
}

void SerialPortTest::baudTableAndDumpLines() {
  QCOMPARE(BaudListLength(0), 7);
  QCOMPARE(BaudListLength(1), 12);
  QCOMPARE(BaudListLength(2), 0);
  // Each port's rates are the ones the board takes.
  QCOMPARE(BaudRow(0, 14400), -1);
  QCOMPARE(BaudRow(0, 57600), -1);
  QCOMPARE(BaudRow(1, 110), 11);
  QCOMPARE(TranslatedBaud(0, 57600), 62500u);
  QCOMPARE(TranslatedBaud(1, 62500), 62500u);
  QCOMPARE(TranslatedBaud(0, 14400), 19200u);
  for (std::uint32_t slow : {110u, 300u, 600u}) QCOMPARE(TranslatedBaud(0, slow), 1200u);
  for (int row = 0; row < BaudListLength(0); ++row)
    QCOMPARE(TranslatedBaud(1, baudTable[row][0].baudRate), baudTable[row][0].baudRate);
  QCOMPARE(TranslatedBaud(0, 12345), 12345u);

  // "Hello, world!" at 0: 13 bytes, nine blanks, the text, three blanks.
  const QByteArray hello("Hello, world!");
  const auto* data = reinterpret_cast<const std::uint8_t*>(hello.constData());
  const QString line = SerialDumpLine(0, {data, 13});
  QCOMPARE(line,
           QStringLiteral("0000 48 65 6C 6C 6F 2C 20 77 6F 72 6C 64 21          Hello, world!   "));
  // Control bytes are dots; bytes from 0x80 up are shown as they are; the
  // offset grows past four digits.
  const std::uint8_t odd[] = {0x00, 0x1F, 0x20, 0x7F, 0x80, 0xE9, 0xFF};
  QCOMPARE(SerialDumpLine(0x12345, odd),
           ExpectedLine(0x12345, QByteArray(reinterpret_cast<const char*>(odd), 7)));
  QVERIFY(SerialDumpLine(0x12345, odd).startsWith(QStringLiteral("12345 00 1F 20 7F 80 E9 FF ")));
  QVERIFY(SerialDumpLine(0, odd).endsWith(QStringLiteral("..") + QStringLiteral(" ") + QChar(0x7F) +
                                          QChar(0x80) + QChar(0xE9) + QChar(0xFF) +
                                          QString(9, QLatin1Char(' '))));
  // More than 16 bytes are never read.
  const QByteArray many(20, 'x');
  QCOMPARE(SerialDumpLine(0, {reinterpret_cast<const std::uint8_t*>(many.constData()), 20}).size(),
           5 + 48 + 16);
}

void SerialPortTest::noBoardCaptions() {
  QVERIFY(QDir(daemon_.Folder()).isEmpty());
  CK27DiagApp app;
  auto sheet = OpenSerialPage(app);
  QCOMPARE(app.Initialised(), 0);
  SerialPortPage* page = Page(sheet.get());
  QVERIFY(page != nullptr);
  QCOMPARE(page->objectName(), QStringLiteral("id107"));
  QVERIFY(page->Polling());
  const QString name = QLatin1String(vantrel::diag::UsbErrorName(app.Board()->GetLastError()));
  QCOMPARE(Control<QGroupBox>(sheet.get(), 7009)->title(),
           QStringLiteral("Output - Vantrel.SetConfig () = error: %1").arg(name));
  // Each tick shows the receive error.
  QTRY_COMPARE(Control<QGroupBox>(sheet.get(), 7010)->title(),
               QStringLiteral("Output - Vantrel.Receive () = error: %1").arg(name));
  // Sending is refused with the send text, and adds nothing.
  QTest::mouseClick(Control<QPushButton>(sheet.get(), 7002), Qt::LeftButton);
  QCOMPARE(Control<QGroupBox>(sheet.get(), 7009)->title(),
           QStringLiteral("Output - Vantrel.Send () = error: %1").arg(name));
  QCOMPARE(Control<CColouredListBox>(sheet.get(), 7003)->LineCount(), 0);

  sheet->Tabs()->setCurrentIndex(kOtherTab);
  QVERIFY(!page->Polling());
}

void SerialPortTest::listsAndRatesCarriedBetweenPorts() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  CK27DiagApp app;
  trace_->Mark();
  auto sheet = OpenSerialPage(app);
  SerialPortPage* page = Page(sheet.get());
  QVERIFY(page != nullptr);
  auto* ports = Control<QComboBox>(sheet.get(), 7004);
  auto* bauds = Control<QComboBox>(sheet.get(), 7014);
  auto* cts = Control<QComboBox>(sheet.get(), 7015);
  auto* rts = Control<QComboBox>(sheet.get(), 7016);
  QVERIFY(ports && bauds && cts && rts);

  QCOMPARE(ports->currentText(), QStringLiteral("Port: B"));
  QCOMPARE(ports->count(), 2);
  QCOMPARE(bauds->count(), 12);
  QCOMPARE(bauds->itemText(0), QStringLiteral("UART_BAUDB_62k5"));
  QCOMPARE(bauds->itemText(11), QStringLiteral("UART_BAUDB_110"));
  QCOMPARE(bauds->currentText(), QStringLiteral("UART_BAUDB_9k6"));
  QCOMPARE(cts->currentText(), QStringLiteral("OutxCtsFlow: FALSE"));
  QCOMPARE(rts->currentText(), QStringLiteral("RtsControl: DISABLE"));
  QCOMPARE(rts->itemText(0), QStringLiteral("RtsControl: ENABLE"));
  QCOMPARE(rts->itemText(3), QStringLiteral("RtsControl: TOGGLE"));
  QCOMPARE(Control<QGroupBox>(sheet.get(), 7009)->title(), QStringLiteral("Output"));
  QVERIFY(Control<QPushButton>(sheet.get(), 7002)->isEnabled());
  // The first showing applies the settings (twice: setup and activation):
  // port B, RS-232, 9600 baud.
  QVERIFY(trace_->CommandsSince().contains(QStringLiteral("6100000000B2FF")));

  // Port B at 57600, then port A: the next higher rate that port A has.
  Choose(bauds, 1);
  QCOMPARE(page->BaudRate(), 57600u);
  trace_->Mark();
  Choose(ports, 0);
  QCOMPARE(page->Port(), USB_SERIAL_PORT_A);
  QCOMPARE(page->BaudRate(), 62500u);
  QCOMPARE(bauds->count(), 7);
  QCOMPARE(bauds->currentText(), QStringLiteral("UART_BAUDA_62k5"));
  QCOMPARE(trace_->CommandsSince(), QStringList{QStringLiteral("6100000000FD00")});
  QCOMPARE(Control<QGroupBox>(sheet.get(), 7009)->title(), QStringLiteral("Output"));
  // And back: 62500 on port B.
  Choose(ports, 1);
  QCOMPARE(page->BaudRate(), 62500u);
  QCOMPARE(bauds->currentText(), QStringLiteral("UART_BAUDB_62k5"));
  // Port B's slowest rates become 1200 on port A.
  Choose(bauds, 11);
  QCOMPARE(page->BaudRate(), 110u);
  Choose(ports, 0);
  QCOMPARE(page->BaudRate(), 1200u);
  QCOMPARE(bauds->currentText(), QStringLiteral("UART_BAUDA_1k2"));

  // CTS and RTS: list order to the record's coding, sent as bytes 3 and 2.
  trace_->Mark();
  Choose(cts, 0);
  QCOMPARE(page->CtsFlow(), 1);
  Choose(rts, 2);
  QCOMPARE(page->RtsControl(), 2);
  Choose(rts, 0);
  QCOMPARE(page->RtsControl(), 1);
  QCOMPARE(trace_->CommandsSince(),
           (QStringList{QStringLiteral("61000000016400"), QStringLiteral("61000002016400"),
                        QStringLiteral("61000001016400")}));
  Choose(cts, 1);
  Choose(rts, 1);
  QCOMPARE(page->CtsFlow(), 0);
  QCOMPARE(page->RtsControl(), 0);
}

void SerialPortTest::sendAddsDumpLinesInChunksOf16() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  QCOMPARE(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                    QStringLiteral("none")}),
           QString());
  CK27DiagApp app;
  auto sheet = OpenSerialPage(app);
  SerialPortPage* page = Page(sheet.get());
  auto* editor = Control<CHexBlockEdit>(sheet.get(), 7001);
  auto* list = Control<CColouredListBox>(sheet.get(), 7003);
  auto* send = Control<QPushButton>(sheet.get(), 7002);
  QVERIFY(page && editor && list && send);
  QCOMPARE(editor->Bytes(), QByteArray("Hello, world!"));
  QCOMPARE(editor->BytesPerRow(), 16);
  QVERIFY(!editor->WideAddress());
  QVERIFY(list->FixedPitch());
  // Switched away so that no poll runs in between.
  sheet->Tabs()->setCurrentIndex(kOtherTab);
  const QString before =
      Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("sent")});

  QByteArray forty;
  for (int i = 0; i < 40; ++i) forty.append(static_cast<char>(0x30 + i));
  editor->SetData(forty);
  page->SendBytes();
  QCOMPARE(list->LineCount(), 3);
  QCOMPARE(list->LineText(0), ExpectedLine(0x00, forty.mid(0, 16)));
  QCOMPARE(list->LineText(1), ExpectedLine(0x10, forty.mid(16, 16)));
  QCOMPARE(list->LineText(2), ExpectedLine(0x20, forty.mid(32)));
  for (int i = 0; i < 3; ++i) QCOMPARE(list->LineColour(i), CColouredListBox::kDefaultColour);
  QCOMPARE(Control<QGroupBox>(sheet.get(), 7009)->title(), QStringLiteral("Output"));

  // The offset runs on.
  editor->SetData(QByteArray("Hello, world!"));
  page->SendBytes();
  QCOMPARE(list->LineCount(), 4);
  QCOMPARE(list->LineText(3), ExpectedLine(40, QByteArray("Hello, world!")));
  QCOMPARE(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("sent")}),
           before + Hex(forty + QByteArray("Hello, world!")));

  // An empty editor sends nothing and adds nothing.
  editor->SetData(QByteArray());
  trace_->Mark();
  page->SendBytes();
  QCOMPARE(list->LineCount(), 4);
  for (const QString& command : trace_->CommandsSince())
    QVERIFY2(!command.startsWith(QStringLiteral("62")), qPrintable(command));

  // The button does the same.
  sheet->Tabs()->setCurrentIndex(kSerialTab);
  editor->SetData(QByteArray("AB"));
  QTest::mouseClick(send, Qt::LeftButton);
  QCOMPARE(list->LineCount(), 5);
  QCOMPARE(list->LineText(4), ExpectedLine(53, QByteArray("AB")));
}

void SerialPortTest::receivedBytesRebuildThePartialLine() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  QCOMPARE(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                    QStringLiteral("none")}),
           QString());
  CK27DiagApp app;
  auto sheet = OpenSerialPage(app);
  SerialPortPage* page = Page(sheet.get());
  auto* list = Control<CColouredListBox>(sheet.get(), 7003);
  QVERIFY(page && list);
  // Polls are run by hand from here on.
  sheet->Tabs()->setCurrentIndex(kOtherTab);
  QVERIFY(!page->Polling());
  page->Poll();
  QCOMPARE(list->LineCount(), 0);

  // 20 bytes in one tick: one full blue line and one of 4 bytes.
  QByteArray twenty;
  for (int i = 0; i < 20; ++i) twenty.append(static_cast<char>(0x41 + i));
  Arrive(twenty);
  page->Poll();
  QCOMPARE(list->LineCount(), 2);
  QCOMPARE(list->LineText(0), ExpectedLine(0x00, twenty.left(16)));
  QCOMPARE(list->LineText(1), ExpectedLine(0x10, twenty.mid(16)));
  QCOMPARE(list->LineColour(0), kBlue);
  QCOMPARE(list->LineColour(1), kBlue);
  QCOMPARE(page->RxCount(), 4);
  QCOMPARE(Control<QGroupBox>(sheet.get(), 7010)->title(), QStringLiteral("Transactions"));

  // A byte on the next tick replaces the 4-byte line with a 5-byte line at
  // the same offset.
  Arrive(QByteArray("\x01", 1));
  page->Poll();
  QCOMPARE(list->LineCount(), 2);
  QCOMPARE(list->LineText(1), ExpectedLine(0x10, twenty.mid(16) + QByteArray("\x01", 1)));

  // A configuration change abandons the partial line: it stays, and the
  // next byte starts a new line at the same offset.
  QCOMPARE(page->ApplyConfiguration(), 0);
  QCOMPARE(page->RxCount(), 0);
  Arrive(QByteArray("Z"));
  page->Poll();
  QCOMPARE(list->LineCount(), 3);
  QCOMPARE(list->LineText(1), ExpectedLine(0x10, twenty.mid(16) + QByteArray("\x01", 1)));
  QCOMPARE(list->LineText(2), ExpectedLine(0x10, QByteArray("Z")));

  // At most 64 bytes a tick: 100 waiting take two ticks.
  QByteArray hundred;
  for (int i = 0; i < 100; ++i) hundred.append(static_cast<char>(i));
  Arrive(hundred);
  page->Poll();
  // 1 + 64 bytes since offset 0x10: four full lines and one of 1 byte.
  QCOMPARE(list->LineCount(), 2 + 4 + 1);
  QCOMPARE(page->RxCount(), 1);
  QCOMPARE(list->LineText(6), ExpectedLine(0x50, hundred.mid(63, 1)));
  page->Poll();
  QCOMPARE(list->LineCount(), 2 + 6 + 1);
  QCOMPARE(page->RxCount(), 5);
  QCOMPARE(list->LineText(8), ExpectedLine(0x70, hundred.mid(95)));
  QCOMPARE(list->LineText(7), ExpectedLine(0x60, hundred.mid(79, 16)));
  page->Poll();
  QCOMPARE(list->LineCount(), 9);
}

void SerialPortTest::echoedBytesShowWhileActive() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  QCOMPARE(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                    QStringLiteral("loopback")}),
           QString());
  CK27DiagApp app;
  auto sheet = OpenSerialPage(app);
  SerialPortPage* page = Page(sheet.get());
  auto* list = Control<CColouredListBox>(sheet.get(), 7003);
  QVERIFY(page && list);
  QVERIFY(page->Polling());
  QTest::mouseClick(Control<QPushButton>(sheet.get(), 7002), Qt::LeftButton);
  const QString sent = ExpectedLine(0, QByteArray("Hello, world!"));
  QCOMPARE(list->LineText(0), sent);
  // The timer picks the echo up: the same bytes, in blue, on one line.
  QTRY_COMPARE(list->LineCount(), 2);
  QTRY_COMPARE(list->LineText(1), sent);
  QCOMPARE(list->LineColour(1), kBlue);
  QCOMPARE(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                    QStringLiteral("none")}),
           QString());
}

// A refused configuration is tried once more after the connection has been
// opened again, in the plain mode (port type 0); refused twice, the caption
// tells. Return in the byte editor sends.
void SerialPortTest::refusedConfigurationIsRetriedAfterInit() {
  daemon_.Start();
  if (QTest::currentTestFailed()) return;
  QCOMPARE(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("attach"),
                    QStringLiteral("silent")}),
           QString());
  CK27DiagApp app;
  auto sheet = OpenSerialPage(app);
  auto* caption = Control<QGroupBox>(sheet.get(), 7009);
  QCOMPARE(caption->title(), QStringLiteral("Output"));

  trace_->Mark();
  QCOMPARE(Console({QStringLiteral("fault"), QStringLiteral("4"), kSetConfig,
                    QStringLiteral("status=3"), QStringLiteral("1")}),
           QString());
  Choose(Control<QComboBox>(sheet.get(), 7016), 0);
  QCOMPARE(caption->title(), QStringLiteral("Output"));
  QStringList commands;
  QTRY_VERIFY(
      (commands = trace_->CommandsSince(), commands.filter(QStringLiteral("6100")).size() >= 2));
  QList<qsizetype> configs;
  for (qsizetype i = 0; i < commands.size(); ++i) {
    if (!commands[i].startsWith(kSetConfig)) continue;
    QVERIFY2(commands[i].startsWith(QStringLiteral("6100")), qPrintable(commands[i]));
    configs << i;
  }
  QCOMPARE(configs.size(), 2);
  QVERIFY(configs[1] - configs[0] > 1);  // the connection opened again between them

  QCOMPARE(Console({QStringLiteral("fault"), QStringLiteral("4"), kSetConfig,
                    QStringLiteral("status=3"), QStringLiteral("2")}),
           QString());
  Choose(Control<QComboBox>(sheet.get(), 7016), 1);
  QVERIFY2(caption->title().startsWith(QStringLiteral("Output - Vantrel.SetConfig () = error: ")),
           qPrintable(caption->title()));

  // Configured again, Return in the byte editor sends its bytes.
  const QString sentBefore =
      Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("sent")});
  auto* editor = Control<CHexBlockEdit>(sheet.get(), 7001);
  editor->setFocus();
  QTest::keyClick(editor, Qt::Key_Return);
  QCOMPARE(caption->title(), QStringLiteral("Output"));
  QVERIFY(Console({QStringLiteral("serial"), QStringLiteral("B"), QStringLiteral("sent")}) !=
          sentBefore);
  QVERIFY(sheet->isVisible());
}

QTEST_MAIN(SerialPortTest)
#include "SerialPortTest.moc"
