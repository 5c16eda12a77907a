#include "Md5.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "recovery/Md5Kernels.h"

namespace vokram::recovery {

namespace {

constexpr std::uint32_t Rotl(std::uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// The four rounds written out step by step (the constants and word indices
// then fold into the instructions).
template <int I>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, const std::uint32_t* m) {
  constexpr int round = I / 16;
  std::uint32_t f;
  if constexpr (round == 0) {
    f = d ^ (b & (c ^ d));
  } else if constexpr (round == 1) {
    f = c ^ (d & (b ^ c));
  } else if constexpr (round == 2) {
    f = b ^ c ^ d;
  } else {
    f = c ^ (b | ~d);
  }
  a = b + Rotl(a + f + kMd5Sine[I] + m[Md5Word(I)], kMd5Shift[round][I % 4]);
}

}  // namespace

void Md5Compress(std::array<std::uint32_t, 4>& state, const std::uint8_t* p, std::size_t blocks) noexcept {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks > 0; --blocks, p += 64) {
    std::uint32_t m[16];
    for (std::size_t i = 0; i < 16; ++i) m[i] = LoadLe32(p + 4 * i);
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
    Md5Steps(a, b, c, d, m, []<int I>(auto& sa, auto sb, auto sc, auto sd, const auto* sm) { Step<I>(sa, sb, sc, sd, sm); });
    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state = {a, b, c, d};
}

namespace {

// Step I of both chains; the chaining words turn one place a step, so step I
// updates word (4 - I % 4) % 4.
template <int I>
inline void StepBoth(std::array<std::uint32_t, 4>& x, std::array<std::uint32_t, 4>& y, const std::uint32_t* m) {
  constexpr std::size_t t = (4 - I % 4) % 4;
  Step<I>(x[t], x[(t + 1) % 4], x[(t + 2) % 4], x[(t + 3) % 4], m);
  Step<I>(y[t], y[(t + 1) % 4], y[(t + 2) % 4], y[(t + 3) % 4], m);
}

template <int... I>
inline void StepsBoth(std::array<std::uint32_t, 4>& x, std::array<std::uint32_t, 4>& y, const std::uint32_t* m,
                      std::integer_sequence<int, I...>) {
  (StepBoth<I>(x, y, m), ...);
}

}  // namespace

void Md5Compress2(std::array<std::uint32_t, 4>& first, std::array<std::uint32_t, 4>& second, const std::uint8_t* p,
                  std::size_t blocks) noexcept {
  // Two independent chains, step by step: each one's steps fill the other's
  // waits on its own results.
  std::array<std::uint32_t, 4> x = first, y = second;
  for (; blocks > 0; --blocks, p += 64) {
    std::uint32_t m[16];
    for (std::size_t i = 0; i < 16; ++i) m[i] = LoadLe32(p + 4 * i);
    const std::array<std::uint32_t, 4> x0 = x, y0 = y;
    StepsBoth(x, y, m, std::make_integer_sequence<int, 64>{});
    for (std::size_t i = 0; i < 4; ++i) x[i] += x0[i], y[i] += y0[i];
  }
  first = x;
  second = y;
}

Md5::Md5() noexcept : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::Update(const std::uint8_t* data, std::size_t n) noexcept {
  if (n == 0) return;  // data may then be null, which memcpy must not see
  std::size_t used = static_cast<std::size_t>(length_ % 64);
  length_ += n;
  if (used > 0) {
    const std::size_t take = std::min(n, 64 - used);
    std::memcpy(pending_.data() + used, data, take);
    data += take;
    n -= take;
    if (used + take < 64) return;
    Md5Compress(state_, pending_.data(), 1);
  }
  Md5Compress(state_, data, n / 64);
  std::memcpy(pending_.data(), data + n / 64 * 64, n % 64);
}

void Md5::UpdateZeros(std::uint64_t n) noexcept {
  static constexpr std::uint8_t kZeros[4096] = {};
  while (n > 0) {
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, sizeof kZeros));
    Update(kZeros, take);
    n -= take;
  }
}

Md5Digest Md5::Digest() const noexcept {
  Md5 copy = *this;
  const std::uint64_t bits = length_ * 8;
  std::uint8_t tail[72] = {0x80};
  const std::size_t used = static_cast<std::size_t>(length_ % 64);
  const std::size_t padding = (used < 56 ? 56 : 120) - used;
  for (int i = 0; i < 8; ++i) tail[padding + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
  copy.Update(tail, padding + 8);
  Md5Digest digest;
  for (std::size_t i = 0; i < 16; ++i) digest[i] = static_cast<std::uint8_t>(copy.state_[i / 4] >> (8 * (i % 4)));
  return digest;
}

Md5Digest Md5Of(std::span<const std::uint8_t> bytes) noexcept {
  Md5 md5;
  md5.Update(bytes);
  return md5.Digest();
}

}  // namespace vokram::recovery
