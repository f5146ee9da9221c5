#include "SharedRecords.h"

#include <vantrel/BoardRecords.h>

namespace vantrel::ctl {

OutputImages ReadOutputImages(int slot) {
  OutputImages images;
  vantrel::records::ReadOutputImages(slot, &images.on, &images.off);
  return images;
}

bool OutputImagesKnown() { return vantrel::records::OutputImagesKnown(); }

std::uint32_t ReadEepromLastAddress(int slot) {
  return vantrel::records::ReadEepromLastAddress(slot);
}

}  // namespace vantrel::ctl
