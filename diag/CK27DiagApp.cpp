#include "CK27DiagApp.h"

CK27DiagApp::~CK27DiagApp() {
  if (initialised_ != 0) board_.close();
}

void CK27DiagApp::InitialiseBoard() {
  board_.close();
  initialised_ = board_.init(0);
  initError_ = board_.GetLastError();
  if (initialisedHook_) initialisedHook_();
}
