// Throughput of recovery data's arithmetic and checksums: each GF(2^16)
// multiply-add kernel, MD5 one stream at a time and each MD5 lane kernel,
// CRC-32 and the per-file hasher (two MD5 streams and a CRC-32 over every
// byte).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "recovery/Crc32.h"
#include "recovery/Gf16.h"
#include "recovery/Md5.h"
#include "recovery/Md5Lanes.h"
#include "recovery/RecoveryHash.h"

namespace {

using namespace vokram::recovery;

std::vector<std::uint8_t> Data(std::size_t n) {
  std::vector<std::uint8_t> data(n);
  std::mt19937 generator(1);
  for (auto& b : data) b = static_cast<std::uint8_t>(generator());
  return data;
}

// One recovery tile taking 16 inputs in turn, as the encoder's inner loop
// does; the buffer size sets which cache level the inputs come from.
void MultiplyAdd(benchmark::State& state, GfKernel kernel) {
  if (static_cast<int>(kernel) > static_cast<int>(SupportedGfKernel())) {
    state.SkipWithError("not on this processor");
    return;
  }
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto inputs = Data(16 * n);
  std::vector<std::uint8_t> dst(n);
  const std::size_t stride = GfPreparedBytes(kernel);
  std::vector<std::uint8_t> prepared(16 * stride + 64);
  auto* aligned = reinterpret_cast<std::uint8_t*>((reinterpret_cast<std::uintptr_t>(prepared.data()) + 63) & ~std::uintptr_t{63});
  for (std::size_t i = 0; i < 16; ++i) GfPrepare(kernel, InputFactor(static_cast<std::uint32_t>(i), 5), aligned + i * stride);
  for (auto _ : state) {
    for (std::size_t i = 0; i < 16; ++i) GfMultiplyAdd(kernel, dst.data(), inputs.data() + i * n, n, aligned + i * stride);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16 * state.range(0));
}

void Md5Stream(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Md5Of(data));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// As many streams as the kernel has lanes, each over its own bytes of the
// given length, fed a slice (160 KiB) at a time as the encoder feeds them.
// Lane streams in slices as the encoder reads them; with `pairs`, each
// slice also feeds a second set of lanes, as a piece's hash and its slice's
// take the same bytes (bytes_per_second counts the bytes read, once).
void Md5LaneStreams(benchmark::State& state, Md5Kernel kernel, bool pairs) {
  if (static_cast<int>(kernel) > static_cast<int>(SupportedMd5Kernel())) {
    state.SkipWithError("not on this processor");
    return;
  }
  const std::size_t lanes = Md5LaneCount(kernel), n = static_cast<std::size_t>(state.range(0));
  const auto data = Data(lanes * n);
  constexpr std::size_t kSlice = 160 << 10;
  for (auto _ : state) {
    Md5Lanes md5(kernel), also(kernel);
    for (std::size_t at = 0; at < n; at += kSlice) {
      std::span<const std::uint8_t> chunks[kMaxMd5Lanes];
      for (std::size_t lane = 0; lane < lanes; ++lane) {
        chunks[lane] = std::span(data).subspan(lane * n + at, std::min(kSlice, n - at));
      }
      md5.Update(std::span(chunks, lanes), pairs ? &also : nullptr);
    }
    for (std::size_t lane = 0; lane < lanes; ++lane) benchmark::DoNotOptimize(md5.Digest(lane));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(lanes) * state.range(0));
}

void Crc32Stream(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(UpdateCrc32(0, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// A piece's checksums with 160 KiB slices, fed in 1 MiB chunks as a copy loop
// would.
void FileHashing(benchmark::State& state) {
  const auto data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    FileHasher hasher(160 << 10);
    for (std::size_t at = 0; at < data.size(); at += 1 << 20) {
      hasher.Update(data.data() + at, std::min<std::size_t>(1 << 20, data.size() - at));
    }
    benchmark::DoNotOptimize(hasher.Finish());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK_CAPTURE(MultiplyAdd, portable, GfKernel::Portable)->Arg(4 << 10)->Arg(64 << 10);
BENCHMARK_CAPTURE(MultiplyAdd, shuffle256, GfKernel::Shuffle256)->Arg(4 << 10)->Arg(64 << 10);
BENCHMARK_CAPTURE(MultiplyAdd, affine256, GfKernel::Affine256)->Arg(4 << 10)->Arg(64 << 10);
BENCHMARK_CAPTURE(MultiplyAdd, affine512, GfKernel::Affine512)->Arg(4 << 10)->Arg(64 << 10);
BENCHMARK(Md5Stream)->Arg(64 << 20);
BENCHMARK_CAPTURE(Md5LaneStreams, portable, Md5Kernel::Portable, false)->Arg(4 << 20);
BENCHMARK_CAPTURE(Md5LaneStreams, avx2, Md5Kernel::Avx2, false)->Arg(32 << 10)->Arg(4 << 20);
BENCHMARK_CAPTURE(Md5LaneStreams, avx512, Md5Kernel::Avx512, false)->Arg(32 << 10)->Arg(4 << 20);
BENCHMARK_CAPTURE(Md5LaneStreams, portable_pairs, Md5Kernel::Portable, true)->Arg(4 << 20);
BENCHMARK_CAPTURE(Md5LaneStreams, avx2_pairs, Md5Kernel::Avx2, true)->Arg(32 << 10)->Arg(4 << 20);
BENCHMARK_CAPTURE(Md5LaneStreams, avx512_pairs, Md5Kernel::Avx512, true)->Arg(32 << 10)->Arg(4 << 20);
BENCHMARK(Crc32Stream)->Arg(64 << 20);
BENCHMARK(FileHashing)->Arg(64 << 20);
BENCHMARK_MAIN();
