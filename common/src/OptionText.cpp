#include "k27/common/OptionText.h"

namespace vantrel::common {

std::string OptionName(const option* options, int code) {
  for (const option* o = options; o->name != nullptr; ++o)
    if (o->val == code) return std::string("--").append(o->name);
  // Appended, not "-" + string: GCC 12 at -O3 warns of an overlapping copy there.
  std::string name = "-";
  name += static_cast<char>(code);
  return name;
}

std::string OptionRefusal(const option* options, int result, char** argv) {
  if (result == ':') return OptionName(options, optopt) + " needs a value";
  if (optopt != 0) {
    for (const option* o = options; o->name != nullptr; ++o)
      if (o->val == optopt) return OptionName(options, optopt) + " takes no value";
    std::string refusal = "unknown option '-";
    refusal += static_cast<char>(optopt);
    return refusal + "'";
  }
  return "unknown option '" + std::string(argv[optind - 1]) + "'";
}

}  // namespace vantrel::common
