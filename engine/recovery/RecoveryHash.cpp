#include "RecoveryHash.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "recovery/Crc32.h"

namespace vokram::recovery {

namespace {
// Below this a chunk is hashed on the caller's thread alone: handing it over
// would cost more than it saves.
constexpr std::size_t kParallelChunk = std::size_t{64} << 10;
}  // namespace

// Feeds one MD5 on its own thread, one chunk at a time.
class FileHasher::Helper {
 public:
  explicit Helper(Md5& md5) : md5_(md5), thread_([this] { Run(); }) {}
  ~Helper() {
    {
      const std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  void Start(const std::uint8_t* data, std::size_t n) {
    {
      const std::lock_guard lock(mutex_);
      data_ = data;
      n_ = n;
      pending_ = true;
    }
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return pending_ || quit_; });
      if (!pending_) return;
      lock.unlock();
      md5_.Update(data_, n_);
      lock.lock();
      pending_ = false;
      changed_.notify_all();
    }
  }

  Md5& md5_;
  std::mutex mutex_;
  std::condition_variable changed_;
  const std::uint8_t* data_ = nullptr;
  std::size_t n_ = 0;
  bool pending_ = false;
  bool quit_ = false;
  std::thread thread_;
};

FileChecksums FirstBytesChecksums(std::uint64_t length, std::span<const std::uint8_t> start) {
  FileChecksums sums;
  sums.length = length;
  sums.md5First16k = Md5Of(start.first(static_cast<std::size_t>(std::min(length, kFirstBytesHashed))));
  return sums;
}

FileHasher::FileHasher(std::uint64_t sliceSize) : sliceSize_(sliceSize) {}
FileHasher::~FileHasher() = default;

void FileHasher::Update(const std::uint8_t* data, std::size_t n) {
  // The first 16 KiB's digest is the whole file's digest taken when the
  // 16 KiB have passed: no second stream over them.
  std::size_t head = 0;
  if (sums_.length < kFirstBytesHashed && sums_.length + n >= kFirstBytesHashed) {
    head = static_cast<std::size_t>(kFirstBytesHashed - sums_.length);
    file_.Update(data, head);
    sums_.md5First16k = file_.Digest();
  }
  sums_.length += n;
  if (n - head >= kParallelChunk) {
    if (!helper_) helper_ = std::make_unique<Helper>(file_);
    helper_->Start(data + head, n - head);
    UpdateSlices(data, n);
    helper_->Wait();
  } else {
    file_.Update(data + head, n - head);
    UpdateSlices(data, n);
  }
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
  helper_.reset();
  return std::move(sums_);
}

HashingThread::HashingThread(std::uint64_t sliceSize) : sliceSize_(sliceSize), thread_([this] { Run(); }) {}

HashingThread::~HashingThread() {
  {
    const std::lock_guard lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void HashingThread::Add(const std::uint8_t* data, std::size_t n) {
  {
    const std::lock_guard lock(mutex_);
    tasks_.push_back({data, n});
    ++chunks_;
  }
  changed_.notify_all();
}

void HashingThread::EndFile() {
  {
    const std::lock_guard lock(mutex_);
    tasks_.push_back({});
  }
  changed_.notify_all();
}

void HashingThread::WaitUntilAtMost(std::size_t chunks) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return chunks_ <= chunks || failure_; });
  if (failure_) std::rethrow_exception(failure_);
}

std::vector<FileChecksums> HashingThread::Finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return tasks_.empty() || failure_; });
  if (failure_) std::rethrow_exception(failure_);
  return std::move(files_);
}

void HashingThread::Run() {
  std::unique_ptr<FileHasher> file;
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !tasks_.empty() || quit_; });
    if (quit_) return;  // the split ended: what is left is of no use
    const Task task = tasks_.front();
    lock.unlock();
    std::exception_ptr failure;
    try {
      if (!file) file = std::make_unique<FileHasher>(sliceSize_);
      if (task.data) {
        file->Update(task.data, task.n);
      } else {
        FileChecksums sums = file->Finish();
        file.reset();
        lock.lock();
        files_.push_back(std::move(sums));
        lock.unlock();
      }
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    tasks_.pop_front();
    if (task.data) --chunks_;
    if (failure) failure_ = failure;
    changed_.notify_all();
    if (failure_) return;
  }
}

}  // namespace vokram::recovery
