// Keeps a page's log (a list or a tree of lines): the wall-clock time at which
// each line was added, and the log as text with those times, saved to a file,
// copied to the clipboard, or appended to a file as the lines arrive. It adds
// these to the log's context menu; the page may add entries of its own.
#pragma once

#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <vector>

class QAbstractItemModel;
class QAbstractItemView;
class QAction;
class QMenu;

class LogKeeper : public QObject {
  Q_OBJECT

 public:
  // Item data role holding a line's time.
  static constexpr int kStampRole = Qt::UserRole + 0x4C4B;
  // How often a held newest line (see SetNewestLineOpen) is looked at again.
  static constexpr int kSettleMs = 1000;

  // ISO 8601 local time with milliseconds: 2026-12-08T15:42:07.123.
  static QString StampText(const QDateTime& time);

  // Watches the view's model from now on; the keeper is a child of the view.
  explicit LogKeeper(QAbstractItemView* view);
  ~LogKeeper() override;

  QAbstractItemView* View() const { return view_; }

  // The time a line was added (invalid for a line added before the keeper).
  static QDateTime StampOf(const QModelIndex& index);
  // Every line: its time, a blank, its label and a blank when it has one,
  // two blanks per level below the top, and its text (line breaks inside
  // shown as "\n").
  QStringList Lines() const;
  QString Text() const;

  bool Save(const QString& path, QString* error = nullptr) const;
  void Copy() const;

  // Appends every line added from now on to `path` (opened once, flushed
  // per line). A write error stops the file log and is reported once.
  bool StartFileLog(const QString& path, QString* error = nullptr);
  void StopFileLog();
  bool FileLogging() const { return file_.isOpen(); }
  QString FileLogPath() const { return file_.fileName(); }
  QString LastFileError() const { return lastFileError_; }

  // For logs whose newest line is deleted and added again as it grows (the
  // serial dump's partial receive line): while `open` says so, the file log
  // holds that line back, and writes it once, when it is complete, when
  // another line follows it, or when the file log stops.
  using NewestLineOpen = std::function<bool()>;
  void SetNewestLineOpen(NewestLineOpen open) { newestOpen_ = std::move(open); }

  // What a line is, where the colour alone tells it on screen (such as
  // "sent" or "recv"): written after the line's time; none when empty.
  using LineLabel = std::function<QString(const QModelIndex& index)>;
  void SetLineLabel(LineLabel label) { label_ = std::move(label); }

  // Entries the page adds to the context menu, after the keeper's own.
  void AddMenuAction(QAction* action);
  // The context menu as it is shown (the caller owns it).
  QMenu* MakeMenu(QWidget* parent);

 signals:
  void fileLogChanged(bool on);
  void fileLogFailed(const QString& error);
  // The file log looked at the open newest line and held it back again.
  void newestLineHeld();

 private:
  void RowsInserted(const QModelIndex& parent, int first, int last);
  void Flush(bool all);
  bool WriteLine(const QModelIndex& index);
  void FileFailed(const QString& error);
  void ChooseFileLog(bool on);
  void ChooseSave();
  QString LineOf(const QModelIndex& index, int depth) const;
  void CollectLines(const QModelIndex& parent, int depth, QStringList& out) const;

  QAbstractItemView* view_;
  // The view's model; gone first when the view is destroyed with the keeper.
  QPointer<QAbstractItemModel> model_;
  QFile file_;
  QString lastFileError_;
  bool errorShown_ = false;
  NewestLineOpen newestOpen_;
  LineLabel label_;
  std::vector<QPersistentModelIndex> pending_;
  QTimer flushTimer_;
  QTimer settleTimer_;
  QAction* fileLogAction_ = nullptr;
  std::vector<QAction*> extraActions_;
};
