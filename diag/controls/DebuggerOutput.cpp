#include "DebuggerOutput.h"

Q_LOGGING_CATEGORY(k27diagDebugger, "k27diag.debugger", QtWarningMsg)
