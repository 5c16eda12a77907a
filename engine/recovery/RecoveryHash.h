// The checksums recovery data records for each file, computed from the
// file's bytes in chunks of any size as they pass (a split whose recovery
// slices take passes feeds each piece's bytes while copying them; otherwise
// the encoder takes them as it reads): the file's MD5, the MD5 of its first
// 16 KiB and, for each slice, MD5 and CRC-32 with the last slice zero-padded
// to full size.
#pragma once

#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
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

// What a File ID needs of a file of `length` bytes: the length and the MD5 of
// its first kFirstBytesHashed bytes, from `start` (at least those, or all).
FileChecksums FirstBytesChecksums(std::uint64_t length, std::span<const std::uint8_t> start);

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

// Hashes files one after another on a thread of its own, so that a split
// copies on while the chunk it just wrote is hashed. Chunks are handed over
// by address: the caller leaves a chunk untouched until WaitUntilAtMost says
// it is done.
class HashingThread {
 public:
  explicit HashingThread(std::uint64_t sliceSize);
  ~HashingThread();
  HashingThread(const HashingThread&) = delete;
  HashingThread& operator=(const HashingThread&) = delete;

  // The next bytes of the current file.
  void Add(const std::uint8_t* data, std::size_t n);
  // The current file ends; the next Add starts another.
  void EndFile();
  // Waits until at most `chunks` chunks handed over are not yet hashed;
  // throws what hashing threw.
  void WaitUntilAtMost(std::size_t chunks);
  // Waits for every file; their checksums in the order they were added.
  std::vector<FileChecksums> Finish();

 private:
  struct Task {
    const std::uint8_t* data = nullptr;  // nullptr: the file ends
    std::size_t n = 0;
  };
  void Run();

  std::uint64_t sliceSize_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> tasks_;
  std::size_t chunks_ = 0;  // chunk tasks not yet done
  bool quit_ = false;
  std::exception_ptr failure_;
  std::vector<FileChecksums> files_;
  std::thread thread_;
};

}  // namespace vokram::recovery
