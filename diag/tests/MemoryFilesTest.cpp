// Memory in files on the EEPROM and SRAM pages, against a simulated board:
// export and import round trips read back from the board, imports refused
// before anything is written (checked in the daemon's exchange trace), the
// question for a file larger than the window, comparison, and Cancel. With
// K27_SCREENSHOT_DIR set, the side panel's views are saved there as PNGs.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>
#include <vector>

#include "CColouredListBox.h"
#include "CHexEntryEdit.h"
#include "CMemoryView.h"
#include "LogKeeper.h"
#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "MemoryBuffer.h"
#include "SimBoardProbe.h"
#include "SimDaemon.h"
#include "PageList.h"
#include "pages/memory/EEPROMPage.h"
#include "pages/memory/SRAMPage.h"
#include "pages/memory/CMemoryFilePanel.h"
#include "pages/memory/CMemoryPage.h"

using vantrel::memfile::FileFormat;

namespace {

const QString kCaption = QStringLiteral("Vantrel K27 Diagnostic Suite");
const int kEepromTab = vantrel::diag::PageTab<EEPROMPage>();
const int kSramTab = vantrel::diag::PageTab<SRAMPage>();

CMemoryPage* ShowTab(CK27DiagSheet* sheet, int tab) {
  sheet->Tabs()->setCurrentIndex(tab);
  return qobject_cast<CMemoryPage*>(sheet->Tabs()->widget(tab));
}

void Update(CMemoryPage* page, const QString& address, const QString& count) {
  page->AddressEdit()->setText(address);
  page->CountEdit()->setText(count);
  QTest::mouseClick(page->UpdateButton(), Qt::LeftButton);
}

CMemoryFilePanel* PanelOf(CMemoryPage* page) {
  return page->findChild<CMemoryFilePanel*>(QStringLiteral("memoryFilePanel"));
}

QByteArray Pattern(int n, int seed) {
  QByteArray bytes(n, '\0');
  unsigned value = static_cast<unsigned>(seed) * 2654435761u + 1;
  for (int i = 0; i < n; ++i) {
    value = value * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(value >> 16);
  }
  return bytes;
}

bool WriteFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         file.write(content) == content.size();
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether a line of a list lies whole within its height (a long line may
// run past the right edge).
bool InView(const CColouredListBox* list, int row) {
  const QRect rect = list->visualItemRect(list->item(row));
  return rect.top() >= 0 && rect.bottom() < list->viewport()->height();
}

// The last line of the page's log.
QString LastLog(CMemoryPage* page) { return page->Log()->LineText(page->Log()->LineCount() - 1); }

// Runs an action of the panel and waits until it has ended.
bool RunToEnd(CMemoryFilePanel* panel, const std::function<void()>& action) {
  QSignalSpy finished(panel, &CMemoryFilePanel::Finished);
  action();
  if (finished.isEmpty() && !finished.wait(60000)) return false;
  return !panel->Busy();
}

// Answers the next modal dialog with `answer` once it is shown.
void WhenModal(QObject* context, std::function<void(QWidget*)> answer, bool* seen) {
  QTimer::singleShot(0, context, [answer = std::move(answer), seen] {
    QWidget* modal = QApplication::activeModalWidget();
    *seen = modal != nullptr;
    if (modal != nullptr) answer(modal);
  });
}

}  // namespace

class MemoryFilesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void cleanupTestCase();

  void exportAndImportRoundTripThroughTheFileDialog();
  void exportAndImportRoundTripRawAndHex();
  void importPastTheMemoryIsRefusedWhole();
  void fileLargerThanTheWindowAsksFirst();
  void corruptHexIsRefusedWithItsLine();
  void compareListsAndMarksTheDifferences();
  void cancelStopsAnImportBetweenPieces();
  void failedReadBackIsReported();
  void outcomeKeepsTheLogInViewAndItsSize();
  void declinedImportClearsTheBarAndAnotherWindowTheComparison();

