#include "CK27DiagSheet.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "CK27DiagApp.h"
#include "CColouredListBox.h"
#include "UsbErrorNames.h"
#include "pages/common/CBoardConnection.h"
#include "pages/cctalk/CTransactionView.h"

CK27DiagSheet::CK27DiagSheet(CK27DiagApp* app, const QString& caption, QWidget* parent)
    : QDialog(parent),
      tabs_(new QTabWidget(this)),
      buttons_(new QDialogButtonBox(QDialogButtonBox::Close, this)),
      rtClockPage_(app->Board()),
      ccTalkPage_(app->Board()),
      ioPage_(app->Board()),
      serialPortPage_(app->Board()),
      eepromPage_(app->Board()),
      sramPage_(app->Board()),
      reelPage_(app->Board()),
      aboutPage_(app) {
  setWindowTitle(caption);
  setObjectName(QStringLiteral("CK27DiagSheet"));
  setSizeGripEnabled(true);

  tabs_->addTab(&ccTalkPage_, QStringLiteral("cctalk Port"));
  tabs_->addTab(&ioPage_, QStringLiteral("Input / Output"));
  tabs_->addTab(&rtClockPage_, QStringLiteral("Real-Time Clock"));
  tabs_->addTab(&serialPortPage_, QStringLiteral("Serial Port"));
  tabs_->addTab(&eepromPage_, QStringLiteral("EEPROM Memory"));
  tabs_->addTab(&sramPage_, QStringLiteral("SRAM Memory"));
  tabs_->addTab(&reelPage_, QStringLiteral("Reels"));
  tabs_->addTab(&aboutPage_, QStringLiteral("About"));
  tabs_->setCurrentWidget(&aboutPage_);
  // Every tab caption stays in view; the sheet is at least as wide as the row.
  tabs_->setUsesScrollButtons(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons_);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // A box's Return belongs to its page, never to the sheet's Close button.
  for (QPushButton* button : buttons_->findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  FollowConnection(app);
}

// The pages learn when the board's connection is lost and when it has been
// opened again; the memory pages, which do not poll, note it in their logs.
void CK27DiagSheet::FollowConnection(CK27DiagApp* app) {
  connection_ = new CBoardConnection(
      [this, app](QString* status) {
        app->InitialiseBoard();
        aboutPage_.Refresh();
        *status = app->Initialised() != 0
                      ? QStringLiteral("Initialised")
                      : QStringLiteral("Failed initialisation (%1)")
                            .arg(QLatin1String(k27diag::UsbErrorName(app->InitError())));
        return app->Initialised() != 0;
      },
      this);
  app->SetInitialisedHook([this] { connection_->Opened(); });
  connection_->Opened();
  for (CActivePage* page :
       {static_cast<CActivePage*>(&rtClockPage_), static_cast<CActivePage*>(&ioPage_),
        static_cast<CActivePage*>(&serialPortPage_), static_cast<CActivePage*>(&reelPage_)})
    page->SetConnection(connection_);
  connect(connection_, &CBoardConnection::lost, this, [this] {
    NoteOnCurrentPage(false, QStringLiteral("The connection to the board is lost (unplugged, or "
                                            "its daemon stopped): plug the board in or start the "
                                            "daemon; the next action on a page re-initialises "
                                            "it."));
  });
  connect(connection_, &CBoardConnection::reinitialised, this,
          [this](bool ok, const QString& status) {
            NoteOnCurrentPage(
                ok, QStringLiteral("The board's connection was re-initialised: %1").arg(status));
          });
}

// The polling pages write their own notes; the others get them here.
void CK27DiagSheet::NoteOnCurrentPage(bool ok, const QString& text) {
  const QString line = (ok ? QStringLiteral("[Success] ") : QStringLiteral("[Error] ")) + text;
  QWidget* page = tabs_->currentWidget();
  if (page == &eepromPage_ || page == &sramPage_) {
    static_cast<CMemoryPage*>(page)->Log()->AddLine(
        line, ok ? CActivePage::kLogBlack : CActivePage::kLogRed);
  } else if (page == &ccTalkPage_) {
    auto* transactions = ccTalkPage_.findChild<CTransactionView*>(QStringLiteral("id1022"));
    if (transactions == nullptr) return;
    if (ok)
      transactions->AddNote(line);
    else
      transactions->AddErrorText(text);
  }
}

void CK27DiagSheet::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

CK27DiagSheet::~CK27DiagSheet() {
  // The pages are members: take them out of the tab widget before they go, so
  // that it never holds a page that is being destroyed.
  while (tabs_->count() > 0) {
    QWidget* page = tabs_->widget(0);
    tabs_->removeTab(0);
    page->setParent(nullptr);
  }
}
