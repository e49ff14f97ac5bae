// Owned, uninitialised numeric buffers whose sizes come from checked 64-bit arithmetic.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

#include "report.h"

namespace raster {

/// Product of element counts; a negative factor or an overflow of the byte size ends the run
/// with "Error allocating memory\n", since no buffer of that size can exist.
inline int64_t alloc_count(std::initializer_list<int64_t> factors, int64_t elem_size = 1) {
  int64_t n = 1;
  for (const int64_t f : factors) {
    if (f < 0 || __builtin_mul_overflow(n, f, &n)) failu("Error allocating memory\n");
  }
  int64_t bytes = 0;
  if (__builtin_mul_overflow(n, elem_size, &bytes)) failu("Error allocating memory\n");
  return n;
}

/// A heap array of trivially copyable values. Contents start undefined and are not kept
/// across resize(); a failed allocation ends the run through failu.
template <class T>
class Buffer {
 public:
  Buffer() = default;
  explicit Buffer(int64_t n) { resize(n); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& o) noexcept : p_(o.p_), n_(o.n_) {
    o.p_ = nullptr;
    o.n_ = 0;
  }
  Buffer& operator=(Buffer&& o) noexcept {
    if (this != &o) {
      std::free(p_);
      p_ = o.p_;
      n_ = o.n_;
      o.p_ = nullptr;
      o.n_ = 0;
    }
    return *this;
  }
  ~Buffer() { std::free(p_); }

  void resize(int64_t n) {
    const int64_t count = alloc_count({n}, static_cast<int64_t>(sizeof(T)));
    if (count == n_) return;
    std::free(p_);
    p_ = nullptr;
    n_ = 0;
    if (count == 0) return;
    void* p = std::malloc(static_cast<std::size_t>(count) * sizeof(T));
    if (p == nullptr) failu("Error allocating memory\n");
    p_ = static_cast<T*>(p);
    n_ = count;
  }
  void fill(T v) {
    for (int64_t i = 0; i < n_; ++i) p_[i] = v;
  }

  T* data() { return p_; }
  const T* data() const { return p_; }
  int64_t size() const { return n_; }
  T& operator[](int64_t i) { return p_[i]; }
  const T& operator[](int64_t i) const { return p_[i]; }

 private:
  T* p_ = nullptr;
  int64_t n_ = 0;
};

}  // namespace raster