 private:
  QByteArray BoardBytes(bool sram, int address, int count);
  void SetBoardBytes(bool sram, int address, const QByteArray& bytes);
  // The write commands of a memory in the trace after the mark.
  QStringList WritesSinceMark(bool sram) const;
  void SaveShot(const QString& name, QWidget* widget);

  vantrel::diag::test::SimDaemon daemon_;
  std::unique_ptr<vantrel::diag::test::ExchangeTrace> trace_;
  QTemporaryDir files_;
  std::unique_ptr<CK27DiagApp> app_;
  std::unique_ptr<CK27DiagSheet> sheet_;
  std::unique_ptr<VantrelUSB> other_;
  QStringList shots_;
};

void MemoryFilesTest::initTestCase() {
  daemon_.UseFolder();
  trace_ = std::make_unique<vantrel::diag::test::ExchangeTrace>(daemon_.AddTrace());
  daemon_.Start();
  QVERIFY(files_.isValid());
}

void MemoryFilesTest::init() {
  app_ = std::make_unique<CK27DiagApp>();
  sheet_ = vantrel::diag::test::OpenSheet(*app_, kCaption);
  QVERIFY(app_->Initialised() != 0);
  other_ = std::make_unique<VantrelUSB>();
  QVERIFY(other_->init(0) != 0);
}

void MemoryFilesTest::cleanup() {
  other_.reset();
  sheet_.reset();
  app_.reset();
  vantrel::diag::test::CloseWindows();
}

void MemoryFilesTest::cleanupTestCase() {
  daemon_.Stop();
  if (!shots_.isEmpty()) qInfo("screenshots: %s", qPrintable(shots_.join(QStringLiteral(", "))));
}

QByteArray MemoryFilesTest::BoardBytes(bool sram, int address, int count) {
  QByteArray bytes(count, '\0');
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  const auto at = static_cast<unsigned short>(address);
  const int ok = sram ? other_->ReadSRAM(at, data, static_cast<unsigned>(count))
                      : other_->ReadEEPROM(at, data, static_cast<unsigned>(count));
  if (ok == 0) qWarning("the second program could not read the board");
  return bytes;
}

void MemoryFilesTest::SetBoardBytes(bool sram, int address, const QByteArray& bytes) {
  QByteArray copy = bytes;
  auto* data = reinterpret_cast<unsigned char*>(copy.data());
  const auto at = static_cast<unsigned short>(address);
  const auto n = static_cast<unsigned>(copy.size());
  const int ok = sram ? other_->WriteSRAM(at, data, n) : other_->WriteEEPROM(at, data, n);
  if (ok == 0) qWarning("the second program could not write the board");
}

QStringList MemoryFilesTest::WritesSinceMark(bool sram) const {
  QStringList writes;
  const QString command = sram ? QStringLiteral("ch=6 out=47") : QStringLiteral("ch=2 out=04");
  for (const QString& line : trace_->Since())
    if (line.contains(command)) writes << line;
  return writes;
}

