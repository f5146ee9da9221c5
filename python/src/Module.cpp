// The extension k27._k27: the class Board with every board function. The
// package k27 around it holds the records, enumerations and errors.
#include <pybind11/pybind11.h>

#include "Bindings.h"
#include "Conversions.h"

namespace vantrel::python {

namespace {

void BindLifetime(BoardClass& board) {
  board
      .def(py::init([](std::int64_t index) {
             return new BoardObject(static_cast<int>(InRange(index, "index", 0, 15)));
           }),
           py::arg("index") = 0, Doc("init"))
      .def_static(
          "by_address",
          [](std::int64_t address) {
            return BoardObject::ByAddress(static_cast<int>(InRange(address, "address", 0, 15)));
          },
          py::arg("address"), Doc("InitUSBBoard"))
      .def("close", &BoardObject::Close,
           "Releases the connection; later calls raise ValueError. Closing again does nothing.")
      .def_property_readonly("closed", &BoardObject::Closed)
      .def_property_readonly(
          "index",
          [](const BoardObject& self) -> py::object {
            if (self.Index() < 0) return py::none();
            return py::int_(self.Index());
          },
          "The index the board was opened with (None when found by address).")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__",
           [](BoardObject& self, const py::args&) {
             self.Close();
             return false;
           })
      .def(
          "last_error",
          [](BoardObject& self) {
            return K27("UsbError")(
                static_cast<int>(self.Local([](VantrelUSB& b) { return b.GetLastError(); })));
          },
          Doc("GetLastError"))
      .def(
          "clear_errors",
          [](BoardObject& self) { self.Local([](VantrelUSB& b) { return b.ClearErrors(); }); },
          Doc("ClearErrors"));
}

}  // namespace

}  // namespace vantrel::python

PYBIND11_MODULE(_k27, module) {
  using namespace vantrel::python;
  module.doc() = "The K27 board library from Python (the package k27 is its public face).";
  BoardClass board(module, "Board", "One K27 board, opened by index or by address.");
  BindLifetime(board);
  BindVersionsAndPic(board);
  BindMemory(board);
  BindInputs(board);
  BindOutputs(board);
  BindReels(board);
  BindSerial(board);
  BindClock(board);
  BindSpi(board);
  BindCcTalk(module, board);
}
