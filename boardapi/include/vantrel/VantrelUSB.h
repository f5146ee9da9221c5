// The K27 board API: one VantrelUSB object per board.
//
// Every operation returns non-zero on success and 0 on failure; the cause of
// the last failure stays in the object until the next failure, ClearErrors or
// init, and is read with GetLastError.
//
// The library talks to the vantrelio daemon, which owns the boards. Board N is
// the socket "ezusb-N" in $VANTREL_DEVICE_DIR (default /run/vantrel).
//
// Replies. An operation waits at most 15 s for the daemon to take a request
// and answer it (the driver itself gives up on a board after 5 s per
// transfer); $VANTREL_REPLY_TIMEOUT_MS sets another limit in milliseconds,
// read when a board is opened. Past it the operation fails with
// USB_DEVICE_WRITE_ERROR and the connection is dropped, so that a late reply
// is never taken for another request's: every later operation fails the
// same way until init connects again.
// An operation that fills a record of fixed size (inputs, reel status, clock,
// flags, counters, random number, parity errors) fails with
// USB_DEVICE_BYTE_COUNT_ERROR when the reply brings fewer bytes than the
// record holds, and leaves the record as it was.
//
// Failures every exchange with the board can report, not repeated below:
// USB_DEVICE_WRITE_ERROR (no connection, or the daemon failed the request or
// did not answer it in time), USB_DEVICE_BYTE_COUNT_ERROR (a reply without
// its echo and status bytes), USB_DEVICE_RESPONSE_ERROR (the echo is not the
// command byte), and the board's own status byte (1 to 21) when it is not 0.
// "Channel C, 0xNN" below names the channel and command byte of the
// exchange an operation makes.
//
// Pointers. A null pointer an operation needs (a record, an out-parameter, a
// buffer with a non-zero length) fails it with
// USB_MESSAGE_PARAMETER_OUT_OF_RANGE before anything is sent or changed; a
// null buffer with a length of 0 is allowed wherever a length of 0 is.
// SetTimeoutMessage keeps its own code for a null message (below).
//
// Sharing a board. Any number of processes may use one board at once. What
// must look the same to all of them (the last output images, the EEPROM
// geometry, the timestamped receive buffer) lives in the shared memory
// object K27SharedMemory, guarded by the named locks K27Mutex_SEM_0 to _5 (in
// /dev/shm). They are for the board group only, as the daemon's sockets
// are: created 0660 and owned by the group of the device folder, else by the
// group vantrel, else by the creator's own group.
#pragma once

#include <vantrel/VantrelTypes.h>

namespace vantrel {
struct BoardContext;
}  // namespace vantrel

// Marks what the library exports; everything else in it stays hidden.
#if defined(__GNUC__)
#define VANTRELUSB_EXPORT __attribute__((visibility("default")))
#else
#define VANTRELUSB_EXPORT
#endif

class VANTRELUSB_EXPORT VantrelUSB {
 public:
  // A new object with a context of its own: not connected, board slot 0,
  // no error.
  VantrelUSB();
  // Frees the context once no other object shares it. Any connection the
  // context still holds is released with it.
  ~VantrelUSB();
  // Both objects share one context (one connection, one error code) afterwards.
  VantrelUSB(const VantrelUSB& other);
  // Takes `other`'s context; the one this object had is freed (with its
  // connection) once no other object shares it.
  VantrelUSB& operator=(const VantrelUSB& other);

