#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <map>
#include <numeric>
#include <random>
#include <string>

#include "CodePage932.h"
#include "File.h"
#include "TestSupport.h"
#include "recovery/Crc32.h"
#include "recovery/Gf16.h"
#include "recovery/Md5.h"
#include "recovery/Md5Lanes.h"
#include "recovery/Recovery.h"
#include "recovery/Rebuild.h"
#include "recovery/RecoveryPlan.h"
#include "recovery/SetReader.h"
#include "recovery/Solver.h"

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
  // The carry-less folds (the 512-bit one from 1 KiB) agree with the tables
  // from any register, at any length past their thresholds and alignment.
  const Bytes many = test::RandomBytes(5000, 4);
  for (const std::size_t n : {256u, 257u, 271u, 319u, 320u, 1000u, 1024u, 1311u, 2000u, 4099u}) {
    for (std::size_t offset = 0; offset < 4; ++offset) {
      for (const std::uint32_t from : {0u, 0xDEADBEEFu}) {
        ASSERT_EQ(UpdateCrc32(from, many.data() + offset, n), UpdateCrc32Sliced(from, many.data() + offset, n)) << n;
      }
    }
  }

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

// Every MD5 kernel this processor runs against one stream at a time: lanes of
// unequal lengths around the block and padding sizes, fed in chunks of their
// own sizes (an empty one idles a lane for a round), each lane over other
// bytes; with fewer streams than lanes the others keep their digests. A
// second set of lanes takes the same chunks after a prefix of its own: of a
// whole block in every lane (both read each block at once) or of other
// lengths (each reads by itself).
TEST(Checksums, EveryMd5KernelsLanesAgreeWithOneStream) {
  const Bytes data = test::RandomBytes((3 << 20) + 300, 11);
  const std::size_t lengths[] = {0,  1,   55,   56,      63,  64,  65,  3 << 20,
                                 127, 128, 1000, 4096 + 5, 119, 120, 121, (3 << 20) + 77};
  const std::size_t chunkSizes[] = {0, 1, 3, 63, 64, 65, 200, 4096, 1 << 20};
  for (Md5Kernel kernel : {Md5Kernel::Portable, Md5Kernel::Avx2, Md5Kernel::Avx512}) {
    if (static_cast<int>(kernel) > static_cast<int>(SupportedMd5Kernel())) continue;
    SCOPED_TRACE(Md5KernelName(kernel));
    Md5Lanes lanes(kernel), also(kernel);
    std::mt19937 generator(static_cast<std::uint32_t>(kernel));
    for (const std::size_t streams : {lanes.Count(), lanes.Count() - 1, std::size_t{1}}) {
      SCOPED_TRACE(streams);
      std::vector<Md5Digest> before;
      for (std::size_t lane = 0; lane < lanes.Count(); ++lane) before.push_back(lanes.Digest(lane));
      std::vector<std::size_t> start(streams), length(streams), fed(streams, 0);
      std::vector<std::span<const std::uint8_t>> prefix(streams);
      for (std::size_t s = 0; s < streams; ++s) {
        start[s] = 7 * s + streams;
        length[s] = lengths[(s + streams) % std::size(lengths)];
        lanes.Reset(s);
        also.Reset(s);
        prefix[s] = std::span(data).subspan(s, streams != lanes.Count() - 1 ? 64 * (s % 2) : (s * 29 + 1) % 100);
      }
      also.Update(prefix);
      for (bool more = true; more;) {
        more = false;
        std::vector<std::span<const std::uint8_t>> chunks(streams);
        for (std::size_t s = 0; s < streams; ++s) {
          const std::size_t n = std::min(chunkSizes[generator() % std::size(chunkSizes)], length[s] - fed[s]);
          chunks[s] = std::span(data).subspan(start[s] + fed[s], n);
          fed[s] += n;
          more = more || fed[s] < length[s];
        }
        lanes.Update(chunks, &also);
      }
      for (std::size_t s = 0; s < streams; ++s) {
        const auto stream = std::span(data).subspan(start[s], length[s]);
        EXPECT_EQ(lanes.Digest(s), Md5Of(stream)) << s << ": " << length[s];
        Bytes both(prefix[s].begin(), prefix[s].end());
        both.insert(both.end(), stream.begin(), stream.end());
        EXPECT_EQ(also.Digest(s), Md5Of(both)) << s << ": " << length[s];
      }
      for (std::size_t lane = streams; lane < lanes.Count(); ++lane) EXPECT_EQ(lanes.Digest(lane), before[lane]) << lane;
    }
    // A stream taken out of a lane, a partial block pending, goes on in
    // another lane of other lanes.
    std::vector<std::span<const std::uint8_t>> chunks(lanes.Count());
    chunks[0] = std::span(data).first(1000);
    lanes.Reset(0);
    lanes.Update(chunks);
    Md5Lanes moved(kernel);
    moved.Load(moved.Count() - 1, lanes.Stream(0));
    chunks[0] = {};
    chunks.back() = std::span(data).subspan(1000, 777);
    moved.Update(chunks);
    EXPECT_EQ(moved.Digest(moved.Count() - 1), Md5Of(std::span(data).first(1777)));
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
  // The portable kernel in raw words, through the layout (made where the
  // words stand) and back, over a few blocks.
  constexpr std::size_t kBlocks = 3 * kGfBlock;
  Bytes layout(raw.begin(), raw.begin() + kBlocks), product(kBlocks, 0), back(kBlocks);
  ToWorkingLayout(layout.data(), layout.data(), kBlocks);
  alignas(64) std::uint8_t prepared[1024];
  GfPrepare(GfKernel::Portable, 0x4321, prepared);
  GfMultiplyAdd(GfKernel::Portable, product.data(), layout.data(), kBlocks, prepared);
  FromWorkingLayout(back.data(), product.data(), kBlocks);
  for (std::size_t w = 0; w < kBlocks / 2; ++w) {
    const auto word = static_cast<std::uint16_t>(raw[2 * w] | raw[2 * w + 1] << 8);
    ASSERT_EQ(back[2 * w] | back[2 * w + 1] << 8, SlowMultiply(word, 0x4321)) << w;
  }
}

TEST(Kernels, TheEnvironmentOnlyNarrowsTheChoice) {
  EXPECT_EQ(CappedGfKernel(GfKernel::Affine512, nullptr), GfKernel::Affine512);
  EXPECT_EQ(CappedGfKernel(GfKernel::Affine512, "shuffle256"), GfKernel::Shuffle256);
  EXPECT_EQ(CappedGfKernel(GfKernel::Affine256, "affine512"), GfKernel::Affine256);
  EXPECT_EQ(CappedGfKernel(GfKernel::Shuffle256, "portable"), GfKernel::Portable);
  EXPECT_EQ(CappedGfKernel(GfKernel::Affine512, "fast"), GfKernel::Affine512);
  EXPECT_EQ(CappedMd5Kernel(Md5Kernel::Avx512, "avx2"), Md5Kernel::Avx2);
  EXPECT_EQ(CappedMd5Kernel(Md5Kernel::Avx2, "avx512"), Md5Kernel::Avx2);
  EXPECT_EQ(CappedMd5Kernel(Md5Kernel::Avx512, "portable"), Md5Kernel::Portable);
  EXPECT_EQ(CappedMd5Kernel(Md5Kernel::Avx2, "affine512"), Md5Kernel::Avx2);
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
      {"many small volumes", {1 << 20, 1 << 20, 999999}, 2, 140000},
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
    // An 8th of the largest piece, in whole MD5 blocks from 4 KiB up, or the
    // smallest size within the slice limit.
    std::uint64_t smaller = 0;
    for (std::uint64_t length : sorted) smaller += plan->sliceSize > 4 ? SlicesOf(length, plan->sliceSize - 4) : 0;
    const std::uint64_t share = (sorted.front() + 7) / 8;
    EXPECT_TRUE(plan->sliceSize == (share >= 4096 ? (share + 63) / 64 * 64 : std::max<std::uint64_t>(4, (share + 3) / 4 * 4)) ||
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

// Fewer lanes are worth reading each slice once: where two rounds of every
// lane leave too little room beside the sums, the shape takes fewer lanes;
// slices too large for a few at a time still take passes.
TEST(ShapeEncoder, TakesFewerLanesToReadEachSliceOnce) {
  const EncoderOptions options{48 << 20, 2, GfKernel::Affine512, Md5Kernel::Avx512};
  for (const auto& [slice, sums, lanes] : {std::tuple{653312u, 16u, 16u}, {1306560u, 8u, 8u}, {3u << 20, 8u, 2u}}) {
    const EncoderShape shape = ShapeEncoder(slice, sums, 800, options);
    EXPECT_EQ(shape.passes, 1u) << slice;
    EXPECT_EQ(shape.lanes, lanes) << slice;
    EXPECT_EQ(shape.batch, lanes) << slice;
  }
  EXPECT_GT(ShapeEncoder(8 << 20, 16, 800, options).passes, 1u);
}

// Lanes beside a writer wait for a piece only while fewer than half of them
// are busy, and otherwise take only what is written: a round costs as much
// with one busy lane as with all. Every piece is taken once, in the feed's
// order. Pieces of one length end in the same round, so each round's lanes
// are taken afresh. With every lane or only two, the checksums and the
// recovery slices are those of the pieces read longest first without a feed.
TEST(EncoderFeed, AwaitsAPieceOnlyWhileFewerThanHalfTheLanesAreBusy) {
  test::TempDir dir;
  std::vector<EncoderInput> inputs;
  for (std::uint32_t i = 0; i < 40; ++i) {
    const Bytes bytes = test::RandomBytes(3 * 4096 + 5, i);
    inputs.push_back({dir / ("p." + std::to_string(i)), bytes.size()});
    test::WriteFile(inputs.back().path, bytes);
  }
  const std::uint32_t slices = 40 * 4;
  using Result = std::pair<std::vector<FileChecksums>, std::map<std::uint32_t, Bytes>>;
  const auto encode = [&](const EncoderOptions& options, const EncoderFeed* feed) {
    Result result;
    EncodeRecovery(
        inputs, 4096, 2,
        [&](std::uint32_t e, std::uint64_t, const std::uint8_t* data, std::size_t n) {
          result.second[e].assign(data, data + n);
        },
        {}, options, &result.first, feed);
    return result;
  };
  const Result expected = encode({}, nullptr);
  EncoderOptions twoLanes;
  twoLanes.memoryLimit = (2 + 4) * 4096 + 4 * 2 * GfPreparedBytes(twoLanes.kernel);
  ASSERT_EQ(ShapeEncoder(4096, 2, slices, twoLanes).lanes, 2u);
  for (const EncoderOptions& options : {EncoderOptions{}, twoLanes}) {
    const std::size_t lanes = ShapeEncoder(4096, 2, slices, options).lanes;
    SCOPED_TRACE(lanes);
    ASSERT_GT(lanes, 1u);
    EncoderFeed feed;
    for (std::size_t i = inputs.size(); i-- > 0;) feed.order.push_back(i);
    std::vector<std::pair<std::size_t, bool>> takes;
    feed.take = [&](std::size_t input, bool wait) -> std::optional<std::filesystem::path> {
      takes.emplace_back(input, wait);
      return inputs[input].path;
    };
    const Result result = encode(options, &feed);
    ASSERT_EQ(takes.size(), inputs.size());
    for (std::size_t k = 0; k < takes.size(); ++k) {
      EXPECT_EQ(takes[k].first, feed.order[k]) << k;
      EXPECT_EQ(takes[k].second, k % lanes < lanes / 2) << k;
    }
    EXPECT_EQ(result.second, expected.second);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const FileChecksums &got = result.first[i], &want = expected.first[i];
      EXPECT_TRUE(got.md5 == want.md5 && got.md5First16k == want.md5First16k) << i;
      ASSERT_EQ(got.slices.size(), want.slices.size()) << i;
      for (std::size_t k = 0; k < got.slices.size(); ++k) {
        EXPECT_TRUE(got.slices[k].md5 == want.slices[k].md5 && got.slices[k].crc32 == want.slices[k].crc32) << i;
      }
    }
  }
}

// Stops between batches when asked, with progress that only grows; names a
// piece that ended before its length. Both in passes and in one pass whose
// helper thread is busy with the last batch when the stop comes, and beside
// a writer, which also notices a piece that changed since its first bytes
// were read.
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
  const EncoderOptions inPasses{16 << 10, 2, ChosenGfKernel()}, inLanes{};
  ASSERT_FALSE(ChecksumsWhileEncoding(*plan, inPasses));
  ASSERT_TRUE(ChecksumsWhileEncoding(*plan, inLanes));
  for (const EncoderOptions& options : {inPasses, inLanes}) {
    std::atomic<bool> stop{false};
    std::vector<std::uint64_t> seen;
    const Progress progress{[&](std::uint64_t done, std::uint64_t total) {
                              seen.push_back(done);
                              EXPECT_EQ(total, std::uint64_t{plan->inputSlices} * plan->sliceSize);
                              if (seen.size() == 3) stop = true;
                            },
                            &stop};
    try {
      WriteRecoverySet(*plan, inputs, {}, open, progress, options);
      ADD_FAILURE() << "not stopped";
    } catch (const VokError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::Cancelled);
    }
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  }

  // Beside a writer: stopped while it waits for the files, or abandoned
  // before every piece came.
  ASSERT_TRUE(RecoveryAlongside::Fits(*plan, 300000));
  {
    std::atomic<bool> stop{true};
    RecoveryAlongside alongside(*plan, inputs);
    for (const RecoveryInput& input : inputs) alongside.Written(input.path);
    try {
      alongside.Finish({}, open, {nullptr, &stop});
      ADD_FAILURE() << "not stopped";
    } catch (const VokError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::Cancelled);
    }
    RecoveryAlongside abandoned(*plan, inputs);
    abandoned.Written(inputs[0].path);
  }
  // A piece that does not begin as the source did beforehand.
  std::vector<RecoveryInput> before = inputs;
  before[1].sums = FirstBytesChecksums(200001, test::RandomBytes(200001, 5));
  RecoveryAlongside changed(*plan, before);
  for (const RecoveryInput& input : before) changed.Written(input.path);
  const std::size_t opened = files.size();
  EXPECT_FALSE(changed.Finish({}, open, {}));
  EXPECT_EQ(files.size(), opened);

  std::filesystem::resize_file(dir / "p.001", 150000);
  for (const EncoderOptions& options : {inPasses, inLanes}) {
    try {
      WriteRecoverySet(*plan, inputs, {}, open, {}, options);
      ADD_FAILURE() << "a short piece went unnoticed";
    } catch (const VokError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::IoFailed);
      EXPECT_EQ(e.File(), dir / "p.001");
    }
  }
  RecoveryAlongside shortened(*plan, inputs);
  for (const RecoveryInput& input : inputs) shortened.Written(input.path);
  try {
    shortened.Finish({}, open, {});
    ADD_FAILURE() << "a short piece went unnoticed beside the writer";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::IoFailed);
    EXPECT_EQ(e.File(), dir / "p.001");
  }
}

