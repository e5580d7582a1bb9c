// A buffer of bytes for a stage's working data. Large buffers take their
// pages from those recently given back (see RecycledPages.h), so a run's
// stages, and the next run on a picture of the same size, write pages that
// are already there instead of paying for fresh ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

class CPageBuffer {
 public:
  CPageBuffer() = default;
  // Contents unspecified; throws the core's out-of-memory. A sparse
  // buffer's fresh pages come on first touch, a buffer written whole has
  // them made present at once.
  explicit CPageBuffer(size_t bytes, bool sparse = false);
  CPageBuffer(const CPageBuffer& other);
  CPageBuffer(CPageBuffer&& other) noexcept;
  CPageBuffer& operator=(const CPageBuffer& other);
  CPageBuffer& operator=(CPageBuffer&& other) noexcept;
  ~CPageBuffer();

  uint8_t* Data() { return m_data; }
  const uint8_t* Data() const { return m_data; }
  size_t Size() const { return m_bytes; }

 private:
  void Free();

  uint8_t* m_data = nullptr;
  size_t m_bytes = 0;
};

// Storage for a container that may grow large (a flood's stack): large
// requests take recycled pages as CPageBuffer does. Throws std::bad_alloc.
void* AllocateRecycled(size_t bytes);
void FreeRecycled(void* storage, size_t bytes);

template <typename T>
struct CRecycledAllocator {
  using value_type = T;
  CRecycledAllocator() = default;
  template <typename U>
  CRecycledAllocator(const CRecycledAllocator<U>&) {}  // NOLINT(google-explicit-constructor): containers rebind
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateRecycled(n * sizeof(T)));
  }
  void deallocate(T* storage, size_t n) { FreeRecycled(storage, n * sizeof(T)); }
  bool operator==(const CRecycledAllocator&) const { return true; }
};