void MemoryFilesTest::SaveShot(const QString& name, QWidget* widget) {
  const QString dir = qEnvironmentVariable("K27_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QVERIFY(QDir().mkpath(dir));
  const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
  QVERIFY2(widget->grab().save(path, "PNG"), qPrintable(path));
  shots_ << path;
}

// The buttons' way: the file dialog picks the file and, by its filter, the
// format, whatever the extension says.
void MemoryFilesTest::exportAndImportRoundTripThroughTheFileDialog() {
  CMemoryPage* page = ShowTab(sheet_.get(), kSramTab);
  QVERIFY(page != nullptr);
  CMemoryFilePanel* panel = PanelOf(page);
  QVERIFY(panel != nullptr);
  const QByteArray original = Pattern(200, 1);
  SetBoardBytes(true, 0x2000, original);
  Update(page, QStringLiteral("0x2000"), QStringLiteral("200"));

  const QString path = files_.filePath(QStringLiteral("window.dat"));
  bool seen = false;
  WhenModal(
      this,
      [path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog != nullptr);
        dialog->selectNameFilter(CMemoryFilePanel::HexFilter());
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
      },
      &seen);
  QVERIFY(RunToEnd(panel, [panel] { panel->ExportButton()->click(); }));
  QVERIFY(seen);
  const QByteArray text = ReadFile(path);
  QVERIFY2(text.startsWith(":10200000"), text.left(40).constData());
  QVERIFY(text.endsWith(":00000001FF\n"));
  QVERIFY2(panel->StatusText().startsWith(QStringLiteral("Exported 200 bytes from 0x2000")),
           qPrintable(panel->StatusText()));

  SetBoardBytes(true, 0x2000, Pattern(200, 2));
  WhenModal(
      this,
      [path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog != nullptr);
        dialog->selectNameFilter(CMemoryFilePanel::HexFilter());
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();
      },
      &seen);
  QVERIFY(RunToEnd(panel, [panel] { panel->ImportButton()->click(); }));
  QCOMPARE(BoardBytes(true, 0x2000, 200), original);
  QCOMPARE(LastLog(page), QStringLiteral("[Success] Imported 200 bytes from window.dat, verified"));
  // The window was read again after the import.
  QCOMPARE(QByteArray(reinterpret_cast<const char*>(page->Buffer()->Data()), 200), original);
}

void MemoryFilesTest::exportAndImportRoundTripRawAndHex() {
  struct Case {
    int tab;
    int address;
    int count;
    QString file;
  };
  const std::vector<Case> cases{
      {kSramTab, 0x3000, 1000, QStringLiteral("sram.bin")},
      {kSramTab, 0xFF00, 256, QStringLiteral("sram-top.hex")},
      {kEepromTab, 0x100, 512, QStringLiteral("eeprom.hex")},
      {kEepromTab, 0x40, 300, QStringLiteral("eeprom.bin")},
  };
  int seed = 10;
  for (const Case& c : cases) {
    const bool sram = c.tab == kSramTab;
    CMemoryPage* page = ShowTab(sheet_.get(), c.tab);
    QVERIFY(page != nullptr);
    CMemoryFilePanel* panel = PanelOf(page);
    const QByteArray original = Pattern(c.count, ++seed);
    SetBoardBytes(sram, c.address, original);
    Update(page, QString::number(c.address), QString::number(c.count));
    QCOMPARE(page->Buffer()->Size(), c.count);

    const QString path = files_.filePath(c.file);
    const FileFormat format = vantrel::memfile::FormatByExtension(path.toStdString());
    QVERIFY(RunToEnd(panel, [&] { panel->ExportTo(path, format); }));
    if (format == FileFormat::kBinary) QCOMPARE(ReadFile(path), original);

    // Another program overwrites the range; the import puts the file back.
    SetBoardBytes(sram, c.address, Pattern(c.count, ++seed));
    trace_->Mark();
    QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(path, format); }));
    QVERIFY2(panel->StatusText().endsWith(QStringLiteral("verified")),
             qPrintable(panel->StatusText()));
    QCOMPARE(BoardBytes(sram, c.address, c.count), original);
    QVERIFY(!WritesSinceMark(sram).isEmpty());
  }
}

