// The sheet's pages in the order of their tabs: each page's caption, class and
// maker. The sheet builds its tabs from this list and the tests find a page's
// tab through it, so that a new page is one more entry here and nothing else
// in the sheet or in other pages' tests changes.
#pragma once

#include <span>

class CK27DiagApp;
class QWidget;
struct QMetaObject;

namespace vantrel::diag {

struct PageEntry {
  const char* caption;                 // the tab's caption
  const QMetaObject* type;             // the page's class
  QWidget* (*make)(CK27DiagApp* app);  // a new page on the application's board
};

// Every page of the sheet, in tab order.
std::span<const PageEntry> SheetPages();

// The tab of the page of exactly this class; -1 when the sheet has none.
int PageTab(const QMetaObject& type);
template <class Page>
int PageTab() {
  return PageTab(Page::staticMetaObject);
}

}  // namespace vantrel::diag
