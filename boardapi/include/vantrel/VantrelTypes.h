// Types passed through the VantrelUSB interface.
#pragma once

#include <cstdint>

// The cause of a failed board operation: either the board's status byte or a
// check made by the library itself.
enum _usbErrorCode : std::int32_t {
  USB_MESSAGE_EXECUTION_SUCCESS = 0,
  USB_MESSAGE_NOT_RECOGNISED = 1,
  USB_MESSAGE_LENGTH_ERROR = 2,
  USB_MESSAGE_EXECUTION_FAILURE = 3,
  USB_DEVICE_WRITE_ERROR = 4,
  USB_DEVICE_READ_ERROR = 5,
  USB_DEVICE_RESPONSE_ERROR = 6,
  USB_DEVICE_BYTE_COUNT_ERROR = 7,
  USB_MESSAGE_PARAMETER_OUT_OF_RANGE = 8,
  USB_MESSAGE_UNKNOWN_HANDSHAKE_MODE = 9,
  USB_MESSAGE_ILLEGAL_BAUD_RATE = 10,
  USB_MESSAGE_ILLEGAL_PORT = 11,
  USB_MESSAGE_I2C_NACK = 12,
  USB_MESSAGE_I2C_ERROR = 13,
  USB_MESSAGE_EXECUTION_TIMEOUT = 14,
  USB_MESSAGE_SRAM_ADDRESSING_ERROR = 15,
  USB_MESSAGE_REEL_NUMBER_ERROR = 16,
  USB_MESSAGE_REEL_BUSY = 17,
  USB_MESSAGE_SPIN_TABLE_LENGTH_ERROR = 18,
  USB_MESSAGE_TOO_FEW_REEL_STEPS = 19,
  USB_MESSAGE_REEL_STATUS_LENGTH_ERROR = 20,
  USB_MESSAGE_SYNC_REQUEST_LENGTH_ERROR = 21,
};
typedef _usbErrorCode usbErrorCode;

// A channel is one pair of the board's bulk endpoints; each has its own command bytes.
enum usbChannel : std::int32_t {
  USB_CHANNEL_IO = 1,
  USB_CHANNEL_EEPROM = 2,
  USB_CHANNEL_PORT_A = 3,
  USB_CHANNEL_PORT_B = 4,
  USB_CHANNEL_PIC = 5,
  USB_CHANNEL_MEMORY = 6,
  USB_CHANNEL_SPI = 7,
};

// EEPROM geometry: six bytes with the trailing alignment byte.
struct K27EEPROM {
  unsigned char pageSize;       // write page of the device, in bytes
  unsigned char addressBytes;   // 1 or 2
  unsigned short lastAddress;   // capacity - 1, little-endian in memory
  unsigned char deviceAddress;  // 7-bit bus address
};
static_assert(sizeof(K27EEPROM) == 6, "K27EEPROM is six bytes on the wire and in shared memory");

// ---- Inputs -----------------------------------------------------------------

// Input snapshot as the board sends it: switch inputs 0-23 in bytes 0-2 (input n
// in bit n mod 8 of byte n / 8), dip switches 0-7 in byte 3 (switches 0-2 are the
// board's address), and a fifth byte passed through.
struct usbInput {
  unsigned char input[5];
};

// An input bit counted over the snapshot (0-32); sent to the board as one byte.
enum _usbInputBitId : std::int32_t {
  USB_INPUT_BIT_FIRST = 0,
  USB_INPUT_BIT_LAST = 32,
};

// Input multiplexing: 1 switches it on, any other value off.
enum usbInputMultiplexing : std::int32_t {
  USB_INPUT_MULTIPLEXING_OFF = 0,
  USB_INPUT_MULTIPLEXING_ON = 1,
};

// One byte, then four groups of three bytes, as the board sends them.
struct usbMultiplexedInput {
  unsigned char first;
  unsigned char group[4][3];
};
static_assert(sizeof(usbMultiplexedInput) == 13);

// Active level of a pulsed input or a hopper's input; sent as its low byte.
enum ActiveState : std::int32_t {
  ACTIVE_LOW = 0,
  ACTIVE_HIGH = 1,
};

// A parallel hopper payout's state, the board's byte zero-extended.
enum ReleaseHopperCoinsStatus : std::int32_t {
  HOPPER_STATUS_IDLE = 0,
};

// ---- Outputs ----------------------------------------------------------------

// Output image: lamps 0-31 in bytes 0-3 (lamp n in bit n mod 8 of byte n / 8),
// auxiliary outputs 0-5 in bits 0-5 of byte 4. A set bit switches the output on.
struct usbOutput {
  unsigned char output[5];
};