// Nothing of a file that would pass the memory's reach is written: not the
// part that fits either. No question is asked first.
void MemoryFilesTest::importPastTheMemoryIsRefusedWhole() {
  CMemoryPage* sram = ShowTab(sheet_.get(), kSramTab);
  CMemoryFilePanel* panel = PanelOf(sram);
  Update(sram, QStringLiteral("0xFF00"), QStringLiteral("256"));
  const QByteArray before = BoardBytes(true, 0xFF00, 256);
  const QByteArray atZero = BoardBytes(true, 0, 256);
  const QString raw = files_.filePath(QStringLiteral("too-long.bin"));
  QVERIFY(WriteFile(raw, Pattern(512, 3)));
  trace_->Mark();
  QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(raw, FileFormat::kBinary); }));
  QVERIFY(QApplication::activeModalWidget() == nullptr);
  QCOMPARE(LastLog(sram), QStringLiteral("[Error] Import refused: too-long.bin covers 0xFF00 - "
                                         "0x100FF, beyond the SRAM (0x0000 - 0xFFFF); nothing "
                                         "sent"));
  QCOMPARE(sram->Log()->LineColour(sram->Log()->LineCount() - 1), CColouredListBox::Rgb(255, 0, 0));
  QVERIFY(WritesSinceMark(true).isEmpty());
  QCOMPARE(BoardBytes(true, 0xFF00, 256), before);
  QCOMPARE(BoardBytes(true, 0, 256), atZero);

  // The EEPROM: the probed part's last byte is beyond the library's reach,
  // and addresses 0-7 are not the library's to touch.
  CMemoryPage* eeprom = ShowTab(sheet_.get(), kEepromTab);
  CMemoryFilePanel* eepromPanel = PanelOf(eeprom);
  Update(eeprom, QStringLiteral("0x7F00"), QStringLiteral("256"));
  const QString end = files_.filePath(QStringLiteral("past-end.hex"));
  // 16 bytes at 0x7FF0: the last one would land on 0x7FFF.
  QVERIFY(WriteFile(end, ":107FF000000102030405060708090A0B0C0D0E0F09\n:00000001FF\n"));
  const QString low = files_.filePath(QStringLiteral("low.hex"));
  QVERIFY(WriteFile(low, ":0400040001020304EE\n:00000001FF\n"));
  for (const QString& path : {end, low}) {
    trace_->Mark();
    QVERIFY(RunToEnd(eepromPanel, [&] { eepromPanel->ImportFrom(path, FileFormat::kIntelHex); }));
    QVERIFY2(LastLog(eeprom).startsWith(QStringLiteral("[Error] Import refused: ")),
             qPrintable(LastLog(eeprom)));
    QVERIFY2(LastLog(eeprom).contains(QStringLiteral("beyond the EEPROM (0x0008 - 0x7FFE)")),
             qPrintable(LastLog(eeprom)));
    QVERIFY(WritesSinceMark(false).isEmpty());
  }
}

void MemoryFilesTest::fileLargerThanTheWindowAsksFirst() {
  CMemoryPage* page = ShowTab(sheet_.get(), kSramTab);
  CMemoryFilePanel* panel = PanelOf(page);
  Update(page, QStringLiteral("0x400"), QStringLiteral("16"));
  const QByteArray before = BoardBytes(true, 0x400, 64);
  const QByteArray content = Pattern(64, 4);
  const QString path = files_.filePath(QStringLiteral("bigger.bin"));
  QVERIFY(WriteFile(path, content));

  // "No": nothing written.
  QString question;
  bool seen = false;
  WhenModal(
      this,
      [this, &question](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        QCOMPARE(box->objectName(), QStringLiteral("importBeyondWindow"));
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        question = box->text();
        SaveShot(QStringLiteral("memory-import-question"), box);
        box->button(QMessageBox::No)->click();
      },
      &seen);
  trace_->Mark();
  QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(path, FileFormat::kBinary); }));
  QVERIFY(seen);
  QVERIFY2(question.startsWith(QStringLiteral("bigger.bin holds 64 bytes, not all of them inside "
                                              "the window (16 bytes from 0x0400)")),
           qPrintable(question));
  QCOMPARE(LastLog(page), QStringLiteral("[Error] Import of bigger.bin not done: nothing written"));
  QVERIFY(WritesSinceMark(true).isEmpty());
  QCOMPARE(BoardBytes(true, 0x400, 64), before);

  // "Yes": the whole file.
  WhenModal(
      this,
      [](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        box->button(QMessageBox::Yes)->click();
      },
      &seen);
  QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(path, FileFormat::kBinary); }));
  QVERIFY(seen);
  QCOMPARE(BoardBytes(true, 0x400, 64), content);
  QCOMPARE(LastLog(page), QStringLiteral("[Success] Imported 64 bytes from bigger.bin, verified"));
}

