// The board's connection as the pages see it. The library reaches board 0
// through the daemon's socket "ezusb-0" in the device folder; the socket goes
// when the board is unplugged or the daemon stops, and a new one comes with
// the board or the daemon. Watching the folder (no polling) tells the pages
// that their connection is lost, and that a new socket is there to
// re-initialise on: the technician's next press of a key or a mouse button in
// the program's windows does it, or the pages' one-click offer.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class CBoardConnection : public QObject {
  Q_OBJECT

 public:
  // A failed board call that took this long waited for the daemon's time
  // limit (5 s per transfer); other failures come back at once.
  static constexpr qint64 kTimeLimitMs = 2000;
  static bool TookTheTimeLimit(qint64 elapsedMs) { return elapsedMs >= kTimeLimitMs; }

  // `reinitialise` closes and opens the board connection and returns whether
  // it is open, with the status text to show.
  using Reinitialiser = std::function<bool(QString* status)>;

  explicit CBoardConnection(Reinitialiser reinitialise, QObject* parent = nullptr);
  ~CBoardConnection() override;

  // The socket of board 0 in the device folder.
  static QString SocketPath();

  // The connection was (re)opened now: the socket present now is the one in
  // use.
  void Opened();
  // The socket that the connection used has gone and none has come back.
  bool Lost() const { return lost_; }
  // A socket other than the one in use is there: re-initialising reaches it.
  bool Stale() const;

  // Re-initialises the connection and tells the pages.
  void Reinitialise();

 signals:
  void lost();
  void back();
  void reinitialised(bool ok, const QString& status);

 protected:
  // The technician's next key or button press re-initialises a stale
  // connection before the press is handled.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Identity {
    unsigned long long inode = 0;
    long long changedNs = 0;
    bool operator==(const Identity&) const = default;
  };
  static std::optional<Identity> CurrentSocket();
  void FolderChanged();

  Reinitialiser reinitialise_;
  QFileSystemWatcher watcher_;
  std::optional<Identity> inUse_;  // the socket at the last opening
  std::optional<Identity> seen_;   // the socket at the last look
  bool lost_ = false;
};
