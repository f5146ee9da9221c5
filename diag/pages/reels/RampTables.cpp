#include "pages/reels/RampTables.h"

#include <algorithm>
#include <cstring>

static_assert(RampTables::kRoom <= static_cast<int>(sizeof(usbRampTable::steps)));

namespace {

constexpr unsigned char kDefaultUp[] = {100, 35, 19, 14, 16, 16, 11};
constexpr unsigned char kDefaultDown[] = {22, 14, 35, 200};

template <std::size_t N>
usbRampTable MakeTable(const unsigned char (&entries)[N]) {
  usbRampTable table{};
  table.count = static_cast<unsigned char>(N);
  std::memcpy(table.steps, entries, N);
  return table;
}

}  // namespace

void RampTables::LoadDefaults() {
  for (int reel = 0; reel < kReels; ++reel) {
    tables_[kUp][static_cast<std::size_t>(reel)] = MakeTable(kDefaultUp);
    tables_[kDown][static_cast<std::size_t>(reel)] = MakeTable(kDefaultDown);
  }
}

QByteArray RampTables::Entries(Side side, int reel) const {
  const usbRampTable& table = Table(side, reel);
  const int n = std::min<int>(table.count, kRoom);
  return QByteArray(reinterpret_cast<const char*>(table.steps), n);
}

void RampTables::Store(Side side, int reel, const QByteArray& bytes) {
  usbRampTable& table = tables_[side][static_cast<std::size_t>(Index(reel))];
  const auto n = static_cast<std::size_t>(std::min<qsizetype>(bytes.size(), kRoom));
  std::memcpy(table.steps, bytes.constData(), n);
}

void RampTables::StoreAll(Side side, const QByteArray& bytes) {
  for (int reel = 0; reel < kReels; ++reel) Store(side, reel, bytes);
}

void RampTables::SetCount(Side side, int reel, int count) {
  tables_[side][static_cast<std::size_t>(Index(reel))].count =
      static_cast<unsigned char>(std::clamp(count, 0, kRoom));
}

void RampTables::SetCountAll(Side side, int count) {
  for (int reel = 0; reel < kReels; ++reel) SetCount(side, reel, count);
}
