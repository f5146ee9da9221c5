// The program's one window: a modal sheet with one tab per board function.
#pragma once

#include <QDialog>

class CBoardConnection;
class CK27DiagApp;
class QDialogButtonBox;
class QTabWidget;

class CK27DiagSheet : public QDialog {
  Q_OBJECT

 public:
  // Builds the pages of the page list on the application's board object and
  // opens on About.
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
  // The first page of this class, or null.
  template <class Page>
  Page* FindPage() const;

  QTabWidget* tabs_;  // child of the sheet; holds the pages
  QDialogButtonBox* buttons_;
  CBoardConnection* connection_ = nullptr;  // child of the sheet
};
