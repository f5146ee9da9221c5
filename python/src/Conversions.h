// Python values to the library's arguments and back: checked integers,
// bytes-like input, and the module's own record classes.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::python {

namespace py = pybind11;

// `value` as an integer of `minimum` to `maximum`; ValueError naming `what`
// otherwise.
std::int64_t InRange(std::int64_t value, const char* what, std::int64_t minimum,
                     std::int64_t maximum);
inline std::uint8_t Byte(std::int64_t value, const char* what) {
  return static_cast<std::uint8_t>(InRange(value, what, 0, 0xFF));
}
inline std::uint16_t Word(std::int64_t value, const char* what) {
  return static_cast<std::uint16_t>(InRange(value, what, 0, 0xFFFF));
}

// The integer attribute `name` of a record passed in; TypeError when it is
// not an integer.
std::int64_t IntField(const py::object& record, const char* name);

// A copy of a bytes-like object (bytes, bytearray, memoryview of bytes) of
// at most `maximum` bytes; TypeError for anything else, ValueError when it
// is longer.
std::vector<std::uint8_t> BytesOf(const py::object& data, const char* what, std::size_t maximum);
// The same, exactly `size` bytes long.
std::vector<std::uint8_t> ExactBytes(const py::object& data, const char* what, std::size_t size);

inline py::bytes ToBytes(const void* data, std::size_t size) {
  return py::bytes(static_cast<const char*>(data), size);
}
// A text up to its first zero byte (the library's versions), Latin-1.
py::str TextUpToZero(const unsigned char* bytes, std::size_t size);

// A public name of the package k27 (its record classes, enumerations and
// errors), looked up on first use; `name` is a literal. With the GIL held.
py::object K27(const char* name);

// The docstring of a library function, from the comment above it in the
// library's header; `key` is the C++ name ("GetInputs#2" for a later form).
const char* Doc(const char* key);

}  // namespace vantrel::python
