// The checksums recovery data records for each file, computed from the
// file's bytes in chunks of any size as they pass (a split feeds each piece's
// bytes while copying them): the file's MD5, the MD5 of its first 16 KiB and,
// for each slice, MD5 and CRC-32 with the last slice zero-padded to full size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recovery/Md5.h"

namespace vokram::recovery {

struct SliceChecksum {
  Md5Digest md5;
  std::uint32_t crc32 = 0;
};

struct FileChecksums {
  std::uint64_t length = 0;
  Md5Digest md5{};
  Md5Digest md5First16k{};
  std::vector<SliceChecksum> slices;
};

inline constexpr std::uint64_t kFirstBytesHashed = 16384;

class FileHasher {
 public:
  // sliceSize: the recovery plan's (a multiple of 4, not 0).
  explicit FileHasher(std::uint64_t sliceSize) : sliceSize_(sliceSize) {}
  void Update(const std::uint8_t* data, std::size_t n);
  // Once, after the last byte.
  FileChecksums Finish();

 private:
  void UpdateSlices(const std::uint8_t* data, std::size_t n);

  std::uint64_t sliceSize_;
  FileChecksums sums_;
  Md5 file_;
  Md5 slice_;
  std::uint32_t sliceCrc_ = 0;
  std::uint64_t inSlice_ = 0;
};

}  // namespace vokram::recovery
