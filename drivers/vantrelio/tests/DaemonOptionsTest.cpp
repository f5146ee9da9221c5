// The daemon's command line: every option in its forms, and the refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "daemon/DaemonOptions.h"

namespace vantrel::driver {
namespace {

CommandLine Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "vantrelio");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return ParseCommandLine(static_cast<int>(args.size()), argv.data());
}

// The exit status and what was written where.
struct Answer {
  std::optional<int> status;
  std::string out;
  std::string err;
};

Answer AnswerTo(std::vector<std::string> args) {
  std::ostringstream out, err;
  const std::optional<int> status = AnswerCommandLine(Parse(std::move(args)), out, err);
  return {status, out.str(), err.str()};
}

TEST(DaemonOptions, DefaultsServeTheUsb) {
  const CommandLine line = Parse({});
  EXPECT_EQ(line.action, CommandLine::Action::Serve);
  EXPECT_FALSE(line.options.simulate);
  EXPECT_FALSE(line.options.verbose);
  EXPECT_FALSE(line.options.quiet);
  EXPECT_TRUE(line.options.exchangeLocks);
  EXPECT_TRUE(line.options.group.empty());
  EXPECT_TRUE(line.options.adminGroup.empty());
  EXPECT_TRUE(line.options.implicitAdmins);
  EXPECT_FALSE(line.options.deviceDir);
  EXPECT_EQ(line.options.boards, 1u);
  EXPECT_EQ(line.options.isoDevices, 0u);
  EXPECT_EQ(line.options.eepromBytes, 32768u);
  EXPECT_EQ(line.options.connectionsPerBoard, 64u);
  EXPECT_EQ(line.options.connectionsPerUser, 256u);
  EXPECT_EQ(ConnectionsPerUserPerBoard(line.options), 48u);
  EXPECT_EQ(line.options.pollSeconds, 0u);
  EXPECT_EQ(line.options.loads.requestTimeLimit, std::chrono::seconds(5));
  EXPECT_EQ(line.options.loads.retries, 3u);
  EXPECT_EQ(line.options.loads.backoff, std::chrono::seconds(2));
  EXPECT_EQ(line.options.loads.boardWait, std::chrono::seconds(5));
  EXPECT_FALSE(line.options.externalTestRecords);
  EXPECT_EQ(AnswerTo({}).status, std::nullopt);
}

TEST(DaemonOptions, PollAndTheFirmwareLoadsLimits) {
  const CommandLine line =
      Parse({"--poll", "30", "--load-request-limit-ms=250", "--load-retries", "0",
             "--load-backoff-ms", "40", "--board-wait-ms", "600000", "--external-test-records"});
  ASSERT_EQ(line.action, CommandLine::Action::Serve) << line.error;
  EXPECT_EQ(line.options.pollSeconds, 30u);
  EXPECT_EQ(line.options.loads.requestTimeLimit, std::chrono::milliseconds(250));
  EXPECT_EQ(line.options.loads.retries, 0u);
  EXPECT_EQ(line.options.loads.backoff, std::chrono::milliseconds(40));
  EXPECT_EQ(line.options.loads.boardWait, std::chrono::minutes(10));
  EXPECT_TRUE(line.options.externalTestRecords);
  EXPECT_EQ(Parse({"--poll=3600"}).options.pollSeconds, 3600u);
}

