// Outputs and lamps.
#include <cstring>

#include "Bindings.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

// An output image from a k27.Outputs record or five bytes.
usbOutput ImageFrom(const py::object& image, const char* what) {
  const bool record = !PyObject_CheckBuffer(image.ptr()) && py::hasattr(image, "raw");
  const auto bytes = ExactBytes(record ? py::object(image.attr("raw")) : image, what, 5);
  usbOutput out{};
  std::memcpy(out.output, bytes.data(), sizeof out.output);
  return out;
}

using PeriodImage = int (VantrelUSB::*)(usbOutput);
using PeriodBit = int (VantrelUSB::*)(_usbOutputId, int, int);
using PulseCall = int (VantrelUSB::*)(unsigned char, unsigned char);

void BindPeriod(BoardClass& board, const char* imageName, const char* imageCall,
                PeriodImage setImage, const char* bitName, const char* bitCall, PeriodBit setBit) {
  board.def(
      imageName,
      [imageCall, setImage](BoardObject& self, const py::object& image) {
        const usbOutput out = ImageFrom(image, "image");
        self.Run(imageCall, [&](VantrelUSB& b) { return (b.*setImage)(out); });
      },
      py::arg("image"), Doc(imageCall));
  board.def(
      bitName,
      [bitCall, setBit](BoardObject& self, std::int64_t byte, std::int64_t bit, bool on) {
        const auto index = static_cast<_usbOutputId>(InRange(byte, "byte", 0, 255));
        const auto number = static_cast<int>(InRange(bit, "bit", 0, 255));
        self.Run(bitCall, [&](VantrelUSB& b) { return (b.*setBit)(index, number, on ? 1 : 0); });
      },
      py::arg("byte"), py::arg("bit"), py::arg("on"), Doc(bitCall));
}

void BindPulse(BoardClass& board, const char* python, const char* name, PulseCall call) {
  board.def(
      python,
      [name, call](BoardObject& self, std::int64_t first, std::int64_t second) {
        const auto a = Byte(first, "first");
        const auto b2 = Byte(second, "second");
        self.Run(name, [&](VantrelUSB& b) { return (b.*call)(a, b2); });
      },
      py::arg("first"), py::arg("second"), Doc(name));
}

}  // namespace

void BindOutputs(BoardClass& board) {
  BindPeriod(board, "set_on_period_outputs", "SetOnPeriodOutputs", &VantrelUSB::SetOnPeriodOutputs,
             "set_on_period_output_bit", "SetOnPeriodOutputBit", &VantrelUSB::SetOnPeriodOutputBit);
  BindPeriod(board, "set_off_period_outputs", "SetOffPeriodOutputs",
             &VantrelUSB::SetOffPeriodOutputs, "set_off_period_output_bit", "SetOffPeriodOutputBit",
             &VantrelUSB::SetOffPeriodOutputBit);
  BindPulse(board, "pulse_output", "PulseOutput", &VantrelUSB::PulseOutput);
  BindPulse(board, "pulse_off_output", "PulseOffOutput", &VantrelUSB::PulseOffOutput);
  board
      .def(
          "modify_outputs",
          [](BoardObject& self, const py::object& offMask, const py::object& onMask) {
            usbOutput off = ImageFrom(offMask, "off_mask");
            usbOutput on = ImageFrom(onMask, "on_mask");
            self.Run("ModifyOutputs", [&](VantrelUSB& b) { return b.ModifyOutputs(&off, &on); });
          },
          py::arg("off_mask"), py::arg("on_mask"), Doc("ModifyOutputs"))
      .def(
          "set_outputs",
          [](BoardObject& self, const py::object& image) {
            usbOutput out = ImageFrom(image, "image");
            self.Run("SetOutputs", [&](VantrelUSB& b) { return b.SetOutputs(out.output); });
          },
          py::arg("image"), Doc("SetOutputs"))
      .def(
          "set_output_bit",
          [](BoardObject& self, std::int64_t output, bool on) {
            const auto id = static_cast<_usbOutputBitId>(InRange(output, "output", 0, 255));
            self.Run("SetOutputBit", [&](VantrelUSB& b) { return b.SetOutputBit(id, on ? 1 : 0); });
          },
          py::arg("output"), py::arg("on"), Doc("SetOutputBit"))
      .def(
          "set_output_brightness",
          [](BoardObject& self, std::int64_t level) {
            const auto value = Byte(level, "level");
            self.Run("SetOutputBrightness",
                     [&](VantrelUSB& b) { return b.SetOutputBrightness(value); });
          },
          py::arg("level"), Doc("SetOutputBrightness"))
      .def(
          "pulse_output_result",
          [](BoardObject& self) {
            unsigned char first = 0;
            int second = 0, third = 0;
            self.Run("PulseOutputResult",
                     [&](VantrelUSB& b) { return b.PulseOutputResult(&first, &second, &third); });
            return K27("PulseResult")(first, second, third);
          },
          Doc("PulseOutputResult"));
}

}  // namespace vantrel::python
