// The two serial ports: line settings, raw bytes, time-outs and the polled
// messages.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "Bindings.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// Which ports exist is the library's to say (USB_MESSAGE_ILLEGAL_PORT).
_usbSerialPort Port(std::int64_t port) {
  return static_cast<_usbSerialPort>(InRange(port, "port", kInt32Min, kInt32Max));
}

// The fields both polled-message forms share, and their two messages.
template <class Config>
void FillPollCommon(const py::object& record, Config& config) {
  config.slot = Byte(IntField(record, "slot"), "slot");
  config.mode =
      static_cast<std::int32_t>(InRange(IntField(record, "mode"), "mode", kInt32Min, kInt32Max));
  config.option2 = Byte(IntField(record, "option2"), "option2");
  config.option10 = Byte(IntField(record, "option10"), "option10");
  config.pollTime = static_cast<std::int32_t>(
      InRange(IntField(record, "poll_time"), "poll_time", kInt32Min, kInt32Max));
  config.option8 = Byte(IntField(record, "option8"), "option8");
  config.option7 = Byte(IntField(record, "option7"), "option7");
  config.option9 = Byte(IntField(record, "option9"), "option9");
  const auto first =
      BytesOf(record.attr("first_message"), "first_message", sizeof config.firstMessage);
  const auto second =
      BytesOf(record.attr("second_message"), "second_message", sizeof config.secondMessage);
  std::copy(first.begin(), first.end(), config.firstMessage);
  std::copy(second.begin(), second.end(), config.secondMessage);
}

using SlotCall = int (VantrelUSB::*)(_usbSerialPort, unsigned char);

void BindSlotCall(BoardClass& board, const char* python, const char* name, SlotCall call) {
  board.def(
      python,
      [name, call](BoardObject& self, std::int64_t port, std::int64_t slot) {
        const auto which = Port(port);
        const auto number = Byte(slot, "slot");
        self.Run(name, [&](VantrelUSB& b) { return (b.*call)(which, number); });
      },
      py::arg("port"), py::arg("slot"), Doc(name));
}

void BindPolling(BoardClass& board) {
  BindSlotCall(board, "empty_polled_buffer", "EmptyPolledBuffer", &VantrelUSB::EmptyPolledBuffer);
  BindSlotCall(board, "delete_polled_message", "DeletePolledMessage",
               &VantrelUSB::DeletePolledMessage);
  board
      .def(
          "configure_cctalk_port",
          [](BoardObject& self, std::int64_t port, const py::object& config) {
            const auto which = Port(port);
            CCTalkConfig record{};
            FillPollCommon(config, record);
            self.Run("ConfigureCCTalkPort",
                     [&](VantrelUSB& b) { return b.ConfigureCCTalkPort(which, &record); });
            config.attr("poll_time") = record.pollTime;  // clamped by the library
          },
          py::arg("port"), py::arg("config"), Doc("ConfigureCCTalkPort"))
      .def(
          "configure_rs232_poll",
          [](BoardObject& self, std::int64_t port, const py::object& config) {
            const auto which = Port(port);
            RS232PollConfig record{};
            FillPollCommon(config, record);
            record.framing = Byte(IntField(config, "framing"), "framing");
            record.lengthOffset = Byte(IntField(config, "length_offset"), "length_offset");
            record.lengthAdjust = Byte(IntField(config, "length_adjust"), "length_adjust");
            self.Run("ConfigureRS232Poll",
                     [&](VantrelUSB& b) { return b.ConfigureRS232Poll(which, &record); });
            config.attr("poll_time") = record.pollTime;
          },
          py::arg("port"), py::arg("config"), Doc("ConfigureRS232Poll"))
      .def(
          "receive_polled_message",
          [](BoardObject& self, std::int64_t port, std::int64_t slot) {
            const auto which = Port(port);
            const auto number = Byte(slot, "slot");
            std::string buffer(VANTREL_RECEIVE_LIMIT, '\0');
            unsigned long length = 0;
            int status = 0;
            self.Run("ReceivePolledMessage", [&](VantrelUSB& b) {
              return b.ReceivePolledMessage(
                  which, number, reinterpret_cast<unsigned char*>(buffer.data()), &length, &status);
            });
            buffer.resize(std::min<unsigned long>(length, VANTREL_RECEIVE_LIMIT));
            return K27("PolledMessage")(status, py::bytes(buffer));
          },
          py::arg("port"), py::arg("slot"), Doc("ReceivePolledMessage"));
}

}  // namespace