TEST(DaemonOptions, EveryOptionWithItsValueApartOrAfterAnEqualsSign) {
  for (const bool joined : {false, true}) {
    std::vector<std::string> args{"--simulate", "--verbose", "--quiet", "--unlocked-exchanges",
                                  "--no-implicit-admins"};
    auto add = [&](const std::string& option, const std::string& value) {
      if (joined) {
        args.push_back(option + "=" + value);
      } else {
        args.push_back(option);
        args.push_back(value);
      }
    };
    add("--device-dir", "/tmp/k27 dir");
    add("--group", "plugdev");
    add("--admin-group", "k27admin");
    add("--user", "vantrelio");
    add("--trace", "trace.txt");
    add("--capture", "usb.pcap");
    add("--boards", "3");
    add("--iso-devices", "5");
    add("--eeprom-bytes", "128");
    add("--max-connections-per-board", "0");
    add("--max-connections-per-user", "999999999");
    add("--max-connections-per-user-per-board", "7");
    const CommandLine line = Parse(args);
    ASSERT_EQ(line.action, CommandLine::Action::Serve) << line.error;
    const DaemonOptions& o = line.options;
    EXPECT_TRUE(o.simulate);
    EXPECT_TRUE(o.verbose);
    EXPECT_TRUE(o.quiet);
    EXPECT_FALSE(o.exchangeLocks);
    EXPECT_EQ(o.deviceDir, "/tmp/k27 dir");
    EXPECT_EQ(o.group, "plugdev");
    EXPECT_EQ(o.adminGroup, "k27admin");
    EXPECT_EQ(o.user, "vantrelio");
    EXPECT_FALSE(o.implicitAdmins);
    EXPECT_EQ(o.tracePath, "trace.txt");
    EXPECT_EQ(o.capturePath, "usb.pcap");
    EXPECT_EQ(o.boards, 3u);
    EXPECT_EQ(o.isoDevices, 5u);
    EXPECT_EQ(o.eepromBytes, 128u);
    EXPECT_EQ(o.connectionsPerBoard, 0u);
    EXPECT_EQ(o.connectionsPerUser, 999999999u);
    EXPECT_EQ(ConnectionsPerUserPerBoard(o), 7u);
  }
}

TEST(DaemonOptions, AUsersShareOfABoardFollowsTheBoardsLimitUnlessGiven) {
  // Three quarters of the board's limit, so that others always keep a
  // quarter; no limit for a board without one.
  for (const auto& [perBoard, share] : std::vector<std::pair<std::string, unsigned>>{
           {"64", 48}, {"100", 75}, {"2", 2}, {"1", 1}, {"0", 0}}) {
    const CommandLine line = Parse({"--max-connections-per-board", perBoard});
    ASSERT_EQ(line.action, CommandLine::Action::Serve) << line.error;
    EXPECT_EQ(ConnectionsPerUserPerBoard(line.options), share) << perBoard;
  }
  const CommandLine unlimited = Parse({"--max-connections-per-user-per-board", "0"});
  EXPECT_EQ(ConnectionsPerUserPerBoard(unlimited.options), 0u);
  EXPECT_EQ(Parse({"--max-connections-per-user-per-board", "-1"}).action,
            CommandLine::Action::Refuse);
}