  // Connects to board `deviceIndex`, downloads the application image when the
  // board has none, probes and configures the EEPROM.
  // The boards are for the members of the daemon's group (vantrel unless it
  // runs with --group): a user outside it gets 0 here, with no error code, and
  // a line on standard error that says so. Join it with
  //   sudo usermod -aG vantrel $USER
  // and log in again. The same holds when the shared records and locks
  // cannot be opened (see above): nothing is connected without them.
  // Only one process downloads the image into a board that has none; others
  // connecting at the same moment wait for it. The EEPROM probe and the
  // configuration of what it found run as one unit under the EEPROM lock.
  // Clears the error code first. An index outside 0-15 fails with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE before anything is opened; a board
  // that is not there (or is leaving) gives 0 with no error code. A
  // connection the daemon refuses (its limit of connections per board or per
  // user reached, no room for another connection, or the library's requests
  // denied) fails with USB_DEVICE_READ_ERROR, and one line on standard error
  // names the board, the reason and the limit. The index becomes this
  // object's board slot in the shared records, and the new connection
  // replaces any the object held.
  int init(int deviceIndex);
  // Releases the connection: every later exchange fails with
  // USB_DEVICE_WRITE_ERROR until init connects again. 1 when nothing was
  // ever opened or the connection was open, 0 when it was released before.
  int close();
  // The code of the last failure (USB_MESSAGE_EXECUTION_SUCCESS when none);
  // reading it does not clear it.
  usbErrorCode GetLastError();
  // Sets the error code back to USB_MESSAGE_EXECUTION_SUCCESS; always 1.
  int ClearErrors();

  // Versions. GetDllVersion and GetProductVersion write a zero-terminated text.
  // Get8051Version, GetPICVersion and GetPICSerialNumber copy the whole reply
  // data (at most 62 bytes) and add no terminating zero: size the buffer for it.
  // The library's version, "35" (three bytes with the zero); always 1, no
  // exchange.
  int GetDllVersion(unsigned char* text);
  // The product version, "28" (three bytes with the zero); always 1, no
  // exchange.
  int GetProductVersion(unsigned char* text);
  // The board firmware's version text (channel 2, 0x06).
  int Get8051Version(unsigned char* text);
  // The PIC firmware's version text (channel 5, 0x2C).
  int GetPICVersion(unsigned char* text);
  // The board's serial number as the PIC holds it (channel 5, 0x3F).
  int GetPICSerialNumber(unsigned char* serial);
  // Gives the PIC the 8 bytes at `serial` as the board's serial number
  // (channel 5, 0x41).
  int SetPICSerialNumber(unsigned char* serial);  // 8 bytes

  // EEPROM and SRAM. Public EEPROM transfers must start at address 8 or above
  // and end at or below the configured last address; otherwise they fail with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE and nothing is sent.
  // Stores `geometry` as this board slot's shared copy, marked configured,
  // and sends it to the board (channel 2, 0x03), under the EEPROM lock. The
  // copy stays changed when the exchange fails.
  int ConfigureEEPROM(K27EEPROM* geometry);
  // Probes the part's capacity and returns its geometry, holding the EEPROM
  // lock throughout. The board is left configured as before the probe: the
  // geometry that this board slot holds (use ConfigureEEPROM to change it).
  // A failed probe reports its exchange's error. When the board cannot be
  // given the slot's geometry back, the slot is marked unconfigured and
  // every public EEPROM transfer fails until the board is connected again.
  // A process that dies in the probe or in ConfigureEEPROM may leave the
  // board with another geometry than the slot's: the next EEPROM operation
  // on the slot, in any process, gives the board the slot's geometry back
  // first (or, when that fails, marks the slot unconfigured; a read or
  // write then fails with that exchange's error).
  int CheckEEPROM(K27EEPROM* geometry);
  // Reads `length` bytes from `address` in exchanges of at most 62 bytes
  // (channel 2, 0x05), under the EEPROM lock. The range must satisfy
  // address >= 8 and address + length <= the slot's last address, so the
  // part's last byte is out of reach; a reply without data fails with
  // USB_DEVICE_BYTE_COUNT_ERROR.
  int ReadEEPROM(unsigned short address, unsigned char* buffer, std::uint32_t length);
  // Writes `length` bytes at `address` in exchanges of at most 60 bytes
  // (channel 2, 0x04), under the EEPROM lock; the range as for ReadEEPROM.
  int WriteEEPROM(unsigned short address, unsigned char* data, std::uint32_t length);
  // Reads the 64 KiB SRAM in exchanges of at most 62 bytes (channel 6,
  // 0x46); addresses wrap round at 65,536. A length above 65,536 fails with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE and a reply without data with
  // USB_DEVICE_BYTE_COUNT_ERROR.
  int ReadSRAM(unsigned short address, unsigned char* buffer, std::uint32_t length);
  // Writes the SRAM in exchanges of at most 60 bytes (channel 6, 0x47);
  // addresses wrap round at 65,536, and a length above 65,536 fails with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE.
  int WriteSRAM(unsigned short address, unsigned char* data, std::uint32_t length);

