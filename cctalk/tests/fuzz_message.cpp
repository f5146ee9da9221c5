// libFuzzer entry point for ccTalk frames: arbitrary bytes become messages
// (raw, built and with replaced data), which are validated, dumped, read and
// compared. Needs only the frame logic, not the board.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "CcctalkMessage.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// What every message must satisfy, whatever its bytes.
void Exercise(CcctalkMessage& m) {
  Check(m.length() <= CcctalkMessage::kMaximumLength);
  const bool valid = m.validate() == CcctalkMessage::kOk;
  if (valid) Check(m.length() == m.dataCount() + CcctalkMessage::kMinimumLength);
  const std::string dump = m.dump();
  // 16 bytes per line; each line at most 3 * 16 + 2 + 16 + 1 characters.
  const std::size_t lines = (m.length() + 15) / 16;
  Check(dump.size() <= lines * 67);
  Check(m.length() == 0 ? dump.empty() : dump.back() == '\n');
  (void)m.destination();
  (void)m.source();
  (void)m.header();
  const CcctalkMessage copy = m;
  Check(copy == m);
  Check(m.echo().length() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);

  CcctalkMessage raw;
  const bool fits = raw.assign(input) == CcctalkMessage::kOk;
  Check(fits == (size <= CcctalkMessage::kMaximumLength));
  Exercise(raw);

  if (size >= 4) {
    CcctalkMessage built;
    built.build(data[0], data[1], data[2], data[3], input.subspan(4));
    Check(built.validate() == CcctalkMessage::kOk);
    Exercise(built);
    CcctalkMessage replaced = built;
    const bool accepted = replaced.setData(input.subspan(4)) == CcctalkMessage::kOk;
    Check(accepted == (size - 4 <= CcctalkMessage::kMaximumData));
    if (accepted) Check(replaced.validate() == CcctalkMessage::kOk);
    Exercise(replaced);
    (void)(built == raw);
  }
  return 0;
}
