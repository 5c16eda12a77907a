#include "CrcFold.h"

#include <cstdlib>
#include <string_view>

#if defined(__x86_64__) || defined(_M_X64)
#include "fold/Folds.h"
#define VOKRAM_HAVE_FOLD 1
#endif

namespace vokram::detail {

#ifdef VOKRAM_HAVE_FOLD

FoldWidth SupportedFold() noexcept {
  static const FoldWidth width = [] {
    if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse4.1")) return FoldWidth::None;
    if (!__builtin_cpu_supports("vpclmulqdq") || !__builtin_cpu_supports("avx2")) return FoldWidth::Bits128;
    if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512vl")) return FoldWidth::Bits256;
    return FoldWidth::Bits512;
  }();
  return width;
}

std::uint16_t UpdateCRCFolded(FoldWidth width, std::uint16_t crc, const std::uint8_t* data, std::size_t n,
                              std::size_t* done) noexcept {
  switch (width) {
    case FoldWidth::Bits512: return fold::Folded512(crc, data, n, done);
    case FoldWidth::Bits256: return fold::Folded256(crc, data, n, done);
    case FoldWidth::Bits128: return fold::Folded128(crc, data, n, done);
    case FoldWidth::None: break;
  }
  *done = 0;
  return crc;
}

#else

FoldWidth SupportedFold() noexcept { return FoldWidth::None; }

std::uint16_t UpdateCRCFolded(FoldWidth, std::uint16_t crc, const std::uint8_t*, std::size_t,
                              std::size_t* done) noexcept {
  *done = 0;
  return crc;
}

#endif

FoldWidth CappedFold(FoldWidth supported, const char* limit) noexcept {
  if (limit == nullptr) return supported;
  const std::string_view text(limit);
  FoldWidth wanted = supported;
  if (text == "0") wanted = FoldWidth::None;
  else if (text == "128") wanted = FoldWidth::Bits128;
  else if (text == "256") wanted = FoldWidth::Bits256;
  return static_cast<int>(wanted) < static_cast<int>(supported) ? wanted : supported;
}

FoldWidth ChosenFold() noexcept {
  static const FoldWidth width = CappedFold(SupportedFold(), std::getenv("VOKRAM_CRC_FOLD"));
  return width;
}

}  // namespace vokram::detail