// The product of the chosen rows' matrix and the solution is the identity.
void ExpectInverse(const Solution& solution) {
  const std::size_t m = solution.missing.size();
  ASSERT_EQ(solution.exponents.size(), m);
  for (std::size_t j = 0; j < m; ++j) {
    for (std::size_t l = 0; l < m; ++l) {
      std::uint16_t sum = 0;
      for (std::size_t k = 0; k < m; ++k) {
        sum ^= SlowMultiply(solution.Coefficient(j, k), InputFactor(solution.missing[l], solution.exponents[k]));
      }
      ASSERT_EQ(sum, j == l ? 1 : 0) << j << ", " << l;
    }
  }
}

TEST(SolveMissing, PassesOverASingularChoiceAndCountsWhatIsLacking) {
  // (1 - 256) * 257 = 0 mod 65535: exponents 0 and 257 cannot tell slices
  // #0 and #128 apart.
  const auto singular = SolveMissing({0, 128}, {0, 257});
  EXPECT_FALSE(singular.solution);
  EXPECT_EQ(singular.rank, 1u);
  const auto third = SolveMissing({0, 128}, {0, 257, 300});
  ASSERT_TRUE(third.solution);
  EXPECT_NE(third.solution->exponents, (std::vector<std::uint32_t>{0, 257}));
  ExpectInverse(*third.solution);
  // The same pair leading a solvable system: elimination exchanges rows.
  const auto exchanged = SolveMissing({0, 128, 5}, {0, 257, 300});
  ASSERT_TRUE(exchanged.solution);
  ExpectInverse(*exchanged.solution);

  std::mt19937 generator(4);
  std::vector<std::uint32_t> missing;
  for (std::uint32_t i = 0; i < 70; ++i) missing.push_back(i * 460 + static_cast<std::uint32_t>(generator() % 400));
  std::vector<std::uint32_t> first(70), scattered;
  std::iota(first.begin(), first.end(), 0u);
  const auto consecutive = SolveMissing(missing, first);
  ASSERT_TRUE(consecutive.solution);
  EXPECT_EQ(consecutive.solution->exponents.size(), 70u);
  ExpectInverse(*consecutive.solution);
  for (std::uint32_t e = 1; scattered.size() < 80; e += 1 + static_cast<std::uint32_t>(generator() % 800)) {
    scattered.push_back(e);
  }
  const auto chosen = SolveMissing(missing, scattered, GfKernel::Portable);
  ASSERT_TRUE(chosen.solution);
  ExpectInverse(*chosen.solution);
  EXPECT_EQ(SolveMissing(missing, std::vector<std::uint32_t>(first.begin(), first.begin() + 50)).rank, 50u);
  EXPECT_TRUE(SolveMissing(std::vector<std::uint32_t>(kMaxSolvedSlices + 1), first).tooMany);
}

