// cctalk names: the commands the dictionaries know, for people and for the
// shell's completion.
#include "CcTalkDictionary.h"
#include "Cli.h"
#include "Commands.h"

namespace vantrel::ctl {

int PrintCcTalkNames(bool json, const CcTalkDictionary& dictionary) {
  Json commands = Json::Array();
  for (const auto& command : dictionary.Commands()) {
    if (json)
      commands.Push(Json::Object().Add("header", int(command.header)).Add("name", command.name));
    else
      PrintLine(std::to_string(command.header) + " " + command.name);
  }
  if (json) PrintLine(Json::Object().Add("commands", commands).Text());
  return kExitOk;
}

}  // namespace vantrel::ctl