void MemoryFilesTest::corruptHexIsRefusedWithItsLine() {
  CMemoryPage* page = ShowTab(sheet_.get(), kSramTab);
  CMemoryFilePanel* panel = PanelOf(page);
  Update(page, QStringLiteral("0x100"), QStringLiteral("256"));
  const QString path = files_.filePath(QStringLiteral("corrupt.hex"));
  // Two good records, then one whose checksum is off by one.
  QVERIFY(WriteFile(path,
                    ":0401000001020304F1\n:0401040005060708DD\n:04010800090A0B0CC8\n"
                    ":00000001FF\n"));
  const QByteArray before = BoardBytes(true, 0x100, 16);
  trace_->Mark();
  QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(path, FileFormat::kIntelHex); }));
  QCOMPARE(
      LastLog(page),
      QStringLiteral("[Error] Import refused: corrupt.hex line 3: checksum error; nothing sent"));
  QVERIFY(WritesSinceMark(true).isEmpty());
  QCOMPARE(BoardBytes(true, 0x100, 16), before);

  // A compare with it is refused the same way.
  QVERIFY(RunToEnd(panel, [&] { panel->CompareWith(path, FileFormat::kIntelHex); }));
  QVERIFY2(LastLog(page).startsWith(QStringLiteral("[Error] Compare refused: corrupt.hex line 3")),
           qPrintable(LastLog(page)));
}

void MemoryFilesTest::compareListsAndMarksTheDifferences() {
  CMemoryPage* page = ShowTab(sheet_.get(), kSramTab);
  CMemoryFilePanel* panel = PanelOf(page);
  const QByteArray content = Pattern(1000, 5);
  SetBoardBytes(true, 0x5000, content);
  const QString path = files_.filePath(QStringLiteral("compare.bin"));
  QVERIFY(WriteFile(path, content));
  Update(page, QStringLiteral("0x5000"), QStringLiteral("256"));
  QVERIFY(RunToEnd(panel, [&] { panel->CompareWith(path, FileFormat::kBinary); }));
  QCOMPARE(LastLog(page), QStringLiteral("[Success] The SRAM matches compare.bin (1000 bytes)"));
  QCOMPARE(panel->DifferenceList()->topLevelItemCount(), 0);

  // 150 bytes changed, every sixth from 0x5003 on.
  QByteArray changed = content;
  for (int i = 0; i < 150; ++i) changed[3 + 6 * i] = static_cast<char>(content[3 + 6 * i] ^ 0x81);
  SetBoardBytes(true, 0x5000, changed);
  QVERIFY(RunToEnd(panel, [&] { panel->CompareWith(path, FileFormat::kBinary); }));
  QCOMPARE(LastLog(page), QStringLiteral("[Error] The SRAM differs from compare.bin in 150 of "
                                         "1000 bytes, first at 0x5003"));
  QCOMPARE(panel->LastComparison().count, 150);
  QTreeWidget* list = panel->DifferenceList();
  QCOMPARE(list->topLevelItemCount(), 100);
  const auto hex2 = [](char byte) {
    return QString::asprintf("0x%02X", static_cast<unsigned char>(byte));
  };
  QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("0x5003"));
  QCOMPARE(list->topLevelItem(0)->text(1), hex2(changed[3]));
  QCOMPARE(list->topLevelItem(0)->text(2), hex2(content[3]));
  QCOMPARE(list->topLevelItem(99)->text(0), QString::asprintf("0x%04X", 0x5003 + 6 * 99));
  QVERIFY(panel->StatusText().endsWith(QStringLiteral("(the first 100 listed)")));

  // The window was read again and its differing bytes are marked.
  CMemoryView* view = page->View();
  QVERIFY(view->Marked(0x5003) && view->Marked(0x5009) && !view->Marked(0x5004));
  QCOMPARE(page->Buffer()->Data()[3], static_cast<std::uint8_t>(changed[3]));
  SaveShot(QStringLiteral("memory-compare"), sheet_.get());
  // Reading the window again clears the marks; the list stays.
  QTest::mouseClick(page->UpdateButton(), Qt::LeftButton);
  QVERIFY(!view->Marked(0x5003));
  QCOMPARE(list->topLevelItemCount(), 100);
}

