// Test support: looks at the simulated board from outside the program under
// test, through the daemon's console (k27simctl) and its exchange trace.
#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QtTest>

namespace vantrel::diag::test {

// Runs one console command on board 0 of the daemon in `folder` and returns
// what it printed, or "failed: ..." when it did not succeed.
inline QString SimConsole(const QString& folder, const QStringList& words) {
  QProcess ctl;
  ctl.start(QStringLiteral(K27_SIMCTL_PATH),
            QStringList{QStringLiteral("--device-dir"), folder} + words);
  if (!ctl.waitForFinished(10000)) return QStringLiteral("failed: k27simctl did not finish");
  const QString out = QString::fromLocal8Bit(ctl.readAllStandardOutput()).trimmed();
  if (ctl.exitStatus() != QProcess::NormalExit || ctl.exitCode() != 0)
    return QStringLiteral("failed: ") + QString::fromLocal8Bit(ctl.readAllStandardError());
  return out;
}

// The daemon's trace of bulk exchanges: "ezusb-N ch=C out=HEX in=HEX" lines.
class ExchangeTrace {
 public:
  explicit ExchangeTrace(QString path) : path_(std::move(path)) {}
  QString Path() const { return path_; }

  // Every line written so far.
  QStringList Lines() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  // Remembers where the trace ends now; Since() returns what came after.
  void Mark() { mark_ = Lines().size(); }
  QStringList Since() const { return Lines().mid(mark_); }

  // The command bytes (out=) of the lines after the mark, in order, leaving
  // out the lines whose command starts with `skipPrefix` (such as input polls).
  QStringList CommandsSince(const QString& skipPrefix = QString()) const {
    QStringList commands;
    for (const QString& line : Since()) {
      const qsizetype at = line.indexOf(QStringLiteral(" out="));
      if (at < 0) continue;
      const qsizetype end = line.indexOf(QLatin1Char(' '), at + 1);
      const QString out = line.mid(at + 5, end < 0 ? -1 : end - at - 5);
      if (!skipPrefix.isEmpty() && out.startsWith(skipPrefix)) continue;
      commands << out;
    }
    return commands;
  }

 private:
  QString path_;
  qsizetype mark_ = 0;
};

}  // namespace vantrel::diag::test
