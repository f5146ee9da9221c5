// Reels.
#include <algorithm>

#include "Bindings.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

using RampCall = int (VantrelUSB::*)(unsigned char, usbRampTable);

void BindRamp(BoardClass& board, const char* python, const char* name, RampCall call) {
  board.def(
      python,
      [name, call](BoardObject& self, std::int64_t reel, const py::object& steps) {
        const auto number = Byte(reel, "reel");
        const auto entries = BytesOf(steps, "steps", sizeof(usbRampTable::steps));
        usbRampTable table{};
        table.count = static_cast<unsigned char>(entries.size());
        std::copy(entries.begin(), entries.end(), table.steps);
        self.Run(name, [&](VantrelUSB& b) { return (b.*call)(number, table); });
      },
      py::arg("reel"), py::arg("steps"), Doc(name));
}

template <class Status>
py::object StatusOf(const Status& status) {
  auto triple = [](const auto& values) { return py::make_tuple(values[0], values[1], values[2]); };
  return K27("ReelStatus")(triple(status.position), triple(status.error), triple(status.busy),
                           triple(status.sync));
}

}  // namespace

void BindReels(BoardClass& board) {
  BindRamp(board, "spin_ramp_up", "SpinRampUp", &VantrelUSB::SpinRampUp);
  BindRamp(board, "spin_ramp_down", "SpinRampDown", &VantrelUSB::SpinRampDown);
  board
      .def(
          "configure_reels_ex",
          [](BoardObject& self, std::int64_t first, std::int64_t second, std::int64_t third) {
            const auto a = Byte(first, "first");
            const auto b2 = Word(second, "second");
            const auto c = Byte(third, "third");
            self.Run("ConfigureReelsEx",
                     [&](VantrelUSB& b) { return b.ConfigureReelsEx(a, b2, c); });
          },
          py::arg("first"), py::arg("second"), py::arg("third"), Doc("ConfigureReelsEx"))
      .def(
          "configure_reels",
          [](BoardObject& self, std::int64_t first, std::int64_t second, std::int64_t third) {
            const auto a = Byte(first, "first");
            const auto b2 = Byte(second, "second");
            const auto c = Byte(third, "third");
            self.Run("ConfigureReels", [&](VantrelUSB& b) { return b.ConfigureReels(a, b2, c); });
          },
          py::arg("first"), py::arg("second"), py::arg("third"), Doc("ConfigureReels"))
      .def(
          "spin_reels",
          [](BoardObject& self, std::int64_t reel, std::int64_t direction, std::int64_t steps) {
            const auto number = Byte(reel, "reel");
            const auto way = Byte(direction, "direction");
            const auto count = Word(steps, "steps");
            self.Run("SpinReels", [&](VantrelUSB& b) { return b.SpinReels(number, way, count); });
          },
          py::arg("reel"), py::arg("direction"), py::arg("steps"), Doc("SpinReels"))
      .def(
          "set_duty_cycle",
          [](BoardObject& self, std::int64_t first, std::int64_t second, std::int64_t third) {
            const auto a = Byte(first, "first");
            const auto b2 = Byte(second, "second");
            const auto c = Byte(third, "third");
            self.Run("SetDutyCycle", [&](VantrelUSB& b) { return b.SetDutyCycle(a, b2, c); });
          },
          py::arg("first"), py::arg("second"), py::arg("third"), Doc("SetDutyCycle"))
      .def(
          "reel_synchronise_enable",
          [](BoardObject& self, std::int64_t reel) {
            const auto number = Byte(reel, "reel");
            self.Run("ReelSynchroniseEnable",
                     [&](VantrelUSB& b) { return b.ReelSynchroniseEnable(number); });
          },
          py::arg("reel"), Doc("ReelSynchroniseEnable"))
      .def(
          "get_reel_status_ex",
          [](BoardObject& self) {
            ReelStatusEx status{};
            self.Run("GetReelStatusEx", [&](VantrelUSB& b) { return b.GetReelStatusEx(&status); });
            return StatusOf(status);
          },
          Doc("GetReelStatusEx"))
      .def(
          "get_reel_status",
          [](BoardObject& self) {
            usbReelStatus status{};
            self.Run("GetReelStatus", [&](VantrelUSB& b) { return b.GetReelStatus(&status); });
            return StatusOf(status);
          },
          Doc("GetReelStatus"));
}

}  // namespace vantrel::python
