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
// Sharing a board. Any number of processes may use one board at once. What
// must look the same to all of them (the last output images, the EEPROM
// geometry, the timestamped receive buffer) lives in the shared memory
// object K27SharedMemory, guarded by the named locks K27Mutex_SEM_0 to _5 (in
// /dev/shm). They are for the board group only, as the daemon's sockets
// are: created 0660 and owned by the group of the device folder, else by the
// group vantrel, else by the creator's own group.
#pragma once

#include <vantrel/VantrelTypes.h>

struct BoardContext;

// Marks what the library exports; everything else in it stays hidden.
#if defined(__GNUC__)
#define VANTRELUSB_EXPORT __attribute__((visibility("default")))
#else
#define VANTRELUSB_EXPORT
#endif

class VANTRELUSB_EXPORT VantrelUSB {
 public:
  VantrelUSB();
  // Frees the context once no other object shares it. Any connection the
  // context still holds is released with it.
  ~VantrelUSB();
  // Both objects share one context (one connection, one error code) afterwards.
  VantrelUSB(const VantrelUSB& other);
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
  int init(int deviceIndex);
  // 1 when nothing was ever opened, else the result of closing the connection.
  int close();
  usbErrorCode GetLastError();
  int ClearErrors();

  // Versions. GetDllVersion and GetProductVersion write a zero-terminated text.
  // Get8051Version, GetPICVersion and GetPICSerialNumber copy the whole reply
  // data (at most 62 bytes) and add no terminating zero: size the buffer for it.
  int GetDllVersion(unsigned char* text);
  int GetProductVersion(unsigned char* text);
  int Get8051Version(unsigned char* text);
  int GetPICVersion(unsigned char* text);
  int GetPICSerialNumber(unsigned char* serial);
  int SetPICSerialNumber(unsigned char* serial);  // 8 bytes

  // EEPROM and SRAM. Public EEPROM transfers must start at address 8 or above
  // and end at or below the configured last address; otherwise they fail with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE and nothing is sent.
  int ConfigureEEPROM(K27EEPROM* geometry);
  // Probes the part's capacity and returns its geometry, holding the EEPROM
  // lock throughout. The board is left configured as before the probe: the
  // geometry that this board slot holds (use ConfigureEEPROM to change it).
  int CheckEEPROM(K27EEPROM* geometry);
  int ReadEEPROM(unsigned short address, unsigned char* buffer, std::uint32_t length);
  int WriteEEPROM(unsigned short address, unsigned char* data, std::uint32_t length);
  int ReadSRAM(unsigned short address, unsigned char* buffer, std::uint32_t length);
  int WriteSRAM(unsigned short address, unsigned char* data, std::uint32_t length);

  // ---- Inputs, pulse counting and hoppers (channel 1) ----
  // Connects to the first of devices 0-7 whose dip switches 0-2 read `address`;
  // addresses of 16 or more fail with USB_MESSAGE_PARAMETER_OUT_OF_RANGE.
  // The board found takes its own device index as its board slot (as init
  // would); every device tried and not taken is closed again. Without a
  // match the slot stays what it was.
  int InitUSBBoard(unsigned char address);
  // Copies the whole reply data (at most 62 bytes) without a bound; a reply
  // shorter than the five-byte snapshot fails and copies nothing.
  int GetInputs(unsigned char* inputs);
  int GetInputs(usbInput* inputs);
  int GetChangedInputs(usbInput* inputs);
  int GetRawInputs(usbInput* inputs);
  // Bits 0-32; 32 is bit 0 of the fifth byte. Writes 1 when the bit is set.
  int GetInputBit(_usbInputBitId bit, int* value);
  int InputMultiplexing(usbInputMultiplexing mode);
  int GetMultiplexedInputs(usbMultiplexedInput* inputs);
  int ConfigurePulsedInput(_usbInputBitId input, unsigned char setting, ActiveState level);
  int BeginPulsedInputCheck(_usbInputBitId input);
  int EndPulsedInputCheck(_usbInputBitId input);
  int ResetPulsedInputCounter(_usbInputBitId input);
  int DecrementPulsedInputCounter(_usbInputBitId input);
  int ReadPulsedInputCounter(_usbInputBitId input, unsigned char* counter);
  int ReleaseParallelHopperCoins(_usbInputBitId input, unsigned char settingA, ActiveState level,
                                 _usbOutputBitId output, unsigned short coins,
                                 unsigned char settingB);
  int GetParallelHopperStatus(_usbInputBitId input, ReleaseHopperCoinsStatus* status,
                              unsigned char* second);

