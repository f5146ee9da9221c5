// The SPI link and SEC frames.
#include <algorithm>
#include <array>

#include "Bindings.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

// The reply data of one transfer, at most 62 bytes.
using Reply = std::array<unsigned char, 62>;

// The bytes that hold `bits` bits.
std::size_t BytesForBits(unsigned bits) { return (bits + 7) / 8; }

}  // namespace

void BindSpi(BoardClass& board) {
  board
      .def(
          "enable_spi",
          [](BoardObject& self) {
            self.Run("EnableSPI", [](VantrelUSB& b) { return b.EnableSPI(); });
          },
          Doc("EnableSPI"))
      .def(
          "disable_spi",
          [](BoardObject& self) {
            self.Run("DisableSPI", [](VantrelUSB& b) { return b.DisableSPI(); });
          },
          Doc("DisableSPI"))
      .def(
          "send_spi",
          [](BoardObject& self, std::int64_t sendBits, const py::object& data, std::int64_t option,
             std::int64_t receiveBits) {
            const auto bits = Byte(sendBits, "send_bits");
            // The library sends the bytes that hold `bits` bits: no fewer may come.
            auto bytes = ExactBytes(data, "data", BytesForBits(bits));
            const auto flags = Byte(option, "option");
            const auto wanted = Byte(receiveBits, "receive_bits");
            Reply received{};
            self.Run("SendSPI", [&](VantrelUSB& b) {
              return b.SendSPI(bits, bytes.data(), flags, wanted, received.data());
            });
            return ToBytes(received.data(), std::min(received.size(), BytesForBits(wanted)));
          },
          py::arg("send_bits"), py::arg("data"), py::arg("option") = 0, py::arg("receive_bits") = 0,
          Doc("SendSPI"))
      .def(
          "send_sec",
          [](BoardObject& self, std::int64_t first, std::int64_t second, const py::object& data,
             std::int64_t option, std::int64_t replyCount) {
            const auto a = Byte(first, "first");
            const auto b2 = Byte(second, "second");
            auto bytes = BytesOf(data, "data", 255);
            const auto flags = Byte(option, "option");
            const auto count = Byte(replyCount, "reply_count");
            Reply received{};
            self.Run("SendSEC", [&](VantrelUSB& b) {
              return b.SendSEC(a, b2, static_cast<unsigned char>(bytes.size()), bytes.data(), flags,
                               count, received.data());
            });
            return ToBytes(received.data(), std::min<std::size_t>(received.size(), count + 4u));
          },
          py::arg("first"), py::arg("second"), py::arg("data"), py::arg("option") = 0,
          py::arg("reply_count") = 0, Doc("SendSEC"));
}

}  // namespace vantrel::python
