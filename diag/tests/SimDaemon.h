// Test support for the diagnostics program: a simulated daemon in a device
// folder of its own, which the library finds through VANTREL_DEVICE_DIR, and
// the sheet opened on it.
#pragma once

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"

namespace k27diag_test {

class SimDaemon {
 public:
  // Points the library at the (still empty) device folder.
  void UseFolder() {
    QVERIFY(dir_.isValid());
    qputenv("VANTREL_DEVICE_DIR", dir_.path().toLocal8Bit());
  }
  // Starts `vantrelio --simulate` in the folder and waits until it serves.
  void Start() {
    if (process_.state() != QProcess::NotRunning) return;
    process_.setProgram(QStringLiteral(K27_VANTRELIO_PATH));
    process_.setArguments(
        QStringList{QStringLiteral("--simulate"), QStringLiteral("--device-dir"), dir_.path()} +
        extraArguments_);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start();
    QVERIFY2(process_.waitForStarted(10000), qPrintable(process_.errorString()));
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += process_.readAllStandardError(), log.contains("serving")),
                             20000);
  }
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  ~SimDaemon() { Stop(); }
  QString Folder() const { return dir_.path(); }
  // Further daemon options (such as --trace FILE) for the next Start.
  void AddArguments(const QStringList& arguments) { extraArguments_ += arguments; }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  QStringList extraArguments_;
};

// The sheet's tab captions, in their order.
inline QStringList TabCaptions() {
  return {QStringLiteral("cctalk Port"),     QStringLiteral("Input / Output"),
          QStringLiteral("Real-Time Clock"), QStringLiteral("Serial Port"),
          QStringLiteral("EEPROM Memory"),   QStringLiteral("SRAM Memory"),
          QStringLiteral("Reels"),           QStringLiteral("About")};
}

// Connects the application to board 0 and shows its sheet.
inline std::unique_ptr<CK27DiagSheet> OpenSheet(CK27DiagApp& app, const QString& caption) {
  app.InitialiseBoard();
  auto sheet = std::make_unique<CK27DiagSheet>(&app, caption);
  sheet->show();
  sheet->activateWindow();
  if (!QTest::qWaitForWindowExposed(sheet.get())) qWarning("the sheet was not exposed");
  return sheet;
}

// Closes every top-level window between tests.
inline void CloseWindows() {
  for (QWidget* window : QApplication::topLevelWidgets()) window->close();
  QCoreApplication::processEvents();
}

}  // namespace k27diag_test
