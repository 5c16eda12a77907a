#include "RecoveryHash.h"

#include <algorithm>

#include "recovery/Crc32.h"

namespace vokram::recovery {

void FileHasher::Update(const std::uint8_t* data, std::size_t n) {
  // The first 16 KiB's digest is the whole file's digest taken when the
  // 16 KiB have passed: no second stream over them.
  if (sums_.length < kFirstBytesHashed && sums_.length + n >= kFirstBytesHashed) {
    const auto head = static_cast<std::size_t>(kFirstBytesHashed - sums_.length);
    file_.Update(data, head);
    sums_.md5First16k = file_.Digest();
    file_.Update(data + head, n - head);
  } else {
    file_.Update(data, n);
  }
  sums_.length += n;
  UpdateSlices(data, n);
}

void FileHasher::UpdateSlices(const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(n, sliceSize_ - inSlice_));
    slice_.Update(data, take);
    sliceCrc_ = UpdateCrc32(sliceCrc_, data, take);
    data += take;
    n -= take;
    inSlice_ += take;
    if (inSlice_ == sliceSize_) {
      sums_.slices.push_back({slice_.Digest(), sliceCrc_});
      slice_ = Md5();
      sliceCrc_ = 0;
      inSlice_ = 0;
    }
  }
}

FileChecksums FileHasher::Finish() {
  if (inSlice_ > 0) {
    const std::uint64_t padding = sliceSize_ - inSlice_;
    slice_.UpdateZeros(padding);
    sums_.slices.push_back({slice_.Digest(), UpdateCrc32Zeros(sliceCrc_, padding)});
    inSlice_ = 0;
  }
  sums_.md5 = file_.Digest();
  if (sums_.length < kFirstBytesHashed) sums_.md5First16k = sums_.md5;
  return std::move(sums_);
}

}  // namespace vokram::recovery