void MemoryFilesTest::cancelStopsAnImportBetweenPieces() {
  CMemoryPage* page = ShowTab(sheet_.get(), kSramTab);
  CMemoryFilePanel* panel = PanelOf(page);
  Update(page, QStringLiteral("0"), QStringLiteral("65536"));
  const QString path = files_.filePath(QStringLiteral("whole.bin"));
  QVERIFY(WriteFile(path, Pattern(65536, 6)));
  // Cancelled from the progress bar's second step: the window stays
  // responsive while the transfer runs.
  bool shot = false;
  connect(panel->Progress(), &QProgressBar::valueChanged, this, [&](int value) {
    if (value < 2 * static_cast<int>(CChunkedTransfer::kPiece) || !panel->Busy()) return;
    if (!shot) {
      shot = true;
      SaveShot(QStringLiteral("memory-import-progress"), sheet_.get());
    }
    QVERIFY(panel->CancelButton()->isEnabled());
    QVERIFY(!panel->ImportButton()->isEnabled());
    panel->CancelButton()->click();
  });
  QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(path, FileFormat::kBinary); }));
  QCOMPARE(LastLog(page),
           QStringLiteral("[Error] Import of whole.bin cancelled: 512 of 65536 bytes written"));
  QVERIFY(panel->ImportButton()->isEnabled());
  QVERIFY(!panel->CancelButton()->isEnabled());
  QCOMPARE(BoardBytes(true, 0, 512), Pattern(65536, 6).left(512));
}

// The read-back fails: the import says so, with the failed call.
void MemoryFilesTest::failedReadBackIsReported() {
  CMemoryPage* page = ShowTab(sheet_.get(), kSramTab);
  CMemoryFilePanel* panel = PanelOf(page);
  Update(page, QStringLiteral("0x600"), QStringLiteral("16"));
  const QString path = files_.filePath(QStringLiteral("small.bin"));
  QVERIFY(WriteFile(path, Pattern(16, 7)));
  QCOMPARE(
      vantrel::diag::test::SimConsole(
          daemon_.Folder(), {QStringLiteral("fault"), QStringLiteral("6"), QStringLiteral("46"),
                             QStringLiteral("status=15"), QStringLiteral("1")}),
      QString());
  QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(path, FileFormat::kBinary); }));
  QVERIFY2(LastLog(page).startsWith(QStringLiteral(
               "[Error] Imported 16 bytes from small.bin; verify failed: VantrelUSB::ReadSRAM "
               "(0x00000600, 16) = error: ")),
           qPrintable(LastLog(page)));
  QCOMPARE(BoardBytes(true, 0x600, 16), Pattern(16, 7));
}

