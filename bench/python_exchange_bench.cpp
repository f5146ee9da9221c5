// The cost of one board exchange from Python (the module k27) next to the
// same call from C++, in one run against one simulated daemon: the input
// snapshot and a 16-byte EEPROM read. The Python figures include the call
// from this program into the interpreter, a few hundred nanoseconds.
#include <benchmark/benchmark.h>
#include <pybind11/embed.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <vantrel/VantrelUSB.h>

#include <vantrel/testsupport/SimDaemon.h>

#include "BenchDaemon.h"

namespace py = pybind11;

namespace {

// The least of the repetitions: the cost itself, with the least of what else
// the machine was doing at the time. Run with --benchmark_repetitions=N
// --benchmark_enable_random_interleaving=true.
double Least(const std::vector<double>& values) {
  return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end());
}

using vantrel::bench::SharedDaemon;

// Board 0 opened from C++, once for the run.
VantrelUSB* CppBoard() {
  static VantrelUSB board;
  static const bool open = SharedDaemon() != nullptr && board.init(0) != 0;
  return open ? &board : nullptr;
}

// Board 0 opened from Python, once for the run; let go of before the
// interpreter ends.
py::object pythonBoard;

py::object PythonBoard() {
  if (!pythonBoard && SharedDaemon() != nullptr) {
    py::module_::import("sys").attr("path").attr("insert")(0, K27_PYTHON_BUILD_DIR);
    pythonBoard = py::module_::import("k27").attr("Board")(0);
  }
  return pythonBoard;
}

void BM_CppGetInputs(benchmark::State& state) {
  VantrelUSB* board = CppBoard();
  if (board == nullptr) return state.SkipWithError("no board");
  usbInput inputs{};
  for (auto _ : state)
    if (board->GetInputs(&inputs) == 0) return state.SkipWithError("GetInputs failed");
}
BENCHMARK(BM_CppGetInputs)->UseRealTime()->ComputeStatistics("min", Least);

void BM_PythonGetInputs(benchmark::State& state) {
  py::object board = PythonBoard();
  if (!board) return state.SkipWithError("no board");
  py::object read = board.attr("get_inputs");
  for (auto _ : state) benchmark::DoNotOptimize(read().ptr());
}
BENCHMARK(BM_PythonGetInputs)->UseRealTime()->ComputeStatistics("min", Least);

void BM_CppReadEeprom16(benchmark::State& state) {
  VantrelUSB* board = CppBoard();
  if (board == nullptr) return state.SkipWithError("no board");
  unsigned char buffer[16];
  for (auto _ : state)
    if (board->ReadEEPROM(8, buffer, sizeof buffer) == 0)
      return state.SkipWithError("ReadEEPROM failed");
}
BENCHMARK(BM_CppReadEeprom16)->UseRealTime()->ComputeStatistics("min", Least);

void BM_PythonReadEeprom16(benchmark::State& state) {
  py::object board = PythonBoard();
  if (!board) return state.SkipWithError("no board");
  py::object read = board.attr("read_eeprom");
  py::int_ address(8), length(16);
  for (auto _ : state) benchmark::DoNotOptimize(read(address, length).ptr());
}
BENCHMARK(BM_PythonReadEeprom16)->UseRealTime()->ComputeStatistics("min", Least);

}  // namespace

int main(int argc, char** argv) {
  // The run's shared board records are its own.
  const std::string ns = "k27-pybench-" + std::to_string(::getpid());
  ::setenv("VANTREL_SHARED_NAMESPACE", ns.c_str(), 1);
  {
    py::scoped_interpreter interpreter;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (pythonBoard) pythonBoard.attr("close")();
    pythonBoard = py::object();
  }
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error))
    if (entry.path().filename().string().rfind(ns + ".", 0) == 0)
      std::filesystem::remove(entry.path(), error);
  return 0;
}
