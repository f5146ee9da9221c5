// Stands in for a board page that this build does not have yet.
#pragma once

#include <QWidget>

class VantrelUSB;

class CPlaceholderPage : public QWidget {
  Q_OBJECT

 public:
  // `templateId` names the page (objectName "id<templateId>").
  CPlaceholderPage(VantrelUSB* board, int templateId, const QString& caption,
                   QWidget* parent = nullptr);

  VantrelUSB* Board() const { return board_; }

 private:
  VantrelUSB* board_;  // not owned
};
