// The checksums recovery data records for each file, computed from the
// file's bytes in chunks of any size as they pass (a split feeds each piece's
// bytes while copying them): the file's MD5, the MD5 of its first 16 KiB and,
// for each slice, MD5 and CRC-32 with the last slice zero-padded to full size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// The file's MD5 and the slices' checksums are independent streams: for
// large chunks the file's MD5 runs on a second thread meanwhile (MD5 is the
// slowest step of a split that writes recovery data).
class FileHasher {
 public:
  // sliceSize: the recovery plan's (a multiple of 4, not 0).
  explicit FileHasher(std::uint64_t sliceSize);
  ~FileHasher();
  FileHasher(const FileHasher&) = delete;
  FileHasher& operator=(const FileHasher&) = delete;
  // Returns when every byte is hashed; the chunk is not kept.
  void Update(const std::uint8_t* data, std::size_t n);
  // Once, after the last byte.
  FileChecksums Finish();

 private:
  void UpdateSlices(const std::uint8_t* data, std::size_t n);
  class Helper;

  std::uint64_t sliceSize_;
  FileChecksums sums_;
  Md5 file_;
  Md5 slice_;
  std::uint32_t sliceCrc_ = 0;
  std::uint64_t inSlice_ = 0;
  std::unique_ptr<Helper> helper_;  // started at the first large chunk
};

}  // namespace vokram::recovery