void BindSerial(BoardClass& board) {
  board
      .def(
          "set_config",
          [](BoardObject& self, std::int64_t port, std::int64_t baudRate, std::int64_t portType,
             std::int64_t parity, std::int64_t rtsControl, bool ctsFlow) {
            const auto which = Port(port);
            const auto type =
                static_cast<_usbPortType>(InRange(portType, "port_type", kInt32Min, kInt32Max));
            _DCB settings{};
            settings.DCBlength = sizeof settings;
            settings.BaudRate =
                static_cast<std::uint32_t>(InRange(baudRate, "baud_rate", 0, kInt32Max));
            settings.ByteSize = 8;
            settings.Parity = static_cast<std::uint8_t>(InRange(parity, "parity", 0, 4));
            settings.fParity = settings.Parity != 0;
            settings.fRtsControl =
                static_cast<std::uint32_t>(InRange(rtsControl, "rts_control", 0, 3));
            settings.fOutxCtsFlow = ctsFlow;
            self.Run("SetConfig",
                     [&](VantrelUSB& b) { return b.SetConfig(which, &settings, type); });
          },
          py::arg("port"), py::arg("baud_rate"), py::arg("port_type"), py::arg("parity") = 0,
          py::arg("rts_control") = 0, py::arg("cts_flow") = false, Doc("SetConfig"))
      .def(
          "send",
          [](BoardObject& self, std::int64_t port, const py::object& data) {
            const auto which = Port(port);
            auto bytes = BytesOf(data, "data", static_cast<std::size_t>(kInt32Max));
            self.Run("Send", [&](VantrelUSB& b) {
              return b.Send(which, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            });
          },
          py::arg("port"), py::arg("data"), Doc("Send"))
      .def(
          "receive",
          [](BoardObject& self, std::int64_t port) {
            const auto which = Port(port);
            std::string buffer(VANTREL_RECEIVE_LIMIT, '\0');
            unsigned long length = 0;
            self.Run("Receive", [&](VantrelUSB& b) {
              return b.Receive(which, reinterpret_cast<unsigned char*>(buffer.data()), &length);
            });
            buffer.resize(std::min<unsigned long>(length, VANTREL_RECEIVE_LIMIT));
            return py::bytes(buffer);
          },
          py::arg("port"), Doc("Receive"))
      .def(
          "receive_byte_with_timestamp",
          [](BoardObject& self, std::int64_t port) {
            const auto which = Port(port);
            unsigned char byte = 0, time = 0;
            int hasByte = 0;
            self.Run("ReceiveByteWithTimestamp", [&](VantrelUSB& b) {
              return b.ReceiveByteWithTimestamp(which, &byte, &time, &hasByte);
            });
            return K27("TimestampedByte")(hasByte ? py::object(py::int_(byte)) : py::none(), time);
          },
          py::arg("port"), Doc("ReceiveByteWithTimestamp"))
      .def(
          "set_timeout_message",
          [](BoardObject& self, std::int64_t port, const py::object& message, double seconds) {
            const auto which = Port(port);
            const auto bytes = BytesOf(message, "message", 255);
            // Never a null pointer, which the library takes for no message.
            std::array<unsigned char, 256> text{};
            std::copy(bytes.begin(), bytes.end(), text.begin());
            if (!std::isfinite(seconds))
              throw py::value_error("seconds must be a finite number, not " +
                                    std::to_string(seconds));
            const auto time = static_cast<float>(std::clamp(seconds, -1.0, 1000.0));
            self.Run("SetTimeoutMessage", [&](VantrelUSB& b) {
              return b.SetTimeoutMessage(which, text.data(),
                                         static_cast<unsigned char>(bytes.size()), time);
            });
          },
          py::arg("port"), py::arg("message"), py::arg("seconds"), Doc("SetTimeoutMessage"))
      .def(
          "get_parity_errors",
          [](BoardObject& self, std::int64_t port) {
            const auto which = Port(port);
            unsigned short count = 0;
            self.Run("GetParityErrors",
                     [&](VantrelUSB& b) { return b.GetParityErrors(which, &count); });
            return static_cast<int>(count);
          },
          py::arg("port"), Doc("GetParityErrors"));
  BindPolling(board);
}

}  // namespace vantrel::python
