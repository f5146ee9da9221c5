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
