// The console's command table, which both the simulator's console and
// k27simctl's help read.
#include "vantrel/protocol/SimConsoleProtocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace vantrel::driver {
namespace {

TEST(SimConsoleCommands, EachIsFoundByItsFirstWordWhichItsUsageBeginsWith) {
  std::set<std::string> names;
  for (const SimConsoleCommand& command : SimConsoleCommands()) {
    const std::string name = command.name;
    EXPECT_TRUE(names.insert(name).second) << name << " is listed twice";
    EXPECT_EQ(FindSimConsoleCommand(name), &command);
    const std::string usage = command.usage;
    EXPECT_TRUE(usage == name || usage.starts_with(name + " ")) << usage;
    EXPECT_FALSE(std::string(command.what).empty()) << name;
  }
  EXPECT_EQ(names.size(), 11u);
  EXPECT_EQ(FindSimConsoleCommand("bogus"), nullptr);
  EXPECT_EQ(FindSimConsoleCommand(""), nullptr);
  EXPECT_EQ(FindSimConsoleCommand("input"), nullptr);
  EXPECT_EQ(FindSimConsoleCommand("inputs "), nullptr);
}

TEST(SimConsoleCommands, SummaryGivesEachCommandItsUsageLineThenItsHelpLine) {
  const std::string summary = SimConsoleSummary();
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'),
            static_cast<long>(2 * SimConsoleCommands().size()));
  EXPECT_TRUE(summary.starts_with(
      "  inputs [HEX]\n      show or set the five input bytes, as the board sends them "
      "(10 hex digits)\n  dips HEX\n"))
      << summary;
  EXPECT_TRUE(
      summary.ends_with("  advance MS\n      move the board's time on by MS milliseconds\n"))
      << summary;
}

}  // namespace
}  // namespace vantrel::driver