  // ---- Inputs, pulse counting and hoppers (channel 1) ----
  // Connects to the first of devices 0-7 whose dip switches 0-2 read `address`;
  // addresses of 16 or more fail with USB_MESSAGE_PARAMETER_OUT_OF_RANGE.
  // The board found takes its own device index as its board slot (as init
  // would); every device tried and not taken is closed again. Without a
  // match the slot stays what it was. Returns 0 when no device matches,
  // with the error code of the last failure met on the way, if any.
  int InitUSBBoard(unsigned char address);
  // The input snapshot (channel 1, 0x4B).
  // Copies the whole reply data (at most 62 bytes) without a bound; a reply
  // shorter than the five-byte snapshot fails and copies nothing.
  int GetInputs(unsigned char* inputs);
  // The five bytes of the input snapshot (channel 1, 0x4B).
  int GetInputs(usbInput* inputs);
  // The five bytes of the board's changed-inputs snapshot (channel 1, 0x51);
  // which changes it reports is the board's.
  int GetChangedInputs(usbInput* inputs);
  // The five bytes of the board's raw-inputs snapshot (channel 1, 0x52).
  int GetRawInputs(usbInput* inputs);
  // One bit of the input snapshot, read with GetInputs. Bits 0-32; 32 is
  // bit 0 of the fifth byte. Writes 1 when the bit is set, else 0. Another
  // bit fails with USB_MESSAGE_PARAMETER_OUT_OF_RANGE and sends nothing.
  int GetInputBit(_usbInputBitId bit, int* value);
  // Switches input multiplexing on (USB_INPUT_MULTIPLEXING_ON sends 1) or
  // off (any other value sends 0) (channel 1, 0x72).
  int InputMultiplexing(usbInputMultiplexing mode);
  // The 13 bytes of the multiplexed inputs (channel 1, 0x73).
  int GetMultiplexedInputs(usbMultiplexedInput* inputs);
  // Configures the pulse counter of `input`: input, setting and level, one
  // byte each (channel 1, 0x6B).
  int ConfigurePulsedInput(_usbInputBitId input, unsigned char setting, ActiveState level);
  // Switches the pulse check of `input` on (channel 1, 0x6C with 1).
  int BeginPulsedInputCheck(_usbInputBitId input);
  // Switches the pulse check of `input` off (channel 1, 0x6C with 0).
  int EndPulsedInputCheck(_usbInputBitId input);
  // Resets the pulse counter of `input` (channel 1, 0x6D).
  int ResetPulsedInputCounter(_usbInputBitId input);
  // Decrements the pulse counter of `input` (channel 1, 0x6E).
  int DecrementPulsedInputCounter(_usbInputBitId input);
  // Reads the pulse counter of `input` into `counter` (channel 1, 0x6F).
  int ReadPulsedInputCounter(_usbInputBitId input, unsigned char* counter);
  // Starts a parallel hopper payout of `coins` coins, which the board then
  // runs by itself: coin input, setting A, level, output, coins high
  // byte first, setting B (channel 1, 0x70).
  int ReleaseParallelHopperCoins(_usbInputBitId input, unsigned char settingA, ActiveState level,
                                 _usbOutputBitId output, unsigned short coins,
                                 unsigned char settingB);
  // The payout state of the hopper on coin input `input` (the board's first
  // reply byte) and its second reply byte (channel 1, 0x71).
  int GetParallelHopperStatus(_usbInputBitId input, ReleaseHopperCoinsStatus* status,
                              unsigned char* second);

