// One command/response exchange through the daemon to a simulated board,
// against a bare SOCK_SEQPACKET round trip of the same sizes.
#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <vantrel/VantrelUSB.h>
#include <vantrel/protocol/ControlCodes.h>
#include <vantrel/protocol/ControlProtocol.h>

#include <vantrel/testsupport/SimDaemon.h>

#include "BenchDaemon.h"

#include "link/SocketDeviceLink.h"

namespace {

namespace drv = vantrel::driver;
using Block = drv::BulkExchangeBlock;
constexpr std::size_t kRequestBytes = drv::ControlProtocol::kRequestHeader + Block::kSize;
constexpr std::size_t kReplyBytes = drv::ControlProtocol::kReplyHeader + Block::kSize;

// The exchange the library makes to ask whether the image runs.
void FillImageQuery(std::uint8_t* block) {
  std::memset(block, 0, Block::kSize);
  drv::StoreLe32(block + Block::kOutPipe, 11);
  drv::StoreLe32(block + Block::kInPipe, 10);
  drv::StoreLe32(block + Block::kOutLength, 1);
  drv::StoreLe32(block + Block::kInLength, 65);
  block[Block::kHeaderSize] = 0x4A;
}

void BM_BareSeqpacketRoundTrip(benchmark::State& state) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  std::thread echo([fd = pair[1]] {
    std::uint8_t buffer[kRequestBytes];
    std::uint8_t reply[kReplyBytes] = {};
    while (::recv(fd, buffer, sizeof buffer, 0) > 0)
      if (::send(fd, reply, sizeof reply, MSG_NOSIGNAL) < 0) break;
  });
  std::uint8_t request[kRequestBytes] = {};
  std::uint8_t reply[kReplyBytes];
  for (auto _ : state) {
    ::send(pair[0], request, sizeof request, MSG_NOSIGNAL);
    benchmark::DoNotOptimize(::recv(pair[0], reply, sizeof reply, 0));
  }
  ::shutdown(pair[0], SHUT_RDWR);
  echo.join();
  ::close(pair[0]);
  ::close(pair[1]);
}
BENCHMARK(BM_BareSeqpacketRoundTrip)->UseRealTime();

// The same round trip with the echo in another process, as the daemon is:
// the baseline that differs from the daemon's exchange only by its work.
void BM_BareSeqpacketRoundTripToProcess(benchmark::State& state) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  const pid_t echo = ::fork();
  if (echo == 0) {
    ::close(pair[0]);
    std::uint8_t buffer[kRequestBytes];
    std::uint8_t reply[kReplyBytes] = {};
    while (::recv(pair[1], buffer, sizeof buffer, 0) > 0)
      if (::send(pair[1], reply, sizeof reply, MSG_NOSIGNAL) < 0) break;
    ::_exit(0);
  }
  ::close(pair[1]);
  std::uint8_t request[kRequestBytes] = {};
  std::uint8_t reply[kReplyBytes];
  for (auto _ : state) {
    ::send(pair[0], request, sizeof request, MSG_NOSIGNAL);
    benchmark::DoNotOptimize(::recv(pair[0], reply, sizeof reply, 0));
  }
  ::close(pair[0]);
  ::waitpid(echo, nullptr, 0);
}
BENCHMARK(BM_BareSeqpacketRoundTripToProcess)->UseRealTime();

using vantrel::bench::SharedDaemon;

void BM_DaemonExchange(benchmark::State& state) {
  vantrel::testsupport::SimDaemon* daemon = SharedDaemon();
  if (daemon == nullptr) {
    state.SkipWithError("daemon did not start");
    return;
  }
  auto link = vantrel::SocketDeviceLink::Connect(daemon->Socket(0).string());
  if (!link) {
    state.SkipWithError("cannot connect to the daemon");
    return;
  }
  std::uint8_t request[Block::kSize];
  std::uint8_t reply[Block::kSize];
  FillImageQuery(request);
  std::uint32_t returned = 0;
  for (auto _ : state) {
    if (!link->Control(drv::IOCTL_VIO_BULK_EXCHANGE, request, reply, &returned)) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
}
BENCHMARK(BM_DaemonExchange)->UseRealTime();

// The same exchange as a user's program makes it, through VantrelUSB.
void BM_LibraryGet8051Version(benchmark::State& state) {
  if (SharedDaemon() == nullptr) {
    state.SkipWithError("daemon did not start");
    return;
  }
  VantrelUSB board;
  if (!board.init(0)) {
    state.SkipWithError("init failed");
    return;
  }
  unsigned char text[64];
  for (auto _ : state) benchmark::DoNotOptimize(board.Get8051Version(text));
  board.close();
}
BENCHMARK(BM_LibraryGet8051Version)->UseRealTime();

}  // namespace
