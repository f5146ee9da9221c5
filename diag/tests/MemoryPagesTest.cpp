// The EEPROM and SRAM pages on a simulated board served by vantrelio. A
// second board object in the test plays the other program that changes the
// memories behind the pages' backs.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <memory>
#include <vector>

#include "CColouredListBox.h"
#include "CHexEntryEdit.h"
#include "CMemoryView.h"
#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "MemoryBuffer.h"
#include "SimDaemon.h"
#include "PageList.h"
#include "pages/about/AboutPage.h"
#include "UsbErrorNames.h"
#include "pages/memory/EEPROMPage.h"
#include "pages/memory/SRAMPage.h"

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const int kEepromTab = vantrel::diag::PageTab<EEPROMPage>();
const int kSramTab = vantrel::diag::PageTab<SRAMPage>();
constexpr std::int32_t kRed = CColouredListBox::Rgb(255, 0, 0);

// Makes the tab current and returns its page.
CMemoryPage* ShowTab(CK27DiagSheet* sheet, int tab) {
  sheet->Tabs()->setCurrentIndex(tab);
  return qobject_cast<CMemoryPage*>(sheet->Tabs()->widget(tab));
}

void ShowOtherTab(CK27DiagSheet* sheet) {
  sheet->Tabs()->setCurrentIndex(vantrel::diag::PageTab<AboutPage>());
}

// Types the texts into the boxes and presses "Update View".
void Update(CMemoryPage* page, const QString& address, const QString& count) {
  page->AddressEdit()->setText(address);
  page->CountEdit()->setText(count);
  QTest::mouseClick(page->UpdateButton(), Qt::LeftButton);
}

std::vector<std::uint8_t> States(const MemoryBuffer* buffer) {
  const std::uint8_t* state = buffer->State();
  if (state == nullptr) return {};
  return std::vector<std::uint8_t>(state, state + buffer->Size());
}

}  // namespace

class MemoryPagesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanup();
  void cleanupTestCase();

  void countConversion();
  void pagesOpenOnTheirDefaults();
  void addressTexts();
  void countLimits();
  void unchangedBytesStayPlainAndChangedOnesTurnRed();
  void typedHexDigitsAreWrittenAndVerified();
  void leavingTheTabReleasesTheBuffer();
  void failedReadIsLogged();
  void windowsStopAtTheEndOfTheMemory();
  void returnRunsTheUpdateAndNothingClosesTheSheet();
  void failedWriteIsLogged();

 private:
  // A second connection to the same board.
  std::unique_ptr<VantrelUSB> OtherProgram();

  vantrel::diag::test::SimDaemon daemon_;
  std::unique_ptr<CK27DiagApp> app_;
  std::unique_ptr<CK27DiagSheet> sheet_;
};

void MemoryPagesTest::initTestCase() {
  daemon_.UseFolder();
  daemon_.Start();
}

void MemoryPagesTest::cleanup() {
  sheet_.reset();
  app_.reset();
  vantrel::diag::test::CloseWindows();
}

void MemoryPagesTest::cleanupTestCase() { daemon_.Stop(); }

std::unique_ptr<VantrelUSB> MemoryPagesTest::OtherProgram() {
  auto other = std::make_unique<VantrelUSB>();
  if (other->init(0) == 0) qWarning("second connection failed");
  return other;
}

void MemoryPagesTest::countConversion() {
  QCOMPARE(CMemoryPage::CountOf(QStringLiteral("256"), 512), 256u);
  QCOMPARE(CMemoryPage::CountOf(QStringLiteral("0"), 512), 1u);
  QCOMPARE(CMemoryPage::CountOf(QString(), 512), 1u);
  QCOMPARE(CMemoryPage::CountOf(QStringLiteral("  12ab"), 512), 12u);
  QCOMPARE(CMemoryPage::CountOf(QStringLiteral("1000"), 512), 512u);
  // Negative counts compare as large unsigned values.
  QCOMPARE(CMemoryPage::CountOf(QStringLiteral("-5"), 512), 512u);
  QCOMPARE(CMemoryPage::CountOf(QStringLiteral("99999999999999"), 512), 512u);
  QCOMPARE(CMemoryPage::CountOf(QStringLiteral("1000"), SRAMPage::kMaxCount), 1000u);
}

