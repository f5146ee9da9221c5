// One board as the Python module holds it: the library's object, whether it
// is open, and the flag that keeps two threads from using it at once.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <utility>

#include <vantrel/VantrelUSB.h>

namespace vantrel::python {

namespace py = pybind11;

// Raises k27.BoardError for the failed call `call`, with the board's code.
[[noreturn]] void RaiseBoardError(const char* call, usbErrorCode code, const char* detail = "");

class BoardObject {
 public:
  // Opens board `index` (0-15); raises k27.BoardError when it cannot.
  explicit BoardObject(int index);
  // Opens the first board whose address switches read `address`.
  static BoardObject* ByAddress(int address);

  BoardObject(const BoardObject&) = delete;
  BoardObject& operator=(const BoardObject&) = delete;

  // Releases the connection; a closed board stays closed (again is a no-op).
  void Close();
  bool Closed() const { return !open_; }
  int Index() const { return index_; }

  // Runs `call(board)` with the GIL released and raises k27.BoardError,
  // naming `name`, when it returns 0. The caller copies what it passes in
  // before and converts what comes back after, while it holds the GIL.
  template <class Call>
  void Run(const char* name, Call&& call) {
    int result = 0;
    usbErrorCode code = USB_MESSAGE_EXECUTION_SUCCESS;
    Exchange([&](VantrelUSB& board) {
      result = std::forward<Call>(call)(board);
      if (result == 0) code = board.GetLastError();
    });
    if (result == 0) RaiseBoardError(name, code);
  }

  // Runs `call(board)` with the GIL released and returns what it returns,
  // unchecked: for work that makes several calls.
  template <class Call>
  auto Exchange(Call&& call) {
    InUse use(*this);
    py::gil_scoped_release release;
    return std::forward<Call>(call)(board_);
  }

  // The same without the GIL released and without a check of the result:
  // for the calls that make no exchange.
  template <class Call>
  auto Local(Call&& call) {
    InUse use(*this);
    return std::forward<Call>(call)(board_);
  }

 private:
  BoardObject() = default;

  // Marks the board in use for one call; raises k27.BoardBusyError when
  // another thread has it, ValueError when the board is closed.
  class InUse {
   public:
    explicit InUse(BoardObject& owner);
    ~InUse() { owner_.busy_.store(false, std::memory_order_release); }
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;

   private:
    BoardObject& owner_;
  };

  VantrelUSB board_;
  std::atomic<bool> busy_{false};
  bool open_ = false;
  int index_ = -1;
};

}  // namespace vantrel::python
