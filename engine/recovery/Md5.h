// MD5, fed in pieces of any size: recovery data names every file and slice by
// its MD5, and the bytes are hashed as they pass rather than read again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vokram::recovery {

using Md5Digest = std::array<std::uint8_t, 16>;

// Advances the chaining words by whole 64-byte blocks.
void Md5Compress(std::array<std::uint32_t, 4>& state, const std::uint8_t* p, std::size_t blocks) noexcept;
// The same for two chaining states over the same blocks, for about the time
// of one.
void Md5Compress2(std::array<std::uint32_t, 4>& first, std::array<std::uint32_t, 4>& second, const std::uint8_t* p,
                  std::size_t blocks) noexcept;

class Md5 {
 public:
  Md5() noexcept;
  void Update(const std::uint8_t* data, std::size_t n) noexcept;
  void Update(std::span<const std::uint8_t> bytes) noexcept { Update(bytes.data(), bytes.size()); }
  // Feeds n zero bytes (a short last slice is hashed as if padded).
  void UpdateZeros(std::uint64_t n) noexcept;
  // The digest of everything fed so far; the object may be fed on afterwards
  // as if Digest had not been called.
  Md5Digest Digest() const noexcept;
  std::uint64_t Length() const noexcept { return length_; }

 private:
  friend class Md5Lanes;  // finishes a lane's stream as one of these

  std::array<std::uint32_t, 4> state_;
  std::array<std::uint8_t, 64> pending_{};
  std::uint64_t length_ = 0;
};

Md5Digest Md5Of(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace vokram::recovery
