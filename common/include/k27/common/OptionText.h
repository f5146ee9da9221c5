// Words for what getopt_long refused, shared by the programs' option parsers
// so that every program names a bad option the same way.
#pragma once

#include <getopt.h>

#include <string>

namespace vantrel::common {

// "--name" for a long option in `options` (ended by a null name), else "-c".
std::string OptionName(const option* options, int code);

// What getopt_long refused, after it returned '?' or ':': the option in hand
// is argv[optind - 1] for an unknown long option, optopt for a short one or a
// known option used wrongly.
std::string OptionRefusal(const option* options, int result, char** argv);

}  // namespace vantrel::common
