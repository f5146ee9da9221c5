// What sits at the far end of one of the board's serial ports: it hears the
// bytes the port sends and puts bytes on the port's receive line.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vantrel::sim {

// One byte on a serial line and the board time (microseconds) at which its
// stop bit has ended: when a sent byte has left the port, or when a received
// byte has fully arrived.
struct LineByte {
  std::uint8_t value = 0;
  std::uint64_t atMicros = 0;

  bool operator==(const LineByte&) const = default;
};

// Line time of `count` bytes at `baud` bits per second, 10 bits per byte
// (start bit, 8 data bits, stop bit). Byte i of a run that starts at t has
// left at t + LineMicros(i + 1, baud); counting from the run's start keeps
// the rounding from adding up.
inline std::uint64_t LineMicros(std::uint64_t count, std::uint32_t baud) {
  return baud == 0 ? 0 : count * 10'000'000u / baud;
}

class SerialPeer {
 public:
  virtual ~SerialPeer() = default;

  // `sent`: bytes the port has put on the line, in order of time, at `baud`.
  // Returns what the peer puts on the port's receive line, each byte with the
  // time at which it has arrived; the port keeps its receive line in order
  // of time and holds a byte back until the board's time has reached it.
  // Called with the board's lock held: a peer must not call into the board.
  // A peer may serve several ports or boards, from several threads.
  virtual std::vector<LineByte> Transfer(std::span<const LineByte> sent, std::uint32_t baud) = 0;

  // Whether the peer is on the line that the port drives in this mode (the
  // port type, byte 0 of the line configuration): the host's sends reach the
  // peer only then. Plain peers hang on every mode.
  virtual bool ListensTo(std::uint8_t portType) const {
    (void)portType;
    return true;
  }
};

}  // namespace vantrel::sim
