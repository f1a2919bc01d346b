#pragma once
// A growable array of trivially copyable records that never throws: an
// allocation failure is ErrorCode::OutOfMemory and leaves the contents as
// they were. It has no constructor or destructor, so it can live inside
// records that are allocated zero-filled; release() frees it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "io/error.h"

namespace vantorel {

template <class T>
struct GrowArray {
  T* items;
  uint32_t count;
  uint32_t capacity;

  uint32_t size() const { return count; }
  bool empty() const { return count == 0; }
  T* data() { return items; }
  const T* data() const { return items; }
  T& operator[](uint32_t i) { return items[i]; }
  const T& operator[](uint32_t i) const { return items[i]; }
  T* begin() { return items; }
  T* end() { return items + count; }
  const T* begin() const { return items; }
  const T* end() const { return items + count; }
  T& back() { return items[count - 1]; }

  // Capacity of at least n entries; contents kept.
  ErrorCode reserve(uint32_t n) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (n <= capacity) return ErrorCode::Ok;
    if (n > SIZE_MAX / sizeof(T)) return ErrorCode::OutOfMemory;
    void* p = std::realloc(items, size_t{n} * sizeof(T));
    if (p == nullptr) return ErrorCode::OutOfMemory;
    items = static_cast<T*>(p);
    capacity = n;
    return ErrorCode::Ok;
  }

  // Lists grow by one element at a time.
  ErrorCode append(const T& value) {
    if (count == UINT32_MAX) return ErrorCode::OutOfMemory;
    if (count == capacity) VT_TRY(reserve(count + 1));
    items[count++] = value;
    return ErrorCode::Ok;
  }

  // Tables start at `initial` entries and double.
  ErrorCode append_doubling(const T& value, uint32_t initial = 512) {
    if (count == capacity) {
      if (count == UINT32_MAX) return ErrorCode::OutOfMemory;
      uint64_t want = capacity == 0 ? initial : uint64_t{capacity} * 2;
      if (want > UINT32_MAX) want = UINT32_MAX;
      VT_TRY(reserve(static_cast<uint32_t>(want)));
    }
    items[count++] = value;
    return ErrorCode::Ok;
  }

  // A zero-filled entry appended by one; its address through `out`.
  ErrorCode append_zeroed(T** out) {
    T zero;
    std::memset(static_cast<void*>(&zero), 0, sizeof(T));
    VT_TRY(append(zero));
    if (out != nullptr) *out = &items[count - 1];
    return ErrorCode::Ok;
  }

  // Inserts before `index` (at the end when index >= count), growing by one.
  ErrorCode insert(uint32_t index, const T& value) {
    if (index > count) index = count;
    if (count == UINT32_MAX) return ErrorCode::OutOfMemory;
    if (count == capacity) VT_TRY(reserve(count + 1));
    std::memmove(static_cast<void*>(items + index + 1), items + index, size_t{count - index} * sizeof(T));
    items[index] = value;
    ++count;
    return ErrorCode::Ok;
  }

  // Closes the gap by moving the rest down; memory is kept.
  void remove_at(uint32_t index) {
    if (index >= count) return;
    std::memmove(static_cast<void*>(items + index), items + index + 1, size_t{count - index - 1} * sizeof(T));
    --count;
  }

  void clear() { count = 0; }

  void release() {
    std::free(items);
    items = nullptr;
    count = 0;
    capacity = 0;
  }
};

// Zero-filled allocation of one record, as every record of the system is made.
template <class T>
T* alloc_record() {
  static_assert(std::is_trivially_copyable_v<T>);
  return static_cast<T*>(std::calloc(1, sizeof(T)));
}

}  // namespace vantorel
