// The group box whose caption doubles as a status line.
#include "CCaptionBox.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

class CaptionBoxTest : public QObject {
  Q_OBJECT

 private slots:
  // A caption longer than its box is drawn elided, whole in the tip, and
  // asks for no more width than the box's contents: measured in the box's
  // own font, whatever fonts the machine has.
  void longCaptionIsElidedAndWidensNothing() {
    QWidget window;
    auto* box = new CCaptionBox(QStringLiteral("Output"), &window);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(new QLineEdit(box));
    auto* outer = new QVBoxLayout(&window);
    outer->addWidget(box);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const int leastWidth = box->minimumSizeHint().width();
    QVERIFY(!box->TitleElided());
    QCOMPARE(box->ShownTitle(), QStringLiteral("Output"));
    box->setToolTip(QStringLiteral("own tip"));
    QCOMPARE(box->TipText(), QStringLiteral("own tip"));

    const QString longText =
        QStringLiteral("Output - Vantrel.SetConfig () = error: USB_DEVICE_WRITE_ERROR");
    const QFontMetrics metrics = box->fontMetrics();
    window.resize(metrics.horizontalAdvance(longText) / 2, window.height());
    QCoreApplication::processEvents();
    box->setTitle(longText);
    QCOMPARE(box->minimumSizeHint().width(), leastWidth);
    QVERIFY(box->minimumSizeHint().width() < metrics.horizontalAdvance(longText));
    QVERIFY(box->TitleElided());
    QVERIFY(metrics.horizontalAdvance(box->ShownTitle()) < box->width());
    QCOMPARE(box->TipText(), longText);
    QCOMPARE(box->title(), longText);
    // Wide enough again: the whole caption.
    window.resize(metrics.horizontalAdvance(longText) * 2, window.height());
    QTRY_VERIFY(!box->TitleElided());
    QCOMPARE(box->ShownTitle(), longText);
  }
};

QTEST_MAIN(CaptionBoxTest)
#include "CaptionBoxTest.moc"
