#include "ExchangeTrace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "k27/common/Hex.h"
#include "vantrel/protocol/ControlProtocol.h"

namespace vantrel::driver {

using vantrel::common::AppendHex;

std::string FormatExchange(const ExchangeRecord& record) {
  std::string line = ControlProtocol::SocketName(record.instance) +
                     " ch=" + std::to_string(record.channel) + " out=";
  AppendHex(line, record.out);
  line += " in=";
  if (record.in) AppendHex(line, *record.in);
  return line;
}

ExchangeTrace::ExchangeTrace(const std::string& path) {
  fd_.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!fd_)
    throw std::system_error(errno, std::generic_category(), "cannot open trace file " + path);
}

ExchangeTrace::~ExchangeTrace() = default;

void ExchangeTrace::Record(const ExchangeRecord& record) {
  const std::string line = FormatExchange(record) + '\n';
  std::lock_guard<std::mutex> lock(mutex_);
  // One write per line: with O_APPEND the line lands whole at the end, and it
  // is in the file as soon as the call returns.
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd_.Get(), line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ++failedWrites_;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

unsigned long ExchangeTrace::FailedWrites() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failedWrites_;
}

}  // namespace vantrel::driver
