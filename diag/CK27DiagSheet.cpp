#include "CK27DiagSheet.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "CK27DiagApp.h"
#include "CColouredListBox.h"
#include "PageList.h"
#include "UsbErrorNames.h"
#include "pages/about/AboutPage.h"
#include "pages/cctalk/CCTalkPage.h"
#include "pages/cctalk/CTransactionView.h"
#include "pages/common/CActivePage.h"
#include "pages/common/CBoardConnection.h"
#include "pages/memory/CMemoryPage.h"

CK27DiagSheet::CK27DiagSheet(CK27DiagApp* app, const QString& caption, QWidget* parent)
    : QDialog(parent),
      tabs_(new QTabWidget(this)),
      buttons_(new QDialogButtonBox(QDialogButtonBox::Close, this)) {
  setWindowTitle(caption);
  setObjectName(QStringLiteral("CK27DiagSheet"));
  setSizeGripEnabled(true);

  for (const vantrel::diag::PageEntry& entry : vantrel::diag::SheetPages())
    tabs_->addTab(entry.make(app), QString::fromUtf8(entry.caption));
  tabs_->setCurrentIndex(vantrel::diag::PageTab<AboutPage>());
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
        if (auto* about = FindPage<AboutPage>()) about->Refresh();
        *status = app->Initialised() != 0
                      ? QStringLiteral("Initialised")
                      : QStringLiteral("Failed initialisation (%1)")
                            .arg(QLatin1String(vantrel::diag::UsbErrorName(app->InitError())));
        return app->Initialised() != 0;
      },
      this);
  app->SetInitialisedHook([this] { connection_->Opened(); });
  connection_->Opened();
  // The polling pages follow the connection themselves.
  for (int i = 0; i < tabs_->count(); ++i)
    if (auto* page = qobject_cast<CActivePage*>(tabs_->widget(i))) page->SetConnection(connection_);
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
  if (auto* memoryPage = qobject_cast<CMemoryPage*>(page)) {
    memoryPage->Log()->AddLine(line, ok ? CActivePage::kLogBlack : CActivePage::kLogRed);
  } else if (auto* ccTalkPage = qobject_cast<CCTalkPage*>(page)) {
    auto* transactions = ccTalkPage->findChild<CTransactionView*>(QStringLiteral("id1022"));
    if (transactions == nullptr) return;
    if (ok)
      transactions->AddNote(line);
    else
      transactions->AddErrorText(text);
  }
}

template <class Page>
Page* CK27DiagSheet::FindPage() const {
  for (int i = 0; i < tabs_->count(); ++i)
    if (auto* page = qobject_cast<Page*>(tabs_->widget(i))) return page;
  return nullptr;
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
  // The pages go first, last tab first, while the sheet and its connection
  // are whole: a page never outlives what it was given.
  while (tabs_->count() > 0) {
    QWidget* page = tabs_->widget(tabs_->count() - 1);
    tabs_->removeTab(tabs_->count() - 1);
    delete page;
  }
}
