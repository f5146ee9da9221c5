// The ramp-up and ramp-down tables of the three reels as the Reels page keeps
// them: each a count byte (1 to 10 through the page's length lists) and room
// for kRoom entries. Entries beyond the count stay stored, so that shortening
// a table and lengthening it again brings the old entries back.
#pragma once

#include <QByteArray>

#include <array>

#include <vantrel/VantrelTypes.h>

class RampTables {
 public:
  static constexpr int kReels = 3;
  // Entries kept per table; an editor holding more is cut to this.
  static constexpr int kRoom = 60;
  enum Side { kUp = 0, kDown = 1 };

  // Every reel: ramp-up 100, 35, 19, 14, 16, 16, 11; ramp-down 22, 14, 35, 200.
  void LoadDefaults();

  const usbRampTable& Table(Side side, int reel) const { return tables_[side][Index(reel)]; }
  int Count(Side side, int reel) const { return Table(side, reel).count; }
  // The first Count entries (never more than kRoom).
  QByteArray Entries(Side side, int reel) const;

  // Entry bytes from an editor; the count stays. At most kRoom are taken.
  void Store(Side side, int reel, const QByteArray& bytes);
  void StoreAll(Side side, const QByteArray& bytes);
  void SetCount(Side side, int reel, int count);
  void SetCountAll(Side side, int count);

  // Fewest steps a spin of the reel needs: both ramps, sharing one step.
  int MinimumSteps(int reel) const { return Count(kUp, reel) + Count(kDown, reel) - 1; }

 private:
  // Reel indexes outside 0 to 2 are taken as 0.
  static int Index(int reel) { return reel >= 0 && reel < kReels ? reel : 0; }

  std::array<std::array<usbRampTable, kReels>, 2> tables_{};
};
