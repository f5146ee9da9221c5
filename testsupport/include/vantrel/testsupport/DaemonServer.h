// The daemon's socket server and the interface of what it serves, for tests
// that put a real board socket in a folder of their own and serve it from
// their own process, with a handler they write.
#pragma once

#include <vantrel/driver/ControlHandler.h>

#include "server/ControlServer.h"
