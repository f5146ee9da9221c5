// The Reels page: configures how many reels are fitted and how many
// half-steps make one turn, spins the chosen reels, edits and sends the ramp
// tables, clears the reels' synchronisation and shows each reel's status ten
// times a second while it is the active tab. Every board call goes to the log,
// successes in black and failures in red.
#pragma once

#include <QString>
#include "pages/CActivePage.h"

#include <array>
#include <cstdint>

#include <vantrel/VantrelTypes.h>

#include "pages/RampTables.h"

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
  bool ShareRamps() const { return shareRamps_; }
  int SelectedReel() const { return selectedReel_; }
  const RampTables& Ramps() const { return ramps_; }
  CColouredListBox* Log() const { return log_; }
  CHexBlockEdit* RampEditor(RampTables::Side side) const { return editors_[side]; }

 private:
  QWidget* BuildSpinGroup();
  QWidget* BuildConfigureGroup();
  QWidget* BuildStatusGroup(int reel);
  QWidget* BuildRampGroup();

  void OnActivate() override;
  void OnTick() override;
  void PollStatus();
  void ShowReelStatus(int reel, const usbReelStatus& old, bool force);

  void Configure();
  void Spin(unsigned char stepCode);
  void ClearSync();
  void ApplyRamps();
  void SaveEditors();
  void LoadEditors(int reel);
  void SelectLengths(int reel);

  void ReelCountChanged(int index);
  void HalfStepsChanged();
  void StepsChanged();
  void TrackBarMoved(int value);
  void ShareClicked(bool checked);
  void RampReelChanged(int index);
  void RampLengthChanged(RampTables::Side side, int index);

  void LogSuccess(const QString& call);
  void LogError(const QString& call, const QString& why);
  void LogResult(const QString& call, int result);
  QString LastErrorName() const;

  VantrelUSB* board_;  // not owned
  usbReelStatus status_{};
  int numReels_ = 1;
  int selectedReel_ = 0;
  bool shareRamps_ = true;
  int numSteps_ = kDefaultSteps;
  int halfSteps_ = kDefaultHalfSteps;
  bool forceStatus_ = true;
  RampTables ramps_;

  QLineEdit* stepsEdit_ = nullptr;
  QSlider* trackBar_ = nullptr;
  QComboBox* reelCount_ = nullptr;
  QLineEdit* halfStepsEdit_ = nullptr;
  // Per reel: position, error, busy and sync texts.
  std::array<std::array<QLabel*, 4>, RampTables::kReels> statusTexts_{};
  std::array<QCheckBox*, RampTables::kReels> spinBoxes_{};
  QCheckBox* shareBox_ = nullptr;
  QComboBox* rampReel_ = nullptr;
  std::array<QComboBox*, 2> lengthLists_{};
  std::array<CHexBlockEdit*, 2> editors_{};
  CColouredListBox* log_ = nullptr;
};
