// The program's debugger output: trace lines that a technician only sees with
// the category switched on (QT_LOGGING_RULES="k27diag.debugger=true").
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(k27diagDebugger)
