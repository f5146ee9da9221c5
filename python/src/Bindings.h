// The families of board functions, one source file each, as in the library.
#pragma once

#include <pybind11/pybind11.h>

#include "BoardObject.h"

namespace vantrel::python {

using BoardClass = py::class_<BoardObject>;

void BindVersionsAndPic(BoardClass& board);
void BindMemory(BoardClass& board);
void BindInputs(BoardClass& board);
void BindOutputs(BoardClass& board);
void BindReels(BoardClass& board);
void BindSerial(BoardClass& board);
void BindClock(BoardClass& board);
void BindSpi(BoardClass& board);
void BindCcTalk(py::module_& module, BoardClass& board);

}  // namespace vantrel::python