// Pieces and a recovery set for them, as a split writes them; `recorded`
// gives other names (bytes) for the set to record.
struct TestSet {
  std::vector<std::string> names;
  std::vector<Bytes> contents;
  std::vector<std::filesystem::path> files;  // the index first
  std::uint64_t sliceSize = 0;
  std::uint32_t recoverySlices = 0;
};

TestSet WriteTestSet(const test::TempDir& dir, const std::vector<std::size_t>& lengths, std::uint32_t losses,
                     const std::vector<std::string>& recorded = {}) {
  TestSet set;
  RecoveryRequest request{{}, {}, losses, 1 << 20, 21};
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    set.names.push_back("piece." + std::to_string(i));
    set.contents.push_back(test::RandomBytes(lengths[i], static_cast<std::uint32_t>(i + 40)));
    test::WriteFile(dir / set.names[i], set.contents[i]);
    request.names.push_back(recorded.empty() ? set.names[i] : recorded[i]);
    request.lengths.push_back(lengths[i]);
  }
  const auto plan = PlanRecovery(request, VOKRAM_NATIVE("piece"));
  set.sliceSize = plan->sliceSize;
  set.recoverySlices = plan->recoverySlices;
  std::vector<RecoveryInput> inputs;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    FileHasher hasher(plan->sliceSize);
    hasher.Update(set.contents[i].data(), lengths[i]);
    inputs.push_back({request.names[i], dir / set.names[i], hasher.Finish()});
  }
  std::deque<File> files;
  WriteRecoverySet(*plan, inputs, test::AsBytes("descriptor bytes!!!!x"), [&](std::size_t i) -> File& {
    set.files.push_back(dir / ToUtf8(plan->outputs[i].name));
    files.push_back(*File::CreateNew(set.files.back()));
    return files.back();
  });
  for (auto& file : files) file.Close();
  return set;
}

