#include "pages/memory/EEPROMPage.h"

#include "pages/memory/EEPROMBuffer.h"
#include "pages/memory/CMemoryFilePanel.h"

namespace {

std::unique_ptr<MemoryBuffer> MakeBuffer(VantrelUSB* board, CColouredListBox* log) {
  return std::make_unique<EEPROMBuffer>(board, log);
}

CMemoryPage::Kind EepromKind() {
  return CMemoryPage::Kind{
      EEPROMPage::kTemplateId,
      QStringLiteral("EEPROM Memory Range (enter the start address in either decimal or hex)"),
      QStringLiteral("EEPROM Memory View"),
      8002,
      8005,
      8001,
      8004,
      8003,
      8,
      EEPROMPage::kMaxCount,
      QStringLiteral("[Success] EEPROM Sample initialised"),
  };
}

}  // namespace

EEPROMPage::EEPROMPage(VantrelUSB* board, QWidget* parent)
    : CMemoryPage(board, EepromKind(), MakeBuffer, parent) {
  AddSidePanel(
      new CMemoryFilePanel(this, BoardMemoryAccess(board, BoardMemoryAccess::Memory::kEeprom)));
}

EEPROMPage::~EEPROMPage() = default;
