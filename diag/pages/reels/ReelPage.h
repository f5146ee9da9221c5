// The Reels page: configures how many reels are fitted and how many
// half-steps make one turn, spins the chosen reels, edits and sends the ramp
// tables, clears the reels' synchronisation and shows each reel's status ten
// times a second while it is the active tab. Every board call goes to the log,
// successes in black and failures in red.
#pragma once

#include <QString>
#include "pages/common/CActivePage.h"

#include <array>
#include <cstdint>

#include <vantrel/VantrelTypes.h>

#include "pages/reels/CRampTablesBox.h"
#include "pages/reels/RampTables.h"

class CColouredListBox;
class CHexBlockEdit;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class VantrelUSB;

class ReelPage : public CActivePage {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 110;
  static constexpr int kPollMs = 100;
  static constexpr int kMaxSteps = 32767;  // the track bar's right end
  static constexpr int kDefaultSteps = 48;
  static constexpr int kDefaultHalfSteps = 96;
  // Step codes of the four spin buttons.
  static constexpr unsigned char kMinus2 = 254, kMinus1 = 255, kPlus1 = 1, kPlus2 = 2;

  ReelPage(VantrelUSB* board, QWidget* parent = nullptr);
  ~ReelPage() override;

  // The plain decimal conversion of the two number boxes: leading blanks, an
  // optional sign, digits up to the first other character; none gives 0.
  // Saturates at the ends of int instead of overflowing.
  static int ParseDecimal(const QString& text);

  bool Polling() const { return Ticking(); }
  int NumReels() const { return numReels_; }
  int NumSteps() const { return numSteps_; }
  int HalfSteps() const { return halfSteps_; }
  bool ShareRamps() const { return rampBox_->Shared(); }
  int SelectedReel() const { return rampBox_->SelectedReel(); }
  const RampTables& Ramps() const { return rampBox_->Ramps(); }
  CColouredListBox* Log() const { return log_; }
  CHexBlockEdit* RampEditor(RampTables::Side side) const { return rampBox_->Editor(side); }

 private:
  QWidget* BuildSpinGroup();
  QWidget* BuildConfigureGroup();
  QWidget* BuildStatusGroup(int reel);

  void OnActivate() override;
  void OnTick() override;
  void AddLogLine(const QString& text, std::int32_t colour) override;
  void PollStatus();
  void ShowReelStatus(int reel, const usbReelStatus& old, bool force);

  void Configure();
  void Spin(unsigned char stepCode);
  void ClearSync();
  void ApplyRamps();

  void ReelCountChanged(int index);
  void HalfStepsChanged();
  void StepsChanged();
  void TrackBarMoved(int value);

  // "VantrelUSB::<call> = success" in black, "... = error: <why>" in red.
  void LogSuccess(const QString& call);
  void LogError(const QString& call, const QString& why);
  // A failure with the board's last error.
  void LogError(const QString& call);
  void LogResult(const QString& call, int result);

  VantrelUSB* board_;  // not owned
  usbReelStatus status_{};
  int numReels_ = 1;
  int numSteps_ = kDefaultSteps;
  int halfSteps_ = kDefaultHalfSteps;
  bool forceStatus_ = true;

  QLineEdit* stepsEdit_ = nullptr;
  QSlider* trackBar_ = nullptr;
  QComboBox* reelCount_ = nullptr;
  QLineEdit* halfStepsEdit_ = nullptr;
  // Per reel: position, error, busy and sync texts.
  std::array<std::array<QLabel*, 4>, RampTables::kReels> statusTexts_{};
  std::array<QCheckBox*, RampTables::kReels> spinBoxes_{};
  CRampTablesBox* rampBox_ = nullptr;
  CColouredListBox* log_ = nullptr;
};
