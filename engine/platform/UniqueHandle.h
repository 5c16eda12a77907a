// The one move-only owner of a resource, for every floor: a system handle, a
// pointer to free, or a start (OLE, a busy spell) that must be ended. Traits
// name the resource's type, its empty value and how it is released; most kinds
// take one line with ReleasedBy.
#pragma once

#include <type_traits>
#include <utility>

namespace vokram {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  const Handle& get() const noexcept { return handle_; }
  // For a pointer, such as a COM interface.
  Handle operator->() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return Valid(handle_); }
  Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle handle = Traits::Invalid()) noexcept {
    if (Valid(handle_)) Traits::Close(handle_);
    handle_ = handle;
  }
  // For a call that hands out a new resource: the old one goes first.
  Handle* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  // A resource that is a structure tells by itself whether it holds anything.
  static bool Valid(const Handle& handle) noexcept {
    if constexpr (requires { Traits::IsValid(handle); }) {
      return Traits::IsValid(handle);
    } else {
      return handle != Traits::Invalid();
    }
  }

  Handle handle_ = Traits::Invalid();
};

// Traits of a resource that is empty as T{} (nullptr, false) and released by
// one call: with the resource, with its address (a structure), or with nothing
// (a per-thread start such as OLE's, where T is whether it succeeded).
template <typename T, auto Release>
struct ReleasedBy {
  using Handle = T;
  static Handle Invalid() noexcept { return Handle{}; }
  static void Close(Handle handle) noexcept {
    if constexpr (std::is_invocable_v<decltype(Release), Handle>) {
      Release(handle);
    } else if constexpr (std::is_invocable_v<decltype(Release), Handle*>) {
      Release(&handle);
    } else {
      Release();
    }
  }
};

template <typename T, auto Release>
using UniqueAny = UniqueHandle<ReleasedBy<T, Release>>;

}  // namespace vokram
