// The "EEPROM Memory" page: a window of up to 512 bytes of the board's EEPROM.
#pragma once

#include "pages/memory/CMemoryPage.h"

class EEPROMPage : public CMemoryPage {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 108;
  static constexpr std::uint32_t kMaxCount = 512;

  explicit EEPROMPage(VantrelUSB* board, QWidget* parent = nullptr);
  ~EEPROMPage() override;
};