  // ---- Outputs and lamps (channel 1) ----
  // The last image sent for each period is kept per board slot and shared by
  // every process; the bit forms change that copy and send it whole. A
  // copy keeps what was sent whether the board took it or not.
  // Writes `image` into the shared on-period copy and sends it (channel 1,
  // 0x53), under lock 1.
  int SetOnPeriodOutputs(usbOutput image);
  // Writes `image` into the shared off-period copy and sends it (channel 1,
  // 0x54), under lock 2.
  int SetOffPeriodOutputs(usbOutput image);
  // Sets (`on` non-zero) or clears bit `bit` of byte `byte` in the shared
  // on-period copy and sends the copy as SetOnPeriodOutputs does. A byte
  // outside 0-4 fails with USB_MESSAGE_PARAMETER_OUT_OF_RANGE and sends
  // nothing; a bit outside 0-7 changes nothing but the copy is still sent.
  int SetOnPeriodOutputBit(_usbOutputId byte, int bit, int on);
  // The same for the off-period copy, sent as SetOffPeriodOutputs does.
  int SetOffPeriodOutputBit(_usbOutputId byte, int bit, int on);
  // Sets the onMask bits and clears the offMask bits in both periods (a bit
  // in both masks ends up cleared): both shared copies change under locks 1
  // and 2, and the board gets the on mask, then the off mask (channel 1,
  // 0x4D).
  int ModifyOutputs(usbOutput* offMask, usbOutput* onMask);
  // Switches on the outputs whose bits are set in the five bytes of `image`
  // and every other output off, in both periods, through ModifyOutputs.
  int SetOutputs(unsigned char* image);
  // Switches output 0-37 (0-31 lamps, 32-37 auxiliary outputs 0-5) on or off
  // in both periods through ModifyOutputs. Another number fails with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE and sends nothing.
  int SetOutputBit(_usbOutputBitId output, int on);
  // Sends the brightness level unchanged (channel 1, 0x55).
  int SetOutputBrightness(unsigned char level);
  // An output pulse: sends `second`, then `first` (channel 1, 0x4E); what
  // the two bytes mean is the board firmware's.
  int PulseOutput(unsigned char first, unsigned char second);
  // The same with the output pulsed off (channel 1, 0x4F).
  int PulseOffOutput(unsigned char first, unsigned char second);
  // The pulse result: reply bytes 0, 1 and 2 into `first`, `second` and
  // `third` (channel 1, 0x50); fewer than three fail.
  int PulseOutputResult(unsigned char* first, int* second, int* third);

  // ---- Reels (channel 1) ----
  // Reels are numbered 0-2. The board checks reel numbers, busy reels and
  // step counts itself and answers with the reel codes 16-21.
  // Configures the reels: `first` (the number of reels), `second` (the
  // half-steps of one turn, sent high byte first) and `third`, whose meaning
  // is the board's (channel 1, 0x56).
  int ConfigureReelsEx(unsigned char first, unsigned short second, unsigned char third);
  // ConfigureReelsEx with an 8-bit `second`.
  int ConfigureReels(unsigned char first, unsigned char second, unsigned char third);
  // Spins `reel` by `steps` steps (high byte first) in `direction`, whose
  // values are the board's (channel 1, 0x57).
  int SpinReels(unsigned char reel, unsigned char direction, unsigned short steps);
  // Loads the ramp-up table of `reel`: the reel, the count and `count` step
  // entries (channel 1, 0x58).
  // Tables of up to 61 entries are sent whole; a longer count fails with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE and nothing is sent.
  int SpinRampUp(unsigned char reel, usbRampTable table);
  // Loads the ramp-down table of `reel` (channel 1, 0x59), with the same
  // limit as SpinRampUp.
  int SpinRampDown(unsigned char reel, usbRampTable table);
  // Sends the three bytes unchanged (channel 1, 0x5A).
  int SetDutyCycle(unsigned char first, unsigned char second, unsigned char third);
  // Enables the synchronisation of `reel` (channel 1, 0x5B); the reel
  // status shows its state in `sync`.
  int ReelSynchroniseEnable(unsigned char reel);
  // Position, error (16-bit, sent high byte first), busy and sync of the
  // three reels (channel 1, 0x5C); fewer than 18 reply bytes fail.
  int GetReelStatusEx(ReelStatusEx* status);
  // GetReelStatusEx cut to the low bytes of position and error.
  int GetReelStatus(usbReelStatus* status);

