// The program's one window: a modal sheet with one tab per board function.
#pragma once

#include <QDialog>

#include "pages/about/AboutPage.h"
#include "pages/cctalk/CCTalkPage.h"
#include "pages/clock/RTClockPage.h"
#include "pages/memory/EEPROMPage.h"
#include "pages/memory/SRAMPage.h"
#include "pages/io/IOPage.h"
#include "pages/reels/ReelPage.h"
#include "pages/common/CPlaceholderPage.h"
#include "pages/serial/SerialPortPage.h"

class CBoardConnection;
class CK27DiagApp;
class QDialogButtonBox;
class QTabWidget;

class CK27DiagSheet : public QDialog {
  Q_OBJECT

 public:
  // Builds the pages on the application's board object and opens on About.
  CK27DiagSheet(CK27DiagApp* app, const QString& caption, QWidget* parent = nullptr);
  ~CK27DiagSheet() override;

  QTabWidget* Tabs() const { return tabs_; }
  CBoardConnection* Connection() const { return connection_; }

 protected:
  // Return, Enter and Escape that no control took end nothing: the sheet has
  // no default button, and it closes only by its button or close box.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FollowConnection(CK27DiagApp* app);
  void NoteOnCurrentPage(bool ok, const QString& text);

  QTabWidget* tabs_;  // child of the sheet
  QDialogButtonBox* buttons_;
  // Constructed in this order and destroyed in the reverse; the tab order is
  // set where they are added.
  RTClockPage rtClockPage_;
  CCTalkPage ccTalkPage_;
  IOPage ioPage_;
  SerialPortPage serialPortPage_;
  EEPROMPage eepromPage_;
  SRAMPage sramPage_;
  ReelPage reelPage_;
  AboutPage aboutPage_;
  CBoardConnection* connection_ = nullptr;  // child of the sheet
};
