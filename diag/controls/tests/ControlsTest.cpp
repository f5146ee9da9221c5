#include "CColouredListBox.h"
#include "ControlToolTip.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace {

// A dialog with an edit field that holds the focus and a button that the tip
// belongs to.
struct Dialog {
  QWidget window;
  QLineEdit* edit = nullptr;
  QPushButton* button = nullptr;

  Dialog() {
    auto* layout = new QVBoxLayout(&window);
    edit = new QLineEdit(&window);
    button = new QPushButton(QStringLiteral("Data"), &window);
    layout->addWidget(edit);
    layout->addWidget(button);
    window.resize(200, 120);
  }

  bool ShowWithFocus() {
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) return false;
    edit->setFocus();
    return QTest::qWaitFor([&] { return QApplication::focusWidget() == edit; }, 2000);
  }

  QPoint ButtonCentre() const { return button->mapToGlobal(button->rect().center()); }
  QPoint OffButton() const {
    return button->mapToGlobal(QPoint(button->width() + 30, button->height() + 30));
  }
};

QString HexLine(const QByteArray& bytes) {
  QString hex;
  QString chars;
  for (char c : bytes) {
    hex +=
        QStringLiteral("%1 ").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0')).toUpper();
    chars += (c >= 0x20 && c < 0x7F) ? QLatin1Char(c) : QLatin1Char('.');
  }
  return hex + QLatin1Char(' ') + chars;
}

}  // namespace

class ControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
  }

  // ---- CColouredListBox ----

  void addLineReturnsIndexAndKeepsOrder() {
    CColouredListBox list(false);
    QCOMPARE(list.AddLine(QStringLiteral("a")), 0);
    QCOMPARE(list.AddLine(QStringLiteral("b"), CColouredListBox::Rgb(255, 0, 0)), 1);
    QCOMPARE(list.AddLine(QStringLiteral("c")), 2);
    QCOMPARE(list.count(), 3);
    QCOMPARE(list.LineCount(), 3);
    QCOMPARE(list.item(1)->text(), QStringLiteral("b"));
    QVERIFY(!list.isSortingEnabled());
    QVERIFY(list.uniformItemSizes());
  }

  void newestLineSelectedAndInView() {
    CColouredListBox list(true);
    list.resize(240, 120);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    for (int i = 0; i < 100; ++i) list.AddLine(QStringLiteral("line %1").arg(i));
    QCOMPARE(list.currentRow(), 99);
    QCOMPARE(list.AddLine(QStringLiteral("line 100")), 100);
    QCOMPARE(list.currentRow(), 100);
    QCOMPARE(list.selectedItems().size(), 1);
    QVERIFY(list.item(100)->isSelected());
    QTRY_VERIFY_WITH_TIMEOUT(list.viewport()->rect().contains(list.visualItemRect(list.item(100))),
                             2000);
    QVERIFY(list.verticalScrollBar()->value() > 0);
    QVERIFY(!list.viewport()->rect().intersects(list.visualItemRect(list.item(0))));
  }

  // Scrolled back to read older lines, the reader keeps the place (and the
  // selection) while lines come in; back at the end, new lines are
  // followed again.
  void scrolledBackViewKeepsItsPlace() {
    CColouredListBox list(false);
    list.resize(240, 120);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    for (int i = 0; i < 100; ++i) list.AddLine(QStringLiteral("line %1").arg(i));
    QTRY_VERIFY(list.verticalScrollBar()->value() > 0);
    list.verticalScrollBar()->setValue(10);
    list.setCurrentRow(12);
    QVERIFY(!list.FollowsNewest());
    for (int i = 0; i < 20; ++i) QCOMPARE(list.AddLine(QStringLiteral("more %1").arg(i)), 100 + i);
    QCoreApplication::processEvents();
    QCOMPARE(list.verticalScrollBar()->value(), 10);
    QCOMPARE(list.currentRow(), 12);

    list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum());
    QVERIFY(list.FollowsNewest());
    QCOMPARE(list.AddLine(QStringLiteral("newest")), 120);
    QCOMPARE(list.currentRow(), 120);
    QTRY_VERIFY(list.viewport()->rect().contains(list.visualItemRect(list.item(120))));
  }

  // A box that shrinks (its page laid out anew, a status text growing above
  // it) or grows must not make a following list stop following.
  void followingListFollowsAcrossResizes() {
    CColouredListBox list(true);
    list.resize(240, 240);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    for (int i = 0; i < 100; ++i) list.AddLine(QStringLiteral("line %1").arg(i));
    QTRY_VERIFY(list.viewport()->rect().contains(list.visualItemRect(list.item(99))));
    const int maximumBefore = list.verticalScrollBar()->maximum();
    for (const int height : {90, 300, 60}) {
      list.resize(240, height);
      if (height < 240) QTRY_VERIFY(list.verticalScrollBar()->maximum() > maximumBefore);
      QCoreApplication::processEvents();
      QVERIFY(list.FollowsNewest());
      const int newest = list.AddLine(QStringLiteral("after resize to %1").arg(height));
      QCOMPARE(list.currentRow(), newest);
      QVERIFY(list.item(newest)->isSelected());
      QTRY_VERIFY(list.viewport()->rect().contains(list.visualItemRect(list.item(newest))));
    }
    // Scrolled back, a resize keeps the reader's place.
    list.verticalScrollBar()->setValue(5);
    QVERIFY(!list.FollowsNewest());
    list.resize(240, 80);
    QCoreApplication::processEvents();
    QVERIFY(!list.FollowsNewest());
    list.AddLine(QStringLiteral("unfollowed"));
    QCOMPARE(list.verticalScrollBar()->value(), 5);
  }

  void deleteLineRemovesOneAndIgnoresOutside() {
    CColouredListBox list(false);
    list.AddLine(QStringLiteral("a"), CColouredListBox::Rgb(1, 2, 3));
    list.AddLine(QStringLiteral("b"), CColouredListBox::Rgb(4, 5, 6));
    list.AddLine(QStringLiteral("c"), CColouredListBox::Rgb(7, 8, 9));
    list.DeleteLine(3);
    list.DeleteLine(100);
    list.DeleteLine(-1);
    QCOMPARE(list.LineCount(), 3);
    list.DeleteLine(1);
    QCOMPARE(list.LineCount(), 2);
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.item(1)->text(), QStringLiteral("c"));
    QCOMPARE(list.LineText(1), QStringLiteral("c"));
    // The colour stays with its line.
    QCOMPARE(list.LineColour(1), CColouredListBox::Rgb(7, 8, 9));
    // The partial line of the serial port page: deleted and added again.
    list.DeleteLine(list.LineCount() - 1);
    QCOMPARE(list.AddLine(QStringLiteral("c2"), CColouredListBox::Rgb(7, 8, 9)), 1);
    QCOMPARE(list.currentRow(), 1);
  }

  void coloursKeptPerLine() {
    CColouredListBox list(false);
    QPalette palette;
    palette.setColor(QPalette::Text, QColor(10, 20, 30));
    palette.setColor(QPalette::Base, QColor(250, 250, 240));
    palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    palette.setColor(QPalette::HighlightedText, QColor(255, 255, 0));
    list.AddLine(QStringLiteral("red"), CColouredListBox::Rgb(255, 0, 0));
    list.AddLine(QStringLiteral("default"), CColouredListBox::kDefaultColour);
    list.AddLine(QStringLiteral("green"), CColouredListBox::Rgb(0, 160, 0));

    QCOMPARE(list.LookOf(0, false, palette).text, QColor(255, 0, 0));
    QCOMPARE(list.LookOf(1, false, palette).text, QColor(10, 20, 30));
    QCOMPARE(list.LookOf(2, false, palette).text, QColor(0, 160, 0));
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(list.LookOf(i, false, palette).back, QColor(250, 250, 240));
      QCOMPARE(list.LookOf(i, true, palette).text, QColor(255, 255, 0));
      QCOMPARE(list.LookOf(i, true, palette).back, QColor(0, 0, 128));
    }
  }

  void drawnRowsFillHighlightAndBackground() {
    CColouredListBox list(true);
    QPalette palette = list.palette();
    palette.setColor(QPalette::Base, QColor(250, 250, 240));
    palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    palette.setColor(QPalette::Active, QPalette::Highlight, QColor(0, 0, 128));
    palette.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0, 0, 128));
    list.setPalette(palette);
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.AddLine(QStringLiteral("01 02"), CColouredListBox::Rgb(255, 0, 0));
    list.AddLine(QStringLiteral("03 04"), CColouredListBox::Rgb(0, 255, 0));
    QCOMPARE(list.currentRow(), 1);
    QTRY_VERIFY(list.visualItemRect(list.item(1)).isValid());

    const QImage image = list.viewport()->grab().toImage();
    const QRect first = list.visualItemRect(list.item(0));
    const QRect second = list.visualItemRect(list.item(1));
    const qreal dpr = image.devicePixelRatio();
    // Far right of each row, away from the short text.
    const QPoint p0(static_cast<int>((first.right() - 4) * dpr),
                    static_cast<int>(first.center().y() * dpr));
    const QPoint p1(static_cast<int>((second.right() - 4) * dpr),
                    static_cast<int>(second.center().y() * dpr));
    QCOMPARE(QColor(image.pixel(p0)), QColor(250, 250, 240));
    QCOMPARE(QColor(image.pixel(p1)), QColor(0, 0, 128));
  }

  void fixedPitchFontHasEqualCells() {
    // Fixed pitch is measured over every printable character, never taken
    // from the font's flag, which some fixed-pitch fonts do not set.
    const auto equalCells = [](const QFont& font) {
      const QFontMetricsF metrics(font);
      const qreal zero = metrics.horizontalAdvance(QLatin1Char('0'));
      for (char c = 0x20; c < 0x7F; ++c)
        if (qAbs(metrics.horizontalAdvance(QLatin1Char(c)) - zero) > 0.01) return false;
      return zero > 0;
    };
    const auto asked = [](const QString& family) {
      QFont font(family);
      font.setPixelSize(CColouredListBox::kFixedPitchPixelHeight);
      font.setStyleHint(QFont::TypeWriter);
      font.setFixedPitch(true);
      return font;
    };
    QStringList equalFamilies;
    for (const QString& family : QFontDatabase::families())
      if (equalCells(asked(family))) equalFamilies << family;
    if (equalFamilies.isEmpty()) QSKIP("No font on this machine has equal advances.");

    const QFont font = CColouredListBox::MakeFixedPitchFont();
    QVERIFY(equalCells(font));
    QCOMPARE(font.pixelSize(), CColouredListBox::kFixedPitchPixelHeight);
    const QFontMetrics metrics(font);
    const int zero = metrics.horizontalAdvance(QLatin1Char('0'));
    QVERIFY(zero > 0);
    for (char c = 0x20; c < 0x7F; ++c) QCOMPARE(metrics.horizontalAdvance(QLatin1Char(c)), zero);

    // A family that is not fixed-pitch falls back to one that is.
    const QFont fallback = CColouredListBox::MakeFixedPitchFont(QStringLiteral("DejaVu Sans"));
    QVERIFY(equalCells(fallback));
    QCOMPARE(fallback.pixelSize(), CColouredListBox::kFixedPitchPixelHeight);
    const QFontMetrics fallbackMetrics(fallback);
    QCOMPARE(fallbackMetrics.horizontalAdvance(QLatin1Char('i')),
             fallbackMetrics.horizontalAdvance(QLatin1Char('W')));

    // Every family whose glyphs have one advance is kept, whatever its flag.
    for (const QString& family : equalFamilies) {
      QVERIFY2(CColouredListBox::HasEqualAdvances(asked(family)), qPrintable(family));
      QCOMPARE(QFontInfo(CColouredListBox::MakeFixedPitchFont(family)).family(),
               QFontInfo(asked(family)).family());
    }

    CColouredListBox fixed(true);
    QVERIFY(fixed.FixedPitch());
    QCOMPARE(fixed.LineFont(), font);
    QCOMPARE(fixed.font().pixelSize(), CColouredListBox::kFixedPitchPixelHeight);
    CColouredListBox proportional(false);
    QCOMPARE(proportional.LineFont(), proportional.font());
  }

  void hexColumnsStayAligned() {
    const QString upper = HexLine(QByteArray::fromHex("000102030405060708090A0B0C0D0E0F"));
    const QString lower = HexLine(QByteArrayLiteral("WWWWiiii||||MM.."));
    QCOMPARE(upper.size(), lower.size());
    const QRect row(3, 40, 600, 14);
    const int cell =
        QFontMetrics(CColouredListBox::MakeFixedPitchFont()).horizontalAdvance(QLatin1Char('0'));
    const auto a = CColouredListBox::CharacterCells(upper, row, cell);
    const auto b = CColouredListBox::CharacterCells(lower, row, cell);
    QCOMPARE(a.size(), static_cast<std::size_t>(upper.size()));
    QCOMPARE(b.size(), a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
      QCOMPARE(a[i].left(), row.left() + static_cast<int>(i) * cell);
      QCOMPARE(b[i].left(), a[i].left());
      QCOMPARE(a[i].width(), cell);
      QCOMPARE(a[i].top(), row.top());
      QCOMPARE(a[i].height(), row.height());
    }
    // A character outside the basic plane takes one cell.
    const QString wide =
        QStringLiteral("a") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("b");
    const auto c = CColouredListBox::CharacterCells(wide, row, cell);
    QCOMPARE(c.size(), std::size_t{3});
    QCOMPARE(c[2].left(), row.left() + 2 * cell);
  }

  void proportionalLinesDraw() {
    CColouredListBox list(false);
    QPalette palette = list.palette();
    palette.setColor(QPalette::Base, QColor(250, 250, 240));
    list.setPalette(palette);
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.AddLine(QStringLiteral("Reel 1 moved"), CColouredListBox::Rgb(0, 0, 255));
    list.AddLine(QStringLiteral("Reel 2 moved"));
    list.setCurrentRow(-1);
    const QRect row = list.visualItemRect(list.item(1));
    const QImage image = list.viewport()->grab().toImage();
    const qreal dpr = image.devicePixelRatio();
    QCOMPARE(QColor(image.pixel(static_cast<int>((row.right() - 4) * dpr),
                                static_cast<int>(row.center().y() * dpr))),
             QColor(250, 250, 240));
  }

  void emptyListDrawsNothing() {
    CColouredListBox list(true);
    list.resize(100, 60);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    const QImage image = list.grab().toImage();
    QVERIFY(!image.isNull());
  }

  // ---- ControlToolTip ----

  void defaultsAfterConstruction() {
    ControlToolTip tip;
    QCOMPARE(tip.PositionMode(), 4);
    QVERIFY(!tip.OwnColours());
    QVERIFY(!tip.NeedKey());
    QCOMPARE(tip.WhichKey(), 1);
    QCOMPARE(tip.TimerInterval(), 100);
    QCOMPARE(tip.Control(), nullptr);
    QVERIFY(!tip.isVisible());
    QCOMPARE(QString::fromLatin1(tip.metaObject()->className()), QStringLiteral("ControlToolTip"));
    QVERIFY(tip.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(tip.testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(!tip.Attach(nullptr));
  }

  void textRectMeasuresLines() {
    Dialog dialog;
    ControlToolTip tip;
    tip.SetText(QStringLiteral("one"));
    QVERIFY(tip.TextRect().isNull());  // no window yet
    QVERIFY(tip.Attach(dialog.button));
    const QFontMetrics metrics(QApplication::font());
    QCOMPARE(tip.TextRect(), QRect(0, 0, metrics.horizontalAdvance(QStringLiteral("one")) + 4,
                                   metrics.height() + 4));
    tip.SetText(QStringLiteral("a\nlongest line\nbb"));
    QCOMPARE(tip.TextRect().height(), 3 * metrics.height() + 4);
    QCOMPARE(tip.TextRect().width(), metrics.horizontalAdvance(QStringLiteral("longest line")) + 4);
    QCOMPARE(tip.TextRect().topLeft(), QPoint(0, 0));
  }

  void tipShowsOnSixthTickOfRest() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    QPoint pointer = dialog.ButtonCentre();
    tip.SetPointerSource([&] { return pointer; });
    tip.SetText(QStringLiteral("Enter the data bytes"));
    QVERIFY(tip.Attach(dialog.button));
    tip.SetTimerInterval(1000000);  // ticks driven by hand below
    for (int i = 1; i <= ControlToolTip::kRestTicks; ++i) {
      tip.Tick();
      QVERIFY(!tip.isVisible());
      QCOMPARE(tip.Ticks(), i);
    }
    tip.Tick();
    QVERIFY(tip.isVisible());
    QCOMPARE(tip.Ticks(), 0);
    QCOMPARE(tip.Pointer(), pointer);
    QCOMPARE(tip.geometry().topLeft(), pointer + QPoint(0, ControlToolTip::kPointerDrop));
    QCOMPARE(tip.size(), tip.TextRect().size());
    // Showing it did not take the focus away from the dialog.
    QCOMPARE(QApplication::focusWidget(), dialog.edit);
    tip.Tick();
    QVERIFY(tip.isVisible());
    // The pointer leaves: hidden at the next tick.
    pointer = dialog.OffButton();
    tip.Tick();
    QVERIFY(!tip.isVisible());
  }

  void tipShowsByTimerAndHidesOnLeaving() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    QPoint pointer = dialog.ButtonCentre();
    tip.SetPointerSource([&] { return pointer; });
    tip.SetText(QStringLiteral("tip"));
    QVERIFY(tip.Attach(dialog.button));
    tip.SetTimerInterval(5);
    QTRY_VERIFY_WITH_TIMEOUT(tip.isVisible(), 5000);
    pointer = dialog.OffButton();
    QTRY_VERIFY_WITH_TIMEOUT(!tip.isVisible(), 5000);
  }

  void pointerOnEdgeCounts() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    QPoint pointer =
        dialog.button->mapToGlobal(QPoint(dialog.button->width(), dialog.button->height()));
    tip.SetPointerSource([&] { return pointer; });
    tip.SetText(QStringLiteral("tip"));
    QVERIFY(tip.Attach(dialog.button));
    tip.Tick();
    QCOMPARE(tip.Ticks(), 1);
    pointer += QPoint(1, 0);
    tip.Tick();
    QCOMPARE(tip.Ticks(), 0);
  }

  void noTipWhileComingAndGoing() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    bool over = false;
    tip.SetPointerSource([&] { return over ? dialog.ButtonCentre() : dialog.OffButton(); });
    tip.SetText(QStringLiteral("tip"));
    QVERIFY(tip.Attach(dialog.button));
    for (int i = 0; i < 60; ++i) {
      over = (i % 5) != 4;  // leaves the control before six ticks have passed
      tip.Tick();
      QVERIFY(!tip.isVisible());
    }
  }

  void noTipWithoutFocusInTheDialog() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    QLineEdit other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    other.setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), &other);
    ControlToolTip tip;
    tip.SetPointerSource([&] { return dialog.ButtonCentre(); });
    tip.SetText(QStringLiteral("tip"));
    QVERIFY(tip.Attach(dialog.button));
    for (int i = 0; i < 20; ++i) tip.Tick();
    QVERIFY(!tip.isVisible());
  }

  void visibleTipHidesWhenTheFocusLeavesTheDialog() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    tip.SetPointerSource([&] { return dialog.ButtonCentre(); });
    tip.SetText(QStringLiteral("tip"));
    QVERIFY(tip.Attach(dialog.button));
    for (int i = 0; i < 6; ++i) tip.Tick();
    QVERIFY(tip.isVisible());
    QLineEdit other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    other.setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), &other);
    tip.Tick();
    QVERIFY(!tip.isVisible());
  }

  void emptyTextNeverShows() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    tip.SetPointerSource([&] { return dialog.ButtonCentre(); });
    QVERIFY(tip.Attach(dialog.button));
    for (int i = 0; i < 30; ++i) {
      tip.Tick();
      QVERIFY(!tip.isVisible());
    }
    // Emptying the text of a visible tip hides it.
    tip.SetText(QStringLiteral("shown"));
    for (int i = 0; i < 6; ++i) tip.Tick();
    QVERIFY(tip.isVisible());
    tip.SetText(QString());
    QVERIFY(!tip.isVisible());
  }

  void visibleTipFollowsNewText() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    tip.SetPointerSource([&] { return dialog.ButtonCentre(); });
    tip.SetText(QStringLiteral("one"));
    QVERIFY(tip.Attach(dialog.button));
    for (int i = 0; i < 6; ++i) tip.Tick();
    QVERIFY(tip.isVisible());
    tip.SetText(QStringLiteral("one\ntwo\nthree"));
    QVERIFY(tip.isVisible());
    QCOMPARE(tip.size(), tip.TextRect().size());
    QCOMPARE(tip.height(), 3 * QFontMetrics(QApplication::font()).height() + 4);
  }

  void ownColoursPaintTheTip() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    tip.SetPointerSource([&] { return dialog.ButtonCentre(); });
    tip.SetText(QStringLiteral("tip\ntext"));
    tip.SetColours(QColor(0, 0, 0), QColor(200, 255, 200));
    QVERIFY(tip.OwnColours());
    QVERIFY(tip.Attach(dialog.button));
    for (int i = 0; i < 6; ++i) tip.Tick();
    QVERIFY(tip.isVisible());
    const QImage image = tip.grab().toImage();
    const qreal dpr = image.devicePixelRatio();
    // Inside the border, in the margin beside the text.
    const QPoint margin(static_cast<int>((tip.width() - 2) * dpr),
                        static_cast<int>((tip.height() - 2) * dpr));
    QCOMPARE(QColor(image.pixel(margin)), QColor(200, 255, 200));
  }

  void needKeyWaitsForTheButton() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    tip.SetPointerSource([&] { return dialog.ButtonCentre(); });
    tip.SetText(QStringLiteral("tip"));
    tip.SetNeedKey(true, 1);
    QVERIFY(tip.Attach(dialog.button));
    for (int i = 0; i < 20; ++i) tip.Tick();
    QVERIFY(!tip.isVisible());
    QCOMPARE(tip.Ticks(), 0);
  }

  void placementModes() {
    const QRect screen(0, 0, 800, 600);
    const QSize size(100, 30);
    const QPoint top(200, 100);
    const QPoint bottom(200, 125);
    const QPoint pointer(300, 300);
    QCOMPARE(ControlToolTip::PlacedTopLeft(1, size, top, bottom, pointer, screen), bottom);
    QCOMPARE(ControlToolTip::PlacedTopLeft(2, size, top, bottom, pointer, screen), QPoint(200, 70));
    QCOMPARE(ControlToolTip::PlacedTopLeft(3, size, top, bottom, pointer, screen),
             QPoint(300, 270));
    QCOMPARE(ControlToolTip::PlacedTopLeft(4, size, top, bottom, pointer, screen),
             QPoint(300, 320));
    QCOMPARE(ControlToolTip::PlacedTopLeft(0, size, top, bottom, pointer, screen), QPoint(0, 0));
    QCOMPARE(ControlToolTip::PlacedTopLeft(9, size, top, bottom, pointer, QRect(50, 60, 800, 600)),
             QPoint(50, 60));
  }

  void keptOnScreen() {
    const QRect screen(0, 0, 800, 600);
    const QSize size(100, 30);
    // Right edge: shifted left to end at it.
    QCOMPARE(ControlToolTip::KeptOnScreen(QPoint(750, 100), size, screen), QPoint(700, 100));
    // Bottom edge: moved up to end at it.
    QCOMPARE(ControlToolTip::KeptOnScreen(QPoint(100, 590), size, screen), QPoint(100, 570));
    // Negative top and left become the screen's.
    QCOMPARE(ControlToolTip::KeptOnScreen(QPoint(-20, -5), size, screen), QPoint(0, 0));
    QCOMPARE(ControlToolTip::KeptOnScreen(QPoint(790, 595), size, screen), QPoint(700, 570));
    QCOMPARE(ControlToolTip::KeptOnScreen(QPoint(10, 10), size, screen), QPoint(10, 10));
    // A second screen beside the first.
    QCOMPARE(ControlToolTip::KeptOnScreen(QPoint(1590, 10), size, QRect(800, 0, 800, 600)),
             QPoint(1500, 10));
  }

  void shownTipStaysInsideTheScreen() {
    Dialog dialog;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    dialog.window.move(screen.right() - dialog.window.width() + 1,
                       screen.bottom() - dialog.window.height() + 1);
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    const QPoint corner =
        dialog.button->mapToGlobal(QPoint(dialog.button->width() - 1, dialog.button->height() - 1));
    tip.SetPointerSource([&] { return corner; });
    tip.SetText(QStringLiteral("a rather long tip text that needs room\nsecond line"));
    QVERIFY(tip.Attach(dialog.button));
    for (int i = 0; i < 6; ++i) tip.Tick();
    QVERIFY(tip.isVisible());
    QVERIFY2(screen.contains(tip.geometry()),
             qPrintable(QStringLiteral("tip %1,%2 %3x%4 screen %5x%6")
                            .arg(tip.x())
                            .arg(tip.y())
                            .arg(tip.width())
                            .arg(tip.height())
                            .arg(screen.width())
                            .arg(screen.height())));
    QCOMPARE(tip.geometry().right(), screen.right());
    QCOMPARE(tip.geometry().bottom(), screen.bottom());
  }

  void destroyHidesAndForgets() {
    Dialog dialog;
    QVERIFY(dialog.ShowWithFocus());
    ControlToolTip tip;
    tip.SetPointerSource([&] { return dialog.ButtonCentre(); });
    tip.SetText(QStringLiteral("tip"));
    QVERIFY(tip.Attach(dialog.button));
    for (int i = 0; i < 6; ++i) tip.Tick();
    QVERIFY(tip.isVisible());
    tip.Destroy();
    QVERIFY(!tip.isVisible());
    QCOMPARE(tip.Control(), nullptr);
    QVERIFY(!tip.Attached());
    for (int i = 0; i < 10; ++i) tip.Tick();
    QVERIFY(!tip.isVisible());
    // Attaching again works, and attaching anew replaces the old control.
    QVERIFY(tip.Attach(dialog.edit));
    QVERIFY(tip.Attach(dialog.button));
    QCOMPARE(tip.Control(), dialog.button);
  }

  void controlGoneBeforeTheTip() {
    auto dialog = std::make_unique<Dialog>();
    QVERIFY(dialog->ShowWithFocus());
    ControlToolTip tip;
    const QPoint centre = dialog->ButtonCentre();
    tip.SetPointerSource([=] { return centre; });
    tip.SetText(QStringLiteral("tip"));
    QVERIFY(tip.Attach(dialog->button));
    tip.SetTimerInterval(1);
    dialog.reset();
    QCOMPARE(tip.Control(), nullptr);
    for (int i = 0; i < 10; ++i) tip.Tick();
    QCoreApplication::processEvents();
    QVERIFY(!tip.isVisible());
  }
};

QTEST_MAIN(ControlsTest)
#include "ControlsTest.moc"
