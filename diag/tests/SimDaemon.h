// Test support for the diagnostics program: a simulated daemon in a device
// folder of its own, which the library finds through VANTREL_DEVICE_DIR, and
// the sheet opened on it.
#pragma once

#include <QApplication>
#include <QFile>
#include <QtTest>

#include <memory>

#include <vantrel/testsupport/SimDaemon.h>

#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "PageList.h"

namespace vantrel::diag::test {

class SimDaemon {
 public:
  // Points the library at the (still empty) device folder.
  void UseFolder() { qputenv("VANTREL_DEVICE_DIR", QFile::encodeName(Folder())); }
  // Starts `vantrelio --simulate` in the folder and waits until it serves.
  void Start() { QVERIFY2(daemon_.Start(), daemon_.Log().c_str()); }
  void Stop() { daemon_.Stop(); }
  QString Folder() const { return QFile::decodeName(daemon_.DeviceDir().c_str()); }
  // Further daemon options (such as --trace FILE) for the next Start.
  void AddArguments(const QStringList& arguments) {
    for (const QString& argument : arguments)
      daemon_.Options().arguments.push_back(QFile::encodeName(argument).toStdString());
  }
  // Has the next Start write the daemon's exchange trace to trace.log in
  // the folder; the file's path.
  QString AddTrace() {
    const QString path = Folder() + QStringLiteral("/trace.log");
    AddArguments({QStringLiteral("--trace"), path});
    return path;
  }

 private:
  vantrel::testsupport::SimDaemon daemon_{{.makeDeviceDir = true}};
};

// The sheet's tab captions, in their order.
inline QStringList TabCaptions() {
  QStringList captions;
  for (const vantrel::diag::PageEntry& page : vantrel::diag::SheetPages())
    captions << QString::fromUtf8(page.caption);
  return captions;
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

}  // namespace vantrel::diag::test
