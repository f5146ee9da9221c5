// The output stress of the cross-process tests: eight threads, each switching
// only its own outputs with SetOutputBit, and the image they must leave.
#pragma once

#include <array>
#include <vector>

namespace vantrel::test::outputstress {

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 1000;

struct Call {
  int output;
  int on;
};

// Thread t owns the lamps t, t + 8, t + 16, t + 24 and, for t < 6, auxiliary
// output 32 + t.
inline std::vector<int> Outputs(int thread) {
  std::vector<int> outputs = {thread, thread + 8, thread + 16, thread + 24};
  if (thread < 6) outputs.push_back(32 + thread);
  return outputs;
}

inline std::vector<Call> Calls(int thread) {
  const auto outputs = Outputs(thread);
  std::vector<Call> calls;
  for (int i = 0; i < kCallsPerThread; ++i) {
    const int output = outputs[static_cast<std::size_t>(i) % outputs.size()];
    calls.push_back({output, (i / static_cast<int>(outputs.size()) + output) % 2});
  }
  return calls;
}

// The image once every thread has made its calls.
inline std::array<unsigned char, 5> FinalImage() {
  std::array<unsigned char, 5> image{};
  for (int t = 0; t < kThreads; ++t) {
    for (const Call& call : Calls(t)) {
      const int byte = call.output < 32 ? call.output / 8 : 4;
      const int bit = call.output < 32 ? call.output % 8 : call.output - 32;
      if (call.on)
        image[static_cast<std::size_t>(byte)] |= static_cast<unsigned char>(1u << bit);
      else
        image[static_cast<std::size_t>(byte)] &= static_cast<unsigned char>(~(1u << bit));
    }
  }
  return image;
}

}  // namespace vantrel::test::outputstress
