// The About page: connection state, library and firmware versions, and the
// button that closes and reopens the board connection.
#pragma once

#include <QWidget>

#include <functional>
#include <optional>

class CK27DiagApp;
class QLabel;
class QPushButton;
class VantrelUSB;

class AboutPage : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 111;

  AboutPage(CK27DiagApp* app, QWidget* parent = nullptr);

  // Writes the status line and the three version lines from the last
  // initialisation and fresh version reads.
  void Refresh();

  // Runs `read` on a buffer with room for any reply the board can send plus a
  // terminating zero, and returns the text up to the first zero byte; nothing
  // when `read` fails.
  static std::optional<QString> ReadVersion(const std::function<int(unsigned char*)>& read);

  // Room given to a version read: the longest reply data (62 bytes) and a zero.
  static constexpr std::size_t kVersionBufferBytes = 64;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Reinitialise();

  CK27DiagApp* app_;    // not owned
  VantrelUSB* board_;   // not owned
  bool shown_ = false;  // texts are computed on the first show, then only by Re-initialise
  QLabel* status_;
  QLabel* dllVersion_;
  QLabel* firmwareVersion_;
  QLabel* picVersion_;
  QPushButton* reinitialise_;
};