// An output number 0-37: 0-31 lamps, 32-37 auxiliary outputs 0-5.
enum _usbOutputBitId : std::int32_t {
  USB_OUTPUT_BIT_FIRST = 0,
  USB_OUTPUT_BIT_LAST = 37,
};

// A byte index 0-4 of an output image.
enum _usbOutputId : std::int32_t {
  USB_OUTPUT_LAMPS_0 = 0,
  USB_OUTPUT_LAMPS_1 = 1,
  USB_OUTPUT_LAMPS_2 = 2,
  USB_OUTPUT_LAMPS_3 = 3,
  USB_OUTPUT_AUX = 4,
};

// ---- Reels ------------------------------------------------------------------

// A ramp table: `count` step entries, sent unchanged.
struct usbRampTable {
  unsigned char count;
  unsigned char steps[63];
};
static_assert(sizeof(usbRampTable) == 64);

struct ReelStatusEx {
  unsigned short position[3];
  unsigned short error[3];
  unsigned char busy[3];
  unsigned char sync[3];
};
static_assert(sizeof(ReelStatusEx) == 18);

// The short form: the low bytes of position and error.
struct usbReelStatus {
  unsigned char position[3];
  unsigned char error[3];
  unsigned char busy[3];
  unsigned char sync[3];
};
static_assert(sizeof(usbReelStatus) == 12);

// ---- Serial ports -----------------------------------------------------------

// Receive and ReceivePolledMessage never write more than this many bytes into
// the caller's buffer; what the board still holds stays there for the next call.
constexpr unsigned long VANTREL_RECEIVE_LIMIT = 4096;

enum _usbSerialPort : std::int32_t {
  USB_SERIAL_PORT_A = 0,
  USB_SERIAL_PORT_B = 1,
};

// The port's mode (0-3), sent as byte 0 of the line configuration.
enum _usbPortType : std::int32_t {
  USB_PORT_TYPE_RS232 = 0,
  USB_PORT_TYPE_1 = 1,
  USB_PORT_TYPE_CCTALK = 2,
  USB_PORT_TYPE_3 = 3,
};

// The serial device control record with the Windows field layout. SetConfig
// reads BaudRate, fParity, fOutxCtsFlow, fRtsControl and Parity.
struct _DCB {
  std::uint32_t DCBlength;
  std::uint32_t BaudRate;
  std::uint32_t fBinary : 1;
  std::uint32_t fParity : 1;
  std::uint32_t fOutxCtsFlow : 1;
  std::uint32_t fOutxDsrFlow : 1;
  std::uint32_t fDtrControl : 2;
  std::uint32_t fDsrSensitivity : 1;
  std::uint32_t fTXContinueOnXoff : 1;
  std::uint32_t fOutX : 1;
  std::uint32_t fInX : 1;
  std::uint32_t fErrorChar : 1;
  std::uint32_t fNull : 1;
  std::uint32_t fRtsControl : 2;  // 0 disable, 1 enable, 2 handshake, 3 toggle
  std::uint32_t fAbortOnError : 1;
  std::uint32_t fDummy2 : 17;
  std::uint16_t wReserved;
  std::uint16_t XonLim;
  std::uint16_t XoffLim;
  std::uint8_t ByteSize;
  std::uint8_t Parity;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  std::uint16_t wReserved1;
};
typedef _DCB DCB;
static_assert(sizeof(_DCB) == 28);

// Polled messages on a ccTalk port: two stored frames whose length is their
// data-count byte plus 5. The option bytes are named by the request byte they
// go to.
struct CCTalkConfig {
  unsigned char slot;     // 0-3
  std::int32_t mode;      // 0-3
  unsigned char option2;  // 0-4
  unsigned char option10;
  std::int32_t pollTime;  // clamped to at most 2,550; sent / 10
  unsigned char option8;
  unsigned char option7;
  unsigned char option9;
  unsigned char firstMessage[25];
  unsigned char secondMessage[25];
};
static_assert(sizeof(CCTalkConfig) == 72);

// Polled messages on an RS-232 port: each message's length is its byte at
// `lengthOffset` plus `lengthAdjust`.
struct RS232PollConfig {
  unsigned char slot;
  std::int32_t mode;
  unsigned char option2;
  unsigned char option10;
  std::int32_t pollTime;
  unsigned char framing;
  unsigned char lengthOffset;
  unsigned char lengthAdjust;
  unsigned char reserved;
  unsigned char option8;
  unsigned char option7;
  unsigned char option9;
  unsigned char firstMessage[25];
  unsigned char secondMessage[25];
};
static_assert(sizeof(RS232PollConfig) == 76);
