// EEPROM and SRAM.
#include <string>

#include "Bindings.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

// The largest transfer the library takes: the whole 64 KiB address space.
constexpr std::int64_t kMaxTransfer = 65536;

py::object GeometryOf(const K27EEPROM& geometry) {
  return K27("EepromGeometry")(geometry.pageSize, geometry.addressBytes, geometry.lastAddress,
                               geometry.deviceAddress);
}

K27EEPROM GeometryFrom(const py::object& geometry) {
  K27EEPROM out{};
  out.pageSize = Byte(IntField(geometry, "page_size"), "page_size");
  out.addressBytes = Byte(IntField(geometry, "address_bytes"), "address_bytes");
  out.lastAddress = Word(IntField(geometry, "last_address"), "last_address");
  out.deviceAddress = Byte(IntField(geometry, "device_address"), "device_address");
  return out;
}

using Transfer = int (VantrelUSB::*)(unsigned short, unsigned char*, std::uint32_t);

py::bytes Read(BoardObject& self, const char* name, Transfer read, std::int64_t address,
               std::int64_t length) {
  const auto start = Word(address, "address");
  const auto count = static_cast<std::uint32_t>(InRange(length, "length", 0, kMaxTransfer));
  std::string buffer(count, '\0');
  self.Run(name, [&](VantrelUSB& b) {
    return (b.*read)(start, reinterpret_cast<unsigned char*>(buffer.data()), count);
  });
  return py::bytes(buffer);
}

void Write(BoardObject& self, const char* name, Transfer write, std::int64_t address,
           const py::object& data) {
  const auto start = Word(address, "address");
  auto bytes = BytesOf(data, "data", kMaxTransfer);
  self.Run(name, [&](VantrelUSB& b) {
    return (b.*write)(start, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  });
}

}  // namespace

void BindMemory(BoardClass& board) {
  board
      .def(
          "configure_eeprom",
          [](BoardObject& self, const py::object& geometry) {
            K27EEPROM record = GeometryFrom(geometry);
            self.Run("ConfigureEEPROM", [&](VantrelUSB& b) { return b.ConfigureEEPROM(&record); });
          },
          py::arg("geometry"), Doc("ConfigureEEPROM"))
      .def(
          "check_eeprom",
          [](BoardObject& self) {
            K27EEPROM record{};
            self.Run("CheckEEPROM", [&](VantrelUSB& b) { return b.CheckEEPROM(&record); });
            return GeometryOf(record);
          },
          Doc("CheckEEPROM"))
      .def(
          "read_eeprom",
          [](BoardObject& self, std::int64_t address, std::int64_t length) {
            return Read(self, "ReadEEPROM", &VantrelUSB::ReadEEPROM, address, length);
          },
          py::arg("address"), py::arg("length"), Doc("ReadEEPROM"))
      .def(
          "write_eeprom",
          [](BoardObject& self, std::int64_t address, const py::object& data) {
            Write(self, "WriteEEPROM", &VantrelUSB::WriteEEPROM, address, data);
          },
          py::arg("address"), py::arg("data"), Doc("WriteEEPROM"))
      .def(
          "read_sram",
          [](BoardObject& self, std::int64_t address, std::int64_t length) {
            return Read(self, "ReadSRAM", &VantrelUSB::ReadSRAM, address, length);
          },
          py::arg("address"), py::arg("length"), Doc("ReadSRAM"))
      .def(
          "write_sram",
          [](BoardObject& self, std::int64_t address, const py::object& data) {
            Write(self, "WriteSRAM", &VantrelUSB::WriteSRAM, address, data);
          },
          py::arg("address"), py::arg("data"), Doc("WriteSRAM"));
}

}  // namespace vantrel::python
