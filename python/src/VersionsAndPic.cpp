// Versions and the PIC's serial number.
#include <array>

#include "Bindings.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

// The version getters copy the whole reply data, at most 62 bytes.
using VersionBuffer = std::array<unsigned char, 64>;

template <class Getter>
py::str VersionText(BoardObject& self, const char* name, Getter getter) {
  VersionBuffer text{};
  self.Run(name, [&](VantrelUSB& b) { return (b.*getter)(text.data()); });
  return TextUpToZero(text.data(), text.size());
}

}  // namespace

void BindVersionsAndPic(BoardClass& board) {
  board
      .def(
          "dll_version",
          [](BoardObject& self) {
            return VersionText(self, "GetDllVersion", &VantrelUSB::GetDllVersion);
          },
          Doc("GetDllVersion"))
      .def(
          "product_version",
          [](BoardObject& self) {
            return VersionText(self, "GetProductVersion", &VantrelUSB::GetProductVersion);
          },
          Doc("GetProductVersion"))
      .def(
          "firmware_version",
          [](BoardObject& self) {
            return VersionText(self, "Get8051Version", &VantrelUSB::Get8051Version);
          },
          Doc("Get8051Version"))
      .def(
          "pic_version",
          [](BoardObject& self) {
            return VersionText(self, "GetPICVersion", &VantrelUSB::GetPICVersion);
          },
          Doc("GetPICVersion"))
      .def(
          "pic_serial_number",
          [](BoardObject& self) {
            VersionBuffer serial{};
            self.Run("GetPICSerialNumber",
                     [&](VantrelUSB& b) { return b.GetPICSerialNumber(serial.data()); });
            return ToBytes(serial.data(), 8);
          },
          Doc("GetPICSerialNumber"))
      .def(
          "set_pic_serial_number",
          [](BoardObject& self, const py::object& serial) {
            auto bytes = ExactBytes(serial, "serial", 8);
            self.Run("SetPICSerialNumber",
                     [&](VantrelUSB& b) { return b.SetPICSerialNumber(bytes.data()); });
          },
          py::arg("serial"), Doc("SetPICSerialNumber"));
}

}  // namespace vantrel::python
