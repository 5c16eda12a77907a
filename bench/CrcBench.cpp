// Throughput of the CRC-16 paths by buffer size.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "CrcFold.h"
#include "GetCRC.h"

namespace {

std::vector<std::uint8_t> Data(std::size_t n) {
  std::vector<std::uint8_t> data(n);
  std::mt19937 generator(1);
  for (auto& b : data) b = static_cast<std::uint8_t>(generator());
  return data;
}

void Bytewise(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  const auto& table = vokram::CRCTable();
  for (auto _ : state) {
    std::uint16_t crc = vokram::kCrcInitial;
    for (std::uint8_t b : data) crc = static_cast<std::uint16_t>((crc >> 8) ^ table[(crc ^ b) & 0xFF]);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Sliced(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(vokram::UpdateCRCSliced(vokram::kCrcInitial, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Best(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  state.SetLabel(std::to_string(static_cast<int>(vokram::detail::ChosenFold())) + "-bit fold");
  for (auto _ : state) benchmark::DoNotOptimize(vokram::UpdateCRC(vokram::kCrcInitial, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// Each fold width this processor runs, whichever UpdateCRC would choose.
void Folded(benchmark::State& state, vokram::detail::FoldWidth width) {
  if (static_cast<int>(width) > static_cast<int>(vokram::detail::SupportedFold())) {
    state.SkipWithError("not on this processor");
    return;
  }
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::size_t done = 0;
    benchmark::DoNotOptimize(vokram::detail::UpdateCRCFolded(width, vokram::kCrcInitial, data.data(), data.size(), &done));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void Memcpy(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  std::vector<std::uint8_t> copy(data.size());
  for (auto _ : state) {
    std::copy(data.begin(), data.end(), copy.begin());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(Bytewise)->Arg(4 << 10)->Arg(1 << 20)->Arg(256 << 20);
BENCHMARK(Sliced)->Arg(4 << 10)->Arg(1 << 20)->Arg(256 << 20);
BENCHMARK_CAPTURE(Folded, 128, vokram::detail::FoldWidth::Bits128)->Arg(4 << 10)->Arg(1 << 20)->Arg(256 << 20);
BENCHMARK_CAPTURE(Folded, 256, vokram::detail::FoldWidth::Bits256)->Arg(4 << 10)->Arg(1 << 20)->Arg(256 << 20);
BENCHMARK_CAPTURE(Folded, 512, vokram::detail::FoldWidth::Bits512)->Arg(4 << 10)->Arg(1 << 20)->Arg(256 << 20);
BENCHMARK(Best)->Arg(4 << 10)->Arg(1 << 20)->Arg(256 << 20);
BENCHMARK(Memcpy)->Arg(4 << 10)->Arg(1 << 20)->Arg(256 << 20);
BENCHMARK_MAIN();