// A long outcome under the file buttons wraps within its own area: the log
// keeps its height, and its newest line stays selected and in view however
// many lines came before. The log is kept like the other pages' logs.
void MemoryFilesTest::outcomeKeepsTheLogInViewAndItsSize() {
  CMemoryPage* page = ShowTab(sheet_.get(), kSramTab);
  CMemoryFilePanel* panel = PanelOf(page);
  CColouredListBox* log = page->Log();
  Update(page, QStringLiteral("0x700"), QStringLiteral("16"));
  for (int i = 0; i < 60; ++i) log->AddLine(QStringLiteral("earlier line %1").arg(i));
  QTRY_VERIFY(InView(log, log->count() - 1));
  const int logHeight = log->height();
  const int statusHeight = panel->Status()->height();

  // A name long enough to wrap over several lines of the panel.
  const QString name = QStringLiteral(
                           "a-rather-long-file-name-of-an-eeprom-image-from-the-"
                           "workshop-%1.bin")
                           .arg(QString(40, QLatin1Char('x')));
  const QString path = files_.filePath(name);
  QVERIFY(WriteFile(path, Pattern(16, 8)));
  QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(path, FileFormat::kBinary); }));
  QVERIFY2(LastLog(page).startsWith(QStringLiteral("[Success] Imported 16 bytes")),
           qPrintable(LastLog(page)));
  QCOMPARE(panel->Status()->toolTip(), panel->StatusText());
  QCoreApplication::processEvents();
  QCOMPARE(panel->Status()->height(), statusHeight);
  QCOMPARE(log->height(), logHeight);
  const int newest = log->count() - 1;
  QCOMPARE(log->currentRow(), newest);
  QTRY_VERIFY(InView(log, newest));
  SaveShot(QStringLiteral("memory-log-after-import"), sheet_.get());

  // Saved and copied with times, and logged to a file as lines arrive.
  LogKeeper* keeper = page->Keeper();
  QVERIFY(keeper != nullptr);
  QVERIFY(keeper->Text().contains(QStringLiteral(" [Success] Imported 16 bytes")));
  const QString fileLog = files_.filePath(QStringLiteral("sram.log"));
  QVERIFY(keeper->StartFileLog(fileLog));
  Update(page, QStringLiteral("0xFFFF"), QStringLiteral("16"));
  keeper->StopFileLog();
  QVERIFY2(ReadFile(fileLog).contains("Number of bytes cut to 1"), ReadFile(fileLog).constData());
}

void MemoryFilesTest::declinedImportClearsTheBarAndAnotherWindowTheComparison() {
  CMemoryPage* page = ShowTab(sheet_.get(), kSramTab);
  CMemoryFilePanel* panel = PanelOf(page);
  Update(page, QStringLiteral("0x800"), QStringLiteral("16"));
  const QString small = files_.filePath(QStringLiteral("fits.bin"));
  QVERIFY(WriteFile(small, Pattern(16, 9)));
  QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(small, FileFormat::kBinary); }));
  QCOMPARE(panel->Progress()->value(), panel->Progress()->maximum());
  QVERIFY(panel->Progress()->value() > 0);

  const QString big = files_.filePath(QStringLiteral("too-big.bin"));
  QVERIFY(WriteFile(big, Pattern(64, 9)));
  bool seen = false;
  WhenModal(
      this,
      [](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        box->button(QMessageBox::No)->click();
      },
      &seen);
  QVERIFY(RunToEnd(panel, [&] { panel->ImportFrom(big, FileFormat::kBinary); }));
  QVERIFY(seen);
  QCOMPARE(panel->Progress()->value(), 0);

  // Differences listed for this window; another window clears them.
  SetBoardBytes(true, 0x800, Pattern(16, 10));
  QVERIFY(RunToEnd(panel, [&] { panel->CompareWith(small, FileFormat::kBinary); }));
  QVERIFY(panel->DifferenceList()->topLevelItemCount() > 0);
  QVERIFY(panel->LastComparison().count > 0);
  Update(page, QStringLiteral("0x800"), QStringLiteral("16"));
  QVERIFY(panel->DifferenceList()->topLevelItemCount() > 0);  // the same window
  Update(page, QStringLiteral("0x900"), QStringLiteral("16"));
  QCOMPARE(panel->DifferenceList()->topLevelItemCount(), 0);
  QCOMPARE(panel->LastComparison().count, 0);
}

QTEST_MAIN(MemoryFilesTest)
#include "MemoryFilesTest.moc"