TEST(DaemonOptions, HelpAndVersionAnswerOnStandardOutput) {
  for (const auto& args : {std::vector<std::string>{"--help"},
                           {"-h"},
                           {"--simulate", "--help"},
                           {"--version", "--help"}}) {
    const Answer a = AnswerTo(args);
    EXPECT_EQ(a.status, 0);
    EXPECT_NE(a.out.find("Usage: vantrelio"), std::string::npos);
    EXPECT_NE(a.out.find("--max-connections-per-user"), std::string::npos);
    EXPECT_NE(a.out.find("--max-connections-per-user-per-board"), std::string::npos);
    EXPECT_NE(a.out.find("--quiet"), std::string::npos);
    EXPECT_NE(a.out.find("--admin-group"), std::string::npos);
    EXPECT_NE(a.out.find("--user NAME"), std::string::npos);
    EXPECT_EQ(a.out.find("--unlocked-exchanges"), std::string::npos);
    EXPECT_EQ(a.out.find("--no-implicit-admins"), std::string::npos);
    EXPECT_NE(a.out.find("--poll SECONDS"), std::string::npos);
    EXPECT_NE(a.out.find("SIGHUP"), std::string::npos);
    EXPECT_EQ(a.out.find("--load-"), std::string::npos);
    EXPECT_EQ(a.out.find("--external-test-records"), std::string::npos);
    EXPECT_TRUE(a.err.empty());
  }
  const Answer version = AnswerTo({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("vantrelio ", 0), 0u);
  EXPECT_EQ(version.out.back(), '\n');
  EXPECT_TRUE(version.err.empty());
}

TEST(DaemonOptions, RefusalsSayWhatIsWrongAndExitWith2) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      // Missing values.
      {{"--boards"}, "--boards needs a value"},
      {{"--simulate", "--capture"}, "--capture needs a value"},
      {{"--device-dir="}, "--device-dir needs a folder"},
      {{"--group", ""}, "--group needs a group name"},
      {{"--admin-group="}, "--admin-group needs a group name"},
      {{"--user", ""}, "--user needs a user name"},
      {{"--no-implicit-admins=yes"}, "--no-implicit-admins takes no value"},
      {{"--trace="}, "--trace needs a file name"},
      // Bad numbers and numbers out of range.
      {{"--boards", "two"}, "--boards needs a decimal number, not 'two'"},
      {{"--boards=-1"}, "--boards needs a decimal number, not '-1'"},
      {{"--boards", ""}, "--boards needs a decimal number, not ''"},
      {{"--max-connections-per-user", "1234567890"}, "needs a decimal number"},
      {{"--boards", "0"}, "--boards must be 1 to 8, not 0"},
      {{"--boards", "9"}, "--boards must be 1 to 8, not 9"},
      {{"--iso-devices", "8"}, "--iso-devices must be 0 to 7, not 8"},
      {{"--boards", "2", "--iso-devices", "7"}, "together must be at most 8"},
      {{"--eeprom-bytes", "64"}, "power of two from 128 to 65536, not 64"},
      {{"--eeprom-bytes", "1000"}, "not 1000"},
      {{"--eeprom-bytes=131072"}, "not 131072"},
      {{"--poll", "0"}, "--poll must be 1 to 3600 seconds, not 0"},
      {{"--poll=3601"}, "--poll must be 1 to 3600 seconds, not 3601"},
      {{"--poll"}, "--poll needs a value"},
      {{"--simulate", "--poll", "5"}, "--poll looks at the USB; a --simulate daemon has none"},
      {{"--load-request-limit-ms", "0"}, "--load-request-limit-ms must be 1 to 600000 ms, not 0"},
      {{"--board-wait-ms=600001"}, "--board-wait-ms must be 1 to 600000 ms"},
      {{"--load-backoff-ms", "x"}, "--load-backoff-ms needs a decimal number"},
      {{"--load-retries", "11"}, "--load-retries must be 0 to 10, not 11"},
      // Unknown options, values where none belong, stray arguments.
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"--simulate", "-x"}, "unknown option '-x'"},
      {{"--verbose=yes"}, "--verbose takes no value"},
      {{"--quiet=1"}, "--quiet takes no value"},
      {{"--help=me"}, "--help takes no value"},
      {{"--simulate", "boards"}, "unexpected argument 'boards'"},
      // A refusal wins over --help.
      {{"--help", "--boards", "0"}, "--boards must be 1 to 8"},
  };
  for (const auto& [args, message] : cases) {
    std::string joined;
    for (const auto& a : args) joined += a + ' ';
    const CommandLine line = Parse(args);
    EXPECT_EQ(line.action, CommandLine::Action::Refuse) << joined;
    EXPECT_NE(line.error.find(message), std::string::npos) << joined << "-> " << line.error;
    const Answer a = AnswerTo(args);
    EXPECT_EQ(a.status, kUsageError) << joined;
    EXPECT_TRUE(a.out.empty()) << joined;
    EXPECT_EQ(a.err, "vantrelio: " + line.error + "\nTry 'vantrelio --help'.\n") << joined;
  }
}

TEST(DaemonOptions, EachParseStartsAfresh) {
  EXPECT_EQ(Parse({"--frobnicate"}).action, CommandLine::Action::Refuse);
  const CommandLine line = Parse({"--boards", "2"});
  EXPECT_EQ(line.action, CommandLine::Action::Serve) << line.error;
  EXPECT_EQ(line.options.boards, 2u);
}

}  // namespace
}  // namespace vantrel::driver