// Each packet of a file, whole.
std::vector<Bytes> PacketsOf(const std::filesystem::path& path) {
  const Bytes bytes = test::ReadFile(path);
  std::vector<Bytes> packets;
  for (std::size_t at = 0; at < bytes.size();) {
    const auto header = ParsePacketHeader(bytes.data() + at, bytes.size() - at);
    packets.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at + header->length));
    at += header->length;
  }
  return packets;
}

Bytes Joined(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(ReadRecoverySets, TakesEverySoundPacketWhereverItStandsAndNothingElse) {
  test::TempDir dir;
  const TestSet made = WriteTestSet(dir, {70000, 50001, 30000}, 1);
  const std::vector<std::filesystem::path> volumes(made.files.begin() + 1, made.files.end());
  ASSERT_GE(volumes.size(), 1u);
  std::vector<Bytes> packets;
  for (const auto& file : made.files) {
    for (auto& packet : PacketsOf(file)) packets.push_back(std::move(packet));
  }
  std::mt19937 generator(8);
  std::vector<Bytes> shuffled = packets;
  shuffled.insert(shuffled.end(), packets.begin(), packets.begin() + 9);
  std::shuffle(shuffled.begin(), shuffled.end(), generator);
  const auto recvAt = [&](std::size_t nth) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
      if (std::equal(kRecvSlicType.begin(), kRecvSlicType.end(), packets[i].begin() + 48) && seen++ == nth) return i;
    }
    return packets.size();
  };
  std::vector<Bytes> flipped = packets;
  flipped[recvAt(0)][200] ^= 1;
  flipped.insert(flipped.begin() + 3, test::RandomBytes(13, 2));
  // Lengths below the header, off the word, past the end, each under the magic.
  std::vector<Bytes> lying = packets;
  for (const std::uint64_t length : {60ull, 66ull, 1ull << 40}) {
    Bytes fake = {'P', 'A', 'R', '2', 0, 'P', 'K', 'T'};
    for (int i = 0; i < 8; ++i) fake.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    fake.resize(64, 7);
    lying.insert(lying.begin() + 2, fake);
  }
  // A Main of its own set claiming a billion files in a kilobyte.
  Bytes main(1020, 0);
  main[0] = 8;
  main[8] = 0x00, main[9] = 0xCA, main[10] = 0x9A, main[11] = 0x3B;
  Md5 hash = PacketHash(Md5Of(main), kMainType);
  hash.Update(main);
  const auto header = PacketHeader(Md5Of(main), kMainType, main.size(), hash.Digest());
  Bytes huge(header.begin(), header.end());
  huge.insert(huge.end(), main.begin(), main.end());
  std::vector<Bytes> cut(packets.begin(), packets.begin() + static_cast<std::ptrdiff_t>(recvAt(1)) + 1);
  cut.back().resize(cut.back().size() / 2);

  const struct {
    const char* what;
    std::vector<Bytes> files;
    std::uint32_t recovery;
  } cases[] = {
      {"shuffled and repeated in one file", {Joined(shuffled)}, made.recoverySlices},
      {"a flipped byte and garbage", {Joined(flipped)}, made.recoverySlices - 1},
      {"lying lengths", {Joined(lying)}, made.recoverySlices},
      {"a Main claiming too many files", {huge, Joined(packets)}, made.recoverySlices},
      {"cut in the second recovery slice", {Joined(cut)}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::filesystem::path> paths;
    for (const auto& bytes : c.files) {
      paths.push_back(dir / ("case" + std::to_string(paths.size()) + ".bin"));
      test::WriteFile(paths.back(), bytes);
    }
    const SetReading reading = ReadRecoverySets(paths);
    ASSERT_EQ(reading.sets.size(), 1u);
    EXPECT_EQ(reading.sets[0].files.size(), 3u);
    EXPECT_EQ(reading.sets[0].recovery.size(), c.recovery);
    EXPECT_EQ(reading.sets[0].descriptor, test::AsBytes("descriptor bytes!!!!x"));
  }

  // A file of many packets is read once through, not once per packet.
  std::vector<Bytes> many;
  while (Joined(many).size() < 3 * kCopyBufferSize) many.insert(many.end(), packets.begin(), packets.end());
  test::WriteFile(dir / "many.bin", Joined(many));
  std::uintmax_t reads = 0;
  io::SetFaultHook([&](io::Op op, const std::filesystem::path&) -> std::optional<int> {
    reads += op == io::Op::Read;
    return std::nullopt;
  });
  EXPECT_EQ(ReadRecoverySets({dir / "many.bin"}).sets.size(), 1u);
  io::SetFaultHook(nullptr);
  EXPECT_LE(reads, 6u);

  // Volumes without the index; a name that is no file.
  const SetReading reading = ReadRecoverySets({volumes[0], dir / "nothing.par2"});
  ASSERT_EQ(reading.sets.size(), 1u);
  EXPECT_EQ(reading.unreadable, std::vector<std::filesystem::path>{dir / "nothing.par2"});
  EXPECT_EQ(reading.sets[0].recovery.front().exponent, 0u);
}