void MemoryPagesTest::pagesOpenOnTheirDefaults() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  QVERIFY(app_->Initialised() != 0);

  CMemoryPage* eeprom = ShowTab(sheet_.get(), kEepromTab);
  QVERIFY(eeprom != nullptr);
  QCOMPARE(eeprom->objectName(), QStringLiteral("id108"));
  QVERIFY(sheet_->findChild<CHexEntryEdit*>(QStringLiteral("id8002")) == eeprom->AddressEdit());
  QVERIFY(sheet_->findChild<QLineEdit*>(QStringLiteral("id8005")) == eeprom->CountEdit());
  QVERIFY(sheet_->findChild<QPushButton*>(QStringLiteral("id8001")) == eeprom->UpdateButton());
  QVERIFY(sheet_->findChild<CMemoryView*>(QStringLiteral("id8004")) == eeprom->View());
  QVERIFY(sheet_->findChild<CColouredListBox*>(QStringLiteral("id8003")) == eeprom->Log());
  QCOMPARE(eeprom->UpdateButton()->text(), QStringLiteral("Update View"));
  QCOMPARE(eeprom->AddressEdit()->text(), QStringLiteral("0x00000008"));
  QCOMPARE(eeprom->CountEdit()->text(), QStringLiteral("256"));
  QCOMPARE(eeprom->Log()->LineCount(), 1);
  QCOMPARE(eeprom->Log()->LineText(0), QStringLiteral("[Success] EEPROM Sample initialised"));
  QCOMPARE(eeprom->Log()->LineColour(0), CColouredListBox::Rgb(0, 0, 0));
  QCOMPARE(eeprom->Buffer()->Start(), 8);
  QCOMPARE(eeprom->Buffer()->Size(), 256);
  QVERIFY(eeprom->View()->Buffer() == eeprom->Buffer());

  // The board's own bytes are shown.
  auto other = OtherProgram();
  std::vector<unsigned char> board(256);
  QVERIFY(other->ReadEEPROM(8, board.data(), 256) != 0);
  QVERIFY(std::equal(board.begin(), board.end(), eeprom->Buffer()->Data()));

  CMemoryPage* sram = ShowTab(sheet_.get(), kSramTab);
  QVERIFY(sram != nullptr);
  QCOMPARE(sram->objectName(), QStringLiteral("id109"));
  QVERIFY(sheet_->findChild<CHexEntryEdit*>(QStringLiteral("id9000")) == sram->AddressEdit());
  QVERIFY(sheet_->findChild<QLineEdit*>(QStringLiteral("id9004")) == sram->CountEdit());
  QVERIFY(sheet_->findChild<QPushButton*>(QStringLiteral("id9003")) == sram->UpdateButton());
  QVERIFY(sheet_->findChild<CMemoryView*>(QStringLiteral("id9002")) == sram->View());
  QVERIFY(sheet_->findChild<CColouredListBox*>(QStringLiteral("id9001")) == sram->Log());
  QCOMPARE(sram->AddressEdit()->text(), QStringLiteral("0x00000000"));
  QCOMPARE(sram->Log()->LineText(0), QStringLiteral("[Success] SRAM Sample initialised"));
  QCOMPARE(sram->Buffer()->Start(), 0);
  QCOMPARE(sram->Buffer()->Size(), 256);

  // Initialised once: coming back neither logs again nor resets the boxes.
  sram->CountEdit()->setText(QStringLiteral("64"));
  ShowTab(sheet_.get(), kEepromTab);
  ShowTab(sheet_.get(), kSramTab);
  QCOMPARE(sram->Log()->LineCount(), 1);
  QCOMPARE(sram->Buffer()->Size(), 64);
}

