// What a user outside the board group is told.
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "shared/BoardGroup.h"

namespace {

using namespace vantrel::shared;

TEST(BoardGroup, AdviceNamesTheGroupThatOwnsTheSocketAndNeverRoot) {
  const gid_t own = ::getegid();
  if (own != 0) {
    const std::string advice = JoinGroupAdvice(own, "the socket /x/ezusb-0");
    EXPECT_NE(advice.find("the group " + GroupName(own) + ", which owns the socket /x/ezusb-0"),
              std::string::npos)
        << advice;
    EXPECT_NE(advice.find("sudo usermod -aG " + GroupName(own) + " $USER' and log in again"),
              std::string::npos)
        << advice;
  }
  // A group no name has is named by its number.
  EXPECT_NE(JoinGroupAdvice(424242, "f").find("usermod -aG 424242 "), std::string::npos);
  const std::string root = JoinGroupAdvice(0, "the socket /x/ezusb-0");
  EXPECT_EQ(root.find("usermod -aG root"), std::string::npos) << root;
  EXPECT_NE(root.find("the daemon was started without a board group"), std::string::npos) << root;
  EXPECT_NE(root.find("--group vantrel"), std::string::npos) << root;
}

}  // namespace
