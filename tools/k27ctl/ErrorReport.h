// How a failure reaches the user: its text on standard error, and in JSON
// mode also one object on standard output that a script can read instead of
// scraping the text:
//   {"error":{"code":N|null,"name":NAME,"message":TEXT}}
// where code is the board's error code when the board gave one.
#pragma once

#include <optional>
#include <string>

#include "Failure.h"
#include "Json.h"

namespace vantrel::ctl {

// The JSON object of one failure, on one line.
std::string ErrorJson(const std::string& name, std::optional<int> boardCode,
                      const std::string& message);
// Its inner {"code":…,"name":…,"message":…}, for a result that carries it.
Json ErrorDetail(const Failure& failure);

// Reports `failure` and returns kExitFailure.
int ReportFailure(bool json, const Failure& failure);
// Reports a usage error (name USAGE) and returns kExitUsage.
int ReportUsageError(bool json, const std::string& message);

}  // namespace vantrel::ctl