void MemoryPagesTest::addressTexts() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  CMemoryPage* sram = ShowTab(sheet_.get(), kSramTab);
  QVERIFY(sram != nullptr);

  Update(sram, QStringLiteral("0x20"), QStringLiteral("16"));
  QCOMPARE(sram->Buffer()->Start(), 32);
  Update(sram, QStringLiteral("32"), QStringLiteral("16"));
  QCOMPARE(sram->Buffer()->Start(), 32);
  QCOMPARE(sram->AddressEdit()->text(), QStringLiteral("0x00000020"));
  Update(sram, QStringLiteral("1F"), QStringLiteral("16"));
  QCOMPARE(sram->Buffer()->Start(), 31);
  // Beyond the 16-bit address range: the highest address.
  Update(sram, QStringLiteral("70000"), QStringLiteral("1"));
  QCOMPARE(sram->Buffer()->Start(), 0xFFFF);
  QCOMPARE(sram->AddressEdit()->text(), QStringLiteral("0x0000FFFF"));
  // Unparseable (and shown in red until then): address 0.
  sram->AddressEdit()->setText(QStringLiteral("1G"));
  QCOMPARE(sram->AddressEdit()->CurrentFormat(), CHexEntryEdit::kInvalid);
  QTest::mouseClick(sram->UpdateButton(), Qt::LeftButton);
  QCOMPARE(sram->Buffer()->Start(), 0);
  QCOMPARE(sram->AddressEdit()->text(), QStringLiteral("0x00000000"));

  CMemoryPage* eeprom = ShowTab(sheet_.get(), kEepromTab);
  Update(eeprom, QStringLiteral("0x20"), QStringLiteral("256"));
  QCOMPARE(eeprom->Buffer()->Start(), 32);
  QCOMPARE(eeprom->Log()->LineCount(), 1);  // no error
}

void MemoryPagesTest::countLimits() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  CMemoryPage* eeprom = ShowTab(sheet_.get(), kEepromTab);
  QVERIFY(eeprom != nullptr);
  Update(eeprom, QStringLiteral("8"), QStringLiteral("0"));
  QCOMPARE(eeprom->Buffer()->Size(), 1);
  QCOMPARE(eeprom->CountEdit()->text(), QStringLiteral("1"));
  Update(eeprom, QStringLiteral("8"), QStringLiteral("1000"));
  QCOMPARE(eeprom->Buffer()->Size(), 512);
  QCOMPARE(eeprom->CountEdit()->text(), QStringLiteral("512"));
  QCOMPARE(eeprom->View()->TotalLines(), 32);
  Update(eeprom, QStringLiteral("8"), QStringLiteral("-3"));
  QCOMPARE(eeprom->Buffer()->Size(), 512);

  CMemoryPage* sram = ShowTab(sheet_.get(), kSramTab);
  Update(sram, QStringLiteral("0"), QStringLiteral("1000"));
  QCOMPARE(sram->Buffer()->Size(), 1000);
  QCOMPARE(sram->CountEdit()->text(), QStringLiteral("1000"));
  // No more than the whole SRAM at once.
  Update(sram, QStringLiteral("0"), QStringLiteral("100000"));
  QCOMPARE(sram->Buffer()->Size(), 65536);
  QCOMPARE(sram->CountEdit()->text(), QStringLiteral("65536"));
  QCOMPARE(sram->Log()->LineCount(), 1);
}

