#include "BoardObject.h"

#include <memory>
#include <string>

#include "Conversions.h"
#include "UsbErrorNames.h"

namespace vantrel::python {

namespace {

// The library's name of the code; the enumeration's name where the library's
// table has none (its table leaves 11, USB_MESSAGE_ILLEGAL_PORT, unnamed), so
// that every code the board reports is named.
py::str ErrorName(usbErrorCode code) {
  const char* name = vantrel::diag::UsbErrorName(code);
  if (std::string(name) != vantrel::diag::kUnknownErrorName) return name;
  try {
    return K27("UsbError")(static_cast<int>(code)).attr("name");
  } catch (const py::error_already_set&) {
    return name;
  }
}

}  // namespace

void RaiseBoardError(const char* call, usbErrorCode code, const char* detail) {
  py::object code_object;
  try {
    code_object = K27("UsbError")(static_cast<int>(code));
  } catch (const py::error_already_set&) {
    code_object = py::int_(static_cast<int>(code));
  }
  py::object error = K27("BoardError")(code_object, ErrorName(code), call, detail);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

BoardObject::InUse::InUse(BoardObject& owner) : owner_(owner) {
  if (owner_.busy_.exchange(true, std::memory_order_acquire)) {
    PyErr_SetString(K27("BoardBusyError").ptr(),
                    "this Board is in use by another thread: give each thread a Board of its own");
    throw py::error_already_set();
  }
  if (!owner_.open_) {
    owner_.busy_.store(false, std::memory_order_release);
    throw py::value_error("the Board is closed");
  }
}

BoardObject::BoardObject(int index) {
  InRange(index, "index", 0, 15);
  int result = 0;
  {
    py::gil_scoped_release release;
    result = board_.init(index);
  }
  if (result == 0) {
    const usbErrorCode code = board_.GetLastError();
    const std::string detail =
        code == USB_MESSAGE_EXECUTION_SUCCESS
            ? "no board " + std::to_string(index) +
                  " is there, or it may not be used (the library says why on standard error)"
            : std::string();
    RaiseBoardError("init", code, detail.c_str());
  }
  open_ = true;
  index_ = index;
}

BoardObject* BoardObject::ByAddress(int address) {
  const auto wanted = static_cast<unsigned char>(InRange(address, "address", 0, 15));
  auto object = std::unique_ptr<BoardObject>(new BoardObject());
  int result = 0;
  {
    py::gil_scoped_release release;
    result = object->board_.InitUSBBoard(wanted);
  }
  if (result == 0)
    RaiseBoardError("InitUSBBoard", object->board_.GetLastError(),
                    ("no board has the address " + std::to_string(address)).c_str());
  object->open_ = true;
  object->index_ = -1;  // the library keeps which one it found to itself
  return object.release();
}

void BoardObject::Close() {
  if (!open_) return;
  InUse use(*this);
  {
    py::gil_scoped_release release;
    board_.close();
  }
  open_ = false;
}

}  // namespace vantrel::python
