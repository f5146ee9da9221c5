// The Input / Output page: polls the switch inputs and dip switches ten times
// a second while it is the active tab, switches each lamp and aux output when
// it is pointed at or clicked, and dims the lamps with the brightness slider.
// It writes no log and shows no error: a failed call leaves the display as it
// was.
#pragma once

#include "pages/common/CActivePage.h"

#include <array>
#include <cstdint>

#include <vantrel/VantrelTypes.h>

class CSensitiveButton;
class QCheckBox;
class QGroupBox;
class QSlider;
class VantrelUSB;

class IOPage : public CActivePage {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 106;
  static constexpr int kPollMs = 100;
  static constexpr int kInputCount = 32;   // 24 switch inputs, then 8 dip switches
  static constexpr int kOutputCount = 38;  // 32 lamps, then 6 aux outputs
  static constexpr int kFullBrightness = 10;

  IOPage(VantrelUSB* board, QWidget* parent = nullptr);
  ~IOPage() override;

  // The brightness text for a level, as the group box shows it.
  static QString BrightnessText(int level);

  bool Polling() const { return Ticking(); }
  int Brightness() const { return brightness_; }
  const usbOutput& OnImage() const { return onImage_; }
  const usbOutput& OffImage() const { return offImage_; }

 private:
  QGroupBox* BuildInputSwitches();
  QGroupBox* BuildDipSwitches();
  QGroupBox* BuildLinkedRow();
  QGroupBox* BuildOutputLamps();
  QGroupBox* BuildAuxOutputs();
  QGroupBox* BuildBrightness();
  QCheckBox* MakeInput(QWidget* parent, int controlId, int index, int label);
  CSensitiveButton* MakeOutput(QWidget* parent, int controlId, int index, int label);

  void OnActivate() override;
  void OnTick() override;
  void Poll();
  void ToggleOutput(int index);
  void ApplyBrightness(int level);
  void SendImages(const usbOutput& on, const usbOutput& off);

  VantrelUSB* board_;  // not owned
  std::uint8_t brightness_ = kFullBrightness;
  usbOutput onImage_{};
  usbOutput offImage_{};
  // Inputs in polling order; outputs in reset order (lamps 0-31, aux 0-5).
  std::array<QCheckBox*, kInputCount> inputs_{};
  std::array<CSensitiveButton*, kOutputCount> outputs_{};
  QSlider* slider_ = nullptr;
  QGroupBox* brightnessBox_ = nullptr;
};
