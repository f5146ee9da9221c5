#include "LogKeeper.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QSaveFile>

QString LogKeeper::StampText(const QDateTime& time) {
  return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

LogKeeper::LogKeeper(QAbstractItemView* view) : QObject(view), view_(view), model_(view->model()) {
  setObjectName(QStringLiteral("logKeeper"));
  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(0);
  connect(&flushTimer_, &QTimer::timeout, this, [this] { Flush(false); });
  settleTimer_.setSingleShot(true);
  settleTimer_.setInterval(kSettleMs);
  connect(&settleTimer_, &QTimer::timeout, this, [this] { Flush(false); });
  connect(model_, &QAbstractItemModel::rowsInserted, this, &LogKeeper::RowsInserted);

  fileLogAction_ = new QAction(QStringLiteral("Log to file..."), this);
  fileLogAction_->setCheckable(true);
  connect(fileLogAction_, &QAction::triggered, this, &LogKeeper::ChooseFileLog);
  connect(this, &LogKeeper::fileLogChanged, fileLogAction_, &QAction::setChecked);

  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu* menu = MakeMenu(view_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(view_->viewport()->mapToGlobal(at));
  });
}

// Destroyed with its view: what is still held back is written while the
// model lives; the view itself is not touched.
LogKeeper::~LogKeeper() {
  flushTimer_.stop();
  settleTimer_.stop();
  if (model_ != nullptr && file_.isOpen()) Flush(true);
  pending_.clear();
  file_.close();
}

void LogKeeper::AddMenuAction(QAction* action) { extraActions_.push_back(action); }

QMenu* LogKeeper::MakeMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->addAction(QStringLiteral("Copy log"), this, &LogKeeper::Copy);
  menu->addAction(QStringLiteral("Save log as..."), this, &LogKeeper::ChooseSave);
  menu->addAction(fileLogAction_);
  if (!extraActions_.empty()) menu->addSeparator();
  for (QAction* action : extraActions_) menu->addAction(action);
  return menu;
}

QDateTime LogKeeper::StampOf(const QModelIndex& index) {
  return index.data(kStampRole).toDateTime();
}

void LogKeeper::RowsInserted(const QModelIndex& parent, int first, int last) {
  QAbstractItemModel* model = model_;
  const QDateTime now = QDateTime::currentDateTime();
  for (int row = first; row <= last; ++row) {
    const QModelIndex index = model->index(row, 0, parent);
    model->setData(index, now, kStampRole);
    // Written later: list and tree items get their text after insertion.
    if (file_.isOpen()) pending_.emplace_back(index);
  }
  if (file_.isOpen() && !flushTimer_.isActive()) flushTimer_.start();
}

void LogKeeper::Flush(bool all) {
  std::vector<QPersistentModelIndex> keep;
  const QAbstractItemModel* model = model_;
  if (model == nullptr) return;
  for (const QPersistentModelIndex& index : pending_) {
    if (!index.isValid() || !file_.isOpen()) continue;  // deleted before it was written
    const bool newest = !index.parent().isValid() && index.row() == model->rowCount() - 1;
    if (newest && !all && newestOpen_ && newestOpen_()) {
      keep.push_back(index);
      continue;
    }
    if (!WriteLine(index)) return;
  }
  pending_ = std::move(keep);
  if (!pending_.empty()) {
    settleTimer_.start();
    emit newestLineHeld();
  }
}

bool LogKeeper::WriteLine(const QModelIndex& index) {
  int depth = 0;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) ++depth;
  const QByteArray line = (LineOf(index, depth) + QLatin1Char('\n')).toUtf8();
  if (file_.write(line) != line.size() || !file_.flush()) {
    FileFailed(file_.errorString());
    return false;
  }
  return true;
}

void LogKeeper::FileFailed(const QString& error) {
  lastFileError_ = QStringLiteral("Log to file %1: %2").arg(file_.fileName(), error);
  pending_.clear();
  file_.close();
  emit fileLogChanged(false);
  emit fileLogFailed(lastFileError_);
  // Told once per file log, without stopping the page's work.
  if (!errorShown_ && model_ != nullptr && view_->isVisible()) {
    errorShown_ = true;
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Log to file"), lastFileError_,
                                QMessageBox::Ok, view_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  }
}

QString LogKeeper::LineOf(const QModelIndex& index, int depth) const {
  QString text = index.data(Qt::DisplayRole).toString();
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"));
  text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  text.replace(QLatin1Char('\r'), QStringLiteral("\\n"));
  const QDateTime stamp = StampOf(index);
  const QString time = stamp.isValid() ? StampText(stamp) : QStringLiteral("-");
  QString label = label_ ? label_(index) : QString();
  if (!label.isEmpty()) label += QLatin1Char(' ');
  return time + QLatin1Char(' ') + label + QString(2 * depth, QLatin1Char(' ')) + text;
}

void LogKeeper::CollectLines(const QModelIndex& parent, int depth, QStringList& out) const {
  const QAbstractItemModel* model = model_;
  if (model == nullptr) return;
  for (int row = 0; row < model->rowCount(parent); ++row) {
    const QModelIndex index = model->index(row, 0, parent);
    out << LineOf(index, depth);
    CollectLines(index, depth + 1, out);
  }
}

QStringList LogKeeper::Lines() const {
  QStringList lines;
  CollectLines(QModelIndex(), 0, lines);
  return lines;
}

QString LogKeeper::Text() const {
  const QStringList lines = Lines();
  return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool LogKeeper::Save(const QString& path, QString* error) const {
  QSaveFile file(path);
  const QByteArray text = Text().toUtf8();
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
    if (error != nullptr) *error = file.errorString();
    return false;
  }
  return true;
}

void LogKeeper::Copy() const { QApplication::clipboard()->setText(Text()); }

bool LogKeeper::StartFileLog(const QString& path, QString* error) {
  StopFileLog();
  file_.setFileName(path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
    lastFileError_ = QStringLiteral("Log to file %1: %2").arg(path, file_.errorString());
    if (error != nullptr) *error = lastFileError_;
    emit fileLogChanged(false);
    return false;
  }
  errorShown_ = false;
  lastFileError_.clear();
  emit fileLogChanged(true);
  return true;
}

void LogKeeper::StopFileLog() {
  if (!file_.isOpen()) return;
  flushTimer_.stop();
  settleTimer_.stop();
  Flush(true);
  pending_.clear();
  file_.close();
  emit fileLogChanged(false);
}

void LogKeeper::ChooseFileLog(bool on) {
  if (!on) {
    StopFileLog();
    return;
  }
  // An existing file is appended to, not replaced.
  const QString path = QFileDialog::getSaveFileName(view_, QStringLiteral("Log to file"), QString(),
                                                    QStringLiteral("Text files (*.txt *.log)"),
                                                    nullptr, QFileDialog::DontConfirmOverwrite);
  QString error;
  if (path.isEmpty()) {
    emit fileLogChanged(false);
  } else if (!StartFileLog(path, &error)) {
    QMessageBox::warning(view_, QStringLiteral("Log to file"), error);
  }
}

void LogKeeper::ChooseSave() {
  const QString path = QFileDialog::getSaveFileName(view_, QStringLiteral("Save log"), QString(),
                                                    QStringLiteral("Text files (*.txt *.log)"));
  QString error;
  if (!path.isEmpty() && !Save(path, &error))
    QMessageBox::warning(view_, QStringLiteral("Save log"),
                         QStringLiteral("%1: %2").arg(path, error));
}
