// The log keeper on a coloured list and on a tree: each line's time, the
// text saved and read back, the clipboard, and the file log as lines arrive.
#include "CColouredListBox.h"
#include "LogKeeper.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace {

const QRegularExpression kStamped(
    QStringLiteral("^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) (.*)$"));

QStringList ReadLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The text after the time of a stamped line, after checking the time's form
// and that it lies within [from, to].
QString CheckedText(const QString& line, const QDateTime& from, const QDateTime& to) {
  const QRegularExpressionMatch match = kStamped.match(line);
  if (!match.hasMatch()) return QStringLiteral("<no time: %1>").arg(line);
  const QDateTime time =
      QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
  if (!time.isValid() || time < from.addMSecs(-1) || time > to.addMSecs(1))
    return QStringLiteral("<time out of range: %1>").arg(line);
  return match.captured(2);
}

}  // namespace

class LogKeeperTest : public QObject {
  Q_OBJECT

 private slots:
  void StampsSavedAndReadBack();
  void TreeLinesAreIndentedAndCopied();
  void FileLogAppendsAsLinesArrive();
  void NewestLineIsWrittenOnceSettled();
  void PartialLineRestingThenGrowingIsWrittenOnce();
  void LabelsGoAfterTheTime();
  void WriteErrorStopsTheFileLogOnce();
};

void LogKeeperTest::StampsSavedAndReadBack() {
  QCOMPARE(LogKeeper::StampText(QDateTime(QDate(2026, 12, 8), QTime(15, 42, 7, 123))),
           QStringLiteral("2026-12-08T15:42:07.123"));
  CColouredListBox list(true);
  auto* keeper = new LogKeeper(&list);
  const QDateTime from = QDateTime::currentDateTime();
  list.AddLine(QStringLiteral("first"));
  list.AddLine(QStringLiteral("two\r\nlines"), CColouredListBox::Rgb(255, 0, 0));
  const QDateTime to = QDateTime::currentDateTime();
  QVERIFY(LogKeeper::StampOf(list.model()->index(0, 0)).isValid());
  QCOMPARE(list.LineText(0), QStringLiteral("first"));  // the line itself is unchanged

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("log.txt"));
  QString error;
  QVERIFY2(keeper->Save(path, &error), qPrintable(error));
  const QStringList lines = ReadLines(path);
  QCOMPARE(lines.size(), 2);
  QCOMPARE(CheckedText(lines[0], from, to), QStringLiteral("first"));
  QCOMPARE(CheckedText(lines[1], from, to), QStringLiteral("two\\nlines"));

  // A folder that does not exist: a clear error, nothing written.
  QVERIFY(!keeper->Save(dir.filePath(QStringLiteral("no/such/log.txt")), &error));
  QVERIFY(!error.isEmpty());
}

void LogKeeperTest::TreeLinesAreIndentedAndCopied() {
  QTreeWidget tree;
  auto* keeper = new LogKeeper(&tree);
  auto* top = new QTreeWidgetItem(&tree);
  top->setText(0, QStringLiteral("[Outgoing] poll"));
  auto* child = new QTreeWidgetItem(top);
  child->setText(0, QStringLiteral("[02 00 01 fe ff - ...] ..."));
  (new QTreeWidgetItem(&tree))->setText(0, QStringLiteral("[Incoming] Command [0]"));
  const QStringList lines = keeper->Lines();
  QCOMPARE(lines.size(), 3);
  const QDateTime now = QDateTime::currentDateTime();
  QCOMPARE(CheckedText(lines[1], now.addSecs(-5), now),
           QStringLiteral("  [02 00 01 fe ff - ...] ..."));
  keeper->Copy();
  QCOMPARE(QApplication::clipboard()->text(), lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void LogKeeperTest::FileLogAppendsAsLinesArrive() {
  CColouredListBox list(false);
  auto* keeper = new LogKeeper(&list);
  list.AddLine(QStringLiteral("before the file log"));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("append.log"));
  {
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("kept from an earlier run\n");
  }
  QSignalSpy changed(keeper, &LogKeeper::fileLogChanged);
  QVERIFY(keeper->StartFileLog(path));
  QCOMPARE(changed.size(), 1);
  QVERIFY(keeper->FileLogging());
  const QDateTime from = QDateTime::currentDateTime();
  list.AddLine(QStringLiteral("one"));
  list.AddLine(QStringLiteral("two"));
  // Written as they arrive, while the log is still open.
  QTRY_COMPARE(ReadLines(path).size(), 3);
  list.AddLine(QStringLiteral("three"));
  QTRY_COMPARE(ReadLines(path).size(), 4);
  keeper->StopFileLog();
  const QDateTime to = QDateTime::currentDateTime();
  list.AddLine(QStringLiteral("after the file log"));
  QCoreApplication::processEvents();
  const QStringList lines = ReadLines(path);
  QCOMPARE(lines.size(), 4);
  QCOMPARE(lines[0], QStringLiteral("kept from an earlier run"));
  QCOMPARE(CheckedText(lines[1], from, to), QStringLiteral("one"));
  QCOMPARE(CheckedText(lines[2], from, to), QStringLiteral("two"));
  QCOMPARE(CheckedText(lines[3], from, to), QStringLiteral("three"));
  QVERIFY(!keeper->FileLogging());
}

// A dump whose newest line is rebuilt as bytes arrive: the file gets each
// line once, when another follows it or when it is no longer open.
void LogKeeperTest::NewestLineIsWrittenOnceSettled() {
  CColouredListBox list(true);
  auto* keeper = new LogKeeper(&list);
  bool open = true;
  keeper->SetNewestLineOpen([&open] { return open; });
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("dump.log"));
  QVERIFY(keeper->StartFileLog(path));
  list.AddLine(QStringLiteral("0000 41"));
  QCoreApplication::processEvents();
  list.DeleteLine(0);
  list.AddLine(QStringLiteral("0000 41 42"));
  QCoreApplication::processEvents();
  list.AddLine(QStringLiteral("0010 43"));
  open = false;
  QTRY_COMPARE(ReadLines(path).size(), 2);  // the second one once closed
  const QStringList lines = ReadLines(path);
  QVERIFY(lines[0].endsWith(QStringLiteral(" 0000 41 42")));
  QVERIFY(lines[1].endsWith(QStringLiteral(" 0010 43")));
}

