#include "pages/common/CActivePage.h"

#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QTimerEvent>

#include "pages/common/CBoardConnection.h"

namespace {

const QString kResume = QStringLiteral("Resume");
const QString kReinitialise = QStringLiteral("Re-initialise");

}  // namespace

CActivePage::CActivePage(QWidget* parent)
    : QWidget(parent),
      notice_(new QWidget(this)),
      noticeText_(new QLabel(notice_)),
      noticeButton_(new QPushButton(notice_)) {
  notice_->setObjectName(QStringLiteral("pollingNotice"));
  noticeText_->setObjectName(QStringLiteral("pollingNoticeText"));
  noticeText_->setWordWrap(true);
  QPalette palette = noticeText_->palette();
  palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
  noticeText_->setPalette(palette);
  noticeButton_->setObjectName(QStringLiteral("pollingNoticeButton"));
  noticeButton_->setAutoDefault(false);
  auto* layout = new QHBoxLayout(notice_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(noticeText_, 1);
  layout->addWidget(noticeButton_);
  notice_->hide();
  connect(noticeButton_, &QPushButton::clicked, this, &CActivePage::NoticeClicked);
}

void CActivePage::SetConnection(CBoardConnection* connection) {
  connection_ = connection;
  if (connection_ == nullptr) return;
  connect(connection_, &CBoardConnection::lost, this, &CActivePage::OnConnectionLost);
  connect(connection_, &CBoardConnection::back, this, &CActivePage::OnBoardBack);
  connect(connection_, &CBoardConnection::reinitialised, this, &CActivePage::OnReinitialised);
}

void CActivePage::AddLogLine(const QString&, std::int32_t) {}

void CActivePage::StartTicks(int periodMs) {
  periodMs_ = periodMs;
  if (stalled_) return;
  if (timerId_ == 0) timerId_ = startTimer(periodMs);
}

void CActivePage::StopTicks() {
  if (timerId_ != 0) killTimer(timerId_);
  timerId_ = 0;
}

int CActivePage::BoardCall(const QString& what, const std::function<int()>& call) {
  if (skipping_) return kSkipped;
  QElapsedTimer clock;
  clock.start();
  const int result = call();
  if (result == 0 && CBoardConnection::TookTheTimeLimit(clock.elapsed())) Stall(what);
  return result;
}

void CActivePage::Stall(const QString& what) {
  StopTicks();
  stalled_ = true;
  skipping_ = true;
  // The handler that saw the stall ends before the next event is handled;
  // the line comes after the ones that it writes about the failed call.
  QTimer::singleShot(0, this, [this, what] {
    skipping_ = false;
    AddLogLine(QStringLiteral("Polling stopped: %1 got no answer within the time limit. Press "
                              "Resume or select the tab again to go on.")
                   .arg(what),
               kLogRed);
  });
  ShowNotice(QStringLiteral("The board did not answer %1: polling stopped.").arg(what), kResume,
             true);
}

void CActivePage::Resume() {
  if (!stalled_) return;
  stalled_ = false;
  notice_->hide();
  if (isVisible() && periodMs_ > 0) StartTicks(periodMs_);
}

void CActivePage::ShowNotice(const QString& text, const QString& button, bool enabled) {
  noticeText_->setText(text);
  noticeButton_->setText(button);
  noticeButton_->setEnabled(enabled);
  notice_->show();
}

void CActivePage::NoticeClicked() {
  if (noticeButton_->text() == kReinitialise && connection_ != nullptr) {
    connection_->Reinitialise();
    return;
  }
  Resume();
}

void CActivePage::OnConnectionLost() {
  if (!isVisible()) return;
  StopTicks();
  stalled_ = true;
  if (!lostNoticed_) {
    lostNoticed_ = true;
    AddLogLine(QStringLiteral("The connection to the board is lost (unplugged, or its daemon "
                              "stopped): polling stopped. Plug the board in or start the "
                              "daemon; the next action on a page re-initialises it."),
               kLogRed);
  }
  ShowNotice(QStringLiteral("The connection to the board is lost."), kReinitialise, false);
}

void CActivePage::OnBoardBack() {
  if (!isVisible()) return;
  ShowNotice(QStringLiteral("The board is back: re-initialise to go on."), kReinitialise, true);
}

void CActivePage::OnReinitialised(bool ok, const QString& status) {
  lostNoticed_ = false;
  if (!isVisible()) return;
  AddLogLine(QStringLiteral("The board's connection was re-initialised: %1").arg(status),
             ok ? kLogBlack : kLogRed);
  stalled_ = false;
  notice_->hide();
  // The board may have started again from its defaults: set the page up anew.
  OnActivate();
}

// The tab widget shows the page when it becomes the current tab and hides it
// when another tab is chosen or the sheet closes. Spontaneous events (the
// window being minimised or restored) leave the page the current tab.
void CActivePage::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    stalled_ = false;
    notice_->hide();
    // A page shown while the connection is lost says so instead of
    // failing each of its activation calls.
    if (connection_ != nullptr && connection_->Lost())
      OnConnectionLost();
    else
      OnActivate();
  }
  QWidget::showEvent(event);
}

void CActivePage::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) StopTicks();
  QWidget::hideEvent(event);
}

void CActivePage::timerEvent(QTimerEvent* event) {
  if (timerId_ != 0 && event->timerId() == timerId_) OnTick();
  QWidget::timerEvent(event);
}
