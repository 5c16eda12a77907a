#include "Crc32.h"

#include <array>

namespace vokram::recovery {

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320;
constexpr std::size_t kSlices = 16;

// tables[s][k]: byte k followed by s zero bytes, so sixteen bytes fold in with
// sixteen independent lookups.
constexpr auto kTables = [] {
  std::array<std::array<std::uint32_t, 256>, kSlices> t{};
  for (std::uint32_t k = 0; k < 256; ++k) {
    std::uint32_t c = k;
    for (int i = 0; i < 8; ++i) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[0][k] = c;
  }
  for (std::size_t s = 1; s < kSlices; ++s) {
    for (std::size_t k = 0; k < 256; ++k) t[s][k] = (t[s - 1][k] >> 8) ^ t[0][t[s - 1][k] & 0xFF];
  }
  return t;
}();

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// The register (the CRC inverted) over n more bytes, by the tables.
std::uint32_t Sliced(std::uint32_t c, const std::uint8_t* p, std::size_t n) noexcept {
  const auto& t = kTables;
  for (; n >= 16; n -= 16, p += 16) {
    const std::uint32_t w0 = LoadLe32(p) ^ c, w1 = LoadLe32(p + 4), w2 = LoadLe32(p + 8), w3 = LoadLe32(p + 12);
    c = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^ t[12][w0 >> 24] ^
        t[11][w1 & 0xFF] ^ t[10][(w1 >> 8) & 0xFF] ^ t[9][(w1 >> 16) & 0xFF] ^ t[8][w1 >> 24] ^
        t[7][w2 & 0xFF] ^ t[6][(w2 >> 8) & 0xFF] ^ t[5][(w2 >> 16) & 0xFF] ^ t[4][w2 >> 24] ^
        t[3][w3 & 0xFF] ^ t[2][(w3 >> 8) & 0xFF] ^ t[1][(w3 >> 16) & 0xFF] ^ t[0][w3 >> 24];
  }
  for (; n > 0; --n, ++p) c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
  return c;
}

#if defined(__x86_64__) || defined(_M_X64)
bool CanFold() noexcept {
  static const bool can = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return can;
}

bool CanFoldWide() noexcept {
  static const bool can = CanFold() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                          __builtin_cpu_supports("vpclmulqdq");
  return can;
}
#endif

}  // namespace

std::uint32_t UpdateCrc32Sliced(std::uint32_t crc, const std::uint8_t* p, std::size_t n) noexcept {
  return ~Sliced(~crc, p, n);
}

std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* p, std::size_t n) noexcept {
  std::uint32_t c = ~crc;
#if defined(__x86_64__) || defined(_M_X64)
  // Below a few blocks the tables are as quick.
  if (n >= 256 && CanFold()) {
    std::uint8_t rest[16];
    // The wide fold from a few of its steps on.
    const std::size_t done = n >= 1024 && CanFoldWide() ? detail::Crc32Fold512(c, p, n, rest)
                                                        : detail::Crc32Fold(c, p, n, rest);
    c = Sliced(0, rest, sizeof rest);
    p += done;
    n -= done;
  }
#endif
  return ~Sliced(c, p, n);
}

std::uint32_t UpdateCrc32Zeros(std::uint32_t crc, std::uint64_t n) noexcept {
  static constexpr std::uint8_t kZeros[4096] = {};
  for (; n > sizeof kZeros; n -= sizeof kZeros) crc = UpdateCrc32(crc, kZeros, sizeof kZeros);
  return UpdateCrc32(crc, kZeros, static_cast<std::size_t>(n));
}

}  // namespace vokram::recovery
