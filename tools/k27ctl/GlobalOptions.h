// The options that may stand anywhere on the line, before or after the
// command: --board/-b N, --address A, --json/-j and --timeout/-t SECONDS.
// After the command, an option that the command has itself under the same
// long name (inputs --timeout, say) is the command's; -t and its long form
// --reply-timeout are always the global one.
#pragma once

#include <getopt.h>

#include <string>
#include <vector>

namespace vantrel::ctl {

class Invocation;

// The global options that `commandOptions` leaves free, for getopt_long.
std::vector<option> GlobalOptionTable(const std::vector<option>& commandOptions = {});
// The short global options (-j, -b N, -bN, -t S, -tS) spelled long, so that
// they never meet a command's own codes. Values of options in `table` and
// everything after "--" are left as they are.
std::vector<std::string> SpellShortOptionsLong(const std::vector<std::string>& words,
                                               const std::vector<option>& table);
// Applies a global option's code from GlobalOptionTable; false for any other
// code. Throws UsageError for a bad value.
bool ApplyGlobalOption(Invocation& invocation, int code, const char* value);

// The invocation that options after the command apply to.
void BindGlobalOptions(Invocation& invocation);
Invocation* BoundInvocation();

}  // namespace vantrel::ctl
