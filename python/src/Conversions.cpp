#include "Conversions.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>

#include "BoardDocs.h"

namespace vantrel::python {

std::int64_t InRange(std::int64_t value, const char* what, std::int64_t minimum,
                     std::int64_t maximum) {
  if (value < minimum || value > maximum)
    throw py::value_error(std::string(what) + " must be " + std::to_string(minimum) + " to " +
                          std::to_string(maximum) + ", not " + std::to_string(value));
  return value;
}

std::int64_t IntField(const py::object& record, const char* name) {
  const py::object value = record.attr(name);
  if (!PyLong_Check(value.ptr()))
    throw py::type_error(std::string(name) + " must be an int, not " +
                         std::string(py::str(value.get_type().attr("__name__"))));
  const long long number = PyLong_AsLongLong(value.ptr());
  if (number == -1 && PyErr_Occurred()) throw py::error_already_set();
  return number;
}

std::vector<std::uint8_t> BytesOf(const py::object& data, const char* what, std::size_t maximum) {
  if (py::isinstance<py::str>(data) || !PyObject_CheckBuffer(data.ptr()))
    throw py::type_error(std::string(what) + " must be bytes-like (bytes, bytearray), not " +
                         std::string(py::str(data.get_type().attr("__name__"))));
  Py_buffer view;
  if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
  const auto* first = static_cast<const std::uint8_t*>(view.buf);
  const auto size = static_cast<std::size_t>(view.len);
  if (size > maximum) {
    PyBuffer_Release(&view);
    throw py::value_error(std::string(what) + " holds " + std::to_string(size) +
                          " bytes, more than the " + std::to_string(maximum) + " it may");
  }
  std::vector<std::uint8_t> copy(first, first + size);
  PyBuffer_Release(&view);
  return copy;
}

std::vector<std::uint8_t> ExactBytes(const py::object& data, const char* what, std::size_t size) {
  auto bytes = BytesOf(data, what, size);
  if (bytes.size() != size)
    throw py::value_error(std::string(what) + " must be " + std::to_string(size) +
                          " bytes long, not " + std::to_string(bytes.size()));
  return bytes;
}

py::str TextUpToZero(const unsigned char* bytes, std::size_t size) {
  const auto* end = std::find(bytes, bytes + size, 0);
  const auto length = static_cast<Py_ssize_t>(end - bytes);
  PyObject* text = PyUnicode_DecodeLatin1(reinterpret_cast<const char*>(bytes), length, nullptr);
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

py::object K27(const char* name) { return py::module_::import("k27").attr(name); }

const char* Doc(const char* key) {
  for (const auto& entry : kBoardDocs)
    if (entry.key == key) return entry.text;
  return "";
}

}  // namespace vantrel::python