void MemoryPagesTest::unchangedBytesStayPlainAndChangedOnesTurnRed() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  auto other = OtherProgram();

  for (const int tab : {kSramTab, kEepromTab}) {
    CMemoryPage* page = ShowTab(sheet_.get(), tab);
    QVERIFY(page != nullptr);
    const bool sram = tab == kSramTab;
    const int address = sram ? 0x300 : 0x40;
    Update(page, QString::number(address), QStringLiteral("128"));
    // After a size change every byte that is not 0xCC is red.
    const std::vector<std::uint8_t> first = States(page->Buffer());
    for (int i = 0; i < 128; ++i) {
      const std::uint8_t expected =
          page->Buffer()->Data()[i] == 0xCC ? MemoryBuffer::kUnchanged : MemoryBuffer::kChanged;
      QCOMPARE(first[static_cast<std::size_t>(i)], expected);
    }
    QTest::mouseClick(page->UpdateButton(), Qt::LeftButton);
    QCOMPARE(States(page->Buffer()), std::vector<std::uint8_t>(128, MemoryBuffer::kUnchanged));

    // Another program changes byte 5.
    unsigned char changed = static_cast<unsigned char>(page->Buffer()->Data()[5] ^ 0x5A);
    const int written =
        sram ? other->WriteSRAM(static_cast<unsigned short>(address + 5), &changed, 1)
             : other->WriteEEPROM(static_cast<unsigned short>(address + 5), &changed, 1);
    QVERIFY(written != 0);
    QTest::mouseClick(page->UpdateButton(), Qt::LeftButton);
    std::vector<std::uint8_t> expected(128, MemoryBuffer::kUnchanged);
    expected[5] = MemoryBuffer::kChanged;
    QCOMPARE(States(page->Buffer()), expected);
    QCOMPARE(page->Buffer()->Data()[5], changed);

    // Same size at another address: compared against the previous read.
    Update(page, QString::number(address + 1), QStringLiteral("128"));
    QCOMPARE(page->Buffer()->Start(), address + 1);
  }
}

void MemoryPagesTest::typedHexDigitsAreWrittenAndVerified() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  auto other = OtherProgram();

  for (const int tab : {kEepromTab, kSramTab}) {
    CMemoryPage* page = ShowTab(sheet_.get(), tab);
    QVERIFY(page != nullptr);
    const bool sram = tab == kSramTab;
    const int address = sram ? 0x1000 : 0x100;
    Update(page, QString::number(address), QStringLiteral("64"));
    CMemoryView* view = page->View();
    view->setFocus();
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, view->PointOf(3, false, false));
    QCOMPARE(view->Cursor(), 3);
    QTest::keyClick(view, '7');
    QTest::keyClick(view, 'f');
    QCOMPARE(view->Cursor(), 4);

    unsigned char onBoard = 0;
    const int read = sram
                         ? other->ReadSRAM(static_cast<unsigned short>(address + 3), &onBoard, 1)
                         : other->ReadEEPROM(static_cast<unsigned short>(address + 3), &onBoard, 1);
    QVERIFY(read != 0);
    QCOMPARE(onBoard, static_cast<unsigned char>(0x7F));
    QCOMPARE(page->Buffer()->State()[3], MemoryBuffer::kVerified);
    QCOMPARE(page->Log()->LineCount(), 1);

    // The character column writes the character's code.
    QTest::keyClick(view, Qt::Key_Tab);
    QTest::keyClick(view, 'Q');
    const int readChar =
        sram ? other->ReadSRAM(static_cast<unsigned short>(address + 4), &onBoard, 1)
             : other->ReadEEPROM(static_cast<unsigned short>(address + 4), &onBoard, 1);
    QVERIFY(readChar != 0);
    QCOMPARE(onBoard, static_cast<unsigned char>('Q'));
    QCOMPARE(page->Buffer()->State()[4], MemoryBuffer::kVerified);
  }
}

void MemoryPagesTest::leavingTheTabReleasesTheBuffer() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  CMemoryPage* page = ShowTab(sheet_.get(), kSramTab);
  QVERIFY(page != nullptr);
  Update(page, QStringLiteral("0x40"), QStringLiteral("32"));
  ShowOtherTab(sheet_.get());
  QCOMPARE(page->Buffer()->Size(), 0);
  QVERIFY(page->Buffer()->Data() == nullptr);
  // Painting the released view draws from no array.
  QVERIFY(!page->View()->grab().isNull());
  // Coming back reads the range the boxes give.
  ShowTab(sheet_.get(), kSramTab);
  QCOMPARE(page->Buffer()->Start(), 0x40);
  QCOMPARE(page->Buffer()->Size(), 32);
}

