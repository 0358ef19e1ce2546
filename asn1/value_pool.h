#pragma once
// Free lists of value blocks by size class, behind AbstractData's operator new and delete.
// Values come and go by the dozen with every message; inline here, a block's class is
// known where the value's class is, so taking or giving one back is a few instructions.
// The process has one thread. Under the address sanitizer every block goes to the general
// heap, so that a stale pointer to a deleted value is still caught.

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define GW_VALUE_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GW_VALUE_POOL 0
#endif
#endif
#ifndef GW_VALUE_POOL
#define GW_VALUE_POOL 1
#endif

namespace ASN1::value_pool {

constexpr std::size_t kGranule = 16;
constexpr std::size_t kClasses = 32;  // blocks up to 512 bytes
// Blocks kept per class: a burst of values does not hold its memory for ever.
constexpr unsigned kKeepPerClass = 4096;

struct FreeBlock {
  FreeBlock* next;
};

struct SizeClass {
  FreeBlock* head = nullptr;
  unsigned count = 0;
};

inline SizeClass classes[kClasses];

// The class of a block size; kClasses and above are too large to keep.
constexpr std::size_t class_of(std::size_t size) { return size == 0 ? 0 : (size - 1) / kGranule; }

inline void* take(std::size_t size) {
  std::size_t const c = class_of(size);
  if (!GW_VALUE_POOL || c >= kClasses) return ::operator new(size);
  SizeClass& sc = classes[c];
  FreeBlock* const block = sc.head;
  if (!block) return ::operator new((c + 1) * kGranule);
  sc.head = block->next;
  --sc.count;
  return block;
}

inline void give(void* block, std::size_t size) {
  if (!block) return;
  std::size_t const c = class_of(size);
  if (!GW_VALUE_POOL || c >= kClasses || classes[c].count >= kKeepPerClass) {
    ::operator delete(block);
    return;
  }
  SizeClass& sc = classes[c];
  sc.head = new (block) FreeBlock{sc.head};
  ++sc.count;
}

}  // namespace ASN1::value_pool
