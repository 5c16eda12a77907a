#include "GetCRC.h"

#include <memory>
#include <mutex>

#include "CrcFold.h"
#include "File.h"

namespace vokram {

namespace {

constexpr std::uint16_t kPolynomial = 0x8408;  // 0x1021 bit-reversed
constexpr std::size_t kSlices = 16;

std::array<std::uint16_t, 256> table{};
// table[k] for each slice: the effect of byte k followed by `slice` zero bytes,
// so sixteen bytes fold into the register with sixteen lookups and no loop-
// carried dependency between them.
std::array<std::array<std::uint16_t, 256>, kSlices> slices{};
std::once_flag built;

void BuildTables() {
  MakeCRCTable();
  slices[0] = table;
  for (std::size_t s = 1; s < kSlices; ++s) {
    for (std::size_t k = 0; k < 256; ++k) {
      const std::uint16_t prev = slices[s - 1][k];
      slices[s][k] = static_cast<std::uint16_t>((prev >> 8) ^ table[prev & 0xFF]);
    }
  }
}

void EnsureTables() { std::call_once(built, BuildTables); }

std::uint16_t UpdateBytewise(std::uint16_t crc, const std::uint8_t* p, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) crc = static_cast<std::uint16_t>((crc >> 8) ^ table[(crc ^ p[i]) & 0xFF]);
  return crc;
}

// A linear map of the 16-bit register over GF(2), one column per bit.
using Operator = std::array<std::uint16_t, 16>;

std::uint16_t Apply(const Operator& op, std::uint16_t v) noexcept {
  std::uint16_t result = 0;
  for (std::size_t bit = 0; v != 0; ++bit, v = static_cast<std::uint16_t>(v >> 1)) {
    if (v & 1) result ^= op[bit];
  }
  return result;
}

Operator Compose(const Operator& outer, const Operator& inner) noexcept {
  Operator result;
  for (std::size_t bit = 0; bit < 16; ++bit) result[bit] = Apply(outer, inner[bit]);
  return result;
}

// The register after `bytes` zero bytes, in O(log bytes) operator squarings.
std::uint16_t AdvanceOverZeros(std::uint16_t crc, std::uint64_t bytes) noexcept {
  Operator step;  // one zero byte
  for (std::size_t bit = 0; bit < 16; ++bit) {
    const auto r = static_cast<std::uint16_t>(1u << bit);
    step[bit] = static_cast<std::uint16_t>((r >> 8) ^ table[r & 0xFF]);
  }
  for (; bytes != 0; bytes >>= 1) {
    if (bytes & 1) crc = Apply(step, crc);
    step = Compose(step, step);
  }
  return crc;
}

}  // namespace

std::uint16_t CombineCRC(std::uint16_t crcA, std::uint16_t crcB, std::uint64_t lengthB) noexcept {
  EnsureTables();
  // crcB was started from 0xFFFF; starting from crcA instead differs by the
  // (linear) effect of crcA ^ 0xFFFF carried over lengthB bytes.
  return static_cast<std::uint16_t>(crcB ^ AdvanceOverZeros(static_cast<std::uint16_t>(crcA ^ kCrcInitial), lengthB));
}

void MakeCRCTable() {
  for (unsigned k = 0; k < 256; ++k) {
    unsigned value = k;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ kPolynomial : value >> 1;
    table[k] = static_cast<std::uint16_t>(value);
  }
}

const std::array<std::uint16_t, 256>& CRCTable() {
  EnsureTables();
  return table;
}

std::uint16_t UpdateCRC(std::uint16_t crc, const std::uint8_t* data, std::size_t n) noexcept {
  EnsureTables();
  detail::FoldWidth width = detail::ChosenFold();
  // A run too short for a wide fold still goes faster through the narrowest.
  if (width != detail::FoldWidth::None && n < detail::FoldMinimum(width)) width = detail::FoldWidth::Bits128;
  if (width != detail::FoldWidth::None && n >= detail::FoldMinimum(width)) {
    std::size_t done = 0;
    crc = detail::UpdateCRCFolded(width, crc, data, n, &done);
    data += done;
    n -= done;
  }
  return UpdateCRCSliced(crc, data, n);
}

std::uint16_t UpdateCRCSliced(std::uint16_t crc, const std::uint8_t* data, std::size_t n) noexcept {
  EnsureTables();
  while (n >= kSlices) {
    std::uint8_t b[kSlices];
    for (std::size_t i = 0; i < kSlices; ++i) b[i] = data[i];
    b[0] = static_cast<std::uint8_t>(b[0] ^ (crc & 0xFF));
    b[1] = static_cast<std::uint8_t>(b[1] ^ (crc >> 8));
    std::uint16_t next = 0;
    for (std::size_t i = 0; i < kSlices; ++i) next ^= slices[kSlices - 1 - i][b[i]];
    crc = next;
    data += kSlices;
    n -= kSlices;
  }
  return UpdateBytewise(crc, data, n);
}

std::string CRCText(std::uint16_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(value >> 12) & 0xF], kDigits[(value >> 8) & 0xF], kDigits[(value >> 4) & 0xF],
          kDigits[value & 0xF]};
}

std::uint16_t GetBytesCRC(std::span<const std::uint8_t> bytes) noexcept { return UpdateCRC(kCrcInitial, bytes); }

std::optional<std::uint16_t> GetFileCRC(const std::filesystem::path& path) {
  const CopyBuffer buffer = MakeCopyBuffer();
  return GetFileCRC(path, std::span(buffer.get(), kCopyBufferSize));
}

std::optional<std::uint16_t> GetFileCRC(const std::filesystem::path& path, std::span<std::uint8_t> buffer) {
  if (!IsVisibleFile(path)) return std::nullopt;
  File file = File::OpenRead(path);
  // Streamed in blocks: the same value as reading the file whole, in constant memory.
  std::uint16_t crc = kCrcInitial;
  std::uint64_t total = 0;
  for (;;) {
    const std::size_t got = file.Read(buffer.data(), buffer.size());
    if (got == 0) break;
    crc = UpdateCRC(crc, buffer.data(), got);
    total += got;
  }
  file.Close();
  if (total == 0) return std::nullopt;
  return crc;
}

}  // namespace vokram