// A partial line that rests longer than a settling time and then grows is
// written once, grown, never in both forms; what is still open when the
// file log stops is written as it stands.
void LogKeeperTest::PartialLineRestingThenGrowingIsWrittenOnce() {
  CColouredListBox list(true);
  auto* keeper = new LogKeeper(&list);
  bool open = true;
  keeper->SetNewestLineOpen([&open] { return open; });
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("dump.log"));
  QVERIFY(keeper->StartFileLog(path));
  QSignalSpy held(keeper, &LogKeeper::newestLineHeld);
  list.AddLine(QStringLiteral("0000 41 42 43"));
  // Looked at again after the settling time, still open: nothing written.
  QTRY_VERIFY_WITH_TIMEOUT(held.size() >= 2, LogKeeper::kSettleMs * 20);
  QVERIFY(ReadLines(path).isEmpty());
  list.DeleteLine(0);
  list.AddLine(QStringLiteral("0000 41 42 43 44 45"));
  open = false;
  QTRY_COMPARE(ReadLines(path).size(), 1);
  QVERIFY(ReadLines(path)[0].endsWith(QStringLiteral(" 0000 41 42 43 44 45")));

  open = true;
  list.AddLine(QStringLiteral("0010 46"));
  QCoreApplication::processEvents();
  keeper->StopFileLog();
  const QStringList lines = ReadLines(path);
  QCOMPARE(lines.size(), 2);
  QVERIFY(lines[1].endsWith(QStringLiteral(" 0010 46")));
}

// A label tells in the text what the colour tells on screen.
void LogKeeperTest::LabelsGoAfterTheTime() {
  CColouredListBox list(true);
  auto* keeper = new LogKeeper(&list);
  keeper->SetLineLabel([&list](const QModelIndex& index) {
    return list.LineColour(index.row()) == CColouredListBox::Rgb(0, 0, 200)
               ? QStringLiteral("recv")
               : QStringLiteral("sent");
  });
  const QDateTime from = QDateTime::currentDateTime();
  list.AddLine(QStringLiteral("0000 48 69"));
  list.AddLine(QStringLiteral("0000 4F 4B"), CColouredListBox::Rgb(0, 0, 200));
  const QDateTime to = QDateTime::currentDateTime();
  const QStringList lines = keeper->Lines();
  QCOMPARE(lines.size(), 2);
  QCOMPARE(CheckedText(lines[0], from, to), QStringLiteral("sent 0000 48 69"));
  QCOMPARE(CheckedText(lines[1], from, to), QStringLiteral("recv 0000 4F 4B"));
}

void LogKeeperTest::WriteErrorStopsTheFileLogOnce() {
  if (!QFile::exists(QStringLiteral("/dev/full"))) QSKIP("no /dev/full here");
  CColouredListBox list(false);
  auto* keeper = new LogKeeper(&list);
  QSignalSpy failed(keeper, &LogKeeper::fileLogFailed);
  QVERIFY(keeper->StartFileLog(QStringLiteral("/dev/full")));
  list.AddLine(QStringLiteral("one"));
  list.AddLine(QStringLiteral("two"));
  QTRY_COMPARE(failed.size(), 1);
  QVERIFY(!keeper->FileLogging());
  list.AddLine(QStringLiteral("three"));
  QCoreApplication::processEvents();
  QCOMPARE(failed.size(), 1);
  QVERIFY(keeper->LastFileError().contains(QStringLiteral("/dev/full")));
  QString error;
  QVERIFY(!keeper->StartFileLog(QStringLiteral("/no/such/folder/x.log"), &error));
  QVERIFY(!error.isEmpty());
}

QTEST_MAIN(LogKeeperTest)
#include "LogKeeperTest.moc"
