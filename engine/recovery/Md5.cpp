#include "Md5.h"

#include <algorithm>
#include <cstring>

namespace vokram::recovery {

namespace {

// floor(|sin(i + 1)| * 2^32)
constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

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
  int k;
  if constexpr (round == 0) {
    f = d ^ (b & (c ^ d));
    k = I;
  } else if constexpr (round == 1) {
    f = c ^ (d & (b ^ c));
    k = (5 * I + 1) % 16;
  } else if constexpr (round == 2) {
    f = b ^ c ^ d;
    k = (3 * I + 5) % 16;
  } else {
    f = c ^ (b | ~d);
    k = (7 * I) % 16;
  }
  a = b + Rotl(a + f + kSine[I] + m[k], kShift[round][I % 4]);
}

template <int I>
inline void Steps(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d, const std::uint32_t* m) {
  if constexpr (I < 64) {
    Step<I>(a, b, c, d, m);
    Step<I + 1>(d, a, b, c, m);
    Step<I + 2>(c, d, a, b, m);
    Step<I + 3>(b, c, d, a, m);
    Steps<I + 4>(a, b, c, d, m);
  }
}

void Blocks(std::array<std::uint32_t, 4>& state, const std::uint8_t* p, std::size_t blocks) noexcept {
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; blocks > 0; --blocks, p += 64) {
    std::uint32_t m[16];
    for (std::size_t i = 0; i < 16; ++i) m[i] = LoadLe32(p + 4 * i);
    const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
    Steps<0>(a, b, c, d, m);
    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state = {a, b, c, d};
}

}  // namespace

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
    Blocks(state_, pending_.data(), 1);
  }
  Blocks(state_, data, n / 64);
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
