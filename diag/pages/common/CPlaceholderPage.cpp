#include "pages/common/CPlaceholderPage.h"

#include <QLabel>
#include <QVBoxLayout>

CPlaceholderPage::CPlaceholderPage(VantrelUSB* board, int templateId, const QString& caption,
                                   QWidget* parent)
    : QWidget(parent), board_(board) {
  setObjectName(QStringLiteral("id%1").arg(templateId));
  auto* layout = new QVBoxLayout(this);
  auto* note = new QLabel(
      tr("The %1 page is not available in this version of the program.").arg(caption), this);
  note->setObjectName(QStringLiteral("placeholder"));
  note->setAlignment(Qt::AlignCenter);
  note->setWordWrap(true);
  layout->addWidget(note);
}
