#include "k27/common/OptionText.h"

namespace k27::common {

std::string OptionName(const option* options, int code) {
  for (const option* o = options; o->name != nullptr; ++o)
    if (o->val == code) return std::string("--") + o->name;
  return "-" + std::string(1, static_cast<char>(code));
}

std::string OptionRefusal(const option* options, int result, char** argv) {
  if (result == ':') return OptionName(options, optopt) + " needs a value";
  if (optopt != 0) {
    for (const option* o = options; o->name != nullptr; ++o)
      if (o->val == optopt) return OptionName(options, optopt) + " takes no value";
    return "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'";
  }
  return "unknown option '" + std::string(argv[optind - 1]) + "'";
}

}  // namespace k27::common