void MemoryPagesTest::failedReadIsLogged() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  CMemoryPage* page = ShowTab(sheet_.get(), kEepromTab);
  QVERIFY(page != nullptr);
  // Past the EEPROM's end: the library refuses the range.
  Update(page, QStringLiteral("0xFFFF"), QStringLiteral("256"));
  QCOMPARE(page->Log()->LineCount(), 3);
  // The window is held to the address space; the text names the memory's
  // real end (32 KiB here, the last byte kept for the library).
  QCOMPARE(page->Log()->LineText(1),
           QStringLiteral("Number of bytes cut to 1: the address space ends at 0x0000FFFF; "
                          "the memory ends at 0x00007FFE"));
  // An 8 KiB part likewise.
  QCOMPARE(CMemoryPage::CutLine(1, 0xFFFF, 0x1FFF),
           QStringLiteral("Number of bytes cut to 1: the address space ends at 0x0000FFFF; "
                          "the memory ends at 0x00001FFE"));
  QCOMPARE(CMemoryPage::CutLine(16, 0x1FF0, 0x1FFF),
           QStringLiteral("Number of bytes cut to 16: the memory ends at 0x00001FFE"));
  const QString expected =
      QStringLiteral("VantrelUSB::ReadEEPROM (0x0000FFFF, 1) = error: %1")
          .arg(QLatin1String(vantrel::diag::UsbErrorName(app_->Board()->GetLastError())));
  QCOMPARE(page->Log()->LineText(2), expected);
  QCOMPARE(page->Log()->LineColour(2), kRed);
  // Same size: the buffer keeps what it had.
  Update(page, QStringLiteral("0x7F00"), QStringLiteral("1"));
  const std::uint8_t kept = page->Buffer()->Data()[0];
  const std::uint8_t keptState = page->Buffer()->State()[0];
  Update(page, QStringLiteral("0xFFFF"), QStringLiteral("1"));
  QCOMPARE(page->Log()->LineColour(page->Log()->LineCount() - 1), kRed);
  QCOMPARE(page->Buffer()->Data()[0], kept);
  QCOMPARE(page->Buffer()->State()[0], keptState);
}

// A window never passes the end of its memory: the count is cut (and the cut
// logged), and no typed byte reaches a board address other than its own.
void MemoryPagesTest::windowsStopAtTheEndOfTheMemory() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  auto other = OtherProgram();
  unsigned char atZero = 0;
  QVERIFY(other->ReadSRAM(0, &atZero, 1) != 0);

  CMemoryPage* sram = ShowTab(sheet_.get(), kSramTab);
  QVERIFY(sram != nullptr);
  Update(sram, QStringLiteral("0xFF00"), QStringLiteral("512"));
  QCOMPARE(sram->Buffer()->Size(), 256);
  QCOMPARE(sram->CountEdit()->text(), QStringLiteral("256"));
  QCOMPARE(sram->Log()->LineText(1),
           QStringLiteral("Number of bytes cut to 256: the memory ends at 0x0000FFFF"));
  QCOMPARE(sram->Log()->LineColour(1), CColouredListBox::Rgb(0, 0, 0));
  QCOMPARE(sram->Log()->LineCount(), 2);  // and the read succeeds
  QCOMPARE(sram->View()->TotalLines(), 16);

  // The last byte of the window is the SRAM's last: typed there, it lands at
  // 0xFFFF and address 0 keeps its byte.
  CMemoryView* view = sram->View();
  view->setFocus();
  QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier);
  QTest::keyClick(view, Qt::Key_End);
  QCOMPARE(view->Cursor(), 255);
  const unsigned char typed = static_cast<unsigned char>(atZero ^ 0xFF);
  QTest::keyClicks(view, QString::asprintf("%02x", typed));
  unsigned char last = 0;
  unsigned char zero = 0;
  QVERIFY(other->ReadSRAM(0xFFFF, &last, 1) != 0);
  QVERIFY(other->ReadSRAM(0, &zero, 1) != 0);
  QCOMPARE(last, typed);
  QCOMPARE(zero, atZero);
  QCOMPARE(sram->Buffer()->State()[255], MemoryBuffer::kVerified);

  Update(sram, QStringLiteral("0xFFFF"), QStringLiteral("65536"));
  QCOMPARE(sram->Buffer()->Size(), 1);
  QCOMPARE(sram->CountEdit()->text(), QStringLiteral("1"));

  // The EEPROM ends where the part does (32 KiB here, the last byte kept for
  // the library), and a window wholly past it takes no typing.
  CMemoryPage* eeprom = ShowTab(sheet_.get(), kEepromTab);
  QVERIFY(eeprom != nullptr);
  const int lines = eeprom->Log()->LineCount();
  Update(eeprom, QStringLiteral("0x7F00"), QStringLiteral("512"));
  QCOMPARE(eeprom->Buffer()->Size(), 0xFF);
  QCOMPARE(eeprom->Log()->LineText(lines),
           QStringLiteral("Number of bytes cut to 255: the memory ends at 0x00007FFE"));
  QCOMPARE(eeprom->Log()->LineCount(), lines + 1);
  Update(eeprom, QStringLiteral("0x8000"), QStringLiteral("16"));
  QCOMPARE(eeprom->Buffer()->Size(), 16);
  QCOMPARE(eeprom->Log()->LineColour(eeprom->Log()->LineCount() - 1),
           kRed);  // refused by the library
  const int afterRead = eeprom->Log()->LineCount();
  QVERIFY(!eeprom->Buffer()->Writable(0x8000));
  eeprom->View()->setFocus();
  QTest::keyClicks(eeprom->View(), QStringLiteral("00"));
  QCOMPARE(eeprom->Log()->LineCount(), afterRead);  // nothing written, nothing refused
  QCOMPARE(eeprom->Buffer()->State()[0], MemoryBuffer::kNeverRead);
}

