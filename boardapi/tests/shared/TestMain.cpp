// The library attaches its shared state as soon as it is loaded, under the
// namespace in the environment. So that test processes running side by side
// (ctest -j, several build trees) never share state, each one starts again
// under a namespace of its own: the given one plus its process id.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "PeerProcess.h"

namespace {
constexpr const char* kRestarted = "K27_SHARED_TEST_OWN_NAMESPACE";
}

int main(int argc, char** argv) {
  if (std::getenv(kRestarted) == nullptr) {
    const char* given = std::getenv("VANTREL_SHARED_NAMESPACE");
    const std::string base = given != nullptr ? given : "";
    const std::string ns =
        (base.empty() ? std::string("k27t-shared") : base) + "-" + std::to_string(getpid());
    setenv("VANTREL_SHARED_NAMESPACE", ns.c_str(), 1);
    // The first start attached under the base namespace; the restarted
    // process removes those objects too.
    setenv(kRestarted, base.c_str(), 1);
    execv("/proc/self/exe", argv);
    return 127;
  }
  const std::string base = std::getenv(kRestarted);
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  vantrel::shared::test::UnlinkNamespace(vantrel::shared::test::OwnNamespace());
  if (!base.empty()) vantrel::shared::test::UnlinkNamespace(base);
  return result;
}