  // ---- Serial ports (channels 3 and 4) ----
  // Every one of these fails with USB_MESSAGE_ILLEGAL_PORT, and sends nothing,
  // for a port other than A or B. Port A is channel 3, port B channel 4.
  // Sets the port's mode `type`, parity (even or odd when fParity is set,
  // else none), RTS control, CTS flow control and baud rate (channel 3/4,
  // 0x61). A mode outside 0-3 fails with USB_MESSAGE_ILLEGAL_PORT, a rate
  // the port does not offer with USB_MESSAGE_ILLEGAL_BAUD_RATE (port A:
  // 1200-62500, port B: 110-62500).
  int SetConfig(_usbSerialPort port, _DCB* settings, _usbPortType type);
  // Sends `length` bytes in exchanges of at most 63 (channel 3/4, 0x62);
  // a length of 0 sends nothing and succeeds.
  int Send(_usbSerialPort port, unsigned char* data, std::uint32_t length);
  // Fetches received bytes (channel 3/4, 0x63) into `buffer` and their count
  // into `*length`.
  // Appends what the board delivers until a reply brings nothing, at most
  // VANTREL_RECEIVE_LIMIT bytes: size the buffer for that.
  int Receive(_usbSerialPort port, unsigned char* buffer, unsigned long* length);
  // Hands out the board's timestamped bytes one at a time from a buffer kept
  // per board slot and shared by every process: a byte with its time
  // (*hasByte 1), or a time alone (*hasByte 0) when one value is left. A reply
  // without any value fails with USB_DEVICE_BYTE_COUNT_ERROR.
  // The buffer belongs to the board, not to a port: bytes fetched through
  // one port are handed out to the next callers whatever port they name, and
  // only an empty buffer makes a new request, on the caller's port. Drain one
  // port before reading the other. The request is channel 3/4, 0x66, made
  // under lock 4.
  int ReceiveByteWithTimestamp(_usbSerialPort port, unsigned char* byte, unsigned char* time,
                               int* hasByte);
  // Sets the port's time-out message and its time, `seconds` from 0 to 7.65
  // sent in 30 ms units (channel 3/4, 0x65). A length above 60 or no message fails with
  // USB_DEVICE_BYTE_COUNT_ERROR, a time outside the range with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE.
  int SetTimeoutMessage(_usbSerialPort port, unsigned char* message, unsigned char length,
                        float seconds);
  // The port's parity-error count, sent high byte first (channel 3/4, 0x64).
  int GetParityErrors(_usbSerialPort port, unsigned short* count);
  // Messages longer than 25 bytes (lengths counted in full, never wrapped
  // round at 256), a slot above 3, option2 above 4, a mode
  // outside 0-3, a negative pollTime or (RS-232 form) a lengthOffset of 25 or
  // more fail with USB_MESSAGE_PARAMETER_OUT_OF_RANGE. A pollTime above 2,550
  // is clamped and written back.
  // Stores a slot's two polled messages, each as long as its data-count
  // byte plus 5, with the poll time in 10 ms units (channel 3/4, 0x67).
  int ConfigureCCTalkPort(_usbSerialPort port, CCTalkConfig* config);
  // The same for an RS-232 port: each message as long as its byte at
  // `lengthOffset` plus `lengthAdjust` (channel 3/4, 0x67).
  int ConfigureRS232Poll(_usbSerialPort port, RS232PollConfig* config);
  // Empties the polled-message buffer of `slot` (channel 3/4, 0x68).
  int EmptyPolledBuffer(_usbSerialPort port, unsigned char slot);
  // Fetches the answers kept for `slot` (channel 3/4, 0x69): the first reply
  // byte into `*status`, the message bytes into `buffer` and their count
  // into `*length`.
  // Appends message bytes while the board flags more, at most
  // VANTREL_RECEIVE_LIMIT bytes. A reply of only the status byte ends the
  // message; an empty one fails with USB_DEVICE_BYTE_COUNT_ERROR.
  int ReceivePolledMessage(_usbSerialPort port, unsigned char slot, unsigned char* buffer,
                           unsigned long* length, int* status);
  // Deletes the polled messages of `slot` (channel 3/4, 0x6A).
  int DeletePolledMessage(_usbSerialPort port, unsigned char slot);

