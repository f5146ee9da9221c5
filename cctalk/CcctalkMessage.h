// One ccTalk frame as raw bytes, and the three bus exchanges the ccTalk page
// runs on a board serial port configured for ccTalk: send a frame and check
// its local echo, receive a frame under a time limit, drain stray bytes.
//
// Frame: destination, data count, source, header, data (count bytes),
// checksum; the checksum makes all bytes of the frame sum to 0 modulo 256, so
// a frame is count + 5 bytes long, 5 to 260.
//
// Every failure appends a readable text to errorText() (which reads "none"
// until the first one) and returns kFail; success returns kOk. Callers test
// for a result below 0.
//
// The frame operations (build, setData, the field readers, equality,
// validate, dump) do not touch the board; only ClearPort, send and receive
// call the board library, and they live in a source file of their own.
// A message is a plain value: copy it freely. Nothing is allocated per byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <vantrel/VantrelTypes.h>

class VantrelUSB;

class CcctalkMessage {
 public:
  using Result = std::int32_t;
  static constexpr Result kOk = 0;
  // The platform's generic failure code E_FAIL (0x80004005), negative.
  static constexpr Result kFail = static_cast<Result>(0x80004005u);

  static constexpr std::size_t kHeaderLength = 4;     // destination .. header
  static constexpr std::size_t kMinimumLength = 5;    // header and checksum
  static constexpr std::size_t kMaximumLength = 260;  // 255 data bytes
  static constexpr std::size_t kMaximumData = 255;
  static constexpr std::size_t kDumpBytesPerLine = 16;

  // The time limits of receive(), in the board's time units.
  static constexpr std::uint16_t kReplyTimeout = 50;  // the ccTalk page's reply
  static constexpr std::uint16_t kEchoTimeout = 100;  // send()'s local echo

  // receive() modes: a single time value reaching the limit ends the
  // receive (kSingleGap), or the sum of all of them (kTotalTime). Any other
  // mode has no time limit.
  static constexpr int kSingleGap = 0;
  static constexpr int kTotalTime = 1;

  CcctalkMessage() = default;

  // ---- Frame --------------------------------------------------------------

  // Fills destination, count, source, header, the first `count` bytes of
  // `data` and the checksum. Data bytes that `data` lacks are sent as 0.
  Result build(std::uint8_t destination, std::uint8_t count, std::uint8_t source,
               std::uint8_t header, std::span<const std::uint8_t> data = {});
  // Replaces the data with `data` (its size is the new data count), keeping
  // destination, source and header, and recomputes the checksum. More than
  // 255 bytes do not fit a frame: kFail, and the frame stays as it was.
  Result setData(std::span<const std::uint8_t> data);
  // Takes `raw` as the frame, unchecked, as a receive would leave it (for
  // replayed traffic). More than 260 bytes: kFail, and nothing changes.
  Result assign(std::span<const std::uint8_t> raw);

  // Number of valid bytes of the frame.
  std::uint32_t length() const { return length_; }
  // The valid bytes.
  std::span<const std::uint8_t> bytes() const { return {bytes_.data(), length_}; }

  // Field readers, which tolerate a short frame.
  std::uint8_t destination() const { return length_ >= 1 ? bytes_[0] : 255; }
  std::uint8_t dataCount() const { return length_ >= 2 ? bytes_[1] : 0; }
  std::uint8_t source() const { return length_ >= 3 ? bytes_[2] : 255; }
  std::uint8_t header() const { return length_ >= 4 ? bytes_[3] : 255; }

  // Equal lengths and equal valid bytes.
  bool operator==(const CcctalkMessage& other) const;

  // Checks a received frame: its length against its data count, then the
  // checksum.
  Result validate();

  // Hex dump, one line per run of up to 16 bytes: each byte as two
  // lower-case hex digits and a blank; when the frame is longer than 16
  // bytes, three blanks for each byte a run lacks; "- "; each byte as a
  // character (below 0x20 as '.'); a line feed. The characters are the raw
  // bytes (Latin-1). An empty message gives an empty text.
  std::string dump() const;

  // ---- Errors ---------------------------------------------------------------

  // "none", or every error text since the message was made, oldest first.
  const std::string& errorText() const { return errorText_; }
  // Appends one error text (the first one replaces "none").
  void appendError(std::string_view text);

  // ---- Bus exchanges (need the board) --------------------------------------

  // Takes every byte waiting on `port` and throws it away; `drained`, when
  // given, receives how many there were.
  Result ClearPort(VantrelUSB* board, _usbSerialPort port, int* drained = nullptr);
  // Sends the frame and checks that the bus echoed it back unchanged, within
  // kEchoTimeout and with the 12 V check on. The echo is received into one
  // message shared by every send of the program, whose error text is never
  // reset: a failed echo reports every echo error of the run, oldest first.
  Result send(VantrelUSB* board, _usbSerialPort port);
  // Receives one frame into this message. The receive ends when the frame
  // is complete (its data count + 5 bytes) or a time limit is reached; a
  // time-out is a success with a short or empty frame. `timeout` 0 means
  // kTotalTime with a limit of 65535. With `powerCheck`, a first poll that
  // finds no byte means the bus has no 12 V supply.
  Result receive(VantrelUSB* board, _usbSerialPort port, std::uint16_t timeout, int mode,
                 bool powerCheck);

  // The local echo seen by the last send(), as a message.
  CcctalkMessage echo() const;
  std::int32_t echoLength() const { return echoLength_; }
  // Sum of the time values seen by receive() (send() resets it).
  std::uint32_t elapsed() const { return elapsed_; }

 private:
  static std::uint8_t Checksum(std::span<const std::uint8_t> bytes);
  void SealFrame(std::size_t dataCount);

  std::array<std::uint8_t, kMaximumLength> bytes_{};
  std::uint32_t length_ = 0;
  std::array<std::uint8_t, kMaximumLength> echoBytes_{};
  std::int32_t echoLength_ = 0;
  std::uint32_t elapsed_ = 0;
  std::string errorText_ = "none";
  bool anyError_ = false;
};
