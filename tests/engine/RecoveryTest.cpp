#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <random>
#include <string>

#include "TestSupport.h"
#include "recovery/Crc32.h"
#include "recovery/Gf16.h"
#include "recovery/Md5.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryPlan.h"

namespace vokram::recovery {
namespace {

using test::AsBytes;
using test::Bytes;

std::string Hex(const Md5Digest& d) {
  std::string s;
  for (std::uint8_t b : d) s += "0123456789abcdef"[b >> 4], s += "0123456789abcdef"[b & 15];
  return s;
}

Bytes Pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return b;
}

TEST(Checksums, KnownVectorsAndAnyChunking) {
  EXPECT_EQ(Hex(Md5Of(Bytes{})), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex(Md5Of(AsBytes("abc"))), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex(Md5Of(AsBytes(std::string(56, 'a')))), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Hex(Md5Of(AsBytes(std::string(64, 'a')))), "014842d480b571495a4a0363793f7367");
  std::string eighty;
  for (int i = 0; i < 8; ++i) eighty += "1234567890";
  EXPECT_EQ(Hex(Md5Of(AsBytes(eighty))), "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(Hex(Md5Of(Pattern(1000))), "10046f077f2082ac19676b8079f1cb1a");

  const auto crc = [](const Bytes& b) { return UpdateCrc32(0, b.data(), b.size()); };
  EXPECT_EQ(crc(AsBytes("123456789")), 0xCBF43926u);
  EXPECT_EQ(crc(AsBytes("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
  EXPECT_EQ(crc(Pattern(1000)), 0x17BC2A46u);
  EXPECT_EQ(crc(Bytes{}), 0u);

  // Chunks of every size across block and padding boundaries, and zeros fed
  // as such, give the digest of the whole.
  const Bytes data = test::RandomBytes(5000, 3);
  std::mt19937 generator(5);
  for (int round = 0; round < 40; ++round) {
    Md5 md5;
    std::uint32_t c = 0;
    for (std::size_t at = 0; at < data.size();) {
      const std::size_t n = std::min<std::size_t>(generator() % 150, data.size() - at);
      md5.Update(data.data() + at, n);
      c = UpdateCrc32(c, data.data() + at, n);
      at += n;
    }
    ASSERT_EQ(md5.Digest(), Md5Of(data));
    ASSERT_EQ(c, crc(data));
    const std::size_t zeros = generator() % 9000;
    md5.UpdateZeros(zeros);
    Bytes padded = data;
    padded.resize(data.size() + zeros);
    ASSERT_EQ(md5.Digest(), Md5Of(padded));
    ASSERT_EQ(UpdateCrc32Zeros(c, zeros), crc(padded));
  }
}

// Shift-and-add with reduction, independent of the field's tables.
std::uint16_t SlowMultiply(std::uint16_t a, std::uint16_t b) {
  std::uint32_t r = 0, x = a;
  for (int i = 0; i < 16; ++i, x <<= 1) {
    if (x & 0x10000) x ^= 0x1100B;
    if (b >> i & 1) r ^= x;
  }
  return static_cast<std::uint16_t>(r);
}

TEST(Gf16, FieldAndInputConstants) {
  std::mt19937 generator(9);
  for (int i = 0; i < 20000; ++i) {
    const auto a = static_cast<std::uint16_t>(generator()), b = static_cast<std::uint16_t>(generator());
    ASSERT_EQ(GfMultiply(a, b), SlowMultiply(a, b)) << a << " * " << b;
  }
  const std::uint16_t constants[] = {2, 4, 16, 128, 256, 2048, 8192, 16384, 4107};
  for (std::uint32_t i = 0; i < 9; ++i) EXPECT_EQ(InputFactor(i, 1), constants[i]) << i;
  EXPECT_EQ(InputFactor(7, 0), 1);
  EXPECT_EQ(InputFactor(3, 2), GfMultiply(128, 128));
  // The last constant: 2^n with n the 32768th exponent coprime to 65535.
  EXPECT_EQ(InputFactor(kMaxSlices - 1, 1), GfPowerOfTwo(65534));
}

// Every kernel this processor runs against the portable one: factors with
// few and many bits, lengths of one block up, unaligned buffers.
TEST(Gf16, EveryKernelAgreesWithThePortableOne) {
  const Bytes raw = test::RandomBytes(64 * kGfBlock + 64, 17);
  for (GfKernel kernel : {GfKernel::Shuffle256, GfKernel::Affine256, GfKernel::Affine512}) {
    if (static_cast<int>(kernel) > static_cast<int>(SupportedGfKernel())) continue;
    SCOPED_TRACE(GfKernelName(kernel));
    for (int f : {0, 1, 2, 0x8000, 0xFFFF, 0x1234, 0x100B}) {
      const auto factor = static_cast<std::uint16_t>(f);
      for (std::size_t n : {kGfBlock, 3 * kGfBlock, 64 * kGfBlock}) {
        const std::size_t skew = n % 7;
        Bytes expected = test::RandomBytes(n + 64, static_cast<std::uint32_t>(f + 1)), actual = expected;
        alignas(64) std::uint8_t portable[1024], prepared[1024];
        GfPrepare(GfKernel::Portable, factor, portable);
        GfPrepare(kernel, factor, prepared);
        GfMultiplyAdd(GfKernel::Portable, expected.data() + skew, raw.data() + 1, n, portable);
        GfMultiplyAdd(kernel, actual.data() + skew, raw.data() + 1, n, prepared);
        ASSERT_EQ(actual, expected) << factor << " over " << n;
      }
    }
  }
  // The portable kernel in raw words, through the layout and back.
  Bytes layout(kGfBlock), product(kGfBlock, 0), back(kGfBlock);
  ToWorkingLayout(layout.data(), raw.data(), kGfBlock);
  alignas(64) std::uint8_t prepared[1024];
  GfPrepare(GfKernel::Portable, 0x4321, prepared);
  GfMultiplyAdd(GfKernel::Portable, product.data(), layout.data(), kGfBlock, prepared);
  FromWorkingLayout(back.data(), product.data(), kGfBlock);
  for (std::size_t w = 0; w < kGfBlock / 2; ++w) {
    const auto word = static_cast<std::uint16_t>(raw[2 * w] | raw[2 * w + 1] << 8);
    ASSERT_EQ(back[2 * w] | back[2 * w + 1] << 8, SlowMultiply(word, 0x4321)) << w;
  }
}

TEST(Gf16, TheEnvironmentOnlyNarrowsTheKernel) {
  EXPECT_EQ(CappedGfKernel(GfKernel::Affine512, nullptr), GfKernel::Affine512);
  EXPECT_EQ(CappedGfKernel(GfKernel::Affine512, "shuffle256"), GfKernel::Shuffle256);
  EXPECT_EQ(CappedGfKernel(GfKernel::Affine256, "affine512"), GfKernel::Affine256);
  EXPECT_EQ(CappedGfKernel(GfKernel::Shuffle256, "portable"), GfKernel::Portable);
  EXPECT_EQ(CappedGfKernel(GfKernel::Affine512, "fast"), GfKernel::Affine512);
}

struct PlanCase {
  const char* what;
  std::vector<std::uint64_t> lengths;
  std::uint32_t losses;
  std::uint64_t largestFile;
};

TEST(PlanRecovery, CoversTheLargestLossesAndKeepsEveryFileWithinTheLimit) {
  const std::vector<PlanCase> cases = {
      {"one piece", {1}, 1, 1024},
      {"random sizes", {10 << 20, 3 << 20, 7 << 20, 1 << 20, 9 << 20, 123457}, 1, 10 << 20},
      {"two losses", {10 << 20, 3 << 20, 7 << 20, 1 << 20, 9 << 20, 123457}, 2, 10 << 20},
      {"more losses than pieces", {5000, 4000, 3}, 5, 1 << 20},
      {"many pieces", std::vector<std::uint64_t>(20000, 100000), 3, 64 << 20},
      {"many small volumes", {1 << 20, 1 << 20, 999999}, 2, 70000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecoveryRequest request{{}, c.lengths, c.losses, c.largestFile, 100};
    for (std::size_t i = 0; i < c.lengths.size(); ++i) request.names.push_back("s." + std::to_string(i));
    const auto plan = PlanRecovery(request, VOKRAM_NATIVE("s"));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->sliceSize % 4, 0u);
    EXPECT_LE(plan->inputSlices, kMaxSlices);
    std::vector<std::uint64_t> sorted = c.lengths;
    std::sort(sorted.rbegin(), sorted.rend());
    std::uint64_t needed = 0, all = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
      all += SlicesOf(sorted[i], plan->sliceSize);
      if (i < c.losses) needed += SlicesOf(sorted[i], plan->sliceSize);
    }
    EXPECT_EQ(plan->inputSlices, all);
    EXPECT_EQ(plan->recoverySlices, needed);
    // A 64th of the largest piece, or the smallest size within the slice limit.
    std::uint64_t smaller = 0;
    for (std::uint64_t length : sorted) smaller += plan->sliceSize > 4 ? SlicesOf(length, plan->sliceSize - 4) : 0;
    EXPECT_TRUE(plan->sliceSize == std::max<std::uint64_t>(4, (sorted.front() + 255) / 256 * 4) ||
                smaller > kMaxSlices)
        << plan->sliceSize;
    std::uint32_t next = 0;
    for (std::size_t v = 1; v < plan->outputs.size(); ++v) {
      EXPECT_EQ(plan->outputs[v].firstExponent, next);
      EXPECT_LE(plan->outputs[v].size, c.largestFile);
      next += plan->outputs[v].count;
    }
    EXPECT_EQ(next, plan->recoverySlices);
  }

  RecoveryRequest small{{}, {}, 1, 1000, 0};
  for (int i = 0; i < 20; ++i) small.names.push_back("piece." + std::to_string(i)), small.lengths.push_back(1000);
  EXPECT_FALSE(PlanRecovery(small, VOKRAM_NATIVE("piece")))
      << "a volume repeats more packets than a piece may hold";
}

TEST(PlanRecovery, NamesVolumesByFirstExponentAndCountInCommonWidths) {
  const RecoveryRequest request{{"b.000", "b.001"}, {640, 640}, 2, 3000, 0};
  const auto plan = LayOutRecovery(request, VOKRAM_NATIVE("b"), 100, 120);
  ASSERT_TRUE(plan);
  std::vector<NativeString> names;
  for (const auto& output : plan->outputs) names.push_back(output.name);
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], VOKRAM_NATIVE("b.par2"));
  EXPECT_EQ(names[1], VOKRAM_NATIVE("b.vol000+") + test::N(std::to_string(plan->outputs[1].count)) +
                          VOKRAM_NATIVE(".par2"));
  EXPECT_EQ(plan->outputs.back().name.find(VOKRAM_NATIVE("b.vol1")), 0u);
}

// Stops between batches when asked, with progress that only grows; names a
// piece that ended before its length.
TEST(WriteRecoverySet, StopsWhenAskedAndNamesAPieceThatEndedEarly) {
  test::TempDir dir;
  const RecoveryRequest request{{"p.000", "p.001"}, {300000, 200001}, 1, 1 << 20, 0};
  const auto plan = PlanRecovery(request, VOKRAM_NATIVE("p"));
  ASSERT_TRUE(plan);
  std::vector<RecoveryInput> inputs;
  for (std::size_t i = 0; i < 2; ++i) {
    const Bytes bytes = test::RandomBytes(request.lengths[i], static_cast<std::uint32_t>(i));
    test::WriteFile(dir / request.names[i], bytes);
    FileHasher hasher(plan->sliceSize);
    hasher.Update(bytes.data(), bytes.size());
    inputs.push_back({request.names[i], dir / request.names[i], hasher.Finish()});
  }
  std::deque<File> files;
  const auto open = [&](std::size_t) -> File& {
    files.push_back(*File::CreateNew(dir / ("out" + std::to_string(files.size()))));
    return files.back();
  };
  std::atomic<bool> stop{false};
  std::vector<std::uint64_t> seen;
  const Progress progress{[&](std::uint64_t done, std::uint64_t total) {
                            seen.push_back(done);
                            EXPECT_EQ(total, std::uint64_t{plan->inputSlices} * plan->sliceSize);
                            if (seen.size() == 3) stop = true;
                          },
                          &stop};
  const EncoderOptions small{16 << 10, 2, ChosenGfKernel()};
  try {
    WriteRecoverySet(*plan, inputs, {}, open, progress, small);
    ADD_FAILURE() << "not stopped";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::Cancelled);
  }
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

  std::filesystem::resize_file(dir / "p.001", 150000);
  try {
    WriteRecoverySet(*plan, inputs, {}, open, {}, small);
    ADD_FAILURE() << "a short piece went unnoticed";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::IoFailed);
    EXPECT_EQ(e.File(), dir / "p.001");
  }
}

}  // namespace
}  // namespace vokram::recovery
