#include "CHexEntryEdit.h"

#include <QApplication>
#include <QImage>
#include <QTest>

#include <cstdint>

namespace {

// Pixels that are clearly red: the colour of an unparseable text.
int RedPixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 80 && c.blue() < 80) ++count;
    }
  }
  return count;
}

}  // namespace

class HexEntryEditTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
  }

  void parseRules_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("format");
    QTest::addColumn<quint32>("value");
    const int hex = CHexEntryEdit::kHex;
    const int dec = CHexEntryEdit::kDecimal;
    const int bad = CHexEntryEdit::kInvalid;
    QTest::newRow("0x1F") << QStringLiteral("0x1F") << hex << 31u;
    QTest::newRow("1F") << QStringLiteral("1F") << hex << 31u;
    QTest::newRow("31") << QStringLiteral("31") << dec << 31u;
    QTest::newRow("1G") << QStringLiteral("1G") << bad << 0u;
    QTest::newRow("empty") << QString() << bad << 0u;
    QTest::newRow("0X1f") << QStringLiteral("0X1f") << hex << 31u;
    QTest::newRow("x1F") << QStringLiteral("x1F") << hex << 31u;
    QTest::newRow("XabC") << QStringLiteral("XabC") << hex << 0xABCu;
    QTest::newRow("0") << QStringLiteral("0") << dec << 0u;
    QTest::newRow("0x0") << QStringLiteral("0x0") << hex << 0u;
    QTest::newRow("010 is decimal") << QStringLiteral("010") << dec << 10u;
    QTest::newRow("x alone") << QStringLiteral("x") << bad << 0u;
    QTest::newRow("0x alone") << QStringLiteral("0x") << bad << 0u;
    QTest::newRow("x in the middle") << QStringLiteral("1x1") << bad << 0u;
    QTest::newRow("x after other than 0") << QStringLiteral("1x") << bad << 0u;
    QTest::newRow("two x") << QStringLiteral("0xx1") << bad << 0u;
    QTest::newRow("x third") << QStringLiteral("00x1") << bad << 0u;
    QTest::newRow("leading blank") << QStringLiteral(" 31") << bad << 0u;
    QTest::newRow("trailing blank") << QStringLiteral("31 ") << bad << 0u;
    QTest::newRow("sign") << QStringLiteral("-1") << bad << 0u;
    QTest::newRow("plus") << QStringLiteral("+5") << bad << 0u;
    QTest::newRow("largest decimal") << QStringLiteral("4294967295") << dec << 0xFFFFFFFFu;
    QTest::newRow("decimal beyond 32 bits")
        << QStringLiteral("99999999999999999999") << dec << 0xFFFFFFFFu;
    QTest::newRow("largest hex") << QStringLiteral("0xFFFFFFFF") << hex << 0xFFFFFFFFu;
    QTest::newRow("hex beyond 32 bits") << QStringLiteral("0x123456789") << hex << 0xFFFFFFFFu;
    QTest::newRow("leading zeros hex") << QStringLiteral("0x0000000000FF") << hex << 0xFFu;
    QTest::newRow("non-latin digit") << QString::fromUtf8("\u0661") << bad << 0u;
  }

  void parseRules() {
    QFETCH(QString, text);
    QFETCH(int, format);
    QFETCH(quint32, value);
    std::uint32_t parsed = 0;
    QCOMPARE(static_cast<int>(CHexEntryEdit::Parse(text, parsed)), format);
    QCOMPARE(static_cast<quint32>(parsed), value);

    CHexEntryEdit edit;
    edit.setText(text);
    QCOMPARE(static_cast<int>(edit.CurrentFormat()), format);
    std::uint32_t out = 0xDEADBEEF;
    QCOMPARE(edit.GetValue(out), format != CHexEntryEdit::kInvalid);
    QCOMPARE(static_cast<quint32>(out), format != CHexEntryEdit::kInvalid ? value : 0xDEADBEEFu);
  }

  void startsInvalidWhileEmpty() {
    CHexEntryEdit edit;
    QCOMPARE(edit.CurrentFormat(), CHexEntryEdit::kInvalid);
    std::uint32_t out = 7;
    QVERIFY(!edit.GetValue(out));
    QCOMPARE(out, std::uint32_t{7});
  }

  void setValueShowsEightHexDigits() {
    CHexEntryEdit edit;
    edit.setText(QStringLiteral("junk"));
    edit.SetValue(8);
    QCOMPARE(edit.text(), QStringLiteral("0x00000008"));
    QCOMPARE(edit.CurrentFormat(), CHexEntryEdit::kHex);
    std::uint32_t out = 0;
    QVERIFY(edit.GetValue(out));
    QCOMPARE(out, std::uint32_t{8});
    edit.SetValue(0xFFFFu);
    QCOMPARE(edit.text(), QStringLiteral("0x0000FFFF"));
    edit.SetValue(0xABCDEF12u);
    QCOMPARE(edit.text(), QStringLiteral("0xABCDEF12"));
    QVERIFY(edit.GetValue(out));
    QCOMPARE(out, std::uint32_t{0xABCDEF12u});
  }

  void typingReparsesAtOnce() {
    CHexEntryEdit edit;
    edit.show();
    edit.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    edit.setFocus();
    QTRY_VERIFY(edit.hasFocus());
    QTest::keyClicks(&edit, QStringLiteral("3"));
    QCOMPARE(edit.CurrentFormat(), CHexEntryEdit::kDecimal);
    QTest::keyClicks(&edit, QStringLiteral("2"));
    QCOMPARE(edit.CurrentValue(), std::uint32_t{32});
    QTest::keyClicks(&edit, QStringLiteral("g"));
    QCOMPARE(edit.CurrentFormat(), CHexEntryEdit::kInvalid);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(edit.CurrentFormat(), CHexEntryEdit::kDecimal);
    QTest::keyClick(&edit, Qt::Key_Home);
    QTest::keyClicks(&edit, QStringLiteral("0x"));
    QCOMPARE(edit.text(), QStringLiteral("0x32"));
    QCOMPARE(edit.CurrentFormat(), CHexEntryEdit::kHex);
    QCOMPARE(edit.CurrentValue(), std::uint32_t{0x32});
  }

  void invalidTextIsDrawnInRed() {
    CHexEntryEdit edit;
    edit.resize(160, 24);
    edit.setText(QStringLiteral("1G1G1G"));
    QCOMPARE(edit.CurrentFormat(), CHexEntryEdit::kInvalid);
    QVERIFY(RedPixels(edit.grab().toImage()) > 0);

    edit.setText(QStringLiteral("0x1F1F"));
    QCOMPARE(edit.CurrentFormat(), CHexEntryEdit::kHex);
    QCOMPARE(RedPixels(edit.grab().toImage()), 0);

    edit.setText(QStringLiteral("3131"));
    QCOMPARE(RedPixels(edit.grab().toImage()), 0);
  }
};

QTEST_MAIN(HexEntryEditTest)
#include "HexEntryEditTest.moc"
