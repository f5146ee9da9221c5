// The "SRAM Memory" page: a window onto the board's 64 KiB SRAM.
#pragma once

#include "pages/memory/CMemoryPage.h"

class SRAMPage : public CMemoryPage {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 109;
  // The whole SRAM; a longer read would only wrap round to its start again.
  static constexpr std::uint32_t kMaxCount = 0x10000;

  explicit SRAMPage(VantrelUSB* board, QWidget* parent = nullptr);
  ~SRAMPage() override;
};
