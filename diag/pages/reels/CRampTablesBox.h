// The "Ramp Tables" group of the Reels page: whether the three reels share
// their tables, the reel whose tables are shown, the length list and the byte
// editor of each side, and the "Apply Ramps" button. It keeps the tables the
// editors stand for; the page sends them when applyClicked() is emitted.
#pragma once

#include <QGroupBox>

#include <array>

#include "pages/reels/RampTables.h"

class CHexBlockEdit;
class QCheckBox;
class QComboBox;

class CRampTablesBox : public QGroupBox {
  Q_OBJECT

 public:
  explicit CRampTablesBox(QWidget* parent = nullptr);

  // The page's start: shared tables of the defaults, reel 1 shown, editors
  // set up for ramp entries. Emits nothing.
  void Reset();
  // Takes the editors' bytes into the tables: into every reel's while they
  // are shared, else into the shown reel's.
  void SaveEditors();

  bool Shared() const { return shared_; }
  int SelectedReel() const { return selectedReel_; }
  const RampTables& Ramps() const { return ramps_; }
  // The reel whose tables a spin of `reel` runs on.
  int SourceReel(int reel) const { return shared_ ? 0 : reel; }
  CHexBlockEdit* Editor(RampTables::Side side) const { return editors_[side]; }

 signals:
  // "Apply Ramps" was clicked.
  void applyClicked();

 private:
  void LoadEditors(int reel);
  void SelectLengths(int reel);

  void ShareClicked(bool checked);
  void ReelChanged(int index);
  void LengthChanged(RampTables::Side side, int index);

  RampTables ramps_;
  bool shared_ = true;
  int selectedReel_ = 0;
  QCheckBox* shareBox_ = nullptr;
  QComboBox* reelList_ = nullptr;
  std::array<QComboBox*, 2> lengthLists_{};
  std::array<CHexBlockEdit*, 2> editors_{};
};
