#include "CHexBlockEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using Mode = CHexBlockEdit::CaretMode;

QByteArray Bytes(std::initializer_list<int> values) {
  QByteArray out;
  for (int v : values) out.append(static_cast<char>(v));
  return out;
}

// An editor of the given bytes, shown so that it lays out and paints.
std::unique_ptr<CHexBlockEdit> Editor(const QByteArray& bytes, int bytesPerRow = 8) {
  auto edit = std::make_unique<CHexBlockEdit>(true);
  edit->resize(420, 120);
  edit->SetBytesPerRow(bytesPerRow);
  edit->SetData(bytes);
  edit->show();
  if (!QTest::qWaitForWindowExposed(edit.get())) qWarning("editor not exposed");
  return edit;
}

QByteArray Counting(int n) {
  QByteArray out;
  for (int i = 0; i < n; ++i) out.append(static_cast<char>(i));
  return out;
}

}  // namespace

class HexBlockEditTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    QApplication::clipboard()->clear();
  }

  void hexTypingReplacesNibblesAndMovesOn() {
    auto edit = Editor(Bytes({0x00, 0x11, 0x22}));
    QSignalSpy changed(edit.get(), &CHexBlockEdit::dataChanged);
    QTest::keyClick(edit.get(), '7');
    QCOMPARE(edit->Mode(), Mode::kLowNibble);
    QCOMPARE(edit->Caret(), 0);
    QTest::keyClick(edit.get(), 'f');
    QCOMPARE(edit->Bytes(), Bytes({0x7F, 0x11, 0x22}));
    QCOMPARE(edit->Caret(), 1);
    QCOMPARE(edit->Mode(), Mode::kHighNibble);
    QCOMPARE(changed.count(), 2);

    // Upper-case hex letters and other characters only redraw.
    QTest::keyClick(edit.get(), 'A');
    QTest::keyClick(edit.get(), 'g');
    QCOMPARE(edit->Bytes(), Bytes({0x7F, 0x11, 0x22}));
    QCOMPARE(changed.count(), 2);

    // On the last byte the caret stays after the low nibble.
    edit->SetCaret(2, Mode::kHighNibble);
    QTest::keyClicks(edit.get(), "9c");
    QCOMPARE(edit->Bytes(), Bytes({0x7F, 0x11, 0x9C}));
    QCOMPARE(edit->Caret(), 2);
    QCOMPARE(edit->Mode(), Mode::kLowNibble);
  }

  void characterColumnTyping() {
    auto edit = Editor(Bytes({0x00, 0x00, 0x00}));
    QTest::keyClick(edit.get(), Qt::Key_Tab);
    QCOMPARE(edit->Mode(), Mode::kCharacter);
    QTest::keyClicks(edit.get(), "Hi");
    QCOMPARE(edit->Bytes(), Bytes({'H', 'i', 0}));
    QCOMPARE(edit->Caret(), 2);
    // Enter and Escape are no characters to type.
    QTest::keyClick(edit.get(), Qt::Key_Return);
    QTest::keyClick(edit.get(), Qt::Key_Escape);
    QCOMPARE(edit->Bytes(), Bytes({'H', 'i', 0}));
    QTest::keyClick(edit.get(), Qt::Key_Tab);
    QCOMPARE(edit->Mode(), Mode::kHighNibble);
  }

  void caretMovement() {
    auto edit = Editor(Counting(20), 8);
    QTest::keyClick(edit.get(), Qt::Key_Left);  // nothing before byte 0
    QCOMPARE(edit->Caret(), 0);
    QCOMPARE(edit->Mode(), Mode::kHighNibble);
    QTest::keyClick(edit.get(), Qt::Key_Right);
    QCOMPARE(edit->Mode(), Mode::kLowNibble);
    QTest::keyClick(edit.get(), Qt::Key_Right);
    QCOMPARE(edit->Caret(), 1);
    QCOMPARE(edit->Mode(), Mode::kHighNibble);
    QTest::keyClick(edit.get(), Qt::Key_Left);
    QCOMPARE(edit->Caret(), 0);
    QCOMPARE(edit->Mode(), Mode::kLowNibble);

    QTest::keyClick(edit.get(), Qt::Key_Down);
    QCOMPARE(edit->Caret(), 8);
    QTest::keyClick(edit.get(), Qt::Key_Down);
    QCOMPARE(edit->Caret(), 16);
    QTest::keyClick(edit.get(), Qt::Key_Down);  // no byte 24
    QCOMPARE(edit->Caret(), 16);
    QTest::keyClick(edit.get(), Qt::Key_End);
    QCOMPARE(edit->Caret(), 19);  // the last line is short
    QTest::keyClick(edit.get(), Qt::Key_Home);
    QCOMPARE(edit->Caret(), 16);
    QCOMPARE(edit->Mode(), Mode::kHighNibble);
    QTest::keyClick(edit.get(), Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(edit->Caret(), 0);
    QTest::keyClick(edit.get(), Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(edit->Caret(), 19);
    QTest::keyClick(edit.get(), Qt::Key_Up);
    QCOMPARE(edit->Caret(), 11);

    // Character column: one byte a step.
    QTest::keyClick(edit.get(), Qt::Key_Tab);
    QTest::keyClick(edit.get(), Qt::Key_Right);
    QCOMPARE(edit->Caret(), 12);
    QCOMPARE(edit->Mode(), Mode::kCharacter);
  }

  void scrollingKeepsTheCaretShown() {
    auto edit = Editor(Counting(256), 8);
    const int page = edit->LinesPerPage();
    QVERIFY(page >= 1 && page < 32);
    QTest::keyClick(edit.get(), Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(edit->Caret(), 255);
    QVERIFY(edit->TopOffset() <= 248 && edit->TopOffset() + page * 8 > 248);
    QTest::keyClick(edit.get(), Qt::Key_PageUp);
    QCOMPARE(edit->Caret(), 255 - page * 8);
    QTest::keyClick(edit.get(), Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(edit->TopOffset(), 0);
  }

  void shiftExtendsTheSelection() {
    auto edit = Editor(Counting(16), 8);
    QTest::keyClick(edit.get(), Qt::Key_Right, Qt::ShiftModifier);
    QVERIFY(!edit->HasSelection());  // still within byte 0
    QTest::keyClick(edit.get(), Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(edit.get(), Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(edit.get(), Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(edit->SelectionStart(), 0);
    QCOMPARE(edit->SelectionEnd(), 2);
    QTest::keyClick(edit.get(), Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(edit->SelectionEnd(), 10);
    // A move without Shift drops it.
    QTest::keyClick(edit.get(), Qt::Key_Left);
    QVERIFY(!edit->HasSelection());
    QCOMPARE(edit->SelectionStart(), -1);
  }

  void insertAndDelete() {
    auto edit = Editor(Counting(6), 8);
    QSignalSpy changed(edit.get(), &CHexBlockEdit::dataChanged);
    edit->SetCaret(2, Mode::kHighNibble);
    QTest::keyClick(edit.get(), Qt::Key_Insert);
    QCOMPARE(edit->Bytes(), Bytes({0, 1, 0, 2, 3, 4, 5}));
    // As many zero bytes as the selection is long.
    edit->SetSelection(4, 7);
    QTest::keyClick(edit.get(), Qt::Key_Insert);
    QCOMPARE(edit->Length(), 10);
    QVERIFY(!edit->HasSelection());

    edit->SetData(Counting(6));
    edit->SetSelection(1, 4);
    QTest::keyClick(edit.get(), Qt::Key_Delete);
    QCOMPARE(edit->Bytes(), Bytes({0, 4, 5}));
    QCOMPARE(edit->Caret(), 1);
    QTest::keyClick(edit.get(), Qt::Key_Delete);
    QCOMPARE(edit->Bytes(), Bytes({0, 5}));
    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QCOMPARE(edit->Bytes(), Bytes({5}));
    QCOMPARE(edit->Caret(), 0);
    QTest::keyClick(edit.get(), Qt::Key_Backspace);  // nothing before byte 0
    QCOMPARE(edit->Bytes(), Bytes({5}));
    // Deleting the last byte leaves an empty block that keys leave alone.
    QTest::keyClick(edit.get(), Qt::Key_Delete);
    QCOMPARE(edit->Length(), 0);
    QTest::keyClick(edit.get(), '1');
    QTest::keyClick(edit.get(), Qt::Key_Insert);
    QTest::keyClick(edit.get(), Qt::Key_Right);
    QCOMPARE(edit->Length(), 0);
    QVERIFY(changed.count() >= 5);
  }

  void insertDeleteSwitchedOff() {
    auto edit = Editor(Counting(4), 8);
    edit->SetInsertDelete(false);
    edit->SetCaret(2, Mode::kHighNibble);
    QTest::keyClick(edit.get(), Qt::Key_Insert);
    QTest::keyClick(edit.get(), Qt::Key_Delete);
    QCOMPARE(edit->Bytes(), Counting(4));
    // Backspace still shortens the block and Paste still lengthens it.
    QTest::keyClick(edit.get(), Qt::Key_Backspace);
    QCOMPARE(edit->Bytes(), Bytes({0, 2, 3}));
    auto* mime = new QMimeData;
    mime->setData(QStringLiteral("BinaryData"), Bytes({9, 9}));
    QApplication::clipboard()->setMimeData(mime);
    QTest::keyClick(edit.get(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->Bytes(), Bytes({0, 9, 9, 2, 3}));
  }

  void clipboardRoundTripBetweenEditors() {
    auto from = Editor(Bytes({'A', 0x00, 0xFF, 'z', 0x10}));
    auto to = Editor(Bytes({1, 2, 3}));

    // Copy needs a selection: without one the clipboard keeps what it had.
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(from.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));

    from->SetSelection(0, 4);
    QTest::keyClick(from.get(), Qt::Key_C, Qt::ControlModifier);
    const QMimeData* mime = QApplication::clipboard()->mimeData();
    QVERIFY(mime != nullptr);
    QCOMPARE(mime->data(QStringLiteral("BinaryData")), Bytes({'A', 0x00, 0xFF, 'z'}));
    QCOMPARE(mime->text(), QStringLiteral("41 00 FF 7A "));

    // On a low nibble the bytes go in after the caret's byte; the caret stays.
    to->SetCaret(0, Mode::kLowNibble);
    QTest::keyClick(to.get(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(to->Bytes(), Bytes({1, 'A', 0x00, 0xFF, 'z', 2, 3}));
    QCOMPARE(to->Caret(), 0);
    // With a selection the paste replaces it.
    to->SetSelection(5, 7);
    QTest::keyClick(to.get(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(to->Bytes(), Bytes({1, 'A', 0x00, 0xFF, 'z', 'A', 0x00, 0xFF, 'z'}));

    // The character column's text form puts "." for unprintable bytes.
    QTest::keyClick(from.get(), Qt::Key_Tab);
    from->SetSelection(0, 5);
    QTest::keyClick(from.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("A..z."));
  }

  void pasteOfPlainTextTakesItsBytes() {
    auto edit = Editor(Bytes({1}));
    QApplication::clipboard()->setText(QStringLiteral("ok"));
    edit->SetCaret(0, Mode::kHighNibble);
    QTest::keyClick(edit.get(), Qt::Key_V, Qt::ControlModifier);
    // The text's own bytes, without a terminating zero.
    QCOMPARE(edit->Bytes(), Bytes({'o', 'k', 1}));

    // The Paste command fills an empty block too.
    edit->SetData(QByteArray());
    edit->Paste();
    QCOMPARE(edit->Bytes(), Bytes({'o', 'k'}));
  }

  void cutAndMaximumLength() {
    auto edit = Editor(Counting(6));
    edit->SetSelection(1, 3);
    QTest::keyClick(edit.get(), Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(edit->Bytes(), Bytes({0, 3, 4, 5}));
    QCOMPARE(QApplication::clipboard()->mimeData()->data(QStringLiteral("BinaryData")),
             Bytes({1, 2}));
    // Ctrl+Z changes nothing.
    QTest::keyClick(edit.get(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(edit->Bytes(), Bytes({0, 3, 4, 5}));

    edit->SetMaxLength(5);
    auto* mime = new QMimeData;
    mime->setData(QStringLiteral("BinaryData"), Counting(10));
    QApplication::clipboard()->setMimeData(mime);
    edit->SetCaret(0, Mode::kHighNibble);
    edit->Paste();
    QCOMPARE(edit->Length(), 5);
    QTest::keyClick(edit.get(), Qt::Key_Insert);
    QCOMPARE(edit->Length(), 5);
  }

  void mouseClicksAndDrags() {
    auto edit = Editor(Counting(24), 8);
    QWidget* port = edit->viewport();
    QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, edit->PointOf(10, Mode::kLowNibble));
    QCOMPARE(edit->Caret(), 10);
    QCOMPARE(edit->Mode(), Mode::kLowNibble);
    QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, edit->PointOf(3, Mode::kCharacter));
    QCOMPARE(edit->Caret(), 3);
    QCOMPARE(edit->Mode(), Mode::kCharacter);
    QVERIFY(!edit->HasSelection());

    // A hex drag includes the byte under the pointer...
    QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, edit->PointOf(2, Mode::kHighNibble));
    QTest::mouseMove(port, edit->PointOf(5, Mode::kHighNibble));
    QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, edit->PointOf(5, Mode::kHighNibble));
    QCOMPARE(edit->SelectionStart(), 2);
    QCOMPARE(edit->SelectionEnd(), 6);
    // ...a character drag stops before it.
    QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, edit->PointOf(2, Mode::kCharacter));
    QVERIFY(!edit->HasSelection());
    QTest::mouseMove(port, edit->PointOf(5, Mode::kCharacter));
    QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, edit->PointOf(5, Mode::kCharacter));
    QCOMPARE(edit->SelectionStart(), 2);
    QCOMPARE(edit->SelectionEnd(), 5);

    // Shift+click selects from the caret.
    QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, edit->PointOf(1, Mode::kHighNibble));
    QTest::mouseClick(port, Qt::LeftButton, Qt::ShiftModifier, edit->PointOf(4, Mode::kHighNibble));
    QCOMPARE(edit->SelectionStart(), 1);
    QCOMPARE(edit->SelectionEnd(), 5);

    // Past the last byte: the last byte, low nibble.
    const auto layout = edit->CurrentLayout();
    QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier,
                      QPoint(layout.hexX + layout.charWidth / 2, 3 * layout.lineHeight + 2));
    QCOMPARE(edit->Caret(), 23);
    QCOMPARE(edit->Mode(), Mode::kLowNibble);
  }

  void narrowOptionsPaint() {
    auto edit = Editor(Counting(40), 8);
    edit->SetOptions(false, true, false, false);
    edit->SetBytesPerRow(16);
    QCOMPARE(edit->CurrentLayout().hexX, edit->CurrentLayout().addressX);
    QCOMPARE(edit->CurrentLayout().charsX,
             edit->CurrentLayout().hexX + 48 * edit->CurrentLayout().charWidth);
    edit->SetOptions(true, false, true, false);
    QCOMPARE(edit->Mode(), Mode::kCharacter);
    QCOMPARE(edit->CurrentLayout().hexX - edit->CurrentLayout().addressX,
             5 * edit->CurrentLayout().charWidth);
    QVERIFY(!edit->grab().isNull());
  }
};

QTEST_MAIN(HexBlockEditTest)
#include "HexBlockEditTest.moc"