struct Damaged {
  test::TempDir dir;
  TestSet made;
  SetReading reading;
  std::vector<std::optional<std::filesystem::path>> paths;
  std::vector<std::uint32_t> fileOfPiece;
};

// Names recorded in code page 932, as older tools wrote them. Piece 0 is
// lost, piece 1 (longer than a read buffer, so slices straddle two reads)
// has a flipped byte at `flipAt`, piece 2 is cut to `cutTo`.
void Damage(Damaged& d, std::size_t flipAt, std::size_t cutTo) {
  std::vector<std::string> recorded;
  std::vector<std::filesystem::path> names, paths;
  for (int i = 0; i < 4; ++i) {
    names.push_back(test::U8("分割." + std::to_string(i)));
    recorded.push_back(*EncodeCp932(names.back()));
  }
  d.made = WriteTestSet(d.dir, {90000, 1200000, 50001, 7000}, 3, recorded);
  for (const auto& name : d.made.names) paths.push_back(d.dir / name);
  d.reading = ReadRecoverySets(d.made.files);
  const auto match = MatchSet(d.reading, names);
  ASSERT_TRUE(match);
  ASSERT_EQ(match->matched, 4u);
  for (const auto& f : match->fileOfName) d.fileOfPiece.push_back(*f);
  d.paths = PathsOfFiles(d.reading.sets[0], *match, paths);
  std::filesystem::remove(paths[0]);
  Bytes flipped = d.made.contents[1];
  flipped[flipAt] ^= 0x20;
  test::WriteFile(paths[1], flipped);
  std::filesystem::resize_file(paths[2], cutTo);
}

