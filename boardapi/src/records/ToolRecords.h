// What the project's own tools read from the state that every process using
// the library shares, and the board itself cannot be asked for. Exported
// beside the public interface for them alone; not installed.
#pragma once

#include <cstdint>

#include <vantrel/VantrelUSB.h>

namespace vantrel::records {

// The output images last sent for each period to board slot `slot`; zeros
// for what was never sent.
VANTRELUSB_EXPORT void ReadOutputImages(int slot, usbOutput* on, usbOutput* off);

// The copies last only while some process has the library loaded: false
// when this process found nobody else attached, so that they start from
// zeros and say nothing of what the board shows.
VANTRELUSB_EXPORT bool OutputImagesKnown();

// The highest address the EEPROM transfers of slot `slot` may end before (a
// transfer at A of N bytes needs A + N <= this); 0 when never configured.
VANTRELUSB_EXPORT std::uint32_t ReadEepromLastAddress(int slot);

}  // namespace vantrel::records
