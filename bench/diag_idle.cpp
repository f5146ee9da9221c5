// diag_idle: how much CPU the diagnostics program takes while it only shows
// one page. Starts the application and its sheet on the board that
// VANTREL_DEVICE_DIR points to, makes the named tab current, runs the event
// loop for the given time and prints the CPU time (user + system) taken in
// that time as a percentage of one core.
//
//   diag_idle --page "Real-Time Clock" [--seconds 30] [--logging DIR]
//
// With --logging, every log of the sheet is appended to a file in DIR as its
// lines come, the input changes are logged and the serial dump shows times.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CK27DiagApp.h"
#include "CK27DiagSheet.h"
#include "LogKeeper.h"

namespace {

struct Options {
  QString page;
  double seconds = 30;
  QString logDir;  // empty: logging switches off
};

void Usage() {
  std::fprintf(stderr, "usage: diag_idle --page \"<tab caption>\" [--seconds N] [--logging DIR]\n");
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--page") == 0 && hasValue) {
      options.page = QString::fromLocal8Bit(argv[++i]);
    } else if (std::strcmp(argv[i], "--logging") == 0 && hasValue) {
      options.logDir = QString::fromLocal8Bit(argv[++i]);
    } else if (std::strcmp(argv[i], "--help") == 0) {
      return false;
    } else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
      char* end = nullptr;
      options.seconds = std::strtod(argv[++i], &end);
      if (end == argv[i] || *end != '\0' || !(options.seconds > 0) || options.seconds > 86400)
        return false;
    } else {
      return false;
    }
  }
  return !options.page.isEmpty();
}

// CPU time of the whole process, user and system, in seconds.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Every logging switch of the sheet on: each log to a file of its own.
bool SwitchLoggingOn(QWidget* sheet, const QString& folder) {
  if (!QDir().mkpath(folder)) return false;
  int n = 0;
  for (LogKeeper* keeper : sheet->findChildren<LogKeeper*>()) {
    QString error;
    const QString name = keeper->View()->objectName();
    if (!keeper->StartFileLog(QDir(folder).filePath(QStringLiteral("%1-%2.log").arg(++n).arg(name)),
                              &error)) {
      std::fprintf(stderr, "diag_idle: %s\n", qPrintable(error));
      return false;
    }
  }
  for (const char* name : {"inputChangeSwitch", "dumpTimes"}) {
    if (auto* button = sheet->findChild<QAbstractButton*>(QLatin1String(name)))
      button->setChecked(true);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Options first, so that a wrong call needs no display; the platform is
  // chosen with QT_QPA_PLATFORM (offscreen without one).
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Usage();
    return 2;
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("k27diag"));

  CK27DiagApp app;
  app.InitialiseBoard();
  if (app.Initialised() == 0)
    std::fprintf(stderr, "diag_idle: no board (error %d); measuring anyway\n", app.InitError());

  CK27DiagSheet sheet(&app, QStringLiteral("Vantrel K27 Diagnostic Suite"));
  sheet.show();
  QTabWidget* tabs = sheet.Tabs();
  int index = -1;
  for (int i = 0; i < tabs->count(); ++i) {
    if (tabs->tabText(i) == options.page) index = i;
  }
  if (index < 0) {
    std::fprintf(stderr, "diag_idle: no tab \"%s\"; the tabs are:\n", qPrintable(options.page));
    for (int i = 0; i < tabs->count(); ++i)
      std::fprintf(stderr, "  %s\n", qPrintable(tabs->tabText(i)));
    return 2;
  }
  if (!options.logDir.isEmpty() && !SwitchLoggingOn(&sheet, options.logDir)) return 1;
  tabs->setCurrentIndex(index);
  // Let the start-up work (first paint, first reads) settle before measuring.
  QApplication::processEvents();

  const double cpuBefore = CpuSeconds();
  QElapsedTimer wall;
  wall.start();
  QTimer::singleShot(static_cast<int>(options.seconds * 1000), Qt::PreciseTimer, &application,
                     &QCoreApplication::quit);
  application.exec();
  const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
  const double cpu = CpuSeconds() - cpuBefore;

  std::printf("page \"%s\"%s: %.3f%% of one core (%.3f s CPU in %.1f s)\n",
              qPrintable(options.page), options.logDir.isEmpty() ? "" : " with logging",
              elapsed > 0 ? 100.0 * cpu / elapsed : 0.0, cpu, elapsed);
  return 0;
}
