// k27diag: diagnostics for the Vantrel K27 board.
#include <QApplication>

#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("k27diag"));

  // Declared before the sheet, so the board outlives every page.
  CK27DiagApp app;
  app.InitialiseBoard();

  CK27DiagSheet sheet(&app, QStringLiteral("Vantrel K27 Diagnostic Suite"));
  sheet.exec();
  // Whichever button or close box ended the sheet, the program ends here.
  return 0;
}