TEST(VerifyAndRebuild, JudgesEachSliceAndRebuildsThePiecesInPassesOrAtOnce) {
  Damaged d;
  Damage(d, 33333, 12345);
  const RecoverySet& set = d.reading.sets[0];
  const SetVerdict verdict = VerifySet(set, d.paths);
  const auto& lost = verdict.files[d.fileOfPiece[0]], &flipped = verdict.files[d.fileOfPiece[1]],
             &cut = verdict.files[d.fileOfPiece[2]];
  EXPECT_EQ(lost.condition, FileCondition::Missing);
  EXPECT_EQ(flipped.condition, FileCondition::Damaged);
  EXPECT_EQ(cut.condition, FileCondition::Damaged);
  EXPECT_EQ(verdict.files[d.fileOfPiece[3]].condition, FileCondition::Sound);
  for (std::size_t s = 0; s < flipped.good.size(); ++s) EXPECT_EQ(flipped.good[s], s != 33333 / set.sliceSize) << s;
  for (std::size_t s = 0; s < cut.good.size(); ++s) EXPECT_EQ(cut.good[s], (s + 1) * set.sliceSize <= 12345) << s;
  const auto bad = [](const FileVerdict& f) { return std::count(f.good.begin(), f.good.end(), false); };
  EXPECT_EQ(verdict.missingSlices, bad(lost) + bad(flipped) + bad(cut));
  ASSERT_TRUE(verdict.repairable);
  EXPECT_EQ(verdict.blocksNeeded, 0u);

  // A few slices per pass, then all at once on one thread.
  for (const RebuildOptions& options : {RebuildOptions{64 << 10, 2, ChosenGfKernel()}, RebuildOptions{}}) {
    std::deque<File> outs;
    std::vector<FileOutput> outputs;
    for (std::uint32_t i = 0; i < 3; ++i) {
      outs.push_back(*File::CreateNew(d.dir / ("out" + std::to_string(i))));
      outputs.push_back({d.fileOfPiece[i], &outs.back()});
    }
    EXPECT_TRUE(WriteFiles(set, verdict, outputs, {}, options));
    for (auto& out : outs) out.Close();
    for (std::uint32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(test::ReadFile(d.dir / ("out" + std::to_string(i))), d.made.contents[i]) << i;
      std::filesystem::remove(d.dir / ("out" + std::to_string(i)));
    }
  }

  // The sink gets the bytes of the wanted slices within their files, each
  // once. A piece changed since the verification fails the result's check
  // or, cut short, the rebuild.
  const std::vector<std::uint32_t> wanted(verdict.solution->missing.end() - 3, verdict.solution->missing.end());
  std::map<std::uint32_t, Bytes> rebuilt;
  const auto collect = [&](std::uint32_t slice, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
    EXPECT_EQ(rebuilt[slice].size(), offset);
    rebuilt[slice].insert(rebuilt[slice].end(), data, data + n);
  };
  const auto ignore = [](std::uint32_t, std::uint64_t, const std::uint8_t*, std::size_t) {};
  EXPECT_TRUE(RebuildSlices(set, verdict, wanted, collect, {}, {20 << 10, 1, GfKernel::Portable}));
  const std::map<std::uint32_t, Bytes> inPasses = rebuilt;
  // Beside a writer: every file with good slices is awaited once, before it
  // is read, in the feed's order; the bytes are the same; a wait that throws
  // stops the rebuild.
  RebuildFeed feed;
  for (auto f = static_cast<std::uint32_t>(set.files.size()); f-- > 0;) feed.order.push_back(f);
  std::vector<std::uint32_t> awaited, expected;
  for (const std::uint32_t f : feed.order) {
    const auto& good = verdict.files[f].good;
    if (std::find(good.begin(), good.end(), true) != good.end()) expected.push_back(f);
  }
  feed.await = [&awaited](std::uint32_t f) { awaited.push_back(f); };
  rebuilt.clear();
  EXPECT_TRUE(RebuildSlices(set, verdict, wanted, collect, {}, {}, &feed));
  EXPECT_EQ(rebuilt, inPasses);
  EXPECT_EQ(awaited, expected);
  feed.await = [](std::uint32_t) { throw VokError(ErrorCode::Cancelled, {}); };
  EXPECT_THROW(RebuildSlices(set, verdict, wanted, collect, {}, {}, &feed), VokError);
  rebuilt = inPasses;
  for (std::size_t piece = 0; piece < 4; ++piece) {
    const SetFileEntry& file = set.files[d.fileOfPiece[piece]];
    const Bytes& original = d.made.contents[piece];
    for (std::uint32_t s = 0; s < file.slices.size(); ++s) {
      if (std::find(wanted.begin(), wanted.end(), file.firstSlice + s) == wanted.end()) continue;
      const std::size_t start = s * set.sliceSize, end = std::min(original.size(), start + set.sliceSize);
      EXPECT_EQ(rebuilt[file.firstSlice + s], Bytes(original.begin() + static_cast<std::ptrdiff_t>(start),
                                                    original.begin() + static_cast<std::ptrdiff_t>(end)));
      rebuilt.erase(file.firstSlice + s);
    }
  }
  EXPECT_TRUE(rebuilt.empty());
  Bytes changed = d.made.contents[3];
  changed[5] ^= 1;
  test::WriteFile(d.dir / d.made.names[3], changed);
  EXPECT_FALSE(RebuildSlices(set, verdict, wanted, ignore));
  std::filesystem::resize_file(d.dir / d.made.names[3], 6000);
  try {
    RebuildSlices(set, verdict, wanted, ignore);
    ADD_FAILURE() << "a piece cut short went unnoticed";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::IoFailed);
    EXPECT_EQ(e.File(), d.dir / d.made.names[3]);
  }

  for (int i = 1; i < 4; ++i) std::filesystem::remove(d.dir / d.made.names[static_cast<std::size_t>(i)]);
  const SetVerdict worse = VerifySet(set, d.paths);
  EXPECT_FALSE(worse.repairable);
  EXPECT_EQ(worse.blocksNeeded, worse.missingSlices - set.recovery.size());
}

}  // namespace
}  // namespace vokram::recovery
