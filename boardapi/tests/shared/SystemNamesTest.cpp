// The namespace taken from the environment.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "shared/SystemNames.h"

namespace {

using namespace vantrel::shared;

class SystemNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* value = std::getenv(kNamespaceVariable);
    if (value != nullptr) saved_ = value;
    had_ = value != nullptr;
  }
  void TearDown() override {
    if (had_)
      setenv(kNamespaceVariable, saved_.c_str(), 1);
    else
      unsetenv(kNamespaceVariable);
  }
  std::string NameUnder(const std::string& ns) {
    setenv(kNamespaceVariable, ns.c_str(), 1);
    return SystemObjectName("K27Mutex_SEM_3");
  }

  std::string saved_;
  bool had_ = false;
};

TEST_F(SystemNamesTest, ValidNamespaceIsPrefixed) {
  EXPECT_EQ(NameUnder("ci-run_7.a"), "/ci-run_7.a.K27Mutex_SEM_3");
  EXPECT_EQ(NameUnder(std::string(kMaxNamespaceLength, 'n')),
            "/" + std::string(kMaxNamespaceLength, 'n') + ".K27Mutex_SEM_3");
  unsetenv(kNamespaceVariable);
  EXPECT_EQ(SystemObjectName("K27SharedMemory"), "/K27SharedMemory");
}

TEST_F(SystemNamesTest, InvalidNamespaceIsIgnored) {
  for (const std::string& ns :
       {std::string(), std::string("a/b"), std::string("../x/"), std::string("sp ace"),
        std::string("a\nb"), std::string(kMaxNamespaceLength + 1, 'n')})
    EXPECT_EQ(NameUnder(ns), "/K27Mutex_SEM_3") << ns;
}

}  // namespace
