// Writes one message at each level through the program's log sink, with the
// threshold that its arguments (--verbose / --quiet, repeatable) give.
#include <cstring>

#include "k27/common/Log.h"

int main(int argc, char** argv) {
  using namespace vantrel::common;
  int verbose = 0;
  int quiet = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--verbose") == 0) ++verbose;
    if (std::strcmp(argv[i], "--quiet") == 0) ++quiet;
  }
  Logger().SetThreshold(ThresholdFor(verbose, quiet));
  LogError("probe: error");
  LogWarning("probe: warning\nsecond line");
  LogInfo("probe: info");
  LogDebug("probe: debug");
  return 0;
}
