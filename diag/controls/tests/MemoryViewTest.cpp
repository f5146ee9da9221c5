#include "CColouredListBox.h"
#include "CMemoryView.h"
#include "MemoryBuffer.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QScrollBar>
#include <QTest>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

// A 64 KiB memory standing in for the board, counting the writes that reach it.
class FakeBuffer : public MemoryBuffer {
 public:
  explicit FakeBuffer(CColouredListBox* log = nullptr) : MemoryBuffer(nullptr, log) {
    for (std::size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<std::uint8_t>(i * 7);
  }

  std::array<std::uint8_t, 0x10000> memory{};
  std::vector<std::pair<int, std::uint8_t>> writes;  // address and byte sent
  bool failWrite = false;

  void EndAt(std::int64_t end) { SetMemoryEnd(end); }

  bool Read(int address) override {
    SetStart(address);
    std::vector<std::uint8_t> scratch(static_cast<std::size_t>(Size()));
    for (std::size_t i = 0; i < scratch.size(); ++i)
      scratch[i] = memory[(static_cast<std::size_t>(address) + i) & 0xFFFF];
    TakeRead(scratch.data());
    return true;
  }

  bool Write(int address, int count) override {
    if (!CheckWriteRange(address, count)) return false;
    const std::uint8_t byte = Data()[address - Start()];
    writes.emplace_back(address, byte);
    if (failWrite) {
      SetErrorText(QStringLiteral("write refused"));
      TakeWriteResult(address, count, nullptr);
      return false;
    }
    memory[static_cast<std::size_t>(address) & 0xFFFF] = byte;
    TakeWriteResult(address, count, &memory[static_cast<std::size_t>(address) & 0xFFFF]);
    return true;
  }
};

struct Fixture {
  std::unique_ptr<CColouredListBox> log = std::make_unique<CColouredListBox>(true);
  std::unique_ptr<FakeBuffer> buffer = std::make_unique<FakeBuffer>(log.get());
  std::unique_ptr<CMemoryView> view = std::make_unique<CMemoryView>();

  Fixture(int address, int size, int height = 120) {
    buffer->Resize(size);
    buffer->Read(address);
    view->resize(640, height);
    view->show();
    if (!QTest::qWaitForWindowExposed(view.get())) qWarning("view not exposed");
    view->Attach(buffer.get());
  }
};

int PixelsLike(const QImage& image, const QColor& colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) < 60 && std::abs(c.green() - colour.green()) < 60 &&
          std::abs(c.blue() - colour.blue()) < 60)
        ++count;
    }
  return count;
}

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

}  // namespace

class MemoryViewTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
  }

  void emptyWithoutBytes() {
    CMemoryView view;
    view.resize(300, 80);
    QVERIFY(PixelsLike(view.grab().toImage(), kRed) > 0);  // "[Empty]" in red

    FakeBuffer buffer;
    view.Attach(&buffer);  // size 0
    QVERIFY(PixelsLike(view.grab().toImage(), kRed) > 0);
    QTest::keyClick(&view, '1');
    QVERIFY(buffer.writes.empty());
    QVERIFY(view.Active());
  }

  void linesAndScrollBar() {
    Fixture f(0x100, 256, 120);
    QCOMPARE(f.view->TotalLines(), 16);
    QVERIFY(f.view->VisibleLines() > 0 && f.view->VisibleLines() < 16);
    QVERIFY(f.view->ScrollBar()->isEnabled());
    QCOMPARE(f.view->ScrollBar()->objectName(), QStringLiteral("id100"));
    QCOMPARE(f.view->ScrollBar()->maximum(), 16 - f.view->VisibleLines());
    // Every byte was new to the buffer, so red prevails before any edit.
    QVERIFY(PixelsLike(f.view->grab().toImage(), kRed) > 100);

    Fixture tall(0, 32, 400);
    QVERIFY(!tall.view->ScrollBar()->isEnabled());
  }

  void hexTypingWritesEachDigitAndTurnsBlue() {
    Fixture f(0x20, 32);
    QTest::keyClick(f.view.get(), '7');
    QCOMPARE(f.buffer->writes.size(), std::size_t{1});
    QCOMPARE(f.view->Cursor(), 0);
    QVERIFY(!f.view->HighNibble());
    QTest::keyClick(f.view.get(), 'f');
    QCOMPARE(f.buffer->writes.size(), std::size_t{2});
    QCOMPARE(f.buffer->writes[0].first, 0x20);
    QCOMPARE(f.buffer->writes[1], std::make_pair(0x20, std::uint8_t{0x7F}));
    QCOMPARE(f.buffer->Data()[0], std::uint8_t{0x7F});
    QCOMPARE(f.buffer->State()[0], MemoryBuffer::kVerified);
    QCOMPARE(f.view->Cursor(), 1);
    QVERIFY(f.view->HighNibble());
    QVERIFY(PixelsLike(f.view->grab().toImage(), kBlue) > 0);

    // Upper-case digits work here; other characters write nothing.
    QTest::keyClick(f.view.get(), 'A');
    QTest::keyClick(f.view.get(), 'B');
    QCOMPARE(f.buffer->Data()[1], std::uint8_t{0xAB});
    QTest::keyClick(f.view.get(), 'x');
    QCOMPARE(f.buffer->writes.size(), std::size_t{4});

    // On the last byte the cursor stays.
    QTest::keyClick(f.view.get(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(f.view.get(), Qt::Key_End);
    QCOMPARE(f.view->Cursor(), 31);
    QTest::keyClicks(f.view.get(), "12");
    QCOMPARE(f.view->Cursor(), 31);
    QCOMPARE(f.buffer->Data()[31], std::uint8_t{0x12});
  }

  void characterTyping() {
    Fixture f(0, 16);
    QTest::keyClick(f.view.get(), Qt::Key_Tab);
    QVERIFY(!f.view->HexMode());
    QTest::keyClick(f.view.get(), 'K');
    QCOMPARE(f.buffer->memory[0], std::uint8_t{'K'});
    QCOMPARE(f.view->Cursor(), 1);
    // Control characters and the Delete key's text are not written.
    QTest::keyClick(f.view.get(), Qt::Key_Return);
    QTest::keyClick(f.view.get(), Qt::Key_Escape);
    QTest::keyClick(f.view.get(), Qt::Key_Delete);
    QCOMPARE(f.buffer->writes.size(), std::size_t{1});
    QCOMPARE(f.view->Cursor(), 1);
  }

  // A window may run past the memory's end (a part smaller than the
  // window): the bytes there have no board address and take no typing,
  // and a write that reaches them is refused before the board.
  void bytesPastTheMemoryEndTakeNoTyping() {
    Fixture f(0xFFF0, 32);
    f.buffer->EndAt(0x10000);
    QTest::keyClick(f.view.get(), Qt::Key_End);
    QCOMPARE(f.view->Cursor(), 15);
    QTest::keyClicks(f.view.get(), QStringLiteral("ab"));
    QCOMPARE(f.buffer->writes.size(), std::size_t{2});
    QCOMPARE(f.buffer->writes.back().first, 0xFFFF);
    QCOMPARE(f.view->Cursor(), 16);  // 0x10000: past the end
    QTest::keyClicks(f.view.get(), QStringLiteral("12"));
    QTest::keyClick(f.view.get(), Qt::Key_Tab);
    QTest::keyClick(f.view.get(), 'Z');
    QCOMPARE(f.buffer->writes.size(), std::size_t{2});
    QCOMPARE(f.log->LineCount(), 0);
    QVERIFY(!f.buffer->Writable(0x10000));
    QVERIFY(f.buffer->Writable(0xFFFF));
    QVERIFY(!f.buffer->Write(0xFFFF, 2));
    QCOMPARE(f.buffer->ErrorText(), QStringLiteral("Write of 2 bytes [0x0000ffff - 0x00010000] "
                                                   "passes the end of the memory [0x0000ffff]"));
  }

  // The character column shows "." for every byte without a glyph: the
  // controls below 0x20, DEL and the C1 controls 0x80-0x9F.
  void charactersWithoutGlyphShowAsDots() {
    for (int byte = 0; byte < 256; ++byte) {
      const bool control = byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
      const QChar shown = CMemoryView::DisplayedCharacter(static_cast<std::uint8_t>(byte));
      QCOMPARE(shown, control ? QLatin1Char('.') : QChar(byte));
    }
  }

  void failedWriteIsLoggedInRed() {
    Fixture f(8, 16);
    f.buffer->failWrite = true;
    QTest::keyClick(f.view.get(), 'c');
    QCOMPARE(f.log->LineCount(), 1);
    QCOMPARE(f.log->LineText(0), QStringLiteral("[Error] write refused"));
    QCOMPARE(f.log->LineColour(0), CColouredListBox::Rgb(255, 0, 0));
    // The byte keeps the typed value and shows as changed.
    QCOMPARE(f.buffer->Data()[0] >> 4, 0xC);
    QCOMPARE(f.buffer->State()[0], MemoryBuffer::kChanged);
  }

  void navigationKeys() {
    Fixture f(0, 100, 90);
    auto* v = f.view.get();
    QTest::keyClick(v, Qt::Key_Up);  // nothing above line 0
    QCOMPARE(v->Cursor(), 0);
    QTest::keyClick(v, Qt::Key_Left);
    QCOMPARE(v->Cursor(), 0);
    QTest::keyClick(v, Qt::Key_Right);
    QTest::keyClick(v, Qt::Key_Right);
    QCOMPARE(v->Cursor(), 1);
    QTest::keyClick(v, Qt::Key_Backspace);  // moves like Left
    QCOMPARE(v->Cursor(), 0);
    QVERIFY(!v->HighNibble());
    QTest::keyClick(v, Qt::Key_End);
    QCOMPARE(v->Cursor(), 15);
    QTest::keyClick(v, Qt::Key_End);
    QCOMPARE(v->Cursor(), 99);
    QTest::keyClick(v, Qt::Key_Down);  // would leave the buffer
    QCOMPARE(v->Cursor(), 99);
    QTest::keyClick(v, Qt::Key_Home);
    QCOMPARE(v->Cursor(), 96);
    QTest::keyClick(v, Qt::Key_Home);
    QCOMPARE(v->Cursor(), 0);
    QCOMPARE(v->TopLine(), 0);

    // Going down line by line scrolls one line once past the last shown.
    const int shown = v->VisibleLines();
    QVERIFY(shown > 0 && shown < v->TotalLines());
    for (int i = 0; i < shown; ++i) QTest::keyClick(v, Qt::Key_Down);
    QCOMPARE(v->TopLine(), 1);
    QTest::keyClick(v, Qt::Key_PageDown);
    QCOMPARE(v->Cursor(), std::min(99, shown * 16 + shown * 16));
    QVERIFY(v->Cursor() / 16 >= v->TopLine() && v->Cursor() / 16 < v->TopLine() + shown);
    QTest::keyClick(v, Qt::Key_PageUp);
    QTest::keyClick(v, Qt::Key_PageUp);
    QCOMPARE(v->Cursor(), 0);
    QCOMPARE(v->TopLine(), 0);
  }

  void wheelAndScrollBar() {
    Fixture f(0, 256, 90);
    auto* v = f.view.get();
    v->Attach(f.buffer.get());
    QTest::keyClick(v, Qt::Key_Down);
    QCOMPARE(v->Cursor(), 16);
    QWheelEvent away(QPointF(10, 10), v->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(v, &away);
    QCOMPARE(v->Cursor(), 0);
    QWheelEvent towards(QPointF(10, 10), v->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(v, &towards);
    QCOMPARE(v->Cursor(), 16);

    // Dragging the scroll bar brings the cursor along, keeping its column.
    QTest::keyClick(v, Qt::Key_Right);
    QTest::keyClick(v, Qt::Key_Right);
    QTest::keyClick(v, Qt::Key_Right);
    QCOMPARE(v->Cursor(), 17);
    v->ScrollBar()->setValue(10);
    QCOMPARE(v->TopLine(), 10);
    QCOMPARE(v->Cursor(), 10 * 16 + 1);
  }

  void clicksPlaceTheCursor() {
    Fixture f(0, 40);
    auto* v = f.view.get();
    QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, v->PointOf(9, false, true));
    QCOMPARE(v->Cursor(), 9);
    QVERIFY(v->HexMode());
    QVERIFY(!v->HighNibble());
    QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, v->PointOf(3, false, false));
    QCOMPARE(v->Cursor(), 3);
    QVERIFY(v->HighNibble());
    QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, v->PointOf(20, true, false));
    QCOMPARE(v->Cursor(), 20);
    QVERIFY(!v->HexMode());
    // The address column: the start of the line.
    QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier,
                      QPoint(CMemoryView::kLeft + 2, v->PointOf(20, true, false).y()));
    QCOMPARE(v->Cursor(), 16);
    // Left of the address column the cursor stays.
    QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, QPoint(2, v->PointOf(0, true, false).y()));
    QCOMPARE(v->Cursor(), 16);
    // Beyond the last byte: the last byte, low nibble.
    QTest::mouseClick(
        v, Qt::LeftButton, Qt::NoModifier,
        QPoint(v->PointOf(15, false, false).x(), 2 + 2 * v->LineHeight() + v->LineHeight() / 2));
    QCOMPARE(v->Cursor(), 39);
    QVERIFY(v->HexMode());
    QVERIFY(!v->HighNibble());
  }

  // Marked bytes get a background of their own until the window is read
  // again; the marks follow board addresses, not window positions.
  void marksLastUntilTheNextAttach() {
    Fixture f(0x40, 64);
    auto* v = f.view.get();
    const QColor mark = CMemoryView::MarkColour();
    QCOMPARE(PixelsLike(v->grab().toImage(), mark), 0);
    v->MarkAddresses({0x45, 0x41, 0x1000});
    QVERIFY(v->Marked(0x41) && v->Marked(0x45) && !v->Marked(0x42));
    const int marked = PixelsLike(v->grab().toImage(), mark);
    QVERIFY(marked > 0);
    v->MarkAddresses({0x41});
    const int one = PixelsLike(v->grab().toImage(), mark);
    QVERIFY(one > 0 && one < marked);
    v->Attach(f.buffer.get());
    QVERIFY(!v->Marked(0x41));
    QCOMPARE(PixelsLike(v->grab().toImage(), mark), 0);
  }

  // Tab and Shift+Tab switch between the two columns and, past them, move
  // the focus on: the keyboard reaches the controls before and after.
  void tabLeavesTheViewPastEitherColumn() {
    QWidget window;
    auto* before = new QLineEdit(&window);
    auto* view = new CMemoryView(&window);
    auto* after = new QLineEdit(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(before);
    layout->addWidget(view);
    layout->addWidget(after);
    CColouredListBox log(true);
    FakeBuffer buffer(&log);
    buffer.Resize(32);
    buffer.Read(0);
    view->Attach(&buffer);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    view->setFocus();
    QTRY_VERIFY(view->hasFocus());
    QTest::keyClick(view, Qt::Key_Tab);
    QVERIFY(!view->HexMode());
    QVERIFY(view->hasFocus());
    QTest::keyClick(view, Qt::Key_Tab);
    QTRY_VERIFY(after->hasFocus());
    QVERIFY(!view->HexMode());

    view->setFocus();
    QTRY_VERIFY(view->hasFocus());
    QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
    QVERIFY(view->HexMode());
    QVERIFY(view->hasFocus());
    QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
    QTRY_VERIFY(before->hasFocus());
    QVERIFY(buffer.writes.empty());
  }

  // The fill of a byte never read is shown as unread, greyed, never as
  // its 0xCC; a byte read as 0xCC shows as one.
  void unreadBytesShowAsUnread() {
    QCOMPARE(CMemoryView::HexText(0xCC, MemoryBuffer::kNeverRead), QStringLiteral("--"));
    QCOMPARE(CMemoryView::CharacterOf(0xCC, MemoryBuffer::kNeverRead), QLatin1Char('.'));
    QCOMPARE(CMemoryView::HexText(0xCC, MemoryBuffer::kUnchanged), QStringLiteral("CC"));
    QCOMPARE(CMemoryView::HexText(0x0A, MemoryBuffer::kChanged), QStringLiteral("0A"));
    const QPalette palette = QApplication::palette();
    const QColor unread = CMemoryView::StateColour(MemoryBuffer::kNeverRead, palette);
    QVERIFY(unread != palette.color(QPalette::Text));
    QVERIFY(unread != palette.color(QPalette::Base));
    QCOMPARE(CMemoryView::StateColour(MemoryBuffer::kUnchanged, palette),
             palette.color(QPalette::Text));
  }

  void attachKeepsOrResetsTheCursor() {
    Fixture f(0x40, 64);
    auto* v = f.view.get();
    QTest::keyClick(v, Qt::Key_Down);
    QTest::keyClick(v, Qt::Key_Tab);
    v->Attach(f.buffer.get());
    QCOMPARE(v->Cursor(), 16);
    QVERIFY(!v->HexMode());

    // Released between reads (another tab was active): drawn as empty,
    // keys reach no array.
    f.buffer->Release();
    QVERIFY(PixelsLike(v->grab().toImage(), kRed) > 0);
    QTest::keyClick(v, 'a');
    QVERIFY(f.buffer->writes.empty());

    // Same window read again: the cursor stays; a new window resets it.
    f.buffer->Resize(64);
    f.buffer->Read(0x40);
    v->Attach(f.buffer.get());
    QCOMPARE(v->Cursor(), 16);
    f.buffer->Read(0x80);
    v->Attach(f.buffer.get());
    QCOMPARE(v->Cursor(), 0);
    QVERIFY(v->HexMode());
  }
};

QTEST_MAIN(MemoryViewTest)
#include "MemoryViewTest.moc"
