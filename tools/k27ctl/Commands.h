// The command families of k27ctl, one source file each. Each parses all of
// its arguments before it touches the board and returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "Cli.h"

class CcTalkDictionary;

namespace vantrel::ctl {

using Args = std::vector<std::string>;

int RunList(Invocation& invocation, const Args& args);
int RunInputs(Invocation& invocation, const Args& args);
int RunWaitInput(Invocation& invocation, const Args& args);
int RunDips(Invocation& invocation, const Args& args);
int RunHoppers(Invocation& invocation, const Args& args);
int RunOutputs(Invocation& invocation, const Args& args);
int RunLampTest(Invocation& invocation, const Args& args);
int RunReels(Invocation& invocation, const Args& args);
int RunEeprom(Invocation& invocation, const Args& args);
int RunSram(Invocation& invocation, const Args& args);
int RunClock(Invocation& invocation, const Args& args);
int RunSecurity(Invocation& invocation, const Args& args);
int RunRandom(Invocation& invocation, const Args& args);
int RunSpi(Invocation& invocation, const Args& args);
int RunSerial(Invocation& invocation, const Args& args);
int RunCcTalk(Invocation& invocation, const Args& args);
// `cctalk names`: every command of the dictionaries, "HEADER NAME" a line (as
// the completion of the shell reads them) or as JSON.
int PrintCcTalkNames(bool json, const CcTalkDictionary& dictionary);

}  // namespace vantrel::ctl
