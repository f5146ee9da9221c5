// What the library keeps per board slot in the state that every process
// shares, and the board itself cannot be asked for: the output images last
// sent for each period, and the EEPROM geometry found at connection.
#pragma once

#include <cstdint>

#include <vantrel/VantrelTypes.h>

namespace vantrel::ctl {

struct OutputImages {
  usbOutput on{};
  usbOutput off{};
};

OutputImages ReadOutputImages(int slot);

// The copies last only while some process has the library loaded: when this
// process found nobody else attached, they start from zeros and say nothing
// of what the board shows (it cannot be asked).
bool OutputImagesKnown();

// The highest address the library's EEPROM transfers may end before (a
// transfer at A of N bytes needs A + N <= this); 0 when never configured.
std::uint32_t ReadEepromLastAddress(int slot);

}  // namespace vantrel::ctl