// Return in a box runs the page's own action; neither Return nor Escape
// reaches the sheet's Close button.
void MemoryPagesTest::returnRunsTheUpdateAndNothingClosesTheSheet() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  CMemoryPage* sram = ShowTab(sheet_.get(), kSramTab);
  QVERIFY(sram != nullptr);
  QVERIFY(QTest::qWaitForWindowActive(sheet_.get()));
  sram->AddressEdit()->setFocus();
  sram->AddressEdit()->setText(QStringLiteral("0x40"));
  QTest::keyClick(sram->AddressEdit(), Qt::Key_Return);
  QCOMPARE(sram->Buffer()->Start(), 0x40);
  sram->CountEdit()->setText(QStringLiteral("32"));
  QTest::keyClick(sram->CountEdit(), Qt::Key_Enter);
  QCOMPARE(sram->Buffer()->Size(), 32);
  QTest::keyClick(sram->CountEdit(), Qt::Key_Escape);
  QTest::keyClick(sheet_.get(), Qt::Key_Return);
  QTest::keyClick(sheet_.get(), Qt::Key_Escape);
  QCoreApplication::processEvents();
  QVERIFY(sheet_->isVisible());
  QCOMPARE(sheet_->result(), 0);
  for (QPushButton* button : sheet_->findChildren<QPushButton*>())
    QVERIFY2(!button->isDefault(), qPrintable(button->text()));
}

// Last: stops the daemon.
void MemoryPagesTest::failedWriteIsLogged() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  CMemoryPage* page = ShowTab(sheet_.get(), kEepromTab);
  QVERIFY(page != nullptr);
  QCOMPARE(page->Buffer()->Size(), 256);
  daemon_.Stop();

  CMemoryView* view = page->View();
  QTest::keyClick(view, '3');
  QCOMPARE(page->Log()->LineCount(), 2);
  const QString expected =
      QStringLiteral("[Error] VantrelUSB::WriteEPROM (0x00000008, 1) = error: %1")
          .arg(QLatin1String(vantrel::diag::UsbErrorName(app_->Board()->GetLastError())));
  QCOMPARE(page->Log()->LineText(1), expected);
  QCOMPARE(page->Log()->LineColour(1), kRed);
  QCOMPARE(page->Buffer()->Data()[0] >> 4, 3);
  QCOMPARE(page->Buffer()->State()[0], MemoryBuffer::kChanged);
}

QTEST_MAIN(MemoryPagesTest)
#include "MemoryPagesTest.moc"