  // ---- Outputs and lamps (channel 1) ----
  // The last image sent for each period is kept per board slot and shared by
  // every process; the bit forms change that copy and send it whole.
  int SetOnPeriodOutputs(usbOutput image);
  int SetOffPeriodOutputs(usbOutput image);
  int SetOnPeriodOutputBit(_usbOutputId byte, int bit, int on);
  int SetOffPeriodOutputBit(_usbOutputId byte, int bit, int on);
  // Sets the onMask bits and clears the offMask bits in both periods.
  int ModifyOutputs(usbOutput* offMask, usbOutput* onMask);
  int SetOutputs(unsigned char* image);
  int SetOutputBit(_usbOutputBitId output, int on);
  int SetOutputBrightness(unsigned char level);
  int PulseOutput(unsigned char first, unsigned char second);
  int PulseOffOutput(unsigned char first, unsigned char second);
  int PulseOutputResult(unsigned char* first, int* second, int* third);

  // ---- Reels (channel 1) ----
  int ConfigureReelsEx(unsigned char first, unsigned short second, unsigned char third);
  int ConfigureReels(unsigned char first, unsigned char second, unsigned char third);
  int SpinReels(unsigned char reel, unsigned char direction, unsigned short steps);
  // Tables of up to 61 entries are sent whole; a longer count fails with
  // USB_MESSAGE_PARAMETER_OUT_OF_RANGE and nothing is sent.
  int SpinRampUp(unsigned char reel, usbRampTable table);
  int SpinRampDown(unsigned char reel, usbRampTable table);
  int SetDutyCycle(unsigned char first, unsigned char second, unsigned char third);
  int ReelSynchroniseEnable(unsigned char reel);
  int GetReelStatusEx(ReelStatusEx* status);
  int GetReelStatus(usbReelStatus* status);

  // ---- Serial ports (channels 3 and 4) ----
  // Every one of these fails with USB_MESSAGE_ILLEGAL_PORT, and sends nothing,
  // for a port other than A or B.
  int SetConfig(_usbSerialPort port, _DCB* settings, _usbPortType type);
  int Send(_usbSerialPort port, unsigned char* data, std::uint32_t length);
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
  // port before reading the other.
  int ReceiveByteWithTimestamp(_usbSerialPort port, unsigned char* byte, unsigned char* time,
                               int* hasByte);
  int SetTimeoutMessage(_usbSerialPort port, unsigned char* message, unsigned char length,
                        float seconds);
  int GetParityErrors(_usbSerialPort port, unsigned short* count);
  // Messages longer than 25 bytes, a slot above 3, option2 above 4, a mode
  // outside 0-3, a negative pollTime or (RS-232 form) a lengthOffset of 25 or
  // more fail with USB_MESSAGE_PARAMETER_OUT_OF_RANGE. A pollTime above 2,550
  // is clamped and written back.
  int ConfigureCCTalkPort(_usbSerialPort port, CCTalkConfig* config);
  int ConfigureRS232Poll(_usbSerialPort port, RS232PollConfig* config);
  int EmptyPolledBuffer(_usbSerialPort port, unsigned char slot);
  // Appends message bytes while the board flags more, at most
  // VANTREL_RECEIVE_LIMIT bytes. A reply of only the status byte ends the
  // message; an empty one fails with USB_DEVICE_BYTE_COUNT_ERROR.
  int ReceivePolledMessage(_usbSerialPort port, unsigned char slot, unsigned char* buffer,
                           unsigned long* length, int* status);
  int DeletePolledMessage(_usbSerialPort port, unsigned char slot);

  // ---- Clock, security switches, random numbers (channel 5) ----
  int SetClock(unsigned long value);
  int GetClock(unsigned long* value);
  int StartSecuritySwitchRead();
  int NextSecuritySwitchRead(unsigned long* time, unsigned char* state);
  int ClearSecuritySwitches();
  int ReadAndResetSecuritySwitchFlags(unsigned char* first, unsigned char* second);
  int CachedReadAndResetSecuritySwitchFlags(unsigned char* first, unsigned char* second);
  int EnableRandomNumberGenerator(unsigned long value);
  int DisableRandomNumberGenerator();
  int GetRandomNumber(unsigned short* number);

  // ---- SPI and SEC (channel 7) ----
  int EnableSPI();
  int DisableSPI();
  // `received` must hold 62 bytes.
  int SendSPI(unsigned char sendBits, unsigned char* sendData, unsigned char option,
              unsigned char receiveBits, unsigned char* received);
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

  BoardContext* context_;
};
