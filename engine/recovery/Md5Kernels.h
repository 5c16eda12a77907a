// MD5's constants and the x86-64 lane kernels, each file compiled for its own
// instructions (see engine/CMakeLists.txt). Only constants here, a function
// evaluated at compile time and a template of internal linkage: an inline
// function compiled for one kernel's instructions could otherwise be the copy
// the linker keeps for every caller.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vokram::recovery {

// floor(|sin(i + 1)| * 2^32)
inline constexpr std::uint32_t kMd5Sine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
// The rotation of step i is kMd5Shift[i / 16][i % 4].
inline constexpr int kMd5Shift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
// The message word step i adds.
constexpr int Md5Word(int i) {
  return i < 16 ? i : i < 32 ? (5 * i + 1) % 16 : i < 48 ? (3 * i + 5) % 16 : (7 * i) % 16;
}

inline constexpr std::size_t kMaxMd5Lanes = 16;

namespace {

// The 64 steps in order, each on the registers turned one place; `step` is
// the kernel's own, step.operator()<I>(a, b, c, d, m), on words or lanes.
template <int I = 0, class V, class Step>
inline void Md5Steps(V& a, V& b, V& c, V& d, const V* m, Step step) {
  if constexpr (I < 64) {
    step.template operator()<I>(a, b, c, d, m);
    step.template operator()<I + 1>(d, a, b, c, m);
    step.template operator()<I + 2>(c, d, a, b, m);
    step.template operator()<I + 3>(b, c, d, a, m);
    Md5Steps<I + 4>(a, b, c, d, m, step);
  }
}

}  // namespace

namespace kernel {

// `state` holds the lanes' chaining words a, b, c and d, each kMaxMd5Lanes
// apart; lane i advances by `blocks` blocks read from data[i], or stays as it
// is where data[i] is null. A second state, `also` unless it is null, takes
// the same blocks.
void Md5Blocks8(std::uint32_t* state, std::uint32_t* also, const std::uint8_t* const* data,
                std::size_t blocks) noexcept;
void Md5Blocks16(std::uint32_t* state, std::uint32_t* also, const std::uint8_t* const* data,
                 std::size_t blocks) noexcept;

}  // namespace kernel

}  // namespace vokram::recovery