  // ---- Clock, security switches, random numbers (channel 5) ----
  // Values travel little-endian; out-parameters are written only on success,
  // and a reply shorter than what they need fails.
  // Sets the board's clock to the low 32 bits of `value` (channel 5, 0x14).
  int SetClock(unsigned long value);
  // The board's clock value (channel 5, 0x15).
  int GetClock(unsigned long* value);
  // Starts a pass over the board's security switch records (channel 5, 0x28).
  int StartSecuritySwitchRead();
  // The next security switch record: its 32-bit time and its state byte
  // (channel 5, 0x29).
  int NextSecuritySwitchRead(unsigned long* time, unsigned char* state);
  // Clears the board's security switches (channel 5, 0x2A).
  int ClearSecuritySwitches();
  // The two security flag bytes as the board returns them, which it then
  // resets (channel 5, 0x40).
  int ReadAndResetSecuritySwitchFlags(unsigned char* first, unsigned char* second);
  // The same through the board's cached form of the command (channel 5, 0x43).
  int CachedReadAndResetSecuritySwitchFlags(unsigned char* first, unsigned char* second);
  // Starts the random number generator with the low 32 bits of `value`
  // (channel 5, 0x45).
  int EnableRandomNumberGenerator(unsigned long value);
  // Stops the random number generator (channel 5, 0x46).
  int DisableRandomNumberGenerator();
  // A 16-bit random number (channel 5, 0x44).
  int GetRandomNumber(unsigned short* number);

  // ---- SPI and SEC (channel 7) ----
  // Switches the SPI link on (channel 7, 0x5E).
  int EnableSPI();
  // Switches the SPI link off (channel 7, 0x5F).
  int DisableSPI();
  // One SPI transfer (channel 7, 0x60): the bit counts, `option` and the
  // bytes that hold `sendBits` bits; the reply data is copied to `received`.
  // `received` must hold 62 bytes; it may be null when `receiveBits` is 0,
  // and any data that comes back is then dropped.
  int SendSPI(unsigned char sendBits, unsigned char* sendData, unsigned char option,
              unsigned char receiveBits, unsigned char* received);
  // One SEC frame sent through SendSPI: `first`, `second`, `count`, the
  // `count` data bytes and a checksum byte (their sum modulo 256), asking for
  // (replyCount + 4) x 8 bits back into `received`.
  // Counts above 27 do not fit the one-byte bit count of a frame and fail with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE.
  int SendSEC(unsigned char first, unsigned char second, unsigned char count, unsigned char* data,
              unsigned char option, unsigned char replyCount, unsigned char* received);

 private:
  int InitPort(int deviceIndex);
  int PerformUSBIO(unsigned char command, int channel, unsigned char* payload,
                   unsigned long payloadLength, unsigned char* reply, unsigned long* replyLength);
  int Download8051Software();
  int UncheckedReadEEPROM(unsigned short address, unsigned char* buffer, std::uint32_t length);

  vantrel::BoardContext* context_;
};
