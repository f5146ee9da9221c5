#include "ErrorReport.h"

#include <cstdio>

#include "Json.h"
#include "Output.h"
#include "PlainText.h"

namespace vantrel::ctl {

namespace {

// The JSON object on standard output unless that is what failed; its own
// failure is left unreported, the text on standard error says it all.
void PrintJsonError(const std::string& json) {
  if (!StandardOutputWorks()) return;
  try {
    PrintLine(json);
  } catch (const OutputFailure&) {
  }
}

}  // namespace

namespace {

Json Detail(const std::string& name, std::optional<int> boardCode, const std::string& message) {
  Json error = Json::Object();
  if (boardCode)
    error.Add("code", *boardCode);
  else
    error.AddNull("code");
  return error.Add("name", name).Add("message", message);
}

}  // namespace

std::string ErrorJson(const std::string& name, std::optional<int> boardCode,
                      const std::string& message) {
  return Json::Object().Add("error", Detail(name, boardCode, message)).Text();
}

Json ErrorDetail(const Failure& failure) {
  return Detail(failure.Name(), failure.BoardCode(), PlainText(failure.what()));
}

int ReportFailure(bool json, const Failure& failure) {
  const std::string message = PlainText(failure.what());
  std::fprintf(stderr, "k27ctl: %s\n", message.c_str());
  if (json && !failure.IsInResult())
    PrintJsonError(ErrorJson(failure.Name(), failure.BoardCode(), message));
  return kExitFailure;
}

int ReportUsageError(bool json, const std::string& message) {
  std::fprintf(stderr, "k27ctl: %s (see k27ctl --help)\n", message.c_str());
  if (json) PrintJsonError(ErrorJson("USAGE", std::nullopt, message));
  return kExitUsage;
}

}  // namespace vantrel::ctl
