#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "device/ExchangeTrace.h"
#include "TestClient.h"

namespace vantrel::driver {
namespace {

TEST(ExchangeTraceTest, LineShowsInstanceChannelAndBothTransfers) {
  EXPECT_EQ(FormatExchange({0, 6, {0x4A}, std::vector<std::uint8_t>{0x4A, 0x00, 0x00}}),
            "ezusb-0 ch=6 out=4A in=4A0000");
  EXPECT_EQ(FormatExchange({7, 2, {0x0A, 0xBC, 0xFF}, std::nullopt}),
            "ezusb-7 ch=2 out=0ABCFF in=");
  EXPECT_EQ(FormatExchange({1, 5, {}, std::vector<std::uint8_t>{}}), "ezusb-1 ch=5 out= in=");
}

TEST(ExchangeTraceTest, ConcurrentRecordsAppendWholeLines) {
  const std::filesystem::path dir = test::MakeTempDir();
  const std::filesystem::path file = dir / "trace.log";
  { std::ofstream(file) << "earlier line\n"; }
  constexpr int kThreads = 4, kLines = 200;
  {
    ExchangeTrace trace(file.string());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const std::vector<std::uint8_t> bytes(40, static_cast<std::uint8_t>(0x11 * (t + 1)));
        for (int i = 0; i < kLines; ++i) trace.Record({t, t + 1, bytes, bytes});
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(trace.FailedWrites(), 0u);
  }
  std::ifstream in(file);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "earlier line");
  int count = 0;
  while (std::getline(in, line)) {
    ++count;
    const int t = line.at(6) - '0';
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    const ExchangeRecord expected{t, t + 1,
                                  std::vector<std::uint8_t>(40, std::uint8_t(0x11 * (t + 1))),
                                  std::vector<std::uint8_t>(40, std::uint8_t(0x11 * (t + 1)))};
    ASSERT_EQ(line, FormatExchange(expected));
  }
  EXPECT_EQ(count, kThreads * kLines);
  std::filesystem::remove_all(dir);
}

TEST(ExchangeTraceTest, UnwritableFileIsReported) {
  EXPECT_THROW(ExchangeTrace("/nonexistent-folder/trace.log"), std::system_error);
}

}  // namespace
}  // namespace vantrel::driver
