// What the library keeps per board slot in the state that every process
// using it shares, and the board itself cannot be asked for: the output
// images last sent and the EEPROM geometry found at connection. For tools
// that show a board's state beside the programs that drive it (k27ctl).
//
// A slot is the deviceIndex given to VantrelUSB::init, 0 to 15; another
// slot reads as never used. The readers of a record take its named lock,
// so they never see one half written by another process.
#pragma once

#include <cstdint>

#include <vantrel/VantrelTypes.h>
#include <vantrel/VantrelUSB.h>

namespace vantrel::records {

// Copies the output images last sent for the on period into `on` and for the
// off period into `off` (zeros for a period never sent to the slot). Either
// may be null when it is not wanted.
VANTRELUSB_EXPORT void ReadOutputImages(int slot, usbOutput* on, usbOutput* off);

// Whether the output images above tell what the boards show. The shared
// records last only while some process has the library loaded: false when
// this process found nobody else attached, so that they started from zeros.
VANTRELUSB_EXPORT bool OutputImagesKnown();

// The address that the slot's EEPROM transfers must end before (a transfer
// at A of N bytes needs A + N <= this), as ConfigureEEPROM stored it; 0 when
// the slot's EEPROM was never configured.
VANTRELUSB_EXPORT std::uint32_t ReadEepromLastAddress(int slot);

}  // namespace vantrel::records
