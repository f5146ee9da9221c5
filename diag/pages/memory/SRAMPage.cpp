#include "pages/memory/SRAMPage.h"

#include "pages/memory/SRAMBuffer.h"
#include "pages/memory/CMemoryFilePanel.h"

namespace {

std::unique_ptr<MemoryBuffer> MakeBuffer(VantrelUSB* board, CColouredListBox* log) {
  return std::make_unique<SRAMBuffer>(board, log);
}

CMemoryPage::Kind SramKind() {
  return CMemoryPage::Kind{
      SRAMPage::kTemplateId,
      QStringLiteral("SRAM Memory Range (enter the start address in either decimal or hex)"),
      QStringLiteral("SRAM Memory View"),
      9000,
      9004,
      9003,
      9002,
      9001,
      0,
      SRAMPage::kMaxCount,
      QStringLiteral("[Success] SRAM Sample initialised"),
  };
}

}  // namespace

SRAMPage::SRAMPage(VantrelUSB* board, QWidget* parent)
    : CMemoryPage(board, SramKind(), MakeBuffer, parent) {
  AddSidePanel(
      new CMemoryFilePanel(this, BoardMemoryAccess(board, BoardMemoryAccess::Memory::kSram)));
}

SRAMPage::~SRAMPage() = default;
