#include "pages/common/CBoardConnection.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QWidget>

#include <sys/stat.h>

namespace {

// The folder of the daemon's sockets, as the library finds it.
QString DeviceFolder() {
  const QString folder = qEnvironmentVariable("VANTREL_DEVICE_DIR");
  return folder.isEmpty() ? QStringLiteral("/run/vantrel") : folder;
}

}  // namespace

CBoardConnection::CBoardConnection(Reinitialiser reinitialise, QObject* parent)
    : QObject(parent), reinitialise_(std::move(reinitialise)) {
  if (QDir(DeviceFolder()).exists()) watcher_.addPath(DeviceFolder());
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &CBoardConnection::FolderChanged);
  seen_ = CurrentSocket();
  qApp->installEventFilter(this);
}

CBoardConnection::~CBoardConnection() { qApp->removeEventFilter(this); }

QString CBoardConnection::SocketPath() {
  return QDir(DeviceFolder()).filePath(QStringLiteral("ezusb-0"));
}

std::optional<CBoardConnection::Identity> CBoardConnection::CurrentSocket() {
  struct stat info {};
  if (::stat(QFile::encodeName(SocketPath()).constData(), &info) != 0 || !S_ISSOCK(info.st_mode))
    return std::nullopt;
  return Identity{
      static_cast<unsigned long long>(info.st_ino),
      static_cast<long long>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec};
}

void CBoardConnection::Opened() {
  inUse_ = CurrentSocket();
  seen_ = inUse_;
  lost_ = false;
}

bool CBoardConnection::Stale() const {
  const std::optional<Identity> now = CurrentSocket();
  return now.has_value() && now != inUse_;
}

void CBoardConnection::FolderChanged() {
  const std::optional<Identity> now = CurrentSocket();
  if (now == seen_) return;
  seen_ = now;
  if (!inUse_.has_value()) return;  // never connected: nothing was lost
  if (!now.has_value()) {
    if (!lost_) {
      lost_ = true;
      emit lost();
    }
    return;
  }
  if (now != inUse_) {
    // A daemon restart can delete and make the socket between two looks.
    if (!lost_) {
      lost_ = true;
      emit lost();
    }
    emit back();
  }
}

void CBoardConnection::Reinitialise() {
  QString status;
  const bool ok = reinitialise_(&status);
  emit reinitialised(ok, status);
}

bool CBoardConnection::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type == QEvent::MouseButtonPress || type == QEvent::KeyPress) && watched->isWidgetType() &&
      lost_ && Stale())
    Reinitialise();
  return QObject::eventFilter(watched, event);
}
