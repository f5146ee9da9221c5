// Clock, security switches and random numbers.
#include "Bindings.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

using PlainCall = int (VantrelUSB::*)();
using FlagsCall = int (VantrelUSB::*)(unsigned char*, unsigned char*);
using ValueCall = int (VantrelUSB::*)(unsigned long);

void BindPlain(BoardClass& board, const char* python, const char* name, PlainCall call) {
  board.def(
      python,
      [name, call](BoardObject& self) {
        self.Run(name, [&](VantrelUSB& b) { return (b.*call)(); });
      },
      Doc(name));
}

void BindFlags(BoardClass& board, const char* python, const char* name, FlagsCall call) {
  board.def(
      python,
      [name, call](BoardObject& self) {
        unsigned char first = 0, second = 0;
        self.Run(name, [&](VantrelUSB& b) { return (b.*call)(&first, &second); });
        return K27("SecurityFlags")(first, second);
      },
      Doc(name));
}

void BindValue(BoardClass& board, const char* python, const char* name, ValueCall call) {
  board.def(
      python,
      [name, call](BoardObject& self, std::int64_t value) {
        // The board takes the low 32 bits.
        const auto low = static_cast<unsigned long>(InRange(value, "value", 0, 0xFFFFFFFF));
        self.Run(name, [&](VantrelUSB& b) { return (b.*call)(low); });
      },
      py::arg("value"), Doc(name));
}

}  // namespace

void BindClock(BoardClass& board) {
  BindValue(board, "set_clock", "SetClock", &VantrelUSB::SetClock);
  BindValue(board, "enable_random_number_generator", "EnableRandomNumberGenerator",
            &VantrelUSB::EnableRandomNumberGenerator);
  BindPlain(board, "start_security_switch_read", "StartSecuritySwitchRead",
            &VantrelUSB::StartSecuritySwitchRead);
  BindPlain(board, "clear_security_switches", "ClearSecuritySwitches",
            &VantrelUSB::ClearSecuritySwitches);
  BindPlain(board, "disable_random_number_generator", "DisableRandomNumberGenerator",
            &VantrelUSB::DisableRandomNumberGenerator);
  BindFlags(board, "read_and_reset_security_switch_flags", "ReadAndResetSecuritySwitchFlags",
            &VantrelUSB::ReadAndResetSecuritySwitchFlags);
  BindFlags(board, "cached_read_and_reset_security_switch_flags",
            "CachedReadAndResetSecuritySwitchFlags",
            &VantrelUSB::CachedReadAndResetSecuritySwitchFlags);
  board
      .def(
          "get_clock",
          [](BoardObject& self) {
            unsigned long value = 0;
            self.Run("GetClock", [&](VantrelUSB& b) { return b.GetClock(&value); });
            return value;
          },
          Doc("GetClock"))
      .def(
          "next_security_switch_read",
          [](BoardObject& self) {
            unsigned long time = 0;
            unsigned char state = 0;
            self.Run("NextSecuritySwitchRead",
                     [&](VantrelUSB& b) { return b.NextSecuritySwitchRead(&time, &state); });
            return K27("SecuritySwitchRecord")(time, state);
          },
          Doc("NextSecuritySwitchRead"))
      .def(
          "get_random_number",
          [](BoardObject& self) {
            unsigned short number = 0;
            self.Run("GetRandomNumber", [&](VantrelUSB& b) { return b.GetRandomNumber(&number); });
            return static_cast<int>(number);
          },
          Doc("GetRandomNumber"));
}

}  // namespace vantrel::python
