// The application object: owns the one board object of the process.
#pragma once

#include <vantrel/VantrelUSB.h>

#include <functional>

class CK27DiagApp {
 public:
  CK27DiagApp() = default;
  // Closes the connection when the last initialisation succeeded.
  ~CK27DiagApp();
  CK27DiagApp(const CK27DiagApp&) = delete;
  CK27DiagApp& operator=(const CK27DiagApp&) = delete;

  // Closes whatever connection is open, then connects to board 0; the outcome
  // is left in Initialised() and InitError().
  void InitialiseBoard();

  VantrelUSB* Board() { return &board_; }
  // Called after each initialisation, whoever asked for it.
  void SetInitialisedHook(std::function<void()> hook) { initialisedHook_ = std::move(hook); }
  // Result of the last init: non-zero while the connection is open.
  int Initialised() const { return initialised_; }
  // The board's error code read right after the last init.
  usbErrorCode InitError() const { return initError_; }

 private:
  VantrelUSB board_;
  int initialised_ = 0;
  usbErrorCode initError_ = USB_MESSAGE_EXECUTION_SUCCESS;
  std::function<void()> initialisedHook_;
};
