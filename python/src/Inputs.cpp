// Inputs, pulse counting and parallel hoppers.
#include "Bindings.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

// An input number as the board takes it: one byte (which ones exist is the
// board's or the library's to say).
_usbInputBitId InputId(std::int64_t input) {
  return static_cast<_usbInputBitId>(InRange(input, "input", 0, 255));
}

ActiveState Level(std::int64_t level) {
  return static_cast<ActiveState>(InRange(level, "level", 0, 255));
}

using Snapshot = int (VantrelUSB::*)(usbInput*);

py::object InputsOf(BoardObject& self, const char* name, Snapshot read) {
  usbInput inputs{};
  self.Run(name, [&](VantrelUSB& b) { return (b.*read)(&inputs); });
  const unsigned switches = inputs.input[0] | inputs.input[1] << 8 | inputs.input[2] << 16;
  return K27("Inputs")(switches, inputs.input[3], inputs.input[4]);
}

// The pulse-check calls that take only the input.
using InputCall = int (VantrelUSB::*)(_usbInputBitId);

void BindInputCall(BoardClass& board, const char* python, const char* name, InputCall call) {
  board.def(
      python,
      [name, call](BoardObject& self, std::int64_t input) {
        const auto id = InputId(input);
        self.Run(name, [&](VantrelUSB& b) { return (b.*call)(id); });
      },
      py::arg("input"), Doc(name));
}

}  // namespace

void BindInputs(BoardClass& board) {
  board
      .def(
          "get_inputs",
          [](BoardObject& self) {
            using Plain = int (VantrelUSB::*)(usbInput*);
            return InputsOf(self, "GetInputs", static_cast<Plain>(&VantrelUSB::GetInputs));
          },
          Doc("GetInputs#2"))
      .def(
          "get_changed_inputs",
          [](BoardObject& self) {
            return InputsOf(self, "GetChangedInputs", &VantrelUSB::GetChangedInputs);
          },
          Doc("GetChangedInputs"))
      .def(
          "get_raw_inputs",
          [](BoardObject& self) {
            return InputsOf(self, "GetRawInputs", &VantrelUSB::GetRawInputs);
          },
          Doc("GetRawInputs"))
      .def(
          "get_input_bit",
          [](BoardObject& self, std::int64_t bit) {
            const auto id = InputId(bit);
            int value = 0;
            self.Run("GetInputBit", [&](VantrelUSB& b) { return b.GetInputBit(id, &value); });
            return value != 0;
          },
          py::arg("bit"), Doc("GetInputBit"))
      .def(
          "input_multiplexing",
          [](BoardObject& self, bool on) {
            const auto mode = on ? USB_INPUT_MULTIPLEXING_ON : USB_INPUT_MULTIPLEXING_OFF;
            self.Run("InputMultiplexing", [&](VantrelUSB& b) { return b.InputMultiplexing(mode); });
          },
          py::arg("on"), Doc("InputMultiplexing"))
      .def(
          "get_multiplexed_inputs",
          [](BoardObject& self) {
            usbMultiplexedInput inputs{};
            self.Run("GetMultiplexedInputs",
                     [&](VantrelUSB& b) { return b.GetMultiplexedInputs(&inputs); });
            py::tuple groups(4);
            for (std::size_t i = 0; i < 4; ++i) groups[i] = ToBytes(inputs.group[i], 3);
            return K27("MultiplexedInputs")(inputs.first, groups);
          },
          Doc("GetMultiplexedInputs"))
      .def(
          "configure_pulsed_input",
          [](BoardObject& self, std::int64_t input, std::int64_t setting, std::int64_t level) {
            const auto id = InputId(input);
            const auto value = Byte(setting, "setting");
            const auto active = Level(level);
            self.Run("ConfigurePulsedInput",
                     [&](VantrelUSB& b) { return b.ConfigurePulsedInput(id, value, active); });
          },
          py::arg("input"), py::arg("setting"), py::arg("level"), Doc("ConfigurePulsedInput"))
      .def(
          "read_pulsed_input_counter",
          [](BoardObject& self, std::int64_t input) {
            const auto id = InputId(input);
            unsigned char counter = 0;
            self.Run("ReadPulsedInputCounter",
                     [&](VantrelUSB& b) { return b.ReadPulsedInputCounter(id, &counter); });
            return static_cast<int>(counter);
          },
          py::arg("input"), Doc("ReadPulsedInputCounter"))
      .def(
          "release_parallel_hopper_coins",
          [](BoardObject& self, std::int64_t input, std::int64_t settingA, std::int64_t level,
             std::int64_t output, std::int64_t coins, std::int64_t settingB) {
            const auto id = InputId(input);
            const auto a = Byte(settingA, "setting_a");
            const auto active = Level(level);
            const auto out = static_cast<_usbOutputBitId>(InRange(output, "output", 0, 255));
            const auto count = Word(coins, "coins");
            const auto b2 = Byte(settingB, "setting_b");
            self.Run("ReleaseParallelHopperCoins", [&](VantrelUSB& b) {
              return b.ReleaseParallelHopperCoins(id, a, active, out, count, b2);
            });
          },
          py::arg("input"), py::arg("setting_a"), py::arg("level"), py::arg("output"),
          py::arg("coins"), py::arg("setting_b"), Doc("ReleaseParallelHopperCoins"))
      .def(
          "get_parallel_hopper_status",
          [](BoardObject& self, std::int64_t input) {
            const auto id = InputId(input);
            ReleaseHopperCoinsStatus status = HOPPER_STATUS_IDLE;
            unsigned char second = 0;
            self.Run("GetParallelHopperStatus", [&](VantrelUSB& b) {
              return b.GetParallelHopperStatus(id, &status, &second);
            });
            return K27("HopperStatus")(static_cast<int>(status), second);
          },
          py::arg("input"), Doc("GetParallelHopperStatus"));
  BindInputCall(board, "begin_pulsed_input_check", "BeginPulsedInputCheck",
                &VantrelUSB::BeginPulsedInputCheck);
  BindInputCall(board, "end_pulsed_input_check", "EndPulsedInputCheck",
                &VantrelUSB::EndPulsedInputCheck);
  BindInputCall(board, "reset_pulsed_input_counter", "ResetPulsedInputCounter",
                &VantrelUSB::ResetPulsedInputCounter);
  BindInputCall(board, "decrement_pulsed_input_counter", "DecrementPulsedInputCounter",
                &VantrelUSB::DecrementPulsedInputCounter);
}

}  // namespace vantrel::python
