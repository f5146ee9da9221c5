#include "PageList.h"

#include <iterator>

#include "CK27DiagApp.h"
#include "pages/about/AboutPage.h"
#include "pages/cctalk/CCTalkPage.h"
#include "pages/clock/RTClockPage.h"
#include "pages/io/IOPage.h"
#include "pages/memory/EEPROMPage.h"
#include "pages/memory/SRAMPage.h"
#include "pages/reels/ReelPage.h"
#include "pages/serial/SerialPortPage.h"

namespace vantrel::diag {
namespace {

template <class Page>
QWidget* OnBoard(CK27DiagApp* app) {
  return new Page(app->Board());
}

constexpr PageEntry kPages[] = {
    {"cctalk Port", &CCTalkPage::staticMetaObject, OnBoard<CCTalkPage>},
    {"Input / Output", &IOPage::staticMetaObject, OnBoard<IOPage>},
    {"Real-Time Clock", &RTClockPage::staticMetaObject, OnBoard<RTClockPage>},
    {"Serial Port", &SerialPortPage::staticMetaObject, OnBoard<SerialPortPage>},
    {"EEPROM Memory", &EEPROMPage::staticMetaObject, OnBoard<EEPROMPage>},
    {"SRAM Memory", &SRAMPage::staticMetaObject, OnBoard<SRAMPage>},
    {"Reels", &ReelPage::staticMetaObject, OnBoard<ReelPage>},
    // The page that (re)opens the board works on the application itself.
    {"About", &AboutPage::staticMetaObject,
     [](CK27DiagApp* app) -> QWidget* { return new AboutPage(app); }},
};

}  // namespace

std::span<const PageEntry> SheetPages() { return kPages; }

int PageTab(const QMetaObject& type) {
  for (std::size_t i = 0; i < std::size(kPages); ++i)
    if (kPages[i].type == &type) return static_cast<int>(i);
  return -1;
}

}  // namespace vantrel::diag
