// The Real-Time Clock page: shows the board's raw clock count once a second
// while it is the active tab, and writes a typed value to the clock.
#pragma once

#include <QString>
#include "pages/common/CActivePage.h"

#include <cstdint>

class QLineEdit;
class QPushButton;
class VantrelUSB;

class RTClockPage : public CActivePage {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 103;
  static constexpr int kRefreshMs = 1000;

  RTClockPage(VantrelUSB* board, QWidget* parent = nullptr);
  ~RTClockPage() override;

  // Reads the clock once and shows the value or the error text.
  void Refresh();

  // Converts typed text as the "Set Time" button does: leading blanks, an
  // optional sign, then digits up to the first non-digit; no digits gives 0.
  // The value is taken modulo 2^32, so "-1" and "4294967295" both give
  // 0xFFFFFFFF and no input can overflow.
  static std::uint32_t ParseClockValue(const QString& text);

  // Reads made so far (on activation, by the timer and after "Set Time").
  int RefreshCount() const { return refreshCount_; }
  // True while the once-a-second refresh runs.
  bool Refreshing() const { return Ticking(); }

 private:
  void OnActivate() override;
  void OnTick() override;
  void SetTime();

  VantrelUSB* board_;  // not owned
  int refreshCount_ = 0;
  QPushButton* setButton_;
  QLineEdit* newTimeEdit_;
  QLineEdit* currentTimeEdit_;
};
